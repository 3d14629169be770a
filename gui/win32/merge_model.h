// The merge as the Windows merge window shows it: a view over the engine's
// MergeSession (which holds the plan, the settlements, the clean-change
// choices and the one history of takes, blocks and typing) that lays the
// whole result out as rows (an unsettled conflict is one empty row: the
// session's suggestions are not shown in this window), knows
// the region of every row, and turns what the user typed into the rows back
// into the regions it touched.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "engine/diff.h"
#include "engine/merge_session.h"

namespace marlow::win32 {

// How a region of the result looks.
enum class RegionLook {
  common,      // no one changed it
  changed,     // a clean change, merged as it is
  unresolved,  // a conflict still to settle: one empty row
  taken,       // a conflict settled by the user
  automatic,   // a conflict the engine settled
  edited,      // lines typed by hand
};

class MergeModel {
 public:
  explicit MergeModel(const std::vector<std::vector<Line>>& contributors);

  MergeSession& session() { return session_; }
  const MergeSession& session() const { return session_; }
  const MergePlan& plan() const { return session_.plan(); }
  std::size_t conflict_count() const { return session_.conflict_count(); }
  std::size_t unresolved_count() const { return session_.unresolved_count(); }
  std::size_t conflict_region(std::size_t conflict) const {
    return session_.region_of_conflict(conflict);
  }
  const Resolution& resolution(std::size_t conflict) const { return session_.resolution(conflict); }
  RegionLook look(std::size_t region) const;

  // The merged result, row by row, and the region each row belongs to.
  const std::vector<Line>& rows() const { return rows_; }
  const std::vector<std::size_t>& row_regions() const { return row_regions_; }
  // The first row of a region (where it would be when it has none).
  std::size_t first_row(std::size_t region) const { return first_rows_[region]; }
  std::size_t row_count(std::size_t region) const {
    return first_rows_[region + 1] - first_rows_[region];
  }

  // Steps of the session's history; each lays the rows out again.
  void take(std::size_t conflict, std::size_t side);
  void take_all(std::size_t conflict);
  // The first block of the conflict not yet chosen takes `side`.
  void take_block(std::size_t conflict, std::size_t side);
  // Every conflict still unsettled takes `side`, as one step.
  void take_remaining(std::size_t side);
  void unresolve(std::size_t conflict);
  // The user typed: `typed` is the whole result, row by row, as it now
  // stands. The regions whose rows changed get them as lines typed by hand
  // (the session's rule); afterwards rows() holds the typed rows.
  void typed(const std::vector<std::string>& typed);

  bool can_undo() const { return session_.can_undo(); }
  bool can_redo() const { return session_.can_redo(); }
  bool undo();
  bool redo();

  // The merged lines; nullopt while a conflict is unsettled.
  std::optional<std::vector<Line>> merged() const { return session_.merged(); }

 private:
  void rebuild_rows();

  MergeSession session_;
  std::vector<Line> rows_;
  std::vector<std::size_t> row_regions_;
  std::vector<std::size_t> first_rows_;
};

}  // namespace marlow::win32
