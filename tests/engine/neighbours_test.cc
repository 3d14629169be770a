// Settlements judged with their neighbours: conflicts next to each other
// that two sides aligned differently must not be settled into a result that
// holds one side's block twice.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "engine/diff.h"
#include "engine/settle.h"

namespace marlow {
namespace {

namespace fs = std::filesystem;

std::vector<Line> L(const std::string& text) { return split_lines(text); }

// The default rules and `contained`, which keeps the side that holds both
// changes and so can keep one block twice from two neighbouring conflicts.
SettleOptions with_contained() {
  SettleOptions options;
  options.contained = true;
  return options;
}

std::string read(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool has_alnum(const std::string& text) {
  for (char c : text) {
    if (std::isalnum(static_cast<unsigned char>(c)) != 0) return true;
  }
  return false;
}

// How often each line with a letter or digit stands in `text`, leaving out
// what lies between conflict markers.
std::map<std::string, int> counts_outside_markers(const std::string& text) {
  std::map<std::string, int> out;
  bool inside = false;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("<<<<<<<", 0) == 0) inside = true;
    if (!inside && has_alnum(line)) ++out[line];
    if (line.rfind(">>>>>>>", 0) == 0) inside = false;
  }
  return out;
}

// Lines the merge holds (outside markers) more often than either side.
std::vector<std::string> repeated_lines(const std::string& merged, const std::string& current,
                                        const std::string& other) {
  std::map<std::string, int> in_current = counts_outside_markers(current);
  std::map<std::string, int> in_other = counts_outside_markers(other);
  std::vector<std::string> out;
  for (const auto& [line, n] : counts_outside_markers(merged)) {
    if (n > std::max(in_current[line], in_other[line])) out.push_back(line);
  }
  return out;
}

TEST(GuiNeighbours, ABlockEachSidePlacedInAnotherConflictIsNotKeptTwice) {
  // "current" put B before K, "other" after it; each conflict alone is one
  // side's change held in the other side's lines.
  const std::string base = "x\nK\ny\n";
  const std::string current = "x1\nB\nK\ny1\n";
  const std::string other = "x1\nK\nB\ny1\n";
  ASSERT_TRUE(settle_conflict(L("x\n"), L("x1\nB\n"), L("x1\n"), with_contained()));
  ASSERT_TRUE(settle_conflict(L("y\n"), L("y1\n"), L("B\ny1\n"), with_contained()));
  const MergePlan plan = plan_merge({L(base), L(current), L(other)}, with_contained());
  EXPECT_EQ(plan.conflicts, 2u);
  EXPECT_EQ(plan.settled, 0u);
  EXPECT_EQ(automatic_merge(plan), std::nullopt);
  const std::string marked =
      render_with_markers(plan, {"base", "current", "other"}, MarkerStyle::merge);
  EXPECT_EQ(repeated_lines(marked, current, other), std::vector<std::string>{});
}

TEST(GuiNeighbours, SettlementsApartOrWithoutRepeatsStay) {
  // Two version conflicts next to each other: nothing repeats, both settle.
  const MergePlan close = plan_merge(
      {L("a 1.0.0\nK\nb 1.0.0\n"), L("a 1.1.0\nK\nb 1.2.0\n"), L("a 1.2.0\nK\nb 1.1.0\n")});
  EXPECT_EQ(close.settled, 2u);
  EXPECT_EQ(join_lines(*automatic_merge(close)), "a 1.2.0\nK\nb 1.2.0\n");
  // The same block kept by two settlements far apart (both sides added it
  // twice over): judged apart, each stays.
  std::string gap;
  for (int i = 0; i < 12; ++i) gap += "common " + std::to_string(i) + "\n";
  const MergePlan far =
      plan_merge({L("x\n" + gap + "y\n"), L("x1\nB\n" + gap + "y1\n"), L("x1\n" + gap + "B\ny1\n")},
                 with_contained());
  EXPECT_EQ(far.settled, 2u);
}

class GuiNeighbourCases : public ::testing::TestWithParam<const char*> {};

TEST_P(GuiNeighbourCases, RealMergesKeepNoLineMoreOftenThanASide) {
  const fs::path dir = fs::path(TW_ENGINE_CASES) / GetParam();
  const std::string base = read(dir / "base");
  const std::string current = read(dir / "current");
  const std::string other = read(dir / "other");
  ASSERT_FALSE(base.empty());
  for (const SettleOptions& options : {SettleOptions{}, with_contained()}) {
    const MergePlan plan = plan_merge({L(base), L(current), L(other)}, options);
    std::size_t written = 0;
    const std::string marked =
        render_with_markers(plan, {"base", "current", "other"}, MarkerStyle::merge, 7, &written);
    EXPECT_GT(written, 0u);
    EXPECT_EQ(repeated_lines(marked, current, other), std::vector<std::string>{});
    // Settling every conflict the file has must not be offered either.
    EXPECT_NE(plan.settled, plan.conflicts);
  }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, GuiNeighbourCases,
                         ::testing::Values("neighbouring-screen-write",
                                           "neighbouring-queue-worker"));

}  // namespace
}  // namespace marlow
