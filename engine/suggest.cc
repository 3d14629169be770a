#include "engine/suggest.h"

#include <algorithm>
#include <optional>
#include <set>
#include <string_view>
#include <utility>

#include "engine/settle.h"

namespace marlow {
namespace {

// The list being built: no two entries with the same lines, at most
// kMaxSuggestions.
class Ranking {
 public:
  void add(std::vector<Line> lines, const char* reason) {
    if (list_.size() == kMaxSuggestions) return;
    for (const Suggestion& s : list_) {
      if (s.lines == lines) return;
    }
    list_.push_back(Suggestion{std::move(lines), reason});
  }
  void add(const std::optional<std::vector<Line>>& lines, const char* reason) {
    if (lines) add(*lines, reason);
  }
  std::vector<Suggestion> take() && { return std::move(list_); }

 private:
  std::vector<Suggestion> list_;
};

std::vector<Line> both(const std::vector<Line>& first, const std::vector<Line>& second,
                       const std::string& line_end) {
  std::vector<Line> out = first;
  if (!out.empty() && !second.empty() && out.back().eol.empty()) out.back().eol = line_end;
  out.insert(out.end(), second.begin(), second.end());
  return out;
}

bool sorted(const std::vector<Line>& lines) {
  return lines.size() >= 2 &&
         std::is_sorted(lines.begin(), lines.end(),
                        [](const Line& a, const Line& b) { return a.text.view() < b.text.view(); });
}

// Both sides' lines once each, without the base lines that either side
// removed: what each side added stays. Sorted when both sides are (a list
// of imports, say); nullopt unless it differs from both sides kept whole.
std::optional<std::vector<Line>> union_of_additions(const MarkedConflict& c,
                                                    const std::string& line_end, bool* is_sorted) {
  std::multiset<std::string_view> removed;
  for (const std::vector<Line>* side : {&c.current, &c.other}) {
    std::multiset<std::string_view> kept;
    for (const Line& line : *side) kept.insert(line.text.view());
    for (const Line& line : c.base) {
      const auto at = kept.find(line.text.view());
      if (at == kept.end()) {
        removed.insert(line.text.view());
      } else {
        kept.erase(at);
      }
    }
  }
  std::vector<Line> out;
  std::set<std::string_view> seen;
  for (const std::vector<Line>* side : {&c.current, &c.other}) {
    for (const Line& line : *side) {
      if (removed.count(line.text.view()) || !seen.insert(line.text.view()).second) continue;
      out.push_back(line);
    }
  }
  if (out.empty()) return std::nullopt;
  *is_sorted = sorted(c.current) && sorted(c.other);
  if (*is_sorted) {
    std::stable_sort(out.begin(), out.end(),
                     [](const Line& a, const Line& b) { return a.text.view() < b.text.view(); });
  }
  // Every line but the last ends in a line end.
  for (std::size_t i = 0; i + 1 < out.size(); ++i) {
    if (out[i].eol.empty()) out[i].eol = line_end;
  }
  return out;
}

}  // namespace

std::vector<Suggestion> suggest_resolutions(const MarkedConflict& c, const std::string& line_end) {
  // What one rule of the engine alone makes of the conflict.
  const auto by_rule = [&](void (*enable)(SettleOptions*)) -> std::optional<std::vector<Line>> {
    SettleOptions options = SettleOptions::none();
    enable(&options);
    std::optional<Settlement> s = settle_conflict(c.base, c.current, c.other, options, c.after);
    if (!s) return std::nullopt;
    return std::move(s->lines);
  };
  Ranking ranking;
  // Rules with a strong sign in the texts first.
  ranking.add(by_rule([](SettleOptions* o) { o->releases = true; }),
              "release sections, newest first");
  ranking.add(by_rule([](SettleOptions* o) { o->versions = o->version_lists = true; }),
              "higher versions");
  ranking.add(by_rule([](SettleOptions* o) { o->contained = true; }),
              "the side that holds both changes");
  // A merge of the words inside the conflict, where one is possible, is
  // most often what the author wrote; changes on one line too.
  ranking.add(by_rule([](SettleOptions* o) { o->words = true; }), "word merge");
  ranking.add(by_rule([](SettleOptions* o) {
                o->words = true;
                o->separate_lines = false;
              }),
              "word merge");

  const std::vector<Line>& current = c.current;
  const std::vector<Line>& other = c.other;
  if (c.base.empty() && !current.empty() && !other.empty()) {
    // Both sides added lines at one place: most often both stay.
    ranking.add(both(current, other, line_end), "both, current first");
  }
  bool is_sorted = false;
  const std::optional<std::vector<Line>> added = union_of_additions(c, line_end, &is_sorted);
  ranking.add(current, "current side");
  ranking.add(other, "other side");
  // A sorted list both sides changed (imports, say): their lines, sorted.
  if (is_sorted) ranking.add(added, "sorted lines of both");
  ranking.add(both(current, other, line_end), "both, current first");
  ranking.add(both(other, current, line_end), "both, other first");
  ranking.add(added, "lines of both, without those either removed");
  return std::move(ranking).take();
}

std::vector<std::vector<Suggestion>> suggest_for_plan(const MergePlan& plan, MarkerStyle style) {
  std::vector<std::vector<Suggestion>> out;
  for (const MarkedConflict& c : marked_conflict_list(plan, style)) {
    out.push_back(suggest_resolutions(c, plan.line_end));
  }
  return out;
}

}  // namespace marlow
