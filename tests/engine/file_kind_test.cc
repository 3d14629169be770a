// Files that are not text, and directories where a call has no place for
// them.
#include "engine/file_kind.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "engine/utf8_path.h"
#include "tests/testlib/testlib.h"

namespace marlow {
namespace {

using namespace std::string_literals;

TEST(FileKind, BinaryIsANulByteAmongTheFirst8000) {
  EXPECT_FALSE(is_binary(""));
  EXPECT_FALSE(is_binary("plain text\nwith lines\r\n\x01\x7f"));
  EXPECT_TRUE(
      is_binary("\x7f"
                "ELF\0\0"s));
  EXPECT_TRUE(is_binary(std::string(7999, 'a') + '\0'));
  // A NUL past the probe does not count, as git does not look there.
  EXPECT_FALSE(is_binary(std::string(8000, 'a') + '\0'));
  // UTF-16 and UTF-32 with their marks are text despite their NUL bytes.
  EXPECT_FALSE(
      is_binary("\xFF\xFE"
                "a\0b\0"s));
  EXPECT_FALSE(is_binary("\xFE\xFF\0a\0b"s));
  EXPECT_FALSE(is_binary("\xFF\xFE\0\0a\0\0\0"s));
  EXPECT_FALSE(is_binary("\0\0\xFE\xFF\0\0\0a"s));
  // Without a mark they are binary, as git takes them.
  EXPECT_TRUE(is_binary("a\0b\0"s));
}

TEST(FileKind, BinaryNoteSaysWhetherTheBytesAreEqual) {
  ::testlib::TempDir dir;
  std::ofstream(dir.file("a"), std::ios::binary) << "x\0y"s;
  std::ofstream(dir.file("b"), std::ios::binary) << "x\0y"s;
  std::ofstream(dir.file("c"), std::ios::binary) << "x\0z"s;
  EXPECT_TRUE(file_is_binary(dir.file("a")));
  EXPECT_FALSE(file_is_binary(dir.file("missing")));
  const std::string same = binary_comparison_note({"A", "B"}, {dir.file("a"), dir.file("b")});
  EXPECT_EQ(same, "Binary files (A and B): they are identical. Their bytes are not shown as text.");
  const std::string differ = binary_comparison_note({"A", "C"}, {dir.file("a"), dir.file("c")});
  EXPECT_NE(differ.find("they differ"), std::string::npos) << differ;
  const std::string alone = binary_comparison_note({"A", "C"}, {dir.file("a"), ""});
  EXPECT_NE(alone.find("A is a binary file, on one side only"), std::string::npos) << alone;

  // Names outside the ANSI code page (Windows) are read by their UTF-8 bytes.
  const std::string greek = dir.file("\u03a6\u0430-\u65e5\u672c.bin");
  const std::string copy = dir.file("\u03a6\u0430-\u65e5\u672c \U0001F600.bin");
  std::ofstream(utf8_path(greek), std::ios::binary) << "x\0y"s;
  std::ofstream(utf8_path(copy), std::ios::binary) << "x\0y"s;
  EXPECT_TRUE(file_is_binary(greek));
  EXPECT_NE(binary_comparison_note({"G", "C"}, {greek, copy}).find("they are identical"),
            std::string::npos);
}

class DirectoryCalls : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(dir_.file("a"));
    std::filesystem::create_directories(dir_.file("b"));
    std::ofstream(dir_.file("f.txt")) << "x\n";
  }
  std::string at(const char* name) const { return dir_.file(name); }
  std::optional<std::string> problem(const std::vector<std::string>& paths, bool merge) const {
    return directory_call_problem(paths, paths, merge);
  }
  ::testlib::TempDir dir_;
};

TEST_F(DirectoryCalls, TwoOrThreeDirectoriesOrFilesOnlyCompare) {
  EXPECT_FALSE(problem({at("a"), at("b")}, false).has_value());
  EXPECT_FALSE(problem({at("a"), at("b"), at("a")}, false).has_value());
  EXPECT_FALSE(problem({at("f.txt"), at("f.txt"), at("f.txt")}, false).has_value());
  EXPECT_FALSE(problem({at("f.txt"), at("f.txt"), at("f.txt")}, true).has_value());
}

TEST_F(DirectoryCalls, OthersSayWhichAndWhatWorks) {
  const std::optional<std::string> mixed = problem({at("f.txt"), at("a")}, false);
  ASSERT_TRUE(mixed.has_value());
  EXPECT_EQ(mixed->find(at("a") + " is a directory"), 0u) << *mixed;
  EXPECT_NE(mixed->find("two or three directories"), std::string::npos) << *mixed;
  EXPECT_NE(mixed->find("not directories and files together"), std::string::npos) << *mixed;

  const std::optional<std::string> four = problem({at("a"), at("b"), at("a"), at("b")}, false);
  ASSERT_TRUE(four.has_value());
  EXPECT_NE(four->find("two or three directories"), std::string::npos) << *four;
  EXPECT_NE(four->find("not 4 directories"), std::string::npos) << *four;
  const std::optional<std::string> three_mixed = problem({at("a"), at("b"), at("f.txt")}, false);
  ASSERT_TRUE(three_mixed.has_value());
  EXPECT_NE(three_mixed->find("not directories and files together"), std::string::npos);

  const std::optional<std::string> merge = problem({at("a"), at("b"), at("f.txt")}, true);
  ASSERT_TRUE(merge.has_value());
  EXPECT_NE(merge->find("cannot be merged"), std::string::npos) << *merge;
  // The name the call gives is the one the user sees.
  const std::optional<std::string> named =
      directory_call_problem({at("f.txt"), at("b")}, {"left.c", "dirB"}, false);
  ASSERT_TRUE(named.has_value());
  EXPECT_EQ(named->find("dirB is a directory"), 0u) << *named;
}

}  // namespace
}  // namespace marlow
