// Copying a file between two compared directories through the serving
// layer's safe replacement, as the windows do: the file is replaced whole,
// the entry is read again, and no temporary file is left beside it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "engine/directory_compare.h"
#include "engine/utf8_path.h"
#include "serve/serve.h"
#include "tests/testlib/testlib.h"

namespace marlow {
namespace {

namespace fs = std::filesystem;

void put(const std::string& path, const std::string& bytes) {
  fs::create_directories(utf8_path(path).parent_path());
  std::ofstream(utf8_path(path), std::ios::binary) << bytes;
}

std::string read(const std::string& path) {
  std::ifstream in(utf8_path(path), std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

const ReplaceFile kReplace = [](const std::string& path, const std::string& bytes) {
  return write_file_replacing(path, bytes);
};

TEST(DirectoryCopyReplacing, ReplacesWholeAndLeavesNoTemporaryFile) {
  testlib::TempDir dir;
  const std::string left = dir.file("left");
  const std::string right = dir.file("right");
  put(left + "/changed.txt", "left\n");
  put(right + "/changed.txt", "right side\n");
  put(left + "/n\xC3\xA9u/new.txt", "new file\n");
  fs::create_directories(utf8_path(right));
  std::vector<DirectoryEntry> entries = compare_directories(left, right);
  ASSERT_EQ(entries.size(), 2u);
  ASSERT_EQ(entries[0].state, DirectoryEntry::State::different);
  ASSERT_EQ(entries[1].state, DirectoryEntry::State::only_left);

  const support::Status back =
      copy_entry(left, right, &entries[0], CopyDirection::right_to_left, kReplace);
  ASSERT_TRUE(back.ok()) << back.text();
  EXPECT_EQ(read(left + "/changed.txt"), "right side\n");
  EXPECT_EQ(entries[0].state, DirectoryEntry::State::identical);
  EXPECT_EQ(entries[0].left.size, 11u);
  const support::Status made =
      copy_entry(left, right, &entries[1], CopyDirection::left_to_right, kReplace);
  ASSERT_TRUE(made.ok()) << made.text();
  EXPECT_EQ(read(right + "/n\xC3\xA9u/new.txt"), "new file\n");
  EXPECT_EQ(entries[1].state, DirectoryEntry::State::identical);

  // Nothing but the compared files in either folder.
  for (const std::string& root : {left, right}) {
    std::size_t files = 0;
    for (const auto& one : fs::recursive_directory_iterator(utf8_path(root))) {
      files += one.is_regular_file();
    }
    EXPECT_EQ(files, 2u) << root;
  }
}

}  // namespace
}  // namespace marlow
