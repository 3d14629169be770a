// tarnwickmerge's own line diff gives exactly the changes libgit2's diff of
// buffers gives (no context, no options), which the engine's agreement
// with `git merge-file` rests on.
#include <git2.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <algorithm>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "line_diff.h"

namespace tarnwickmerge {

void PrintTo(const LineChange& c, std::ostream* out) {
  *out << "-" << c.old_start << "," << c.old_count << " +" << c.new_start << "," << c.new_count;
}

namespace {

namespace fs = std::filesystem;

std::vector<LineChange> libgit2_changes(const std::string& a, const std::string& b) {
  git_diff_options options;
  git_diff_options_init(&options, GIT_DIFF_OPTIONS_VERSION);
  options.context_lines = 0;
  options.interhunk_lines = 0;
  options.flags = GIT_DIFF_FORCE_TEXT;
  std::vector<LineChange> changes;
  const auto on_hunk = [](const git_diff_delta*, const git_diff_hunk* h, void* payload) {
    static_cast<std::vector<LineChange>*>(payload)->push_back(
        LineChange{h->old_lines == 0 ? h->old_start : h->old_start - 1, h->old_lines,
                   h->new_lines == 0 ? h->new_start : h->new_start - 1, h->new_lines});
    return 0;
  };
  EXPECT_EQ(git_diff_buffers(a.data(), a.size(), nullptr, b.data(), b.size(), nullptr, &options,
                             nullptr, nullptr, on_hunk, nullptr, &changes),
            0);
  return changes;
}

void expect_as_libgit2(const std::string& a, const std::string& b, const std::string& what) {
  EXPECT_EQ(diff_line_records(a, b), libgit2_changes(a, b)) << what;
  EXPECT_EQ(diff_line_records(b, a), libgit2_changes(b, a)) << what << " (reversed)";
}

std::string read(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(LineDiff, SmallTextsByHand) {
  EXPECT_TRUE(diff_line_records("", "").empty());
  EXPECT_TRUE(diff_line_records("a\nb\n", "a\nb\n").empty());
  EXPECT_EQ(diff_line_records("", "a\nb\n"), (std::vector<LineChange>{{0, 0, 0, 2}}));
  EXPECT_EQ(diff_line_records("a\nb\n", ""), (std::vector<LineChange>{{0, 2, 0, 0}}));
  EXPECT_EQ(diff_line_records("a\nb\nc\n", "a\nx\nc\nd\n"),
            (std::vector<LineChange>{{1, 1, 1, 1}, {3, 0, 3, 1}}));
  // A last line without its line end is another line.
  EXPECT_EQ(diff_line_records("a\nb", "a\nb\n"), (std::vector<LineChange>{{1, 1, 1, 1}}));
  // An added block that could sit one line higher or lower slides down as
  // far as it goes, as git's does.
  EXPECT_EQ(diff_line_records("}\n", "}\n\n}\n"), (std::vector<LineChange>{{1, 0, 1, 2}}));
}

// Every pair of the real merges kept as test cases.
TEST(LineDiff, SameChangesAsLibgit2OnRealMerges) {
  git_libgit2_init();
  int pairs = 0;
  for (const fs::directory_entry& entry : fs::directory_iterator(TW_MERGE_CASES)) {
    if (!entry.is_directory()) continue;
    const char* names[] = {"base", "current", "other", "committed"};
    for (int i = 0; i < 4; ++i) {
      for (int j = i + 1; j < 4; ++j) {
        expect_as_libgit2(read(entry.path() / names[i]), read(entry.path() / names[j]),
                          entry.path().string() + " " + names[i] + " " + names[j]);
        ++pairs;
      }
    }
  }
  EXPECT_GE(pairs, 200);
  git_libgit2_shutdown();
}

// Made-up texts that reach every part of the algorithm: lines repeated so
// often that they are set aside, blocks of one shape that slide, large
// texts with so many changes, or blocks moved, that the search is cut short
// by its cost limit and its heuristics, long runs of lines of one side only,
// and texts without a last line end.
TEST(LineDiff, SameChangesAsLibgit2OnGeneratedTexts) {
  git_libgit2_init();
  std::mt19937 random(20261208);
  const auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
  for (int round = 0; round < 160; ++round) {
    std::vector<std::string> a;
    switch (round % 4) {
      case 0:
        for (int k = pick(400); k > 0; --k) a.push_back(pick(4) == 0 ? "\n" : "x" + std::to_string(pick(5)) + "\n");
        break;
      case 1:
        for (int k = 1000 + pick(4000); k > 0; --k) a.push_back("line " + std::to_string(pick(5000)) + "\n");
        break;
      case 2:
        for (int k = pick(300); k > 0; --k) {
          for (const std::string& line : {std::string("{\n"), "  v" + std::to_string(pick(30)) + "\n",
                                          std::string("}\n"), std::string("\n")}) {
            a.push_back(line);
          }
        }
        break;
      default:
        for (int k = pick(3000); k > 0; --k) a.push_back("l" + std::to_string(pick(50)) + "\n");
        break;
    }
    std::vector<std::string> b = a;
    if (round % 8 == 1) {
      // Blocks moved about: long runs in common, far apart.
      std::vector<std::vector<std::string>> blocks;
      for (std::size_t at = 0; at < b.size(); at += 20 + static_cast<std::size_t>(pick(40))) {
        blocks.emplace_back(b.begin() + static_cast<std::ptrdiff_t>(at),
                            b.begin() + static_cast<std::ptrdiff_t>(std::min(b.size(), at + 60)));
      }
      std::shuffle(blocks.begin(), blocks.end(), random);
      b.clear();
      for (const auto& block : blocks) b.insert(b.end(), block.begin(), block.end());
    } else if (round % 8 == 5) {
      // Many scattered swaps of lines that occur elsewhere too, in texts
      // long enough (over 32,000 lines) that the search's cost limit is
      // above the cost where the snake heuristic starts.
      b.clear();
      for (int k = 34000 + pick(2000); k > 0; --k) b.push_back("r" + std::to_string(pick(9000)) + "\n");
      a = b;
      for (int k = static_cast<int>(b.size()) / 12; k > 0; --k) {
        const std::size_t at = static_cast<std::size_t>(pick(static_cast<int>(b.size()) - 1));
        std::swap(b[at], b[at + 1]);
      }
    } else if (round % 8 == 2) {
      // Long runs of lines of one side only, among lines common to many.
      for (std::size_t k = 0; k < b.size(); ++k) {
        if (pick(4) != 0) b[k] = pick(3) == 0 ? "\n" : "only " + std::to_string(k) + "\n";
      }
    }
    const int divisors[] = {2, 5, 20, 100};
    for (int k = pick(static_cast<int>(b.size()) / divisors[pick(4)] + 2); k > 0; --k) {
      const int at = pick(static_cast<int>(b.size()) + 1);
      const int op = pick(10);
      if (op < 4 && !b.empty()) {
        b.erase(b.begin() + std::min(at, static_cast<int>(b.size()) - 1));
      } else if (op < 8) {
        b.insert(b.begin() + at, !a.empty() && pick(2) == 0 ? a[static_cast<std::size_t>(pick(static_cast<int>(a.size())))]
                                                             : "new " + std::to_string(pick(1000000)) + "\n");
      } else if (!b.empty()) {
        b[static_cast<std::size_t>(std::min(at, static_cast<int>(b.size()) - 1))] = "chg " + std::to_string(pick(10)) + "\n";
      }
    }
    std::string ta, tb;
    for (const std::string& line : a) ta += line;
    for (const std::string& line : b) tb += line;
    if (pick(5) == 0 && !tb.empty() && tb.back() == '\n') tb.pop_back();
    expect_as_libgit2(ta, tb, "round " + std::to_string(round));
  }
  git_libgit2_shutdown();
}

}  // namespace
}  // namespace tarnwickmerge
