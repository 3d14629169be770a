// The comparison of two directories (names outside ASCII, files that differ
// only far into their bytes, sizes and times), the patterns that leave names
// out, the tree of folders, and copying files from one side to the other
// (through a stand-in for the safe replacement the windows hand it; the
// real one is tested with the serving layer that owns it).
#include "engine/directory_compare.h"
#include "engine/utf8_path.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "tests/testlib/testlib.h"

namespace marlow {
namespace {

namespace fs = std::filesystem;

void put(const std::string& path, const std::string& bytes) {
  fs::create_directories(utf8_path(path).parent_path());
  std::ofstream(utf8_path(path), std::ios::binary) << bytes;
}

TEST(DirectoryCompare, NamesOutsideAsciiKeepTheirUtf8Bytes) {
  testlib::TempDir dir;
  // "Grüße/€uro.txt" and a name from outside any one code page.
  const std::string gruesse =
      "Gr\xC3\xBC\xC3\x9F"
      "e";
  const std::string euro =
      "\xE2\x82\xAC"
      "uro.txt";
  const std::string cjk = "\xE6\x97\xA5\xE6\x9C\xAC.txt";
  const std::string left = dir.file(
      "l\xC3\xA9"
      "ft");
  const std::string right = dir.file("right");
  put(left + "/" + gruesse + "/" + euro, "same\n");
  put(right + "/" + gruesse + "/" + euro, "same\n");
  put(right + "/" + cjk, "new\n");
  ASSERT_TRUE(is_directory(left));
  EXPECT_FALSE(is_directory(left + "/" + gruesse + "/" + euro));
  EXPECT_FALSE(is_directory(dir.file("absent")));

  const std::vector<DirectoryEntry> entries = compare_directories(left, right);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].path, gruesse + "/" + euro);
  EXPECT_EQ(entries[0].state, DirectoryEntry::State::identical);
  EXPECT_EQ(entries[1].path, cjk);
  EXPECT_EQ(entries[1].state, DirectoryEntry::State::only_right);
}

TEST(DirectoryCompare, BytesPastTheFirstBufferAndSizesCount) {
  testlib::TempDir dir;
  const std::string big(200000, 'x');
  put(dir.file("a/late.bin"), big);
  put(dir.file("b/late.bin"), big.substr(0, big.size() - 1) + "y");
  put(dir.file("a/longer.txt"), "abc");
  put(dir.file("b/longer.txt"), "abcd");
  put(dir.file("a/empty"), "");
  put(dir.file("b/empty"), "");
  const std::vector<DirectoryEntry> entries = compare_directories(dir.file("a"), dir.file("b"));
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].path, "empty");
  EXPECT_EQ(entries[0].state, DirectoryEntry::State::identical);
  EXPECT_EQ(entries[1].state, DirectoryEntry::State::different);
  EXPECT_EQ(entries[2].state, DirectoryEntry::State::different);
}

TEST(DirectoryCompare, AMissingDirectoryListsTheOtherSideOnly) {
  testlib::TempDir dir;
  put(dir.file("a/only.txt"), "x\n");
  const std::vector<DirectoryEntry> entries =
      compare_directories(dir.file("a"), dir.file("missing"));
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].state, DirectoryEntry::State::only_left);
}

fs::path at(const std::string& path) { return utf8_path(path); }

