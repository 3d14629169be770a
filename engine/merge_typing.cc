// Typing over the merged result: which regions the typed rows belong to.
#include <algorithm>

#include "engine/merge_session.h"

namespace marlow {

std::vector<Line> lines_from_rows(const MergePlan& plan, const std::vector<std::string>& rows,
                                  std::size_t region) {
  std::vector<Line> lines;
  lines.reserve(rows.size());
  for (const std::string& row : rows) lines.push_back(Line{row, plan.line_end});
  // The text's last line ends as the last region's own lines end, so that
  // a hand edit keeps (or leaves out) the final line end.
  if (lines.empty() || region + 1 != plan.regions.size()) return lines;
  const Region& last = plan.regions[region];
  const bool sides_end_lines = std::any_of(
      last.sides.begin(), last.sides.end(),
      [](const std::vector<Line>& side) { return !side.empty() && !side.back().eol.empty(); });
  if (!sides_end_lines) lines.back().eol.clear();
  return lines;
}

std::optional<TypedRegions> typed_rows_to_regions(const MergePlan& plan,
                                                  const std::vector<ShownRegion>& before,
                                                  const std::vector<std::string>& after) {
  if (before.empty()) return std::nullopt;
  // The old rows of the regions touched, each with its region and line.
  std::vector<const std::string*> old_rows;
  std::vector<std::size_t> owner;
  std::vector<const Line*> old_lines;
  for (const ShownRegion& shown : before) {
    for (std::size_t i = 0; i < shown.rows.size(); ++i) {
      old_rows.push_back(&shown.rows[i]);
      owner.push_back(shown.region);
      old_lines.push_back(shown.lines && i < shown.lines->size() ? &(*shown.lines)[i] : nullptr);
    }
  }
  const std::size_t r1 = before.front().region;
  const std::size_t r2 = before.back().region;
  // Rows the same before and after at either end stay with their regions;
  // the rows between go to the region where the change starts.
  const std::size_t n_old = old_rows.size();
  const std::size_t n_new = after.size();
  std::size_t head = 0;
  while (head < n_old && head < n_new && *old_rows[head] == after[head]) ++head;
  std::size_t tail = 0;
  while (tail < n_old - head && tail < n_new - head &&
         *old_rows[n_old - 1 - tail] == after[n_new - 1 - tail]) {
    ++tail;
  }
  if (head == n_old && head == n_new) return std::nullopt;  // no row changed
  TypedRegions typed;
  typed.target = r1;
  if (head < n_old - tail) {
    typed.target = owner[head];
  } else if (head > 0 && owner[head - 1] != r1 && head < n_old) {
    typed.target = owner[head];  // rows put in before a region's first row
  } else if (head > 0) {
    typed.target = owner[head - 1];
  }
  const std::size_t target = typed.target;
  std::vector<std::vector<Line>> lines(r2 - r1 + 1);
  std::vector<bool> changed(r2 - r1 + 1, false);
  const auto keep = [&](std::size_t i) {
    lines[owner[i] - r1].push_back(old_lines[i] != nullptr ? *old_lines[i]
                                                           : Line{*old_rows[i], plan.line_end});
  };
  for (std::size_t i = 0; i < head; ++i) keep(i);
  const std::vector<std::string> rows(after.begin() + static_cast<std::ptrdiff_t>(head),
                                      after.end() - static_cast<std::ptrdiff_t>(tail));
  const std::vector<Line> typed_lines = lines_from_rows(plan, rows, target);
  lines[target - r1].insert(lines[target - r1].end(), typed_lines.begin(), typed_lines.end());
  changed[target - r1] = true;
  for (std::size_t i = head; i < n_old - tail; ++i) changed[owner[i] - r1] = true;
  for (std::size_t i = n_old - tail; i < n_old; ++i) keep(i);
  for (std::size_t r = r1; r <= r2; ++r) {
    if (!changed[r - r1]) continue;
    std::vector<Line>& region = lines[r - r1];
    // Every line but the text's very last ends in a line end.
    const bool text_end = r + 1 == plan.regions.size();
    for (std::size_t i = 0; i < region.size(); ++i) {
      if (region[i].eol.empty() && !(text_end && i + 1 == region.size()))
        region[i].eol = plan.line_end;
    }
    if (text_end && !region.empty())
      region.back().eol = lines_from_rows(plan, {std::string()}, r).back().eol;
    typed.changes.emplace_back(r, std::move(region));
  }
  return typed;
}

}  // namespace marlow
