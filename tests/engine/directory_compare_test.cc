// The comparison of two directories, with names outside ASCII and files
// that differ only far into their bytes.
#include "engine/directory_compare.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "tests/testlib/testlib.h"

namespace marlow {
namespace {

namespace fs = std::filesystem;

fs::path utf8(const std::string& path) { return fs::path(std::u8string(path.begin(), path.end())); }

void put(const std::string& path, const std::string& bytes) {
  fs::create_directories(utf8(path).parent_path());
  std::ofstream(utf8(path), std::ios::binary) << bytes;
}

TEST(DirectoryCompare, NamesOutsideAsciiKeepTheirUtf8Bytes) {
  testlib::TempDir dir;
  // "Grüße/€uro.txt" and a name from outside any one code page.
  const std::string gruesse = "Gr\xC3\xBC\xC3\x9F" "e";
  const std::string euro = "\xE2\x82\xAC" "uro.txt";
  const std::string cjk = "\xE6\x97\xA5\xE6\x9C\xAC.txt";
  const std::string left = dir.file("l\xC3\xA9" "ft");
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

}  // namespace
}  // namespace marlow
