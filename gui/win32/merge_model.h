// The state of a merge as the Windows merge window edits it, without any
// window: the plan's regions, how each conflict is settled, lines typed by
// hand into any region, the merged result as rows (an unsettled conflict is
// one empty row), and one history of takes and typing for undo and redo.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "engine/diff.h"

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

  const MergePlan& plan() const { return plan_; }
  std::size_t conflict_count() const { return conflict_regions_.size(); }
  std::size_t unresolved_count() const;
  std::size_t conflict_region(std::size_t conflict) const { return conflict_regions_[conflict]; }
  const Resolution& resolution(std::size_t conflict) const { return state_.resolutions[conflict]; }
  RegionLook look(std::size_t region) const;

  // The merged result, row by row, and the region each row belongs to.
  const std::vector<Line>& rows() const { return rows_; }
  const std::vector<std::size_t>& row_regions() const { return row_regions_; }
  // The first row of a region (where it would be when it has none).
  std::size_t first_row(std::size_t region) const { return first_rows_[region]; }
  std::size_t row_count(std::size_t region) const {
    return first_rows_[region + 1] - first_rows_[region];
  }

  // Steps, each one of the history.
  void take(std::size_t conflict, std::size_t side);
  void take_all(std::size_t conflict);
  // Every conflict still unsettled takes `side`, as one step.
  void take_remaining(std::size_t side);
  void unresolve(std::size_t conflict);
  // The user typed: `typed` is the whole result, row by row, as it now
  // stands. The rows that changed go to the regions they were typed in (rows
  // joined over several regions go to the first of them); a conflict among
  // them counts as settled by hand with its lines. Afterwards rows() holds
  // the typed rows. Typing that goes on in the same region is one step.
  void typed(const std::vector<std::string>& typed);

  bool can_undo() const { return done_ > 1; }
  bool can_redo() const { return done_ < history_.size(); }
  bool undo();
  bool redo();

  // The merged lines; nullopt while a conflict is unsettled.
  std::optional<std::vector<Line>> merged() const;

 private:
  struct State {
    std::vector<Resolution> resolutions;                  // per conflict
    std::vector<std::optional<std::vector<Line>>> typed;  // per region: lines typed by hand
  };
  std::vector<Line> region_lines(std::size_t region, bool* placeholder) const;
  void rebuild_rows();
  void push_step(bool typing, std::size_t typed_region);

  MergePlan plan_;
  std::vector<std::size_t> conflict_regions_;
  std::vector<std::size_t> conflict_of_region_;  // region -> conflict, or npos
  State state_;
  std::vector<State> history_;  // history_[done_ - 1] is state_
  std::size_t done_ = 0;
  bool last_was_typing_ = false;
  std::size_t last_typed_region_ = 0;
  std::vector<Line> rows_;
  std::vector<std::size_t> row_regions_;
  std::vector<std::size_t> first_rows_;
};

}  // namespace marlow::win32
