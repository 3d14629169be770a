// git mergetool and git difftool with the tool definitions a user puts in
// their configuration, through the real chain. git's configuration is the
// sandbox's own (HOME, GIT_CONFIG_GLOBAL, GIT_CONFIG_NOSYSTEM).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/gui/chain/chain.h"

namespace chain {
namespace {

// What a user writes, one `git config --global` per element.
const std::vector<std::vector<std::string>> kUserConfig = {
    {"mergetool.tarnwick.cmd",
     R"cfg(tarnwick -fname "$MERGED (base)" -fname "$MERGED (local)" -fname "$MERGED (remote)" -out "$MERGED" -base "$BASE" "$LOCAL" "$REMOTE")cfg"},
    {"mergetool.tarnwick.trustExitCode", "true"},
    {"mergetool.tarnwickutf8.cmd",
     R"cfg(tarnwickutf8 -fname "$MERGED (base)" -fname "$MERGED (local)" -fname "$MERGED (remote)" -out "$MERGED" -base "$BASE" "$LOCAL" "$REMOTE")cfg"},
    {"mergetool.tarnwickutf8.trustExitCode", "true"},
    {"difftool.tarnwick.cmd", R"cfg(tarnwick -fname "$MERGED (old)" -fname "$MERGED (new)" "$LOCAL" "$REMOTE")cfg"},
    {"difftool.tarnwickutf8.cmd",
     R"cfg(tarnwickutf8 -fname "$MERGED (old)" -fname "$MERGED (new)" "$LOCAL" "$REMOTE")cfg"},
    {"merge.tool", "tarnwick"},
    {"diff.tool", "tarnwick"},
    {"mergetool.prompt", "false"},
    {"mergetool.keepBackup", "false"},
    {"difftool.prompt", "false"},
};

class GitTool : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(testlib::file_exists("/usr/bin/git")) << "these tests need git";
    repo_ = box_.file("repo");
    git({"init", "-q", "-b", "main", repo_}, box_.dir());
    for (const auto& line : kUserConfig) git({"config", "--global", line[0], line[1]});
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
  const Outcome tool = git({"difftool", "--trust-exit-code"});
  EXPECT_THAT(tool.log, ::testing::ElementsAre("compare answered 1"));
}

}  // namespace
}  // namespace chain
