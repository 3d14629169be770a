#include "win32/merge_model.h"

#include <algorithm>

namespace marlow::win32 {

MergeModel::MergeModel(const std::vector<std::vector<Line>>& contributors)
    : session_(contributors, IgnoreOptions{}) {
  rebuild_rows();
}

RegionLook MergeModel::look(std::size_t region) const {
  if (session_.is_conflict(region)) {
    const std::size_t conflict = session_.conflict_of_region(region);
    switch (session_.resolution(conflict).kind) {
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
  }
  if (session_.region_edited(region)) return RegionLook::edited;
  if (session_.is_clean_change(region) && !session_.clean_change_rejected(region)) {
    return RegionLook::changed;
  }
  return RegionLook::common;
}

void MergeModel::rebuild_rows() {
  const std::size_t regions = session_.region_count();
  const LineEnd line_end(plan().line_end);
  rows_.clear();
  row_regions_.clear();
  first_rows_.assign(regions + 1, 0);
  for (std::size_t r = 0; r < regions; ++r) {
    first_rows_[r] = rows_.size();
    // An open conflict is one empty row, which the user may type into
    // (typed rows replace whatever the session would show there).
    std::optional<std::vector<Line>> lines = session_.region_lines(r);
    if (lines) {
      for (Line& line : *lines) rows_.push_back(std::move(line));
    } else {
      rows_.push_back(Line{LineText(), line_end});
    }
    row_regions_.resize(rows_.size(), r);
  }
  first_rows_[regions] = rows_.size();
}

void MergeModel::take(std::size_t conflict, std::size_t side) {
  if (!session_.set_current(conflict)) return;
  if (session_.take(side)) rebuild_rows();
}

void MergeModel::take_all(std::size_t conflict) {
  if (!session_.set_current(conflict)) return;
  if (session_.take_all()) rebuild_rows();
}

void MergeModel::take_block(std::size_t conflict, std::size_t side) {
  if (!session_.set_current(conflict)) return;
  const std::size_t block = session_.first_open_block(conflict);
  if (block == MergeSession::kNone) return;
  if (session_.take_block(block, side)) rebuild_rows();
}

void MergeModel::take_remaining(std::size_t side) {
  if (session_.take_remaining(side)) rebuild_rows();
}

void MergeModel::unresolve(std::size_t conflict) {
  if (!session_.set_current(conflict)) return;
  if (session_.unresolve()) rebuild_rows();
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
  if ((p == old_n && p == new_n) || session_.region_count() == 0) return;
  // The regions whose rows the change touched: from the one of its first
  // row to the one of its last (the one before when rows were only added).
  const auto region_of = [&](std::size_t row) {
    return old_n == 0 ? std::size_t{0} : row_regions_[std::min(row, old_n - 1)];
  };
  const std::size_t first = region_of(p);
  const std::size_t last = old_n - s > p ? region_of(old_n - s - 1) : first;
  // The rows now standing where those regions' rows stood.
  const std::size_t from = first_rows_[first];
  const std::size_t kept_after = old_n - first_rows_[last + 1];
  const std::vector<std::string> after(typed.begin() + static_cast<std::ptrdiff_t>(from),
                                       typed.end() - static_cast<std::ptrdiff_t>(kept_after));
  session_.type_rows(first, last, after);
  rebuild_rows();
}

bool MergeModel::undo() {
  if (session_.undo() == MergeSession::kNone) return false;
  rebuild_rows();
  return true;
}

bool MergeModel::redo() {
  if (session_.redo() == MergeSession::kNone) return false;
  rebuild_rows();
  return true;
}

}  // namespace marlow::win32
