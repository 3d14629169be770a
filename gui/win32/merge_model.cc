#include "win32/merge_model.h"

#include <algorithm>

namespace marlow::win32 {
namespace {
constexpr std::size_t kNone = static_cast<std::size_t>(-1);
}  // namespace

MergeModel::MergeModel(const std::vector<std::vector<Line>>& contributors)
    : plan_(plan_merge(contributors)) {
  conflict_of_region_.assign(plan_.regions.size(), kNone);
  for (std::size_t r = 0; r < plan_.regions.size(); ++r) {
    if (plan_.regions[r].kind != RegionKind::conflict) continue;
    conflict_of_region_[r] = conflict_regions_.size();
    conflict_regions_.push_back(r);
  }
  state_.resolutions = automatic_resolutions(plan_);
  state_.typed.assign(plan_.regions.size(), std::nullopt);
  push_step(false, 0);
}

std::size_t MergeModel::unresolved_count() const {
  return static_cast<std::size_t>(
      std::count_if(state_.resolutions.begin(), state_.resolutions.end(),
                    [](const Resolution& r) { return r.kind == Resolution::Kind::unresolved; }));
}

RegionLook MergeModel::look(std::size_t region) const {
  if (state_.typed[region]) return RegionLook::edited;
  const Region& r = plan_.regions[region];
  if (r.kind == RegionKind::common) return RegionLook::common;
  if (r.kind == RegionKind::changed) return RegionLook::changed;
  switch (state_.resolutions[conflict_of_region_[region]].kind) {
    case Resolution::Kind::unresolved:
      return RegionLook::unresolved;
    case Resolution::Kind::automatic:
      return RegionLook::automatic;
    case Resolution::Kind::edited:
      return RegionLook::edited;
    case Resolution::Kind::take:
    case Resolution::Kind::take_all:
      return RegionLook::taken;
  }
  return RegionLook::taken;
}

std::vector<Line> MergeModel::region_lines(std::size_t region, bool* placeholder) const {
  *placeholder = false;
  if (state_.typed[region]) return *state_.typed[region];
  const Region& r = plan_.regions[region];
  if (r.kind != RegionKind::conflict) return r.result;
  std::optional<std::vector<Line>> lines =
      resolve_region(plan_, r, state_.resolutions[conflict_of_region_[region]]);
  if (lines) return *lines;
  *placeholder = true;
  return {Line{LineText(), LineEnd(plan_.line_end)}};
}

void MergeModel::rebuild_rows() {
  rows_.clear();
  row_regions_.clear();
  first_rows_.assign(plan_.regions.size() + 1, 0);
  for (std::size_t r = 0; r < plan_.regions.size(); ++r) {
    first_rows_[r] = rows_.size();
    bool placeholder = false;
    for (Line& line : region_lines(r, &placeholder)) {
      rows_.push_back(std::move(line));
      row_regions_.push_back(r);
    }
  }
  first_rows_[plan_.regions.size()] = rows_.size();
}

void MergeModel::push_step(bool typing, std::size_t typed_region) {
  if (typing && last_was_typing_ && typed_region == last_typed_region_ && done_ > 1 &&
      done_ == history_.size()) {
    history_[done_ - 1] = state_;  // the same run of typing: one step
  } else {
    history_.resize(done_);
    history_.push_back(state_);
    ++done_;
  }
  last_was_typing_ = typing;
  last_typed_region_ = typed_region;
  rebuild_rows();
}

void MergeModel::take(std::size_t conflict, std::size_t side) {
  if (conflict >= conflict_count() ||
      side >= plan_.regions[conflict_regions_[conflict]].sides.size())
    return;
  state_.typed[conflict_regions_[conflict]].reset();
  state_.resolutions[conflict] = Resolution{Resolution::Kind::take, side, {}};
  push_step(false, 0);
}

void MergeModel::take_all(std::size_t conflict) {
  if (conflict >= conflict_count()) return;
  state_.typed[conflict_regions_[conflict]].reset();
  state_.resolutions[conflict] = Resolution{Resolution::Kind::take_all, 0, {}};
  push_step(false, 0);
}

void MergeModel::take_remaining(std::size_t side) {
  bool any = false;
  for (std::size_t c = 0; c < conflict_count(); ++c) {
    if (state_.resolutions[c].kind != Resolution::Kind::unresolved) continue;
    if (side >= plan_.regions[conflict_regions_[c]].sides.size()) continue;
    state_.resolutions[c] = Resolution{Resolution::Kind::take, side, {}};
    any = true;
  }
  if (any) push_step(false, 0);
}

void MergeModel::unresolve(std::size_t conflict) {
  if (conflict >= conflict_count()) return;
  state_.typed[conflict_regions_[conflict]].reset();
  state_.resolutions[conflict] = Resolution{};
  push_step(false, 0);
}

void MergeModel::typed(const std::vector<std::string>& typed) {
  const std::size_t old_n = rows_.size();
  const std::size_t new_n = typed.size();
  std::size_t p = 0;
  while (p < old_n && p < new_n && rows_[p].text.view() == typed[p]) ++p;
  std::size_t s = 0;
  while (s < old_n - p && s < new_n - p &&
         rows_[old_n - 1 - s].text.view() == typed[new_n - 1 - s]) {
    ++s;
  }
  if (p == old_n && p == new_n) return;  // nothing changed
  // The region the typing happened in: that of the first changed row (or
  // of the last row when rows were added at the very end).
  std::size_t home = 0;
  if (old_n != 0)
    home = row_regions_[std::min(p, old_n - 1)];
  else if (!plan_.regions.empty())
    home = 0;
  if (plan_.regions.empty()) return;
  const std::size_t span_end = old_n - s;  // old rows [p, span_end) were replaced
  const LineEnd line_end(plan_.line_end);
  const bool last_had_no_end = old_n != 0 && rows_.back().eol.empty();

  std::vector<Line> fresh;
  for (std::size_t i = p; i < new_n - s; ++i) {
    fresh.push_back(Line{LineText(typed[i]), line_end});
  }
  for (std::size_t r = 0; r < plan_.regions.size(); ++r) {
    const std::size_t a = first_rows_[r];
    const std::size_t b = first_rows_[r + 1];
    const bool touched = r == home || (a < span_end && b > p);
    if (!touched) continue;
    std::vector<Line> lines;
    for (std::size_t i = a; i < std::min(b, p); ++i) lines.push_back(rows_[i]);
    if (r == home) lines.insert(lines.end(), fresh.begin(), fresh.end());
    for (std::size_t i = std::max(a, span_end); i < b; ++i) lines.push_back(rows_[i]);
    const std::size_t conflict = conflict_of_region_[r];
    if (conflict != kNone) {
      state_.typed[r].reset();
      state_.resolutions[conflict] = Resolution{Resolution::Kind::edited, 0, std::move(lines)};
    } else {
      state_.typed[r] = std::move(lines);
    }
  }
  // The text's last row keeps its lack of a line end.
  if (last_had_no_end && s == 0 && new_n != 0) {
    for (std::size_t r = plan_.regions.size(); r-- > 0;) {
      std::vector<Line>* lines = nullptr;
      const std::size_t conflict = conflict_of_region_[r];
      if (state_.typed[r])
        lines = &*state_.typed[r];
      else if (conflict != kNone && state_.resolutions[conflict].kind == Resolution::Kind::edited)
        lines = &state_.resolutions[conflict].lines;
      if (lines != nullptr && !lines->empty()) {
        lines->back().eol.clear();
        break;
      }
      bool placeholder = false;
      if (!region_lines(r, &placeholder).empty()) break;
    }
  }
  push_step(true, home);
}

bool MergeModel::undo() {
  if (!can_undo()) return false;
  --done_;
  state_ = history_[done_ - 1];
  last_was_typing_ = false;
  rebuild_rows();
  return true;
}

bool MergeModel::redo() {
  if (!can_redo()) return false;
  state_ = history_[done_];
  ++done_;
  last_was_typing_ = false;
  rebuild_rows();
  return true;
}

std::optional<std::vector<Line>> MergeModel::merged() const {
  if (unresolved_count() != 0) return std::nullopt;
  return rows_;
}

}  // namespace marlow::win32