std::string read(const std::string& path) {
  std::ifstream in(utf8_path(path), std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// Stands for the windows' safe replacement: writes the bytes plainly and
// counts its calls, so a test sees what the copy asked of it.
struct FakeReplace {
  std::vector<std::string> paths;
  support::Status operator()(const std::string& path, const std::string& bytes) {
    paths.push_back(path);
    std::ofstream out(utf8_path(path), std::ios::binary | std::ios::trunc);
    out << bytes;
    if (!out) return support::Status::failure("cannot write " + path);
    return support::Status();
  }
};
FakeReplace fake_replace;
const ReplaceFile kReplace = [](const std::string& path, const std::string& bytes) {
  return fake_replace(path, bytes);
};

TEST(DirectoryCompare, SizesAndTimesOfEachSide) {
  testlib::TempDir dir;
  put(dir.file("a/f.txt"), "four");
  put(dir.file("b/f.txt"), "seven!!");
  // In whole seconds: the MinGW runtime sets times to the second.
  const fs::file_time_type when =
      std::chrono::floor<std::chrono::seconds>(fs::file_time_type::clock::now()) -
      std::chrono::hours(50);
  fs::last_write_time(at(dir.file("a/f.txt")), when);
  const std::vector<DirectoryEntry> entries = compare_directories(dir.file("a"), dir.file("b"));
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_TRUE(entries[0].left.present);
  EXPECT_EQ(entries[0].left.size, 4u);
  EXPECT_EQ(entries[0].right.size, 7u);
  const auto expected = std::chrono::duration_cast<std::chrono::nanoseconds>(
      std::chrono::file_clock::to_sys(when).time_since_epoch());
  EXPECT_EQ(entries[0].left.modified_ns, expected.count());
  // Seconds since 1970: within a minute of now less 50 hours on the clock.
  const std::int64_t now = std::chrono::duration_cast<std::chrono::seconds>(
                               std::chrono::system_clock::now().time_since_epoch())
                               .count();
  EXPECT_NEAR(static_cast<double>(entries[0].left.modified_ns / 1000000000),
              static_cast<double>(now - 50 * 3600), 60.0);
  EXPECT_GT(entries[0].right.modified_ns, entries[0].left.modified_ns);
}

TEST(DirectoryNameFilter, GlobsAndWhereTheyApply) {
  EXPECT_TRUE(glob_matches("*.o", "main.o"));
  EXPECT_FALSE(glob_matches("*.o", "main.obj"));
  EXPECT_FALSE(glob_matches("*.o", "sub/main.o"));  // '*' stays within a part
  EXPECT_TRUE(glob_matches("**.o", "sub/main.o"));
  EXPECT_TRUE(glob_matches("**/x", "x"));
  EXPECT_TRUE(glob_matches("**/x", "a/b/x"));
  EXPECT_FALSE(glob_matches("**/x", "ax"));
  EXPECT_TRUE(glob_matches("?.txt", "\xC3\xA9.txt"));  // one character, two bytes
  EXPECT_FALSE(glob_matches("?.txt", "ab.txt"));
  EXPECT_FALSE(glob_matches("?", "/"));
  EXPECT_TRUE(glob_matches("", ""));
  // Many stars against a long name that fails only at its end.
  EXPECT_FALSE(glob_matches("*a*a*a*a*a*a*a*a*a*a*b", std::string(3000, 'a')));

  const NameFilter filter(" *.o ; build/;docs/api/*.html;/top.txt;;");
  EXPECT_TRUE(filter.excludes_file("main.o"));
  EXPECT_TRUE(filter.excludes_file("deep/er/main.o"));
  EXPECT_FALSE(filter.excludes_file("build"));  // a folder pattern: a file so named stays
  EXPECT_TRUE(filter.excludes_folder("build"));
  EXPECT_TRUE(filter.excludes_folder("src/build"));
  EXPECT_TRUE(filter.excludes_file("docs/api/index.html"));
  EXPECT_FALSE(filter.excludes_file("other/docs/api/index.html"));
  EXPECT_TRUE(filter.excludes_file("top.txt"));
  EXPECT_FALSE(filter.excludes_file("sub/top.txt"));
  EXPECT_FALSE(filter.excludes_file("main.c"));
  EXPECT_TRUE(NameFilter(" ; ").empty());
}

TEST(DirectoryNameFilter, ExcludedNamesAreNotComparedNorEntered) {
  testlib::TempDir dir;
  put(dir.file("a/main.c"), "1");
  put(dir.file("b/main.c"), "2");
  put(dir.file("a/main.o"), "x");
  put(dir.file("a/build/out.txt"), "x");
  put(dir.file("b/src/build/out.txt"), "x");
  put(dir.file("b/Build.txt"), "x");
  const std::vector<DirectoryEntry> entries =
      compare_directories(dir.file("a"), dir.file("b"), NameFilter("*.o;build/"));
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].path, "Build.txt");
  EXPECT_EQ(entries[1].path, "main.c");
}

