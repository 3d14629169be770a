#include "engine/suggest.h"

#include <algorithm>
#include <optional>
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

bool has_alnum(const std::vector<Line>& lines) {
  for (const Line& line : lines) {
    for (char c : line.text) {
      if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) return true;
    }
  }
  return false;
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
  ranking.add(by_rule([](SettleOptions* o) { o->words = true; }), "word merge");

  const std::vector<Line>& current = c.current;
  const std::vector<Line>& other = c.other;
  if (!c.base.empty() && (current.empty() || other.empty()) && has_alnum(c.base)) {
    // One side deleted what the other changed: the deletion first.
    ranking.add(std::vector<Line>{}, current.empty() ? "current side" : "other side");
  }
  if (c.base.empty() && !current.empty() && !other.empty()) {
    // Both sides added lines at one place: most often both stay.
    ranking.add(both(current, other, line_end), "both, current first");
  }
  ranking.add(current, "current side");
  ranking.add(other, "other side");
  ranking.add(both(current, other, line_end), "both, current first");
  ranking.add(both(other, current, line_end), "both, other first");
  ranking.add(by_rule([](SettleOptions* o) {
                o->words = true;
                o->separate_lines = false;
              }),
              "word merge");
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
