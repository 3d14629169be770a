#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <sstream>
#include <string>

#include "engine/diff.h"
#include "support/platform.h"

namespace marlow {
namespace {

namespace fs = std::filesystem;

std::vector<Line> L(const std::string& text) { return split_lines(text); }

TEST(GuiDiff, HunksFromLibgit2AreZeroBasedRanges) {
  EXPECT_TRUE(diff_lines(L("a\nb\n"), L("a\nb\n")).empty());
  EXPECT_EQ(diff_lines(L("a\nb\nc\n"), L("a\nB\nc\n")), (std::vector<Hunk>{{1, 1, 1, 1}}));
  EXPECT_EQ(diff_lines(L("a\nc\n"), L("a\nb\nc\n")), (std::vector<Hunk>{{1, 0, 1, 1}}));
  EXPECT_EQ(diff_lines(L("a\nb\nc\n"), L("a\nc\n")), (std::vector<Hunk>{{1, 1, 1, 0}}));
  EXPECT_EQ(diff_lines(L(""), L("x\n")), (std::vector<Hunk>{{0, 0, 0, 1}}));
  EXPECT_EQ(diff_lines(L("x\n"), L("")), (std::vector<Hunk>{{0, 1, 0, 0}}));
  // Line ends count: a missing final line end and CRLF are differences.
  EXPECT_EQ(diff_lines(L("a\nb"), L("a\nb\n")), (std::vector<Hunk>{{1, 1, 1, 1}}));
  EXPECT_EQ(diff_lines(L("a\r\n"), L("a\n")), (std::vector<Hunk>{{0, 1, 0, 1}}));
  // Text with NUL bytes (for example from a Latin-1 file) is still text.
  EXPECT_EQ(diff_lines(L(std::string("a\0\nb\n", 5)), L(std::string("a\0\nc\n", 5))).size(), 1u);
}

// Decoded lines are diffed where they lie in their file's bytes; lines
// with their own texts (edited, or cut from several files) are joined first.
// Both must give the same hunks, also for a run that ends without a line end
// or that is part of a file.
TEST(GuiDiff, LinesReadInPlaceOrJoinedGiveTheSameHunks) {
  const auto owned = [](const std::vector<Line>& lines) {
    std::vector<Line> out;
    for (const Line& line : lines) out.push_back(Line{line.text.str(), line.eol});
    return out;
  };
  const std::string texts[][2] = {
      {"a\nb", "a\nb\n"}, {"a\r\nb\r\n", "a\nb\r\n"}, {"\xEF\xBB\xBFx\ny", "x\ny"},
      {"", "\r\n"},       {"a\nb\nc", "a\nc"},
  };
  for (const auto& [one, two] : texts) {
    SCOPED_TRACE(one + " | " + two);
    const std::vector<Line> a = decode_text(one, Encoding::automatic).value().lines;
    const std::vector<Line> b = decode_text(two, Encoding::automatic).value().lines;
    EXPECT_EQ(diff_lines(a, b), diff_lines(owned(a), owned(b)));
    EXPECT_EQ(diff_lines(a, owned(b)), diff_lines(owned(a), b));
  }
  // Part of a file: a slice that stops before the last line.
  const std::vector<Line> whole = L("a\nb\nc\n");
  const std::vector<Line> head(whole.begin(), whole.begin() + 2);
  EXPECT_EQ(diff_lines(head, L("a\nb\n")), std::vector<Hunk>{});
  EXPECT_EQ(diff_lines(head, whole), (std::vector<Hunk>{{2, 0, 2, 1}}));
}

TEST(GuiDiff, AlignedBlocksCoverBothTexts) {
  const std::vector<Block> blocks = align(L("a\nb\nc\nd\ne\n"), L("a\nB\nc\ne\nf\ng\n"));
  EXPECT_EQ(blocks, (std::vector<Block>{{BlockKind::same, 0, 1, 0, 1},
                                        {BlockKind::changed, 1, 1, 1, 1},
                                        {BlockKind::same, 2, 1, 2, 1},
                                        {BlockKind::left_only, 3, 1, 3, 0},
                                        {BlockKind::same, 4, 1, 3, 1},
                                        {BlockKind::right_only, 5, 0, 4, 2}}));
  EXPECT_EQ(align(L(""), L("")), std::vector<Block>{});
  EXPECT_EQ(align(L(""), L("x\n")), (std::vector<Block>{{BlockKind::right_only, 0, 0, 0, 1}}));
}

TEST(GuiDiff, AlignedRowsCanIgnoreLineEnds) {
  const std::vector<std::vector<Line>> texts = {L("a\nb\nc\nd\ne"), L("a\r\nB\r\nc\r\nd\r\nE\r\n"),
                                                L("a\nb\nc\nd\ne\n")};
  // Counted, line ends make every line of the CRLF text a change and the
  // missing final line end a change of the third.
  const RowAlignment strict = align_rows(texts, IgnoreOptions{});
  EXPECT_EQ(strict.differences, (std::vector<std::pair<std::size_t, std::size_t>>{{0, 5}}));
  EXPECT_EQ(strict.kind[2][4], CellKind::changed);
  const RowAlignment loose = align_rows(texts, IgnoreOptions{.ignore_line_ends = true});
  EXPECT_EQ(loose.differences, (std::vector<std::pair<std::size_t, std::size_t>>{{1, 2}, {4, 5}}));
  EXPECT_EQ(loose.kind[1][0], CellKind::same);
  EXPECT_EQ(loose.kind[1][1], CellKind::changed);
  EXPECT_EQ(loose.kind[2][4], CellKind::same);
  EXPECT_EQ(loose.line[1][4], 4u);
  // Real insertions still take rows of their own.
  const RowAlignment inserted =
      align_rows({L("a\nb\n"), L("a\r\nnew\r\nb\r\n")}, IgnoreOptions{.ignore_line_ends = true});
  EXPECT_EQ(inserted.rows, 3u);
  EXPECT_EQ(inserted.kind[1][1], CellKind::added);
  EXPECT_EQ(inserted.differences, (std::vector<std::pair<std::size_t, std::size_t>>{{1, 2}}));
}

TEST(GuiDiff, AlignedRowsCanIgnoreWhitespaceAndKeepTheLinesAsTheyAre) {
  const std::vector<std::vector<Line>> texts = {L("int a = 1;\n\tb();\nc\n"),
                                                L("int a=1;\r\n    b( );\r\nC\r\n")};
  const RowAlignment both =
      align_rows(texts, IgnoreOptions{.ignore_whitespace = true, .ignore_line_ends = true});
  EXPECT_EQ(both.differences, (std::vector<std::pair<std::size_t, std::size_t>>{{2, 3}}));
  // Whitespace alone leaves the CRLF lines changed.
  const RowAlignment blanks = align_rows(texts, IgnoreOptions{.ignore_whitespace = true});
  EXPECT_EQ(blanks.differences, (std::vector<std::pair<std::size_t, std::size_t>>{{0, 3}}));
  // A line is compared without its blanks but is otherwise its own.
  const Line bare = line_as_compared(texts[1][1], IgnoreOptions{.ignore_whitespace = true});
  EXPECT_EQ(bare.text.str(), "b();");
  EXPECT_EQ(bare.eol.str(), "\r\n");
  EXPECT_EQ(line_as_compared(texts[1][1], IgnoreOptions{.ignore_line_ends = true}).text.str(),
            "    b( );");
}

// ---------------------------------------------------------------------------
// Three-way merges compared with `git merge-file -p --diff3` as a reference.

class GuiMergeOracle : public ::testing::Test {
 protected:
  void SetUp() override {
    static int counter = 0;
    dir_ = fs::temp_directory_path() / ("gui-merge-" + std::to_string(platform::current_pid()) +
                                        "-" + std::to_string(counter++));
    fs::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  void write(const std::string& name, const std::string& text) {
    std::ofstream(dir_ / name, std::ios::binary) << text;
  }

  // git's merged text and conflict count.
  std::pair<std::string, int> git_merge(const std::string& base, const std::string& one,
                                        const std::string& other, bool diff3 = true) {
    write("base", base);
    write("one", one);
    write("other", other);
    platform::ProcessSpec invocation;
    invocation.program = "/usr/bin/git";
    invocation.args = {"merge-file",
                       "-p",
                       "-L",
                       "one",
                       "-L",
                       "base",
                       "-L",
                       "other",
                       (dir_ / "one").string(),
                       (dir_ / "base").string(),
                       (dir_ / "other").string()};
    if (diff3) invocation.args.insert(invocation.args.begin() + 2, "--diff3");
    invocation.stdout_path = (dir_ / "out").string();
    invocation.stderr_path = (dir_ / "err").string();
    platform::Process process;
    EXPECT_TRUE(platform::start_process(invocation, &process));
    const int status = process.wait();
    std::ifstream in(dir_ / "out", std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return {text.str(), status};
  }

  // Our merge must give git's text, conflict markers included, in both of
  // git's styles: without the engine's own rules always, and with them
  // wherever none of them settled a conflict.
  // Returns whether it did, so that a loop can stop at the first case that does not.
  bool expect_like_git(const std::string& base, const std::string& one, const std::string& other,
                       std::optional<std::size_t> conflicts = std::nullopt) {
    const auto [git_text, git_status] = git_merge(base, one, other);
    const auto [git_merged, git_merged_status] = git_merge(base, one, other, false);
    const MergePlan plan = plan_merge({L(base), L(one), L(other)}, SettleOptions::none());
    const std::string ours = render_with_markers(plan, {"base", "one", "other"});
    EXPECT_EQ(ours, git_text);
    EXPECT_EQ(static_cast<int>(plan.conflicts), git_status);
    const std::string ours_merged =
        render_with_markers(plan, {"base", "one", "other"}, MarkerStyle::merge);
    EXPECT_EQ(ours_merged, git_merged);
    EXPECT_EQ(static_cast<int>(marked_conflicts(plan, MarkerStyle::merge)), git_merged_status);
    const MergePlan with_rules = plan_merge({L(base), L(one), L(other)});
    if (with_rules.settled == 0) {
      EXPECT_EQ(render_with_markers(with_rules, {"base", "one", "other"}), git_text);
      EXPECT_EQ(render_with_markers(with_rules, {"base", "one", "other"}, MarkerStyle::merge),
                git_merged);
    }
    const bool agreed =
        ours_merged == git_merged &&
        static_cast<int>(marked_conflicts(plan, MarkerStyle::merge)) == git_merged_status;
    if (conflicts) {
      EXPECT_EQ(plan.conflicts, *conflicts);
    }
    const std::optional<std::vector<Line>> merged = automatic_merge(plan);
    EXPECT_EQ(merged.has_value(), plan.conflicts == 0);
    if (merged) {
      EXPECT_EQ(join_lines(*merged), git_text);
    }
    return agreed && ours == git_text && static_cast<int>(plan.conflicts) == git_status &&
           (!merged || join_lines(*merged) == git_text);
  }

 private:
  fs::path dir_;
};

TEST_F(GuiMergeOracle, CleanMerges) {
  expect_like_git("a\nb\nc\nd\ne\n", "a\nB\nc\nd\ne\n", "a\nb\nc\nD\ne\n", 0);
  expect_like_git("a\nb\nc\n", "a\nb\nc\n", "x\na\nb\nc\ny\n", 0);  // only one side changed
  expect_like_git("a\nb\nc\n", "a\nX\nc\n", "a\nX\nc\n", 0);        // the same change twice
  expect_like_git("a\nb\n", "a\nx\nb\n", "a\nx\nb\n", 0);           // the same insertion
  expect_like_git("a\r\nb\r\nc\r\nd\r\ne\r\n", "a\r\nB\r\nc\r\nd\r\ne\r\n",
                  "a\r\nb\r\nc\r\nd\r\nE\r\n", 0);
  expect_like_git("1\n2\n3\n4\n5\n6\n7\n8\n", "1\n3\n4\n5\n6\n7\n8\n", "1\n2\n3\n4\n5\n6\n8\n", 0);
}

TEST_F(GuiMergeOracle, OverlappingAndTouchingEditsConflict) {
  expect_like_git("a\nb\nc\nd\n", "a\nB1\nc\nd\n", "a\nB2\nc\nd\n", 1);
  expect_like_git("a\nb\nc\nd\n", "a\nB\nc\nd\n", "a\nb\nC\nd\n", 1);  // neighbouring lines
  expect_like_git("a\nb\nc\nd\ne\n", "a\nB\nC\nd\ne\n", "a\nb\nX\nD\ne\n", 1);
  // Two conflicts with a clean change between them.
  expect_like_git("1\n2\n3\n4\n5\n6\n7\n", "1\nA\n3\n4\n5\nC\n7\n", "1\nB\n3\nX\n5\nD\n7\n", 2);
}

TEST_F(GuiMergeOracle, MarkersFollowCrlfLineEnds) {
  expect_like_git("a\r\nb\r\nc\r\n", "a\r\nX\r\nc\r\n", "a\r\nY\r\nc\r\n", 1);
  // A side that ends without a line end gets CRLF before the next marker.
  expect_like_git("a\r\nb\r\n", "a\r\nX", "a\r\nY\r\n", 1);
  // Mixed texts: one LF line before the conflict keeps the markers LF.
  expect_like_git("a\r\nb\r\nc\r\n", "a\nX\r\nc\r\n", "a\r\nY\r\nc\r\n", 1);
  expect_like_git("\r\n\n\n", "\r\n\n", "", 1);
}

TEST_F(GuiMergeOracle, InsertionsAtTheSamePlace) {
  expect_like_git("a\nb\n", "a\nx\nb\n", "a\ny\nb\n", 1);
  expect_like_git("a\nb\n", "x\na\nb\n", "y\na\nb\n", 1);
  expect_like_git("a\nb\n", "a\nb\nx\n", "a\nb\ny\n", 1);
}

TEST_F(GuiMergeOracle, DeletionAgainstEdit) {
  expect_like_git("a\nb\nc\nd\n", "a\nb\nd\n", "a\nb\nC\nd\n", 1);
  expect_like_git("a\nb\nc\nd\n", "a\nb\nd\n", "a\nb\nd\n", 0);  // both delete
}

TEST_F(GuiMergeOracle, NoFinalLineEnd) {
  expect_like_git("a\nb\nc", "A\nb\nc", "a\nb\nc", 0);
  expect_like_git("a\nb\nc", "A\nb\nc", "a\nb\nC", 0);
  expect_like_git("a\nb", "a\nB", "a\nC", 1);
  expect_like_git("a\nb", "a\nb\n", "a\nb\nc", 1);
}

// Many small random merges: a base of a few lines from a small alphabet (so
// that lines repeat and diffs have choices to make), two versions with a few
// insertions, deletions and changes each, final line ends present or not.
TEST_F(GuiMergeOracle, RandomMergesMatchGit) {
  std::mt19937 random(20261208);
  const auto pick = [&](std::size_t n) { return static_cast<std::size_t>(random() % n); };
  const auto edit = [&](std::vector<std::string> lines) {
    for (std::size_t n = pick(4); n > 0; --n) {
      const std::size_t at = pick(lines.size() + 1);
      const auto where = lines.begin() + static_cast<std::ptrdiff_t>(at);
      const std::size_t what = pick(3);
      if (what == 0) {
        lines.insert(where, std::string(1, "abxyz"[pick(5)]));
      } else if (at < lines.size()) {
        if (what == 1) {
          lines.erase(where);
        } else {
          lines[at] = std::string(1, "ABXYZ"[pick(5)]);
        }
      }
    }
    return lines;
  };
  const auto text = [&](const std::vector<std::string>& lines) {
    std::string out;
    for (const std::string& line : lines) out += line + "\n";
    if (!out.empty() && pick(6) == 0) out.pop_back();
    return out;
  };
  for (int i = 0; i < 250; ++i) {
    std::vector<std::string> base(pick(9));
    for (std::string& line : base) line = std::string(1, "abcdefgh"[pick(8)]);
    const std::string b = text(base), one = text(edit(base)), other = text(edit(base));
    if (!expect_like_git(b, one, other)) {
      ADD_FAILURE() << "case " << i << ": base \"" << b << "\" one \"" << one << "\" other \""
                    << other << "\"";
      break;
    }
  }
}

TEST_F(GuiMergeOracle, EmptyBase) {
  expect_like_git("", "x\n", "y\n", 1);
  expect_like_git("", "x\n", "", 0);
  expect_like_git("", "x\n", "x\n", 0);
}

// ---------------------------------------------------------------------------
// Regions, resolutions, and merges without git's counterpart.

TEST(GuiMerge, RegionsCarryEveryContributorsLines) {
  const MergePlan plan = plan_merge({L("a\nb\nc\nd\n"), L("a\nB\nc\nd\n"), L("a\nb\nc\nD\nE\n")});
  ASSERT_TRUE(plan.has_base);
  ASSERT_EQ(plan.regions.size(), 4u);
  EXPECT_EQ(plan.regions[1].kind, RegionKind::changed);
  EXPECT_EQ(plan.regions[1].changed_by, (std::vector<bool>{false, true, false}));
  EXPECT_EQ(plan.regions[3].kind, RegionKind::changed);
  EXPECT_EQ(plan.regions[3].sides[2], L("D\nE\n"));
  EXPECT_EQ(plan.regions[3].starts, (std::vector<std::size_t>{3, 3, 3}));
  EXPECT_EQ(plan.regions[2].kind, RegionKind::common);
  EXPECT_EQ(plan.regions[2].starts, (std::vector<std::size_t>{2, 2, 2}));
  // After an insertion at the top, the common lines start one line later in
  // the contributor that inserted.
  const MergePlan grown = plan_merge({L("a\nb\n"), L("a\nb\n"), L("x\na\nb\n")});
  ASSERT_EQ(grown.regions.size(), 2u);
  EXPECT_EQ(grown.regions[1].starts, (std::vector<std::size_t>{0, 0, 1}));
}

TEST(GuiMerge, ResolutionsPickBaseOneOtherBothOrAnEdit) {
  const MergePlan plan = plan_merge({L("a\nb\nc\n"), L("a\nX\nc\n"), L("a\nY\nc\n")});
  ASSERT_EQ(plan.conflicts, 1u);
  using K = Resolution::Kind;
  EXPECT_FALSE(merged_lines(plan, {}).has_value());
  EXPECT_EQ(join_lines(*merged_lines(plan, {Resolution{K::take, 0, {}}})), "a\nb\nc\n");
  EXPECT_EQ(join_lines(*merged_lines(plan, {Resolution{K::take, 2, {}}})), "a\nY\nc\n");
  EXPECT_EQ(join_lines(*merged_lines(plan, {Resolution{K::take_all, 0, {}}})), "a\nX\nY\nc\n");
  EXPECT_EQ(join_lines(*merged_lines(plan, {Resolution{K::edited, 0, L("Z\n")}})), "a\nZ\nc\n");
}

TEST(GuiMerge, BothKeepsLinesApartWhenOneLacksALineEnd) {
  const MergePlan plan = plan_merge({L("a\r\nb"), L("a\r\nX")});
  ASSERT_FALSE(plan.has_base);
  ASSERT_EQ(plan.conflicts, 1u);
  EXPECT_EQ(join_lines(*merged_lines(plan, {Resolution{Resolution::Kind::take_all, 0, {}}})),
            "a\r\nb\r\nX");
}

TEST(GuiMerge, TwoContributorsMakeEveryDifferenceAChoice) {
  const MergePlan plan = plan_merge({L("a\nb\nc\n"), L("a\nc\nd\n")});
  EXPECT_FALSE(plan.has_base);
  EXPECT_EQ(plan.conflicts, 2u);
  EXPECT_FALSE(automatic_merge(plan).has_value());
  EXPECT_EQ(render_with_markers(plan, {"one", "other", "third"}), "");  // markers need a base
  EXPECT_EQ(plan_merge({L("a\n"), L("a\n")}).conflicts, 0u);
  EXPECT_EQ(join_lines(*automatic_merge(plan_merge({L("a\n"), L("a\n")}))), "a\n");
}

TEST(GuiMerge, FourContributorsAgreeOrConflict) {
  const std::vector<Line> base = L("a\nb\nc\n");
  // Two make the same change, one leaves it alone: the change stands.
  const MergePlan same = plan_merge({base, L("a\nB\nc\n"), L("a\nb\nc\n"), L("a\nB\nc\n")});
  ASSERT_TRUE(automatic_merge(same).has_value());
  EXPECT_EQ(join_lines(*automatic_merge(same)), "a\nB\nc\n");
  // A third contributor's different change conflicts.
  const MergePlan differ = plan_merge({base, L("a\nB\nc\n"), L("a\nb\nC\n"), L("a\nX\nc\n")});
  EXPECT_EQ(differ.conflicts, 1u);
  using K = Resolution::Kind;
  EXPECT_EQ(join_lines(*merged_lines(differ, {Resolution{K::take, 3, {}}})), "a\nX\nc\n");
}

}  // namespace
}  // namespace marlow