using S = DirectoryEntry::State;

std::vector<DirectoryEntry> entries_of(const std::vector<std::pair<std::string, S>>& list) {
  std::vector<DirectoryEntry> entries;
  for (const auto& [path, state] : list) {
    DirectoryEntry entry;
    entry.path = path;
    entry.state = state;
    entries.push_back(entry);
  }
  return entries;
}

TEST(DirectoryTree, FoldersSumUpWhatIsUnderThem) {
  const std::vector<DirectoryEntry> entries = entries_of({{"a.txt", S::identical},
                                                          {"lib/new/x.c", S::only_right},
                                                          {"lib/new/y.c", S::only_right},
                                                          {"lib/old.c", S::only_left},
                                                          {"lib/same.c", S::identical},
                                                          {"src/deep/z.c", S::identical},
                                                          {"src/m.c", S::different}});
  const DirectoryNode root = directory_tree(entries, StateFilter());
  EXPECT_TRUE(root.folder);
  EXPECT_EQ(root.count(S::identical), 3u);
  EXPECT_EQ(root.count(S::only_right), 2u);
  // Folders first, then files.
  ASSERT_EQ(root.children.size(), 3u);
  EXPECT_EQ(root.children[0].name, "lib");
  EXPECT_EQ(root.children[1].name, "src");
  EXPECT_EQ(root.children[2].name, "a.txt");
  EXPECT_EQ(root.children[2].entry, 0u);
  const DirectoryNode& lib = root.children[0];
  EXPECT_EQ(lib.state, S::different);  // mixed: something under it differs
  ASSERT_EQ(lib.children.size(), 3u);
  EXPECT_EQ(lib.children[0].path, "lib/new");
  EXPECT_EQ(lib.children[0].state, S::only_right);  // all of it is new
  EXPECT_EQ(lib.children[0].count(S::only_right), 2u);
  EXPECT_EQ(lib.children[1].path, "lib/old.c");
  EXPECT_EQ(lib.children[1].state, S::only_left);
  const DirectoryNode& src = root.children[1];
  EXPECT_EQ(src.state, S::different);
  ASSERT_EQ(src.children.size(), 2u);
  EXPECT_EQ(src.children[0].state, S::identical);
  EXPECT_TRUE(src.children[0].folder);
  EXPECT_EQ(src.children[1].entry, 6u);
}

TEST(DirectoryTree, HiddenStatesLeaveOutFilesAndEmptiedFolders) {
  const std::vector<DirectoryEntry> entries = entries_of({{"a.txt", S::identical},
                                                          {"same/x", S::identical},
                                                          {"mixed/y", S::identical},
                                                          {"mixed/z", S::different},
                                                          {"gone/w", S::only_left}});
  StateFilter filter;
  filter.set(S::identical, false);
  filter.set(S::only_left, false);
  const DirectoryNode root = directory_tree(entries, filter);
  ASSERT_EQ(root.children.size(), 1u);
  EXPECT_EQ(root.children[0].name, "mixed");
  ASSERT_EQ(root.children[0].children.size(), 1u);
  EXPECT_EQ(root.children[0].children[0].name, "z");
  // The counts are of everything, shown or not.
  EXPECT_EQ(root.count(S::identical), 3u);
  EXPECT_EQ(root.children[0].count(S::identical), 1u);
  EXPECT_TRUE(directory_tree({}, StateFilter()).children.empty());
}

class DirectoryCopy : public ::testing::Test {
 protected:
  std::string left() const { return dir_.file("left"); }
  std::string right() const { return dir_.file("right"); }
  DirectoryEntry entry(const std::string& path) const {
    for (const DirectoryEntry& one : compare_directories(left(), right())) {
      if (one.path == path) return one;
    }
    ADD_FAILURE() << path << " is not compared";
    return {};
  }
  testlib::TempDir dir_;
};

