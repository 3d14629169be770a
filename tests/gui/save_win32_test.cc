// Saving the merge output on Windows: the old file replaced whole with its
// attributes, names in any script, a file others have open, a read-only file.
#include <gtest/gtest.h>

#include <windows.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "serve/serve.h"
#include "support/platform.h"

namespace marlow {
namespace {

namespace fs = std::filesystem;

std::string utf8(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

class GuiSaveWindows : public ::testing::Test {
 protected:
  void SetUp() override {
    static int counter = 0;
    fs::path name(u8"gui-save-\u00e9\u20ac-");
    name += std::to_string(platform::current_pid()) + "-" + std::to_string(counter++);
    dir_ = fs::temp_directory_path() / name;
    fs::create_directories(dir_);
  }
  void TearDown() override {
    for (const auto& entry : fs::directory_iterator(dir_)) {
      ::SetFileAttributesW(entry.path().c_str(), FILE_ATTRIBUTE_NORMAL);
    }
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  void write(const fs::path& file, const std::string& text) {
    std::ofstream(file, std::ios::binary) << text;
  }
  std::string read(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }
  // The names in the folder other than `keep`: a temporary file left behind
  // shows here.
  std::string others(const fs::path& keep) {
    std::string names;
    for (const auto& entry : fs::directory_iterator(dir_)) {
      if (entry.path().filename() != keep.filename()) names += utf8(entry.path().filename()) + " ";
    }
    return names;
  }

  fs::path dir_;
};

TEST_F(GuiSaveWindows, ReplacesTheFileWholeKeepingItsAttributes) {
  const fs::path out = dir_ / "merged.txt";
  write(out, "old text\r\n");
  ASSERT_TRUE(::SetFileAttributesW(out.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE));
  std::string error;
  ASSERT_EQ(write_file_replacing(utf8(out), "new\r\ntext\n").text(), "");
  EXPECT_EQ(read(out), "new\r\ntext\n");
  EXPECT_NE(::GetFileAttributesW(out.c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);
  EXPECT_EQ(others(out), "");

  // A new output is made, and a second save replaces it again.
  const fs::path fresh = dir_ / "fresh.txt";
  ASSERT_EQ(write_file_replacing(utf8(fresh), "one").text(), "");
  ASSERT_EQ(write_file_replacing(utf8(fresh), "two").text(), "");
  EXPECT_EQ(read(fresh), "two");
  EXPECT_EQ(others(out), "fresh.txt ");
}

TEST_F(GuiSaveWindows, NamesInAnyScript) {
  // Outside the ANSI code page: Greek, Cyrillic, CJK and a character beyond
  // the basic plane (a surrogate pair in UTF-16).
  const fs::path folder = dir_ / fs::path(u8"\u03a6\u0430\u0439\u043b \u65e5\u672c");
  fs::create_directories(folder);
  const fs::path out = folder / fs::path(u8"merge-\u00df-\U0001F600.txt");
  std::string error;
  ASSERT_EQ(write_file_replacing(utf8(out), "made").text(), "");
  EXPECT_EQ(read(out), "made");
  ASSERT_EQ(write_file_replacing(utf8(out), "replaced").text(), "");
  EXPECT_EQ(read(out), "replaced");
  // Read back by its UTF-8 name, as a contributor is (not through the ANSI
  // code page, which has none of these characters).
  const support::Result<std::string> back = read_file_whole(utf8(out));
  ASSERT_TRUE(back.ok()) << back.status().text();
  EXPECT_EQ(back.value(), "replaced");
  int entries = 0;
  for (const auto& entry : fs::directory_iterator(folder)) {
    EXPECT_EQ(entry.path().filename(), out.filename());
    ++entries;
  }
  EXPECT_EQ(entries, 1);

  // Bytes that are not UTF-8 name no file: refused, not guessed at.
  error = write_file_replacing(utf8(dir_) + "\\bad\xff.txt", "x").text();
  EXPECT_FALSE(error.empty());
  EXPECT_NE(error.find("UTF-8"), std::string::npos) << error;
}

TEST_F(GuiSaveWindows, FileOpenForReading) {
  const fs::path out = dir_ / "open.txt";
  write(out, "old");
  std::string error;
  {
    // A reader that lets others delete or rename the file (as most editors
    // and viewers do) keeps reading what it opened.
    HANDLE reader = ::CreateFileW(out.c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    error = write_file_replacing(utf8(out), "new").text();
    const bool saved = error.empty();
    char buffer[8] = {};
    DWORD got = 0;
    EXPECT_TRUE(::ReadFile(reader, buffer, sizeof buffer, &got, nullptr));
    ::CloseHandle(reader);
    ASSERT_TRUE(saved) << error;
    EXPECT_EQ(std::string(buffer, got), "old");
    EXPECT_EQ(read(out), "new");
    EXPECT_EQ(others(out), "");
  }
  {
    // One that does not: the save fails with a reason, the file is as it
    // was and no temporary file of ours is left. (Wine's ReplaceFileW leaves
    // a backup of its own beside it here, which Windows does not.)
    HANDLE reader = ::CreateFileW(out.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    error = write_file_replacing(utf8(out), "newer").text();
    const bool saved = error.empty();
    ::CloseHandle(reader);
    EXPECT_FALSE(saved);
    EXPECT_NE(error.find("open.txt"), std::string::npos) << error;
    EXPECT_EQ(read(out), "new");
    EXPECT_EQ(others(out).find(".marlow-"), std::string::npos) << others(out);
  }
}

TEST_F(GuiSaveWindows, ReadOnlyFilesAndFoldersAreRefused) {
  const fs::path out = dir_ / "locked.txt";
  write(out, "keep me");
  ASSERT_TRUE(::SetFileAttributesW(out.c_str(), FILE_ATTRIBUTE_READONLY));
  std::string error;
  error = write_file_replacing(utf8(out), "lost").text();
  EXPECT_FALSE(error.empty());
  EXPECT_NE(error.find("read-only"), std::string::npos) << error;
  EXPECT_EQ(read(out), "keep me");
  EXPECT_NE(::GetFileAttributesW(out.c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
  EXPECT_EQ(others(out), "");

  const fs::path folder = dir_ / "folder";
  fs::create_directories(folder);
  error = write_file_replacing(utf8(folder), "x").text();
  EXPECT_FALSE(error.empty());
  EXPECT_TRUE(fs::is_directory(folder));
  EXPECT_TRUE(fs::is_empty(folder));
  // Read as a contributor: a folder and a missing file are said to be what
  // they are, with the codes POSIX gives.
  EXPECT_EQ(read_file_whole(utf8(folder)).status().code(), EISDIR);
  EXPECT_EQ(read_file_whole(utf8(dir_ / "none.txt")).status().code(), ENOENT);

  // A folder that does not exist: nothing is made.
  error = write_file_replacing(utf8(dir_ / "missing" / "out.txt"), "x").text();
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(fs::exists(dir_ / "missing"));
}

}  // namespace
}  // namespace marlow
