// tarnwickmerge --suggest: ranked resolutions of the conflicts -p leaves,
// as JSON.
#include <string>
#include <vector>

#include "tests/tarnwickmerge/tool_run.h"

namespace tarnwickmerge {
namespace {

using namespace testing_support;

class SuggestRun : public ToolRun {
 protected:
  SuggestRun() : ToolRun("tarnwickmerge-suggest-") {}

  std::vector<std::string> files(const std::string& current, const std::string& base,
                                 const std::string& other) {
    write(dir_ / "cur", current);
    write(dir_ / "base", base);
    write(dir_ / "other", other);
    return {(dir_ / "cur").string(), (dir_ / "base").string(), (dir_ / "other").string()};
  }
};

TEST_F(SuggestRun, OneEntryPerConflictLeftAndCurrentUntouched) {
  const std::string current = "a\nx = 1\nb\nc\nd\ne\nf\ny = 1\ng\n";
  std::vector<std::string> args =
      files(current, "a\nx = 0\nb\nc\nd\ne\nf\ny = 0\ng\n", "a\nx = 2\nb\nc\nd\ne\nf\ny = 2\ng\n");
  args.insert(args.begin(), "--suggest");
  EXPECT_EQ(run_tool(args), 2);
  EXPECT_EQ(out_.str(),
            "{\"conflicts\": ["
            "{\"suggestions\": [{\"text\": \"x = 1\\n\", \"reason\": \"current side\"}, "
            "{\"text\": \"x = 2\\n\", \"reason\": \"other side\"}, "
            "{\"text\": \"x = 1\\nx = 2\\n\", \"reason\": \"both, current first\"}, "
            "{\"text\": \"x = 2\\nx = 1\\n\", \"reason\": \"both, other first\"}]}, "
            "{\"suggestions\": [{\"text\": \"y = 1\\n\", \"reason\": \"current side\"}, "
            "{\"text\": \"y = 2\\n\", \"reason\": \"other side\"}, "
            "{\"text\": \"y = 1\\ny = 2\\n\", \"reason\": \"both, current first\"}, "
            "{\"text\": \"y = 2\\ny = 1\\n\", \"reason\": \"both, other first\"}]}]}\n");
  EXPECT_EQ(read(dir_ / "cur"), current);
  // With -p too, only the suggestions are written.
  args.insert(args.begin(), "-p");
  EXPECT_EQ(run_tool(args), 2);
  EXPECT_EQ(out_.str().rfind("{\"conflicts\": [", 0), 0u);
  EXPECT_EQ(read(dir_ / "cur"), current);
}

TEST_F(SuggestRun, CleanMergeHasNoConflictsAndErrorsExitAsForMerging) {
  std::vector<std::string> args = files("a\nB\nc\nd\n", "a\nb\nc\nd\n", "a\nb\nc\nD\n");
  args.insert(args.begin(), "--suggest");
  EXPECT_EQ(run_tool(args), 0);
  EXPECT_EQ(out_.str(), "{\"conflicts\": []}\n");
  EXPECT_EQ(read(dir_ / "cur"), "a\nB\nc\nd\n");
  EXPECT_EQ(run_tool({"--suggest", (dir_ / "missing").string(), args[2], args[3]}), 255);
  EXPECT_EQ(out_.str(), "");
  std::vector<std::string> binary = files(std::string("a\0b\n", 4), "a\n", "b\n");
  binary.insert(binary.begin(), "--suggest");
  EXPECT_EQ(run_tool(binary), 255);
  EXPECT_EQ(out_.str(), "");
}

TEST_F(SuggestRun, TextsAreEscapedAndBytesThatAreNotUtf8GoInBase64) {
  // Quotes, backslashes, a tab and a control character; no line end at the
  // end of the file.
  std::vector<std::string> args = files("say \"\\\"\t\x01", "say 0", "say 'é'");
  args.insert(args.begin(), "--suggest");
  EXPECT_EQ(run_tool(args), 1);
  const std::string json = out_.str();
  EXPECT_NE(json.find("{\"text\": \"say \\\"\\\\\\\"\\t\\u0001\", \"reason\": \"current side\"}"),
            std::string::npos)
      << json;
  EXPECT_NE(json.find("{\"text\": \"say 'é'\", \"reason\": \"other side\"}"), std::string::npos)
      << json;
  // Latin-1 bytes: "caf\xE9".
  args = files("caf\xE9\n", "cafe\n", "coffee\n");
  args.insert(args.begin(), "--suggest");
  EXPECT_EQ(run_tool(args), 1);
  EXPECT_NE(out_.str().find("{\"text_base64\": \"Y2Fm6Qo=\", \"reason\": \"current side\"}"),
            std::string::npos)
      << out_.str();
}

TEST_F(SuggestRun, EachTextReplacesItsWholeMarkerBlock) {
  // Both sides added at the end of a file without a final line end.
  const std::string base = "one\ntwo\nthree\nfour\n";
  std::vector<std::string> args = files(base + "mine", base, base + "theirs");
  std::vector<std::string> merge_args = args;
  merge_args.insert(merge_args.begin(), "-p");
  EXPECT_EQ(run_tool(merge_args), 1);
  const std::string marked = out_.str();
  const std::size_t block = marked.find("<<<<<<<");
  ASSERT_NE(block, std::string::npos);
  EXPECT_EQ(marked.substr(0, block), base);
  args.insert(args.begin(), "--suggest");
  EXPECT_EQ(run_tool(args), 1);
  // The first suggestion keeps both, each side's text as it was: the file
  // then ends without a line end, as both sides did.
  EXPECT_EQ(out_.str().rfind("{\"conflicts\": [{\"suggestions\": [{\"text\": \"mine\\ntheirs\", "
                             "\"reason\": \"both, current first\"}, {\"text\": \"mine\", ",
                             0),
            0u)
      << out_.str();
}

TEST_F(SuggestRun, WideTextsAreSuggestedInTheirOwnEncoding) {
  std::vector<std::string> args = files(utf16("a\nb\n"), utf16("a\nc\n"), utf16("a\nd\xE9\n"));
  args.insert(args.begin(), "--suggest");
  EXPECT_EQ(run_tool(args), 1);
  // "b\n" in UTF-16LE without a byte order mark (bytes that are UTF-8 too);
  // "d\xE9\n" from Latin-1 characters, which are not.
  EXPECT_NE(out_.str().find("{\"text\": \"b\\u0000\\n\\u0000\", \"reason\": \"current side\"}"),
            std::string::npos)
      << out_.str();
  EXPECT_NE(out_.str().find("{\"text_base64\": \"ZADpAAoA\", \"reason\": \"other side\"}"),
            std::string::npos)
      << out_.str();
}

}  // namespace
}  // namespace tarnwickmerge
