// git mergetool and git difftool with the tool definitions a user puts in
// their configuration, through the real chain. git's configuration is the
// sandbox's own (HOME, GIT_CONFIG_GLOBAL, GIT_CONFIG_NOSYSTEM).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "tests/gui/chain/chain.h"

namespace chain {
namespace {

// What a user writes: the `git config --global` lines of the README, taken
// from it so that what it shows is what is tested, and the same tools for
// tarnwickutf8 (the README says to define them alike). The prompts are off
// for the tests.
std::vector<std::pair<std::string, std::string>> user_config() {
  std::vector<std::pair<std::string, std::string>> config;
  std::istringstream readme(testlib::read_file(TW_README));
  const std::string prefix = "git config --global ";
  for (std::string line; std::getline(readme, line);) {
    if (line.rfind(prefix, 0) != 0) continue;
    const std::size_t key_end = line.find(' ', prefix.size());
    if (key_end == std::string::npos) continue;
    std::string value = line.substr(key_end + 1);
    if (value.size() >= 2 && value.front() == '\'' && value.back() == '\'') {
      value = value.substr(1, value.size() - 2);
    }
    config.emplace_back(line.substr(prefix.size(), key_end - prefix.size()), value);
  }
  const std::size_t from_readme = config.size();
  for (std::size_t i = 0; i < from_readme; ++i) {
    const auto [key, value] = config[i];
    for (const std::string tool : {"mergetool.tarnwick.", "difftool.tarnwick."}) {
      if (key.rfind(tool, 0) != 0) continue;
      std::string utf8_value = value;
      if (utf8_value.rfind("tarnwick ", 0) == 0) utf8_value.insert(8, "utf8");
      config.emplace_back(tool.substr(0, tool.size() - 1) + "utf8." + key.substr(tool.size()),
                          utf8_value);
    }
  }
  config.emplace_back("mergetool.prompt", "false");
  config.emplace_back("mergetool.keepBackup", "false");
  config.emplace_back("difftool.prompt", "false");
  return config;
}

class GitTool : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(testlib::file_exists("/usr/bin/git")) << "these tests need git";
    repo_ = box_.file("repo");
    git({"init", "-q", "-b", "main", repo_}, box_.dir());
    const auto config = user_config();
    ASSERT_GE(config.size(), 6u) << "the README's git lines";
    for (const auto& [key, value] : config) git({"config", "--global", key, value});
    git({"config", "--global", "user.name", "Test"});
    git({"config", "--global", "user.email", "test@example.invalid"});
  }

  // Runs git in the repository; a failing git fails the test unless `may_fail`.
  Outcome git(const std::vector<std::string>& args, const std::string& cwd = "",
              bool may_fail = false) {
    Outcome outcome = box_.run("/usr/bin/git", args, cwd.empty() ? repo_ : cwd);
    if (!may_fail) {
      EXPECT_EQ(outcome.status, 0) << "git " << args[0] << ": " << outcome.err;
    }
    return outcome;
  }

  void commit(const std::string& content, const std::string& message) {
    testlib::write_file(repo_ + "/notes.txt", content);
    git({"add", "notes.txt"});
    git({"commit", "-q", "-m", message});
  }

  // main and side both change the second line: `git merge side` stops with
  // notes.txt unmerged.
  void conflict() {
    commit("one\ntwo\nthree\n", "base");
    git({"checkout", "-q", "-b", "side"});
    commit("one\ntwo side\nthree\nfour\n", "side");
    git({"checkout", "-q", "main"});
    commit("one\ntwo main\nthree\n", "main");
    git({"merge", "-q", "side"}, "", true);
    ASSERT_EQ(unmerged(), "notes.txt\n");
  }

  std::string unmerged() { return git({"diff", "--name-only", "--diff-filter=U"}).out; }

  // Ahead of the system's own directories, as an installation's bin would be.
  testlib::ScopedEnv path_{"PATH", gui_root() + "/bin:" + platform::get_env("PATH")};
  Sandbox box_;
  std::string repo_;
};

TEST_F(GitTool, MergetoolTakesTheScriptsChoiceAndGitMarksItResolved) {
  conflict();
  box_.script("take 2; save; close");  // 2 is $REMOTE: base, local, remote
  const Outcome tool = git({"mergetool"}, "", true);
  EXPECT_EQ(tool.status, 0) << tool.out << tool.err;
  EXPECT_THAT(tool.log, ::testing::ElementsAre("merge answered 1"));
  EXPECT_EQ(unmerged(), "");
  EXPECT_EQ(testlib::read_file(repo_ + "/notes.txt"), "one\ntwo side\nthree\nfour\n");
}

TEST_F(GitTool, MergetoolClosedUnsavedLeavesTheFileUnmerged) {
  conflict();
  const std::string with_markers = testlib::read_file(repo_ + "/notes.txt");
  box_.script("take 1; close");
  const Outcome tool = git({"mergetool", "--tool=tarnwickutf8"}, "", true);
  EXPECT_NE(tool.status, 0);
  EXPECT_THAT(tool.log, ::testing::ElementsAre("merge answered 0"));
  EXPECT_EQ(unmerged(), "notes.txt\n");
  EXPECT_EQ(testlib::read_file(repo_ + "/notes.txt"), with_markers);
}

TEST_F(GitTool, DifftoolOpensACompareAndGitGoesOn) {
  commit("one\ntwo\n", "first");
  testlib::write_file(repo_ + "/notes.txt", "one\ntwo changed\n");
  box_.script("close");
  const Outcome tool = git({"difftool"});
  EXPECT_THAT(tool.log, ::testing::ElementsAre("compare answered 1"));
}

// git difftool -d hands the tool two directories: they open as a directory
// comparison, not as files that cannot be read.
TEST_F(GitTool, DirDiffOpensADirectoryComparison) {
  commit("one\ntwo\n", "first");
  testlib::write_file(repo_ + "/notes.txt", "one\ntwo changed\n");
  box_.script("close");
  const Outcome tool = git({"difftool", "-d"});
  EXPECT_THAT(tool.log, ::testing::ElementsAre("compare answered 1"));
}

}  // namespace
}  // namespace chain