TEST_F(DirectoryCopy, PlanSaysWhatIsCreatedReplacedAndLeft) {
  const std::vector<DirectoryEntry> entries = entries_of(
      {{"l", S::only_left}, {"r", S::only_right}, {"s", S::identical}, {"d", S::different}});
  std::vector<DirectoryEntry> sided = entries;
  sided[0].left.present = true;
  sided[1].right.present = true;
  sided[2].left.present = sided[2].right.present = true;
  sided[3].left.present = sided[3].right.present = true;
  const CopyPlan to_right = plan_copy(sided, {3, 0, 1, 2, 0, 9}, CopyDirection::left_to_right);
  EXPECT_EQ(to_right.create, std::vector<std::size_t>{0});
  EXPECT_EQ(to_right.replace, std::vector<std::size_t>{3});
  EXPECT_EQ(to_right.skip, (std::vector<std::size_t>{1, 2}));
  const CopyPlan to_left = plan_copy(sided, {0, 1}, CopyDirection::right_to_left);
  EXPECT_EQ(to_left.create, std::vector<std::size_t>{1});
  EXPECT_TRUE(to_left.replace.empty());
  EXPECT_FALSE(to_left.empty());
  EXPECT_TRUE(plan_copy(sided, {2}, CopyDirection::right_to_left).empty());
}

TEST_F(DirectoryCopy, CreatesFoldersReplacesAndUpdatesTheEntry) {
  // A name outside ASCII in a folder that the other side lacks.
  const std::string name = "n\xC3\xA9u/\xE6\x97\xA5\xE6\x9C\xAC.txt";
  put(left() + "/" + name, "new file\n");
  put(right() + "/other.txt", "x");
  put(left() + "/changed.txt", "left\n");
  put(right() + "/changed.txt", "right side\n");
  DirectoryEntry added = entry(name);
  ASSERT_EQ(added.state, S::only_left);
  ASSERT_TRUE(copy_entry(left(), right(), &added, CopyDirection::left_to_right, kReplace).ok());
  EXPECT_EQ(read(right() + "/" + name), "new file\n");
  EXPECT_EQ(added.state, S::identical);
  EXPECT_TRUE(added.right.present);
  EXPECT_EQ(added.right.size, 9u);

  DirectoryEntry changed = entry("changed.txt");
  ASSERT_EQ(changed.state, S::different);
  const support::Status back =
      copy_entry(left(), right(), &changed, CopyDirection::right_to_left, kReplace);
  ASSERT_TRUE(back.ok()) << back.text();
  EXPECT_EQ(read(left() + "/changed.txt"), "right side\n");
  EXPECT_EQ(changed.state, S::identical);
  EXPECT_EQ(changed.left.size, 11u);
  // Every write went through the replacement it was handed.
  ASSERT_GE(fake_replace.paths.size(), 2u);
  EXPECT_EQ(fake_replace.paths.back(), (fs::path(at(left())) / "changed.txt").generic_string());
}

#ifndef _WIN32
TEST_F(DirectoryCopy, ANewFileKeepsItsSourcesPermissions) {
  put(left() + "/run.sh", "#!/bin/sh\n");
  fs::create_directories(at(right()));
  fs::permissions(at(left() + "/run.sh"), fs::perms::owner_all | fs::perms::group_read);
  DirectoryEntry script = entry("run.sh");
  ASSERT_TRUE(copy_entry(left(), right(), &script, CopyDirection::left_to_right, kReplace).ok());
  EXPECT_EQ(fs::status(at(right() + "/run.sh")).permissions(),
            fs::perms::owner_all | fs::perms::group_read);
}
#endif

