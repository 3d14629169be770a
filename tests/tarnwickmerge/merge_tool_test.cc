#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "merge_tool.h"

namespace tarnwickmerge {
namespace {

namespace fs = std::filesystem;

std::string read(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void write(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

Options with_rules(const std::string& rules) {
  std::string error;
  std::optional<Options> options = parse_arguments({"--rules", rules, "a", "b", "c"}, &error);
  EXPECT_TRUE(options.has_value()) << error;
  return *options;
}

const std::vector<std::string> kLabels = {"ours", "base", "theirs"};

class MergeToolRun : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("tarnwickmerge-test-" +
            std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
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

  fs::path dir_;
  std::ostringstream out_;
  std::ostringstream err_;
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

TEST_F(MergeToolRun, ErrorsExit255WithAReason) {
  write(dir_ / "base", "a\n");
  write(dir_ / "oth", "b\n");
  EXPECT_EQ(run_tool({path("missing"), path("base"), path("oth")}), 255);
  EXPECT_NE(err_.str().find("cannot read " + path("missing")), std::string::npos) << err_.str();
  EXPECT_EQ(run_tool({path("base"), path("oth")}), 255);
  EXPECT_NE(err_.str().find("expected three files"), std::string::npos);
  EXPECT_EQ(run_tool({"-x", path("base"), path("base"), path("oth")}), 255);
  EXPECT_EQ(run_tool({"-L", "a", "-L", "b", "-L", "c", "-L", "d", path("base"), path("base"),
                      path("oth")}),
            255);
  EXPECT_EQ(run_tool({"--rules", "magic", path("base"), path("base"), path("oth")}), 255);
  EXPECT_EQ(run_tool({"--marker-size=0", path("base"), path("base"), path("oth")}), 255);
  // Binary files are refused, and the current file is left as it was.
  write(dir_ / "bin", std::string("a\0b\n", 4));
  EXPECT_EQ(run_tool({path("bin"), path("base"), path("oth")}), 255);
  EXPECT_NE(err_.str().find("binary"), std::string::npos);
  EXPECT_EQ(read(dir_ / "bin"), std::string("a\0b\n", 4));
}

TEST(MergeBytes, KeepsLineEndsAndWideEncodingsByteForByte) {
  Options options = with_rules("none");
  MergeOutcome crlf =
      merge_bytes("a\r\nB\r\nc\r\nd", "a\r\nb\r\nc\r\nd", "a\r\nb\r\nc\r\nD", kLabels, options);
  ASSERT_TRUE(crlf.ok);
  EXPECT_EQ(crlf.bytes, "a\r\nB\r\nc\r\nD");
  // UTF-16LE with a byte order mark is merged as text and written back so.
  const auto utf16 = [](const std::string& ascii) {
    std::string out = "\xFF\xFE";
    for (char c : ascii) {
      out += c;
      out += '\0';
    }
    return out;
  };
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
