#include <string>
#include <vector>

#include "tests/tarnwickmerge/tool_run.h"

namespace tarnwickmerge {
namespace {

using namespace testing_support;

Options with_rules(const std::string& rules) {
  ArgumentError error;
  std::optional<Options> options = parse_arguments({"--rules", rules, "a", "b", "c"}, &error);
  EXPECT_TRUE(options.has_value()) << error.message;
  return *options;
}

const std::vector<std::string> kLabels = {"ours", "base", "theirs"};

class MergeToolRun : public ToolRun {
 protected:
  MergeToolRun() : ToolRun("tarnwickmerge-test-") {}
};

TEST_F(MergeToolRun, CleanMergeReplacesCurrentAndExitsZero) {
  write(dir_ / "cur", "a\nB\nc\nd\n");
  write(dir_ / "base", "a\nb\nc\nd\n");
  write(dir_ / "oth", "a\nb\nc\nD\n");
  EXPECT_EQ(run_tool({path("cur"), path("base"), path("oth")}), 0);
  EXPECT_EQ(read(dir_ / "cur"), "a\nB\nc\nD\n");
  EXPECT_EQ(out_.str(), "");
}

TEST_F(MergeToolRun, ConflictsUseGitsMarkersLabelsAndCount) {
  write(dir_ / "cur", "a\nX\nc\nd\ne\nf\ng\nY\n");
  write(dir_ / "base", "a\nb\nc\nd\ne\nf\ng\nh\n");
  write(dir_ / "oth", "a\nZ\nc\nd\ne\nf\ng\nW\n");
  EXPECT_EQ(run_tool({"-p", "-L", "mine", "-L", "old", "-L", "yours", path("cur"), path("base"),
                      path("oth")}),
            2);
  EXPECT_EQ(out_.str(),
            "a\n<<<<<<< mine\nX\n=======\nZ\n>>>>>>> yours\nc\nd\ne\nf\ng\n"
            "<<<<<<< mine\nY\n=======\nW\n>>>>>>> yours\n");
  EXPECT_EQ(read(dir_ / "cur"), "a\nX\nc\nd\ne\nf\ng\nY\n");  // -p leaves it alone
  // Without labels, the file names label the sides; diff3 shows the base.
  EXPECT_EQ(run_tool({"-p", "--diff3", "--marker-size=3", path("cur"), path("base"), path("oth")}),
            2);
  EXPECT_NE(out_.str().find("<<< " + path("cur") + "\nX\n||| " + path("base") +
                            "\nb\n===\nZ\n>>> " + path("oth") + "\n"),
            std::string::npos)
      << out_.str();
}

TEST_F(MergeToolRun, ExitStatusStopsAt127) {
  std::string base, cur, oth;
  for (int i = 0; i < 130; ++i) {
    base += "b\nsame\nsame\nsame\nsame\n";
    cur += "c" + std::to_string(i) + "\nsame\nsame\nsame\nsame\n";
    oth += "o" + std::to_string(i) + "\nsame\nsame\nsame\nsame\n";
  }
  write(dir_ / "cur", cur);
  write(dir_ / "base", base);
  write(dir_ / "oth", oth);
  EXPECT_EQ(run_tool({"-p", path("cur"), path("base"), path("oth")}), 127);
}

TEST_F(MergeToolRun, ErrorsExit255WithAReasonAndUsageErrors129) {
  write(dir_ / "base", "a\n");
  write(dir_ / "oth", "b\n");
  EXPECT_EQ(run_tool({path("missing"), path("base"), path("oth")}), 255);
  EXPECT_NE(err_.str().find("cannot read " + path("missing")), std::string::npos) << err_.str();
  // Arguments that cannot be used: git's status 129, the usage on the error stream.
  EXPECT_EQ(run_tool({path("base"), path("oth")}), 129);
  EXPECT_NE(err_.str().find("expected three files"), std::string::npos);
  EXPECT_NE(err_.str().find("usage: "), std::string::npos);
  EXPECT_EQ(run_tool({"-x", path("base"), path("base"), path("oth")}), 129);
  EXPECT_EQ(run_tool({"-L", "a", "-L", "b", "-L", "c", "-L", "d", path("base"), path("base"),
                      path("oth")}),
            129);
  EXPECT_EQ(run_tool({"--rules", "magic", path("base"), path("base"), path("oth")}), 129);
  EXPECT_EQ(run_tool({"--marker-size=x", path("base"), path("base"), path("oth")}), 129);
  EXPECT_EQ(out_.str(), "");
  // Asked for, the usage goes to standard output.
  EXPECT_EQ(run_tool({"-h"}), 129);
  EXPECT_NE(out_.str().find("usage: "), std::string::npos);
  EXPECT_EQ(read(dir_ / "base"), "a\n");
  // Binary files are refused, and the current file is left as it was.
  write(dir_ / "bin", std::string("a\0b\n", 4));
  EXPECT_EQ(run_tool({path("bin"), path("base"), path("oth")}), 255);
  EXPECT_NE(err_.str().find("binary"), std::string::npos);
  EXPECT_EQ(read(dir_ / "bin"), std::string("a\0b\n", 4));
}

// Only a regular file (or a link to one) is read; a directory read as an
// empty file would merge to an emptied CURRENT with exit 0.
TEST_F(MergeToolRun, InputsThatAreNoRegularFilesAreErrors) {
  write(dir_ / "cur", "a\nb\n");
  write(dir_ / "base", "a\nb\n");
  fs::create_directories(dir_ / "dir");
  EXPECT_EQ(run_tool({path("cur"), path("base"), path("dir") + "/"}), 255);
  EXPECT_NE(err_.str().find("Is a directory"), std::string::npos) << err_.str();
  EXPECT_EQ(read(dir_ / "cur"), "a\nb\n");
  EXPECT_EQ(run_tool({"-p", path("cur"), path("base"), path("dir")}), 255);
  EXPECT_EQ(out_.str(), "");
  EXPECT_EQ(run_tool({path("dir"), path("base"), path("cur")}), 255);
  EXPECT_TRUE(fs::is_directory(dir_ / "dir"));
#ifndef _WIN32  // links and /dev/null are POSIX's; under Wine no link can be made
  fs::create_symlink(dir_ / "nowhere", dir_ / "dangling");
  EXPECT_EQ(run_tool({path("cur"), path("dangling"), path("base")}), 255);
  // A link to a file is that file; the null device is an empty file, as for git.
  write(dir_ / "oth", "a\nB\n");
  fs::create_symlink(dir_ / "oth", dir_ / "link");
  EXPECT_EQ(run_tool({"-p", path("cur"), path("base"), path("link")}), 0);
  EXPECT_EQ(out_.str(), "a\nB\n");
  EXPECT_EQ(run_tool({"-p", path("cur"), "/dev/null", path("cur")}), 0);
  EXPECT_EQ(out_.str(), "a\nb\n");
#endif
}

// Binary is git's test, a NUL byte in the first 8000 bytes; other bytes are
// merged as they are, whatever they begin with.
TEST(MergeBytes, BinaryAsGitTellsIt) {
  Options options = with_rules("none");
  for (const std::string mark : {"\xFF\xFE", "\xFE\xFF"}) {
    const MergeOutcome merged =
        merge_bytes(mark + "a\nB\nc\nd\n\xE9\n", mark + "a\nb\nc\nd\n\xE9\n",
                    mark + "a\nb\nc\nD\n\xE9\n", kLabels, options);
    ASSERT_TRUE(merged.ok) << merged.error;
    EXPECT_EQ(merged.conflicts, 0u);
    EXPECT_EQ(merged.bytes, mark + "a\nB\nc\nD\n\xE9\n");
  }
  std::string head;
  for (int i = 0; i < 800; ++i) head += "123456789\n";  // 8000 bytes
  const std::string nul("n\0l\n", 4);
  const MergeOutcome late = merge_bytes("X\n" + head + nul, "x\n" + head + nul,
                                        "x\n" + head + nul + "end\n", kLabels, options);
  ASSERT_TRUE(late.ok) << late.error;
  EXPECT_EQ(late.bytes, "X\n" + head + nul + "end\n");
  head.pop_back();  // a NUL at byte 7999 of the base
  const MergeOutcome early =
      merge_bytes("x\n", head + std::string("\0\n", 2), "x\n", kLabels, options);
  EXPECT_FALSE(early.ok);
  EXPECT_NE(early.error.find("binary"), std::string::npos);
}

// Every option of git merge-file, in each of the forms its parser takes.
TEST_F(MergeToolRun, TakesGitsOptions) {
  write(dir_ / "cur", "a\nX\nc\n");
  write(dir_ / "base", "a\nb\nc\n");
  write(dir_ / "oth", "a\nY\nc\n");
  const std::vector<std::string> files = {path("cur"), path("base"), path("oth")};
  const auto merged = [&](std::vector<std::string> args) {
    args.insert(args.end(), files.begin(), files.end());
    const int status = run_tool(args);
    return std::to_string(status) + ":" + out_.str();
  };
  const std::string labels = "-L1 -L2 -L3";
  EXPECT_EQ(merged({"-p", "--ours"}), "0:a\nX\nc\n");
  EXPECT_EQ(merged({"-p", "--theirs"}), "0:a\nY\nc\n");
  EXPECT_EQ(merged({"-p", "--union"}), "0:a\nX\nY\nc\n");
  EXPECT_EQ(merged({"-p", "--ours", "--theirs"}), "0:a\nY\nc\n");  // the last one counts
  EXPECT_EQ(merged({"-p", "--union", "--no-ours"}),
            "1:a\n<<<<<<< " + path("cur") + "\nX\n=======\nY\n>>>>>>> " + path("oth") + "\nc\n");
  EXPECT_EQ(merged({"-p", "-Lx", "-L", "o", "-Lz", "--zdiff3"}),
            "1:a\n<<<<<<< x\nX\n||||||| o\nb\n=======\nY\n>>>>>>> z\nc\n");
  EXPECT_EQ(merged({"-pq", "-Lx", "-Lo", "-Lz", "--marker-size", "9"}),
            "1:a\n<<<<<<<<< x\nX\n=========\nY\n>>>>>>>>> z\nc\n");
  // Abbreviated, negated, bundled, after the files.
  EXPECT_EQ(merged({"-qpLx", "-Lo", "-Lz", "--mark=3", "--diff3", "--no-d"}),
            "1:a\n<<< x\nX\n===\nY\n>>> z\nc\n");
  EXPECT_EQ(merged({"--st", "-Lx", "-Lo", "-Lz", "--marker-size=0"}),
            "1:a\n<<<<<<< x\nX\n=======\nY\n>>>>>>> z\nc\n");
  EXPECT_EQ(merged({"-p", "-Lx", "-Lo", "-Lz", "--marker-size=1000"}).size(),
            std::string("1:a\n x\nX\n\nY\n z\nc\n").size() + 3000);
  EXPECT_EQ(run_tool({path("cur"), "-p", path("base"), "--ours", path("oth")}), 0);
  EXPECT_EQ(out_.str(), "a\nX\nc\n");
  // What git refuses, with its status.
  EXPECT_EQ(merged({"-p", "--n"}).substr(0, 11), "129:usage: ");  // ambiguous
  EXPECT_NE(err_.str().find("ambiguous"), std::string::npos);
  EXPECT_EQ(merged({"-p", "--quiet=1"}), "129:");
  EXPECT_EQ(merged({"-p", "--marker-size="}), "129:");
  EXPECT_EQ(merged({"-p", "--marker-size=5x"}), "129:");
  EXPECT_EQ(merged({"-p", "--no-L"}), "129:");
  EXPECT_EQ(merged({"-p", "--he"}), "129:");
  EXPECT_EQ(run_tool({"-p", path("cur"), path("base"), path("oth"), "--marker-size"}), 129);
  EXPECT_EQ(run_tool({"-p", "--", path("cur"), path("base"), path("oth"), "-h"}), 129);
  EXPECT_EQ(out_.str(), "");
  EXPECT_EQ(read(dir_ / "cur"), "a\nX\nc\n");
}

TEST(MergeBytes, KeepsLineEndsAndWideEncodingsByteForByte) {
  Options options = with_rules("none");
  MergeOutcome crlf =
      merge_bytes("a\r\nB\r\nc\r\nd", "a\r\nb\r\nc\r\nd", "a\r\nb\r\nc\r\nD", kLabels, options);
  ASSERT_TRUE(crlf.ok);
  EXPECT_EQ(crlf.bytes, "a\r\nB\r\nc\r\nD");
  // UTF-16LE with a byte order mark is merged as text and written back so.
  MergeOutcome wide = merge_bytes(utf16("a\nB\nc\nd\n"), utf16("a\nb\nc\nd\n"),
                                  utf16("a\nb\nc\nD\n"), kLabels, options);
  ASSERT_TRUE(wide.ok) << wide.error;
  EXPECT_EQ(wide.bytes, utf16("a\nB\nc\nD\n"));
  MergeOutcome mixed = merge_bytes(utf16("a\n"), "a\n", utf16("b\n"), kLabels, options);
  EXPECT_FALSE(mixed.ok);
}

TEST(MergeBytes, RulesSettleOnlyWhenAskedAndOnlyApartChanges) {
  const std::string base = "call(alpha, beta)\n";
  const std::string one = "call(alpha, gamma)\n";
  const std::string other = "invoke(alpha, beta)\n";
  EXPECT_EQ(merge_bytes(one, base, other, kLabels, with_rules("none")).conflicts, 1u);
  const MergeOutcome words = merge_bytes(one, base, other, kLabels, with_rules("words,same-line"));
  EXPECT_EQ(words.conflicts, 0u);
  EXPECT_EQ(words.bytes, "invoke(alpha, gamma)\n");
  // Same line, and words kept to separate lines: still a conflict.
  EXPECT_EQ(merge_bytes(one, base, other, kLabels, with_rules("words")).conflicts, 1u);
  // Changes to neighbouring lines are apart.
  const MergeOutcome lines = merge_bytes("x = 1\ny = 0\n", "x = 0\ny = 0\n", "x = 0\ny = 3\n",
                                         kLabels, with_rules("words"));
  EXPECT_EQ(lines.conflicts, 0u);
  EXPECT_EQ(lines.bytes, "x = 1\ny = 3\n");
  // The same word changed two ways never settles.
  EXPECT_EQ(merge_bytes("v = 2\n", "v = 1\n", "v = 3\n", kLabels, with_rules("all")).conflicts, 1u);
}

// Real merges from public projects' history (small files), with the
// resolution their authors committed: the rule named in "expect" settles
// the first kind equal to it; the second kind must stay conflicted. Long
// files are cut to a dozen of the lines all four share at each end.
TEST(MergeBytes, RealMerges) {
  const fs::path root = TW_MERGE_CASES;
  ASSERT_TRUE(fs::is_directory(root));
  int checked = 0;
  for (const fs::directory_entry& entry : fs::directory_iterator(root)) {
    if (!entry.is_directory()) continue;  // SOURCES.tsv: where each case comes from
    const fs::path dir = entry.path();
    std::istringstream expect(read(dir / "expect"));
    std::string outcome, rules;
    expect >> outcome >> rules;
    const MergeOutcome merged = merge_bytes(read(dir / "current"), read(dir / "base"),
                                            read(dir / "other"), kLabels, with_rules(rules));
    ASSERT_TRUE(merged.ok) << dir;
    if (outcome == "equal") {
      EXPECT_EQ(merged.conflicts, 0u) << dir;
      EXPECT_EQ(merged.bytes, read(dir / "committed")) << dir;
    } else {
      EXPECT_GT(merged.conflicts, 0u) << dir;
    }
    // Without rules, every one of them is a conflict, as for git.
    EXPECT_GT(merge_bytes(read(dir / "current"), read(dir / "base"), read(dir / "other"), kLabels,
                          with_rules("none"))
                  .conflicts,
              0u)
        << dir;
    ++checked;
  }
  EXPECT_GE(checked, 20);
}

}  // namespace
}  // namespace tarnwickmerge
