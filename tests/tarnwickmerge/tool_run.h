// What the tests of tarnwickmerge's whole run share: a scratch folder of the
// test's own, files in it, and run() with its standard output and error
// kept.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "merge_tool.h"

namespace tarnwickmerge::testing_support {

namespace fs = std::filesystem;

inline std::string read(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void write(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// `ascii` as UTF-16LE with its byte order mark.
inline std::string utf16(const std::string& ascii) {
  std::string out = "\xFF\xFE";
  for (char c : ascii) {
    out += c;
    out += '\0';
  }
  return out;
}

// A fixture whose folder is named after `prefix` and the test, made anew
// before each test and removed after it.
class ToolRun : public ::testing::Test {
 protected:
  explicit ToolRun(std::string prefix) : prefix_(std::move(prefix)) {}

  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           (prefix_ + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  int run_tool(std::vector<std::string> args) {
    out_.str("");
    err_.str("");
    return run(args, out_, err_);
  }
  std::string path(const std::string& name) const { return (dir_ / name).string(); }

  std::string prefix_;
  fs::path dir_;
  std::ostringstream out_;
  std::ostringstream err_;
};

}  // namespace tarnwickmerge::testing_support