TEST_F(DirectoryCopy, RefusedCopiesLeaveEverythingAsItWas) {
  put(left() + "/ro.txt", "new\n");
  put(right() + "/ro.txt", "kept\n");
  put(left() + "/later.txt", "mine\n");
  put(right() + "/later.txt", "theirs\n");
  put(left() + "/only.txt", "only\n");
  fs::create_directories(at(right()));
  put(left() + "/\xC3\xBC/f.txt", "x");
  put(right() + "/\xC3\xBC/g.txt", "x");

  // A read-only target.
  DirectoryEntry read_only = entry("ro.txt");
  fs::permissions(at(right() + "/ro.txt"),
                  fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  support::Status outcome =
      copy_entry(left(), right(), &read_only, CopyDirection::left_to_right, kReplace);
  fs::permissions(at(right() + "/ro.txt"), fs::perms::owner_all);
  EXPECT_FALSE(outcome.ok());
  EXPECT_NE(outcome.text().find("ro.txt is read-only"), std::string::npos) << outcome.text();
  EXPECT_EQ(read(right() + "/ro.txt"), "kept\n");
  EXPECT_EQ(read_only.state, S::different);

  // A target changed since the comparison, and one that appeared since.
  DirectoryEntry later = entry("later.txt");
  put(right() + "/later.txt", "theirs, edited\n");
  outcome = copy_entry(left(), right(), &later, CopyDirection::left_to_right, kReplace);
  EXPECT_FALSE(outcome.ok());
  EXPECT_NE(outcome.text().find("changed since"), std::string::npos) << outcome.text();
  EXPECT_EQ(read(right() + "/later.txt"), "theirs, edited\n");
  DirectoryEntry only = entry("only.txt");
  put(right() + "/only.txt", "appeared\n");
  EXPECT_FALSE(copy_entry(left(), right(), &only, CopyDirection::left_to_right, kReplace).ok());
  EXPECT_EQ(read(right() + "/only.txt"), "appeared\n");

  // Nothing to copy from the side where it is absent.
  DirectoryEntry absent = entry("\xC3\xBC/f.txt");
  outcome = copy_entry(left(), right(), &absent, CopyDirection::right_to_left, kReplace);
  EXPECT_FALSE(outcome.ok());
  EXPECT_NE(outcome.text().find("\xC3\xBC/f.txt does not exist"), std::string::npos)
      << outcome.text();

  // A path leading out of the folders: the source outside one, the target
  // outside the other.
  put(dir_.file("escape.txt"), "x");
  fs::create_directories(at(dir_.file("deep/r")));
  DirectoryEntry outside;
  outside.path = "../escape.txt";
  outside.state = S::only_left;
  outside.left.present = true;
  outside.left.size = 1;
  EXPECT_FALSE(
      copy_entry(left(), dir_.file("deep/r"), &outside, CopyDirection::left_to_right, kReplace)
          .ok());
  EXPECT_FALSE(fs::exists(at(dir_.file("deep/escape.txt"))));
}

TEST_F(DirectoryCopy, AFailedSaveIsReportedAndTheEntryKept) {
  put(left() + "/f.txt", "new\n");
  put(right() + "/f.txt", "old\n");
  DirectoryEntry changed = entry("f.txt");
  const DirectoryEntry before = changed;
  const ReplaceFile full_disk = [](const std::string& path, const std::string&) {
    return support::Status::failure("cannot write " + path + ": No space left on device");
  };
  const support::Status outcome =
      copy_entry(left(), right(), &changed, CopyDirection::left_to_right, full_disk);
  EXPECT_FALSE(outcome.ok());
  EXPECT_NE(outcome.text().find("No space left"), std::string::npos);
  EXPECT_NE(outcome.text().find("f.txt"), std::string::npos);
  EXPECT_EQ(changed.state, S::different);
  EXPECT_EQ(changed.right, before.right);
  EXPECT_EQ(read(right() + "/f.txt"), "old\n");

  // A folder that cannot be made: a file stands where it would go.
  put(left() + "/sub/g.txt", "g");
  put(right() + "/sub", "a file");
  DirectoryEntry blocked = entry("sub/g.txt");
  const support::Status made =
      copy_entry(left(), right(), &blocked, CopyDirection::left_to_right, kReplace);
  EXPECT_FALSE(made.ok());
  EXPECT_NE(made.text().find("cannot create the folder"), std::string::npos) << made.text();
  EXPECT_EQ(read(right() + "/sub"), "a file");
}

}  // namespace
}  // namespace marlow

