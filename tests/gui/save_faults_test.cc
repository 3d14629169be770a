// Saving the output and reading the contributors when the files fail: a
// full disk part of the way through the write, a replacement the system
// refuses, a contributor that cannot be read. The output must stay as it
// was, the answer must be a fault, and the reason must reach the message
// shown to the user and the call's log line.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "fake_files.h"
#include "serve/serve.h"
#include "serve/xmlrpc.h"

namespace marlow {
namespace {

using testing::FakeFiles;

class GuiSaveFaults : public ::testing::Test {
 protected:
  void SetUp() override {
    files_.contents["/w/base"] = "a\nx\nb\n";
    files_.contents["/w/one"] = "A\nx\nb\n";
    files_.contents["/w/other"] = "a\nx\nB\n";
    files_.contents["/w/out"] = "old";
  }

  // A merge of base, one and other into /w/out.
  static std::string merge_call() {
    std::string shown = "<param><value><array>";
    std::string paths = shown;
    for (const char* name : {"base", "one", "other"}) {
      shown += std::string("<data><value><string>") + name + "</string></value></data>";
      paths += std::string("<data><value><string>/w/") + name + "</string></value></data>";
    }
    return "<methodCall><methodName>RequestHandler.CompareMerge</methodName><params>"
           "<param><value><string>/w/out</string></value></param>" +
           shown + "</array></value></param>" + paths + "</array></value></param>" +
           "<param><value><string></string></value></param></params></methodCall>";
  }

  // The call answered with a fault carrying `reason` and logged with it;
  // the output untouched and the answer without windows the same.
  void expect_fault_leaving_output(const Preparation& prep, const std::string& reason) {
    EXPECT_TRUE(prep.shows_error);
    EXPECT_FALSE(prep.needs_window);
    EXPECT_NE(prep.reply.find("<fault>"), std::string::npos) << prep.reply;
    EXPECT_EQ(prep.reply.find("<boolean>"), std::string::npos) << prep.reply;
    EXPECT_NE(prep.reply.find(reason), std::string::npos) << prep.reply;
    const std::string line = call_log_line(merge_call(), prep.reply);
    EXPECT_NE(line.find("answered fault"), std::string::npos) << line;
    EXPECT_NE(line.find(reason), std::string::npos) << line;
    EXPECT_EQ(files_.contents["/w/out"], "old");
    EXPECT_EQ(answer_without_window_through(merge_call(), files_), prep.reply);
    EXPECT_EQ(files_.contents["/w/out"], "old");
  }

  FakeFiles files_;
};

TEST_F(GuiSaveFaults, AnAutomaticMergeIsSavedThroughTheFiles) {
  const Preparation prep = prepare(merge_call(), true, files_);
  EXPECT_FALSE(prep.shows_error);
  EXPECT_NE(prep.reply.find("<boolean>1</boolean>"), std::string::npos) << prep.reply;
  EXPECT_EQ(files_.contents["/w/out"], "A\nx\nB\n");
  EXPECT_EQ(files_.reads, (std::vector<std::string>{"/w/base", "/w/one", "/w/other"}));
  EXPECT_EQ(files_.saves, std::vector<std::string>{"/w/out"});
}

TEST_F(GuiSaveFaults, AFullDiskHalfWayThroughLeavesTheOutputAndAnswersAFault) {
  files_.space_left = 3;
  const Preparation prep = prepare(merge_call(), true, files_);
  const std::string reason = "cannot write /w/out: " + FakeFiles::text(ENOSPC);
  expect_fault_leaving_output(prep, reason);
  EXPECT_EQ(prep.message, "The merged result cannot be saved: " + reason);
  // The part that was written went into the temporary file only, and the
  // save was not retried in some other way.
  ASSERT_FALSE(files_.dropped_temporaries.empty());
  EXPECT_EQ(files_.dropped_temporaries.front(), "A\nx");
  EXPECT_EQ(files_.saves.front(), "/w/out");
  EXPECT_EQ(files_.saves.size(), files_.dropped_temporaries.size());
}

TEST_F(GuiSaveFaults, ARefusedReplacementLeavesTheOutputAndAnswersAFault) {
  files_.rename_fault = EACCES;
  const Preparation prep = prepare(merge_call(), true, files_);
  const std::string reason = "cannot replace /w/out: " + FakeFiles::text(EACCES);
  expect_fault_leaving_output(prep, reason);
  EXPECT_EQ(prep.message, "The merged result cannot be saved: " + reason);
  EXPECT_EQ(files_.saves.size(), files_.dropped_temporaries.size());
}

TEST_F(GuiSaveFaults, AContributorThatCannotBeReadWritesNothing) {
  files_.read_faults["/w/other"] = EIO;
  const Preparation prep = prepare(merge_call(), true, files_);
  expect_fault_leaving_output(prep, "cannot read /w/other: " + FakeFiles::text(EIO));
  EXPECT_EQ(prep.message, "other cannot be read: " + FakeFiles::text(EIO) + "\n(/w/other)");
  EXPECT_TRUE(files_.saves.empty());
}

// The merge window saves through save_output: a failure is reported, with
// its reason, and the output keeps its text.
TEST_F(GuiSaveFaults, SavingAResultReportsTheFailure) {
  Preparation prep = prepare(merge_call(), false, files_);
  ASSERT_TRUE(prep.needs_window);
  const std::vector<Line> lines = prep.job.docs[1].lines;
  files_.space_left = 1;
  EXPECT_EQ(save_output(prep.job, lines, files_).text(),
            "cannot write /w/out: " + FakeFiles::text(ENOSPC));
  EXPECT_EQ(files_.contents["/w/out"], "old");

  files_.space_left.reset();
  EXPECT_EQ(save_output(prep.job, lines, files_).text(), "");
  EXPECT_EQ(files_.contents["/w/out"], "A\nx\nb\n");
}

}  // namespace
}  // namespace marlow
