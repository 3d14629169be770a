#include "engine/merge_session.h"

#include <algorithm>
#include <cerrno>
#include <utility>

#include "engine/conflict_markers.h"
#include "engine/merge_ignoring.h"

namespace marlow {
namespace {

// A request the session cannot carry out: what is wrong, and the errno
// value a front end tells the kinds apart by.
support::Status refused(const char* why, int code) { return support::Status::failure(why, code); }

// `take_all` with this in `side` puts the changed sides in the opposite order.
constexpr std::size_t kOtherFirst = 1;

}  // namespace

std::vector<Line> with_line_ends(std::vector<Line> lines, SavedLineEnds ends) {
  if (ends == SavedLineEnds::as_merged) return lines;
  const LineEnd chosen = ends == SavedLineEnds::lf     ? LineEnd("\n")
                         : ends == SavedLineEnds::crlf ? LineEnd("\r\n")
                                                       : LineEnd("\r");
  for (Line& line : lines) {
    if (!line.eol.empty()) line.eol = chosen;
  }
  return lines;
}

MergeSession::MergeSession(std::vector<std::vector<Line>> texts, IgnoreOptions ignoring)
    : texts_(std::move(texts)), ignoring_(ignoring) {
  make_plan();
}

void MergeSession::make_plan() {
  plan_ = plan_merge_ignoring(texts_, {}, ignoring_);
  conflict_regions_.clear();
  for (std::size_t i = 0; i < plan_.regions.size(); ++i) {
    if (plan_.regions[i].kind == RegionKind::conflict) conflict_regions_.push_back(i);
  }
  // What the engine settled opens settled, marked as settled automatically.
  resolutions_ = automatic_resolutions(plan_);
  line_picks_.assign(conflict_regions_.size(), {});
  picks_.reset(plan_, conflict_regions_);
  typing_over_ = kNone;
  clean_.assign(plan_.regions.size(), Resolution{});
  current_ = 0;
  history_.clear();
  done_ = 0;
  unsaved_ = false;
}

void MergeSession::replan(IgnoreOptions ignoring) {
  ignoring_ = ignoring;
  make_plan();
}

std::size_t MergeSession::conflict_of_region(std::size_t region) const {
  return static_cast<std::size_t>(
      std::lower_bound(conflict_regions_.begin(), conflict_regions_.end(), region) -
      conflict_regions_.begin());
}

bool MergeSession::is_conflict(std::size_t region) const {
  return region < plan_.regions.size() && plan_.regions[region].kind == RegionKind::conflict;
}

bool MergeSession::is_clean_change(std::size_t region) const {
  return region < plan_.regions.size() && plan_.regions[region].kind == RegionKind::changed;
}

bool MergeSession::set_current(std::size_t conflict) {
  if (conflict >= conflict_regions_.size()) return false;
  if (conflict != current_) {
    current_ = conflict;
    notify_current();
  }
  return true;
}

std::size_t MergeSession::unresolved_count() const {
  return static_cast<std::size_t>(
      std::count_if(resolutions_.begin(), resolutions_.end(),
                    [](const Resolution& r) { return r.kind == Resolution::Kind::unresolved; }));
}

std::size_t MergeSession::automatic_count() const {
  return static_cast<std::size_t>(
      std::count_if(resolutions_.begin(), resolutions_.end(),
                    [](const Resolution& r) { return r.kind == Resolution::Kind::automatic; }));
}

bool MergeSession::settled_automatically(std::size_t conflict) const {
  return conflict < resolutions_.size() &&
         resolutions_[conflict].kind == Resolution::Kind::automatic;
}

std::size_t MergeSession::next_unresolved(bool forward) const {
  const std::size_t n = resolutions_.size();
  for (std::size_t i = 1; i <= n; ++i) {
    const std::size_t c = forward ? (current_ + i) % n : (current_ + n - i) % n;
    if (resolutions_[c].kind == Resolution::Kind::unresolved) return c;
  }
  return kNone;
}

bool MergeSession::side_taken(std::size_t conflict, std::size_t side) const {
  const Resolution& resolution = resolutions_.at(conflict);
  const Region& region = plan_.regions[conflict_regions_[conflict]];
  switch (resolution.kind) {
    case Resolution::Kind::take:
      return side == resolution.side;
    case Resolution::Kind::take_all:
      return region.changed_by[side] && !(plan_.has_base && side == 0);
    default:
      return true;  // unsettled, typed, or settled by the engine: no side alone
  }
}

// ---------------------------------------------------------------------------
// Settling.

Resolution& MergeSession::choice(std::size_t region) {
  return is_conflict(region) ? resolutions_[conflict_of_region(region)] : clean_[region];
}

support::Status MergeSession::settle_current(Resolution resolution, bool typing) {
  if (conflict_regions_.empty()) return refused("there is no conflict to settle", EINVAL);
  settle({Settle{conflict_regions_[current_], std::move(resolution), {}, {}}}, typing);
  return {};
}

support::Status MergeSession::take(std::size_t side) {
  if (side >= texts_.size()) return refused("there is no such side to take", EINVAL);
  support::Status done = settle_current(Resolution{Resolution::Kind::take, side, {}});
  if (done) advance();
  return done;
}

support::Status MergeSession::take_all(bool other_first) {
  support::Status done =
      settle_current(Resolution{Resolution::Kind::take_all, other_first ? kOtherFirst : 0, {}});
  if (done) advance();
  return done;
}

support::Status MergeSession::unresolve() { return settle_current(Resolution{}); }

support::Status MergeSession::undo_automatic() {
  if (!settled_automatically(current_))
    return refused("this conflict was not settled automatically", EINVAL);
  return settle_current(Resolution{});
}

support::Status MergeSession::edit_current(std::vector<Line> lines) {
  return settle_current(Resolution{Resolution::Kind::edited, 0, std::move(lines)}, true);
}

support::Status MergeSession::take_remaining(std::size_t side) {
  if (side >= texts_.size()) return refused("there is no such side to take", EINVAL);
  std::vector<Settle> changes;
  for (std::size_t c = 0; c < resolutions_.size(); ++c) {
    if (resolutions_[c].kind == Resolution::Kind::unresolved) {
      changes.push_back(
          Settle{conflict_regions_[c], Resolution{Resolution::Kind::take, side, {}}, {}, {}});
    }
  }
  settle(std::move(changes), false);
  return {};
}

void MergeSession::advance() {
  if (!advance_after_take_) return;
  const std::size_t next = next_unresolved(true);
  if (next != kNone) set_current(next);
}

void MergeSession::settle(std::vector<Settle> changes, bool typing, bool shown) {
  if (changes.empty()) return;
  // Typing on in the same region extends the step before, so that one undo
  // takes back a run of typing, not one key.
  const Step* last = done_ > 0 ? &history_[done_ - 1] : nullptr;
  const bool join = typing && last != nullptr && last->typing && changes.size() == 1 &&
                    last->changes.size() == 1 &&
                    last->changes.front().region == changes.front().region;
  history_.resize(done_);
  if (join) {
    Change& change = history_[done_ - 1].changes.front();
    change.after = changes.front().resolution;
    change.lines_after = changes.front().lines.value_or(std::vector<LinePick>());
  } else {
    Step step;
    step.typing = typing;
    for (Settle& s : changes) {
      Change change;
      change.region = s.region;
      change.before = choice(s.region);
      change.after = s.resolution;
      if (is_conflict(s.region)) {
        const std::size_t c = conflict_of_region(s.region);
        change.pick_before = picks_.pick(c);
        change.lines_before = line_picks_[c];
      }
      // Any other settlement leaves the suggestion shown before, unaccepted.
      change.pick_after = s.pick.value_or(SuggestionPick{change.pick_before.shown, false});
      change.lines_after = s.lines.value_or(std::vector<LinePick>());
      step.changes.push_back(std::move(change));
    }
    history_.push_back(std::move(step));
    done_ = history_.size();
  }
  std::vector<std::size_t> regions;
  for (const Change& change : history_[done_ - 1].changes) {
    apply(change, false, shown);
    regions.push_back(change.region);
  }
  unsaved_ = true;
  if (!shown) notify_regions(regions);
  notify_history();
}

void MergeSession::apply(const Change& change, bool back, bool shown) {
  choice(change.region) = back ? change.before : change.after;
  if (!is_conflict(change.region)) return;
  const std::size_t c = conflict_of_region(change.region);
  picks_.set_pick(c, back ? change.pick_before : change.pick_after);
  line_picks_[c] = back ? change.lines_before : change.lines_after;
  if (!shown && typing_over_ == c) typing_over_ = kNone;
}

std::size_t MergeSession::undo() { return step(true); }

std::size_t MergeSession::redo() { return step(false); }

std::size_t MergeSession::step(bool back) {
  if (back ? !can_undo() : !can_redo()) return kNone;
  const Step& made = back ? history_[--done_] : history_[done_++];
  std::vector<std::size_t> regions;
  for (const Change& change : made.changes) {
    apply(change, back, false);
    regions.push_back(change.region);
  }
  unsaved_ = true;
  notify_regions(regions);
  // What the step changed comes into view; a conflict becomes current.
  const std::size_t region = made.changes.front().region;
  if (is_conflict(region)) set_current(conflict_of_region(region));
  notify_history();
  return region;
}

bool MergeSession::has_unsaved_choices() const {
  const bool clean_rejected = std::any_of(clean_.begin(), clean_.end(), [](const Resolution& r) {
    return r.kind != Resolution::Kind::unresolved;
  });
  return unsaved_ && (unresolved_count() < resolutions_.size() || clean_rejected);
}

// ---------------------------------------------------------------------------
// Clean changes.

bool MergeSession::clean_change_kept(std::size_t region) const {
  return region < clean_.size() && clean_[region].kind == Resolution::Kind::unresolved;
}

bool MergeSession::clean_change_rejected(std::size_t region) const {
  return region < clean_.size() && clean_[region].kind == Resolution::Kind::take;
}

bool MergeSession::region_edited(std::size_t region) const {
  return region < clean_.size() && clean_[region].kind == Resolution::Kind::edited;
}

support::Status MergeSession::toggle_clean_change(std::size_t region) {
  if (!is_clean_change(region)) return refused("that is not a change of one side alone", EINVAL);
  // As merged: rejected (the base's lines); rejected or edited: as merged.
  settle(
      {Settle{region,
              clean_change_kept(region) ? Resolution{Resolution::Kind::take, 0, {}} : Resolution{},
              {},
              {}}},
      false);
  return {};
}

support::Status MergeSession::edit_region(std::size_t region, std::vector<Line> lines,
                                          bool typing) {
  if (region >= plan_.regions.size()) return refused("there is no such part of the result", EINVAL);
  settle({Settle{region, Resolution{Resolution::Kind::edited, 0, std::move(lines)}, {}, {}}},
         typing);
  return {};
}

std::size_t MergeSession::next_clean_change(std::size_t from, bool forward) const {
  const std::size_t n = plan_.regions.size();
  for (std::size_t i = 1; i <= n; ++i) {
    const std::size_t r = forward ? (from + i) % n : (from + n - i) % n;
    if (plan_.regions[r].kind == RegionKind::changed) return r;
  }
  return kNone;
}

bool MergeSession::any_clean_change() const {
  return std::any_of(plan_.regions.begin(), plan_.regions.end(),
                     [](const Region& r) { return r.kind == RegionKind::changed; });
}

// ---------------------------------------------------------------------------
// Suggestions.

const Suggestion* MergeSession::suggestion_shown(std::size_t region) const {
  if (!is_conflict(region)) return nullptr;
  const std::size_t c = conflict_of_region(region);
  if (c == typing_over_) return nullptr;
  return picks_.shown(c, resolutions_[c]);
}

support::Status MergeSession::accept_suggestion() {
  if (conflict_regions_.empty()) return refused("there is no conflict to settle", EINVAL);
  const std::size_t c = current_;
  // One that gave way to typing, with nothing typed yet, may still be taken.
  const std::optional<Resolution> accepted =
      picks_.shown(c, resolutions_[c]) != nullptr ? picks_.accepted_resolution(c) : std::nullopt;
  if (!accepted) return refused("there is no suggestion for this conflict", ENOENT);
  settle({Settle{conflict_regions_[c], *accepted, SuggestionPick{picks_.pick(c).shown, true}, {}}},
         false);
  return {};
}

support::Status MergeSession::cycle_suggestion(int step) {
  if (conflict_regions_.empty()) return refused("there is no conflict to settle", EINVAL);
  const std::size_t c = current_;
  const Resolution& now = resolutions_[c];
  const bool accepted = picks_.settled_by_suggestion(c, now);
  if (!accepted && picks_.shown(c, now) == nullptr)
    return refused("there is no suggestion for this conflict", ENOENT);
  const SuggestionPick next = picks_.cycled(c, step);
  if (next == picks_.pick(c))
    return refused("there is no other suggestion for this conflict", EALREADY);
  // Once one is accepted, the next is accepted in its place.
  Resolution resolution = now;
  if (accepted) {
    resolution = Resolution{Resolution::Kind::edited, 0, picks_.suggestions(c)[next.shown].lines};
  }
  settle({Settle{conflict_regions_[c], std::move(resolution), next, {}}}, false);
  return {};
}

void MergeSession::type_over_suggestion(std::size_t conflict) {
  if (conflict >= conflict_regions_.size()) return;
  typing_over_ = conflict;
  set_current(conflict);
}

std::size_t MergeSession::restore_typed_over() {
  if (typing_over_ >= resolutions_.size()) return kNone;
  if (typing_over_ == current_ && resolutions_[typing_over_].kind == Resolution::Kind::unresolved)
    return kNone;
  const std::size_t c = typing_over_;
  typing_over_ = kNone;
  return resolutions_[c].kind == Resolution::Kind::unresolved ? conflict_regions_[c] : kNone;
}

// ---------------------------------------------------------------------------
// The merged text.

std::optional<std::vector<Line>> MergeSession::resolved(std::size_t region,
                                                        const Resolution& r) const {
  const Region& where = plan_.regions[region];
  if (r.kind != Resolution::Kind::take_all || r.side != kOtherFirst) {
    return resolve_region(plan_, where, r);
  }
  // Every changed side, the last one first.
  std::vector<std::size_t> chosen;
  for (std::size_t s = first_changed_side(); s < where.sides.size(); ++s) {
    if (where.changed_by[s]) chosen.push_back(s);
  }
  std::reverse(chosen.begin(), chosen.end());
  std::vector<Line> out;
  for (std::size_t k = 0; k < chosen.size(); ++k) {
    const std::vector<Line>& part = where.sides[chosen[k]];
    for (std::size_t i = 0; i < part.size(); ++i) {
      out.push_back(part[i]);
      if (i + 1 == part.size() && k + 1 < chosen.size() && out.back().eol.empty())
        out.back().eol = plan_.line_end;
    }
  }
  return out;
}

std::optional<std::vector<Line>> MergeSession::region_lines(std::size_t region) const {
  const Region& r = plan_.regions.at(region);
  if (r.kind == RegionKind::conflict)
    return resolved(region, resolutions_[conflict_of_region(region)]);
  if (clean_change_rejected(region)) return r.sides[0];
  if (clean_[region].kind == Resolution::Kind::edited) return clean_[region].lines;
  return r.result;
}

ShownRegion MergeSession::shown_region(std::size_t region) const {
  ShownRegion shown;
  shown.region = region;
  shown.lines = region_lines(region);
  const std::vector<Line>* lines = shown.lines ? &*shown.lines : nullptr;
  if (const Suggestion* suggestion = lines ? nullptr : suggestion_shown(region)) {
    lines = &suggestion->lines;
  }
  if (lines != nullptr) {
    for (const Line& line : *lines) shown.rows.push_back(line.text.str());
  }
  // An open conflict (or a suggestion of no lines) keeps one empty row,
  // which the user may type into.
  if (!shown.lines && shown.rows.empty()) shown.rows.emplace_back();
  return shown;
}

std::optional<std::vector<Line>> MergeSession::merged() const {
  std::vector<Line> out;
  for (std::size_t r = 0; r < plan_.regions.size(); ++r) {
    const std::optional<std::vector<Line>> lines = region_lines(r);
    if (!lines) return std::nullopt;
    out.insert(out.end(), lines->begin(), lines->end());
  }
  return out;
}

std::vector<Line> MergeSession::merged_with_markers(const std::vector<std::string>& labels,
                                                    std::size_t* open) const {
  return lines_with_conflict_markers(
      plan_, labels, [this](std::size_t r) { return region_lines(r); }, open);
}

// ---------------------------------------------------------------------------
// Typing over the whole result.

std::size_t MergeSession::type_rows(std::size_t first, std::size_t last,
                                    const std::vector<std::string>& after) {
  if (first > last || last >= plan_.regions.size()) return kNone;
  std::vector<ShownRegion> before;
  for (std::size_t r = first; r <= last; ++r) before.push_back(shown_region(r));
  std::optional<TypedRegions> typed = typed_rows_to_regions(plan_, before, after);
  if (!typed) return kNone;
  std::vector<Settle> changes;
  for (auto& [region, lines] : typed->changes) {
    changes.push_back(
        Settle{region, Resolution{Resolution::Kind::edited, 0, std::move(lines)}, {}, {}});
  }
  settle(std::move(changes), true, true);
  if (is_conflict(typed->target)) set_current(conflict_of_region(typed->target));
  return typed->target;
}

support::Status MergeSession::put_on_conflict(std::size_t region, std::vector<Line> lines) {
  if (!is_conflict(region)) return refused("that part of the result is no conflict", EINVAL);
  settle({Settle{region, Resolution{Resolution::Kind::edited, 0, std::move(lines)}, {}, {}}}, true,
         true);
  set_current(conflict_of_region(region));
  return {};
}

// ---------------------------------------------------------------------------
// Notifications.

void MergeSession::notify_regions(const std::vector<std::size_t>& regions) {
  if (observer_ != nullptr) observer_->regions_changed(regions);
}

void MergeSession::notify_current() {
  if (observer_ != nullptr) observer_->current_changed(current_);
}

void MergeSession::notify_history() {
  if (observer_ != nullptr) observer_->history_changed();
}

}  // namespace marlow
