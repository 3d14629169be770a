// Opening a file of a directory comparison: the comparison of its files
// with their names and texts, or what the window says instead.
#include "serve/directory_entry.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "engine/utf8_path.h"
#include "tests/testlib/testlib.h"

namespace marlow {
namespace {

namespace fs = std::filesystem;

class DirectoryEntryOpening : public ::testing::Test {
 protected:
  void put(const std::string& path, const std::string& bytes) {
    fs::create_directories(utf8_path(path).parent_path());
    std::ofstream(utf8_path(path), std::ios::binary) << bytes;
  }

  // A call comparing the directories "base", "a" and "b" (the first `sides`).
  CompareRequest request(std::size_t sides) const {
    CompareRequest call;
    call.method = Method::compare;
    for (const char* name : {"base", "a", "b"}) {
      if (call.contributors.size() == sides) break;
      call.contributors.push_back(dir_.file(name));
      call.display_names.push_back(std::string("[") + name + "]");
    }
    return call;
  }

  // The entry of `path` as the comparison of the directories has it.
  DirectoryEntry entry(std::size_t sides, const std::string& path) const {
    const CompareRequest call = request(sides);
    for (const DirectoryEntry& e : compare_directories(call.contributors)) {
      if (e.path == path) return e;
    }
    ADD_FAILURE() << path << " is not compared";
    return {};
  }

  testlib::TempDir dir_;
};

TEST_F(DirectoryEntryOpening, TextFilesOpenByTheirNamesAndAnAbsentSideIsEmpty) {
  put(dir_.file("base") + "/sub/f.txt", "one\ntwo\n");
  put(dir_.file("a") + "/sub/f.txt", "one\nTWO\n");
  fs::create_directories(utf8_path(dir_.file("b")));
  const EntryOpening opening =
      open_directory_entry(request(3), entry(3, "sub/f.txt"), real_files());
  ASSERT_TRUE(opening.job) << opening.title << ": " << opening.message;
  const Job& job = *opening.job;
  ASSERT_EQ(job.docs.size(), 3u);
  EXPECT_EQ(job.request.display_names[0], "[base]/sub/f.txt");
  EXPECT_EQ(job.request.display_names[2], "[b]/sub/f.txt");
  EXPECT_EQ(job.docs[1].lines[1].text.str(), "TWO");
  EXPECT_TRUE(job.docs[2].lines.empty());
  // Each contributor is the file itself, absent or not.
  EXPECT_TRUE(fs::exists(utf8_path(job.request.contributors[0])));
  EXPECT_FALSE(fs::exists(utf8_path(job.request.contributors[2])));
  EXPECT_EQ(utf8_path(job.request.contributors[2]).filename(), "f.txt");
}

TEST_F(DirectoryEntryOpening, BinaryFilesAndUnreadableOnesAreSaidSo) {
  using namespace std::string_literals;
  put(dir_.file("base") + "/image.bin", "x\0y"s);
  put(dir_.file("a") + "/image.bin", "x\0y"s);
  EntryOpening binary = open_directory_entry(request(2), entry(2, "image.bin"), real_files());
  EXPECT_FALSE(binary.job);
  EXPECT_EQ(binary.title, "Binary files");
  EXPECT_NE(binary.message.find("[base]/image.bin and [a]/image.bin"), std::string::npos)
      << binary.message;
  EXPECT_NE(binary.message.find("identical"), std::string::npos) << binary.message;

  // A file gone since the directories were compared: named, with why.
  put(dir_.file("base") + "/gone.txt", "text\n");
  put(dir_.file("a") + "/gone.txt", "text!\n");
  const DirectoryEntry gone = entry(2, "gone.txt");
  fs::remove(utf8_path(dir_.file("a") + "/gone.txt"));
  const EntryOpening unread = open_directory_entry(request(2), gone, real_files());
  EXPECT_FALSE(unread.job);
  EXPECT_EQ(unread.title, "Cannot compare");
  EXPECT_EQ(unread.message.rfind("[a]/gone.txt cannot be read: No such file or directory", 0), 0u)
      << unread.message;

  // A text that is not valid in the call's encoding.
  put(dir_.file("base") + "/latin.txt", "caf\xe9\n");
  put(dir_.file("a") + "/latin.txt", "cafe\n");
  CompareRequest utf8_call = request(2);
  utf8_call.type_name = "utf8_file_delta";
  const EntryOpening bad = open_directory_entry(utf8_call, entry(2, "latin.txt"), real_files());
  EXPECT_FALSE(bad.job);
  EXPECT_EQ(bad.message.rfind("[base]/latin.txt cannot be read as UTF-8: ", 0), 0u) << bad.message;
}

}  // namespace
}  // namespace marlow