namespace marlow {
namespace {

// Three directories: a base and two trees changed from it.
class ThreeWayCompare : public ::testing::Test {
 protected:
  std::string base() const { return dir_.file("base"); }
  std::string a() const { return dir_.file("a"); }
  std::string b() const { return dir_.file("b"); }
  // `texts` for base, A and B; nullptr where the side lacks the file.
  void three(const std::string& path, const char* in_base, const char* in_a, const char* in_b) {
    if (in_base != nullptr) put(base() + "/" + path, in_base);
    if (in_a != nullptr) put(a() + "/" + path, in_a);
    if (in_b != nullptr) put(b() + "/" + path, in_b);
  }
  std::vector<DirectoryEntry> compare(const NameFilter& filter = NameFilter()) const {
    return compare_directories(std::vector<std::string>{base(), a(), b()}, filter);
  }
  testlib::TempDir dir_;
};

TEST_F(ThreeWayCompare, EachStateAndItsName) {
  three("all.txt", "x\n", "x\n", "x\n");
  three("a.txt", "x\n", "y\n", "x\n");
  three("b.txt", "x\n", "x\n", "y\n");
  three("both.txt", "x\n", "y\n", "y\n");
  three("conflict.txt", "x\n", "y\n", "z\n");
  // Files on some sides only: absence counts as one more content.
  three("add_a.txt", nullptr, "n\n", nullptr);
  three("add_b.txt", nullptr, nullptr, "n\n");
  three("add_both.txt", nullptr, "n\n", "n\n");
  three("add_both_other.txt", nullptr, "n\n", "m\n");
  three("del_a.txt", "x\n", nullptr, "x\n");
  three("del_b.txt", "x\n", "x\n", nullptr);
  three("del_both.txt", "x\n", nullptr, nullptr);
  three("del_a_change_b.txt", "x\n", nullptr, "y\n");
  three("change_a_del_b.txt", "x\n", "y\n", nullptr);
  const std::vector<DirectoryEntry> entries = compare();
  std::map<std::string, std::pair<S, std::string>> got;
  for (const DirectoryEntry& entry : entries) {
    EXPECT_EQ(entry.sides, 3u);
    got[entry.path] = {entry.state, state_name(entry)};
  }
  const std::map<std::string, std::pair<S, std::string>> want = {
      {"all.txt", {S::identical, "identical"}},
      {"a.txt", {S::second_differs, "changed in A"}},
      {"b.txt", {S::third_differs, "changed in B"}},
      {"both.txt", {S::first_differs, "same change in both"}},
      {"conflict.txt", {S::all_differ, "changed in both (differently)"}},
      {"add_a.txt", {S::second_differs, "added in A"}},
      {"add_b.txt", {S::third_differs, "added in B"}},
      {"add_both.txt", {S::first_differs, "added in both"}},
      {"add_both_other.txt", {S::all_differ, "added in both (differently)"}},
      {"del_a.txt", {S::second_differs, "deleted in A"}},
      {"del_b.txt", {S::third_differs, "deleted in B"}},
      {"del_both.txt", {S::first_differs, "deleted in both"}},
      {"del_a_change_b.txt", {S::all_differ, "deleted in A, changed in B"}},
      {"change_a_del_b.txt", {S::all_differ, "changed in A, deleted in B"}}};
  EXPECT_EQ(got, want);
}

TEST_F(ThreeWayCompare, FactsPerSideAndWhatWasRead) {
  const std::string big(200000, 'x');
  // Equal in size, differing only in the last byte: read to the end.
  three("late.txt", big.c_str(), (big.substr(1) + "y").c_str(), big.c_str());
  // Sizes that differ everywhere: none is read.
  three("sizes.txt", "1", "22", "333");
  std::string binary("\x01\x00\x02", 3);
  put(base() + "/bin.dat", binary);
  put(a() + "/bin.dat", binary);
  put(b() + "/bin.dat", binary + "more");
  three("empty", "", "", nullptr);
  const std::vector<DirectoryEntry> entries = compare();
  ASSERT_EQ(entries.size(), 4u);
  const DirectoryEntry& bin = entries[0];
  EXPECT_EQ(bin.state, S::third_differs);
  EXPECT_EQ(bin.left.content, Content::binary);
  EXPECT_EQ(bin.right.content, Content::binary);
  EXPECT_EQ(bin.third.content, Content::unread);  // its size sets it apart
  EXPECT_EQ(bin.third.size, 7u);
  const DirectoryEntry& empty = entries[1];
  EXPECT_EQ(empty.state, S::third_differs);
  EXPECT_EQ(empty.left.content, Content::text);
  EXPECT_FALSE(empty.third.present);
  const DirectoryEntry& late = entries[2];
  EXPECT_EQ(late.path, "late.txt");
  EXPECT_EQ(late.state, S::second_differs);
  EXPECT_EQ(late.right.content, Content::text);
  const DirectoryEntry& sizes = entries[3];
  EXPECT_EQ(sizes.state, S::all_differ);
  for (std::size_t side = 0; side < 3; ++side) {
    EXPECT_TRUE(sizes.side(side).present);
    EXPECT_EQ(sizes.side(side).size, side + 1);
    EXPECT_EQ(sizes.side(side).content, Content::unread);
  }
}

TEST_F(ThreeWayCompare, NestedFoldersSumUpAndFiltersApply) {
  three("src/core/x.c", "1", "2", "1");
  three("src/core/y.c", "1", "1", "1");
  three("src/ui/z.c", "1", "1", "2");
  three("docs/new.md", nullptr, "n", nullptr);
  three("docs/old.md", "o", nullptr, "o");
  three("build/out.o", "1", "2", "3");
  three("main.o", "1", "2", "3");
  const std::vector<DirectoryEntry> entries = compare(NameFilter("*.o;build/"));
  ASSERT_EQ(entries.size(), 5u);
  const DirectoryNode root = directory_tree(entries, StateFilter());
  ASSERT_EQ(root.children.size(), 2u);
  const DirectoryNode& docs = root.children[0];
  EXPECT_EQ(docs.name, "docs");
  EXPECT_EQ(docs.state, S::second_differs);  // added and deleted in A only
  EXPECT_EQ(folder_state_name(docs.state), "changed in A");
  const DirectoryNode& src = root.children[1];
  EXPECT_EQ(src.state, S::all_differ);  // A's and B's changes under it
  EXPECT_EQ(folder_state_name(src.state), "changed in both");
  ASSERT_EQ(src.children.size(), 2u);
  EXPECT_EQ(src.children[0].state, S::second_differs);  // core: x.c in A, y.c the same
  EXPECT_EQ(src.children[1].state, S::third_differs);
  EXPECT_EQ(root.count(S::second_differs), 3u);
  EXPECT_EQ(root.count(S::identical), 1u);

  // Only B's changes shown: the folders without any are left out.
  StateFilter only_b;
  only_b.shown.fill(false);
  only_b.set(S::third_differs, true);
  const DirectoryNode shown = directory_tree(entries, only_b);
  ASSERT_EQ(shown.children.size(), 1u);
  ASSERT_EQ(shown.children[0].children.size(), 1u);
  EXPECT_EQ(shown.children[0].children[0].path, "src/ui");
  ASSERT_EQ(shown.children[0].children[0].children.size(), 1u);
  EXPECT_EQ(entries[shown.children[0].children[0].children[0].entry].path, "src/ui/z.c");
}

TEST_F(ThreeWayCompare, TwoWayStaysAsItWasAndOtherCountsAreRefused) {
  three("f.txt", "x", "y", nullptr);
  const std::vector<DirectoryEntry> two =
      compare_directories(std::vector<std::string>{base(), a()});
  ASSERT_EQ(two.size(), 1u);
  EXPECT_EQ(two[0].state, S::different);
  EXPECT_EQ(two[0].sides, 2u);
  EXPECT_EQ(state_name(two[0]), "different");
  EXPECT_FALSE(is_three_way(two[0].state));
  EXPECT_TRUE(compare_directories(std::vector<std::string>{base()}).empty());
  EXPECT_TRUE(compare_directories(std::vector<std::string>{base(), a(), b(), a()}).empty());

  // A file of three sides is not copied: two of them would be compared as if alone.
  DirectoryEntry entry = compare()[0];
  const support::Status copied =
      copy_entry(base(), a(), &entry, CopyDirection::left_to_right, kReplace);
  EXPECT_FALSE(copied.ok());
  EXPECT_NE(copied.text().find("three sides"), std::string::npos) << copied.text();
  EXPECT_EQ(read(a() + "/f.txt"), "y");
}

}  // namespace
}  // namespace marlow
