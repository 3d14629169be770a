#include "engine/suggestion_picks.h"

#include <utility>

namespace marlow {
namespace {

// Merged lines after a conflict, up to the next one: a rule may look there
// (a release section the new ones go above). A few suffice.
constexpr std::size_t kLinesAfter = 200;

}  // namespace

void SuggestionPicks::reset(const MergePlan& plan, std::vector<std::size_t> conflict_regions) {
  plan_ = &plan;
  regions_ = std::move(conflict_regions);
  entries_.assign(regions_.size(), Entry{});
}

const std::vector<Suggestion>& SuggestionPicks::suggestions(std::size_t conflict) const {
  static const std::vector<Suggestion> kNone;
  if (conflict >= entries_.size() || plan_ == nullptr) return kNone;
  Entry& entry = entries_[conflict];
  if (entry.computed) return entry.list;
  entry.computed = true;
  const std::size_t first = plan_->has_base ? 1 : 0;
  const std::size_t index = regions_[conflict];
  const Region& region = plan_->regions[index];
  if (region.sides.size() != first + 2) return entry.list;
  MarkedConflict c;
  if (plan_->has_base) c.base = region.sides[0];
  c.current = region.sides[first];
  c.other = region.sides[first + 1];
  for (std::size_t r = index + 1; r < plan_->regions.size() && c.after.size() < kLinesAfter; ++r) {
    const Region& next = plan_->regions[r];
    if (next.kind == RegionKind::conflict) break;
    c.after.insert(c.after.end(), next.result.begin(), next.result.end());
  }
  entry.list = suggest_resolutions(c, plan_->line_end);
  return entry.list;
}

std::size_t SuggestionPicks::computed() const {
  std::size_t n = 0;
  for (const Entry& e : entries_) n += e.computed ? 1 : 0;
  return n;
}

SuggestionPick SuggestionPicks::pick(std::size_t conflict) const {
  return conflict < entries_.size() ? entries_[conflict].pick : SuggestionPick{};
}

void SuggestionPicks::set_pick(std::size_t conflict, SuggestionPick pick) {
  if (conflict < entries_.size()) entries_[conflict].pick = pick;
}

const Suggestion* SuggestionPicks::shown(std::size_t conflict, const Resolution& resolution) const {
  // Blocks chosen one by one are kept in `side` of an unsettled conflict:
  // the user is building the result, which a suggestion would hide.
  if (resolution.kind != Resolution::Kind::unresolved || resolution.side != 0) return nullptr;
  const std::vector<Suggestion>& list = suggestions(conflict);
  const std::size_t at = pick(conflict).shown;
  return at < list.size() ? &list[at] : nullptr;
}

SuggestionPick SuggestionPicks::cycled(std::size_t conflict, int step) const {
  SuggestionPick now = pick(conflict);
  const std::size_t n = suggestions(conflict).size();
  if (n < 2) return now;
  const auto size = static_cast<long long>(n);
  const long long moved = (static_cast<long long>(now.shown) + step % size + size) % size;
  now.shown = static_cast<std::size_t>(moved);
  return now;
}

std::optional<Resolution> SuggestionPicks::accepted_resolution(std::size_t conflict) const {
  const std::vector<Suggestion>& list = suggestions(conflict);
  const std::size_t at = pick(conflict).shown;
  if (at >= list.size()) return std::nullopt;
  return Resolution{Resolution::Kind::edited, 0, list[at].lines};
}

bool SuggestionPicks::settled_by_suggestion(std::size_t conflict,
                                            const Resolution& resolution) const {
  if (!pick(conflict).accepted || resolution.kind != Resolution::Kind::edited) return false;
  const std::optional<Resolution> accepted = accepted_resolution(conflict);
  return accepted && accepted->lines == resolution.lines;
}

std::string SuggestionPicks::label(std::size_t conflict) const {
  const std::vector<Suggestion>& list = suggestions(conflict);
  const std::size_t at = pick(conflict).shown;
  if (at >= list.size()) return {};
  return "suggestion " + std::to_string(at + 1) + " of " + std::to_string(list.size()) + ": " +
         list[at].reason;
}

}  // namespace marlow
