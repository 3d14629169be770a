// One merge as a user works through it, without any toolkit: the plan, the
// current conflict, each conflict's settlement (a side, every changed side,
// blocks or lines picked one by one, edited by hand, settled by the engine),
// the choices on clean changes, one undo history for all of them, and the
// merged text. Front ends are views: they pass rows of text in and hear of
// changes through a MergeSessionObserver.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "engine/diff.h"
#include "engine/ignore_options.h"
#include "engine/suggestion_picks.h"
#include "support/status.h"

namespace marlow {

// What a session tells its view. Every call comes after the session's state
// has changed, from inside the call that changed it.
class MergeSessionObserver {
 public:
  virtual ~MergeSessionObserver() = default;
  // The lines (or the suggestion) these regions show changed, in order.
  virtual void regions_changed(const std::vector<std::size_t>& regions) = 0;
  // Another conflict became the current one.
  virtual void current_changed(std::size_t conflict) = 0;
  // A step was recorded, taken back or done again.
  virtual void history_changed() = 0;
};

// A line of a conflict's side that the user picked: side `side`, line `line`
// counted from the conflict's first line on that side.
struct LinePick {
  std::size_t side = 0;
  std::size_t line = 0;
  bool operator==(const LinePick&) const = default;
  // Picks read down the conflict's rows, the sides in their order on a row.
  bool operator<(const LinePick& other) const {
    return line != other.line ? line < other.line : side < other.side;
  }
};

// A region's rows as a front end shows them, for working out what typing
// changed: its lines, or (an open conflict) rows that stand for no lines.
struct ShownRegion {
  std::size_t region = 0;
  std::vector<std::string> rows;
  // The lines the rows show; nullopt for an open conflict's rows.
  std::optional<std::vector<Line>> lines;
};

// What typing over the rows of some regions gives each region it touched.
struct TypedRegions {
  // The regions whose lines changed, each with the lines it has now.
  std::vector<std::pair<std::size_t, std::vector<Line>>> changes;
  // The region that holds the rows typed (where the change starts).
  std::size_t target = 0;
};

// Typed rows to regions: `before` are the consecutive regions whose rows an
// edit touched (rows as shown), `after` the rows that stand in their place
// now. Rows equal at either end stay with their regions; the rows between
// go to the region where the change starts, as lines typed by hand; every
// region that lost or gained a row is changed. nullopt when no row changed.
std::optional<TypedRegions> typed_rows_to_regions(const MergePlan& plan,
                                                  const std::vector<ShownRegion>& before,
                                                  const std::vector<std::string>& after);

// Typed rows as a region's lines: each gets the plan's line end, except that
// the text's last line ends as the last region's own lines end.
std::vector<Line> lines_from_rows(const MergePlan& plan, const std::vector<std::string>& rows,
                                  std::size_t region);

// The line ends a saved result is given: each line's own, or one for all.
enum class SavedLineEnds { as_merged, lf, crlf, cr };
// Every line that ends in a line end gets the chosen one; a last line
// without one stays without.
std::vector<Line> with_line_ends(std::vector<Line> lines, SavedLineEnds ends);

class MergeSession {
 public:
  static constexpr std::size_t kNone = static_cast<std::size_t>(-1);

  // The contributors' lines, the base first when there are three or more.
  MergeSession(std::vector<std::vector<Line>> texts, IgnoreOptions ignoring);
  MergeSession(const MergeSession&) = delete;
  MergeSession& operator=(const MergeSession&) = delete;

  // nullptr for none. The observer must outlive the session or be removed.
  void set_observer(MergeSessionObserver* observer) { observer_ = observer; }

  // Plans the merge again ignoring other things; every choice is dropped.
  // No notification: the view builds itself again.
  void replan(IgnoreOptions ignoring);
  IgnoreOptions ignoring() const { return ignoring_; }

  // The contributors' lines as given.
  const std::vector<std::vector<Line>>& texts() const { return texts_; }
  const MergePlan& plan() const { return plan_; }
  std::size_t region_count() const { return plan_.regions.size(); }
  std::size_t side_count() const { return texts_.size(); }
  // The first of the two sides a conflict's blocks and lines come from.
  std::size_t first_changed_side() const { return plan_.has_base ? 1 : 0; }
  std::size_t conflict_count() const { return conflict_regions_.size(); }
  std::size_t region_of_conflict(std::size_t conflict) const {
    return conflict_regions_.at(conflict);
  }
  // The conflict a conflict region is, counted from 0.
  std::size_t conflict_of_region(std::size_t region) const;
  bool is_conflict(std::size_t region) const;
  bool is_clean_change(std::size_t region) const;

  std::size_t current() const { return current_; }
  // false (nothing changes) for no such conflict.
  bool set_current(std::size_t conflict);
  const Resolution& resolution(std::size_t conflict) const { return resolutions_.at(conflict); }
  std::size_t unresolved_count() const;
  std::size_t automatic_count() const;
  bool settled_automatically(std::size_t conflict) const;
  // The nearest unsettled conflict after (or before) the current one, round
  // the end; kNone when none is left.
  std::size_t next_unresolved(bool forward) const;
  // Whether a settled conflict's result comes from that side (an unsettled,
  // typed or engine-settled one: from every side).
  bool side_taken(std::size_t conflict, std::size_t side) const;

  // Settling the current conflict, each one step of the history. Fails
  // (EINVAL) without conflicts or for no such side.
  support::Status take(std::size_t side);
  // Every changed side's lines in order; `other_first` puts the changed
  // sides in the opposite order.
  support::Status take_all(bool other_first = false);
  support::Status unresolve();
  // The current conflict back to unsettled when the engine settled it.
  support::Status undo_automatic();
  // Lines typed for the current conflict; a run of typing is one step.
  support::Status edit_current(std::vector<Line> lines);
  // Every conflict still unsettled takes `side`, as one step.
  support::Status take_remaining(std::size_t side);
  // Whether, after a take, the current conflict moves on to the next one
  // still unsettled (when there is one).
  void set_advance_after_take(bool on) { advance_after_take_ = on; }
  bool advance_after_take() const { return advance_after_take_; }

  // Lines picked one by one from any contributor of the current conflict
  // (the base too): the picks are added to those made before (or, `picked`
  // false, taken away) and the conflict holds the picked lines in their
  // order down its rows, as one step. Picks made before a later take or
  // edit of the conflict are dropped first. EINVAL for no such side or a
  // line it does not have in the conflict.
  support::Status pick_lines(std::size_t side, std::size_t first, std::size_t count,
                             bool picked = true);
  // The picks the conflict's lines are made of now (none once it was
  // settled otherwise since).
  std::vector<LinePick> line_picks(std::size_t conflict) const;
  // Per line of a side of a conflict: 1 picked, 0 not; empty without picks.
  std::vector<int> picked_lines(std::size_t conflict, std::size_t side) const;

  // Blocks: the runs of lines in which the two changed sides of a conflict
  // differ. A block takes one side's lines; the conflict stays unsettled
  // until every block is chosen, then holds the lines they make.
  std::size_t block_count(std::size_t conflict) const;
  std::size_t blocks_chosen(std::size_t conflict) const;
  // E2BIG when the conflict has too many blocks to choose one by one.
  support::Status take_block(std::size_t block, std::size_t side);
  // The block holding line `line` of `side` (one of the changed sides) of a
  // conflict (the last block for a line past them); kNone for none.
  std::size_t block_at_line(std::size_t conflict, std::size_t side, std::size_t line) const;
  // The first block of a conflict not chosen yet (the last when all are).
  std::size_t first_open_block(std::size_t conflict) const;
  // Per line of a changed side: 1 in a block taken from that side, 0 in
  // one taken from the other, -1 elsewhere; empty when no block is chosen.
  std::vector<int> block_lines_taken(std::size_t conflict, std::size_t side) const;

  // Clean changes (regions only some contributors changed): kept as
  // merged, rejected (the base's lines), or edited by hand.
  bool clean_change_kept(std::size_t region) const;
  bool clean_change_rejected(std::size_t region) const;
  // Edited by hand: a clean change or a common region typed over.
  bool region_edited(std::size_t region) const;
  // Rejects a kept clean change; accepts a rejected or edited one again.
  support::Status toggle_clean_change(std::size_t region);
  // Lines typed for a clean change (or any region but a conflict).
  support::Status edit_region(std::size_t region, std::vector<Line> lines, bool typing = true);
  // The next (or previous) clean change after region `from`, round the
  // end; kNone for none.
  std::size_t next_clean_change(std::size_t from, bool forward) const;
  bool any_clean_change() const;

  // Suggestions: an unsettled conflict shows its current one until the
  // user accepts it, cycles on, or types over it.
  const SuggestionPicks& suggestion_picks() const { return picks_; }
  const Suggestion* suggestion_shown(std::size_t region) const;
  // ENOENT when the current conflict shows none.
  support::Status accept_suggestion();
  // ENOENT with none shown or accepted, EALREADY with only one.
  support::Status cycle_suggestion(int step);
  // Typing starts on a conflict's suggestion: it gives way to an empty row
  // until the user settles the conflict or goes on to another one.
  void type_over_suggestion(std::size_t conflict);
  std::size_t typing_over() const { return typing_over_; }
  // A suggestion that gave way comes back once the current conflict is
  // another and nothing was typed; returns the region to show again.
  std::size_t restore_typed_over();

  // The lines a region has now; nullopt for an open conflict.
  std::optional<std::vector<Line>> region_lines(std::size_t region) const;
  // The rows a view shows for a region: its lines, a suggestion's, or one
  // empty row for an open conflict.
  ShownRegion shown_region(std::size_t region) const;
  // The merged text; nullopt while a conflict is open.
  std::optional<std::vector<Line>> merged() const;
  // The merge with every open conflict between conflict markers.
  std::vector<Line> merged_with_markers(const std::vector<std::string>& labels,
                                        std::size_t* open = nullptr) const;
  std::vector<Line> lines_from_rows(const std::vector<std::string>& rows,
                                    std::size_t region) const {
    return marlow::lines_from_rows(plan_, rows, region);
  }

  // Typing in a view of the whole result: `after` are the rows now standing
  // where regions [first, last]'s rows stood. Each region touched gets the
  // rows it has now as lines typed by hand (one step; runs join); the view
  // already shows them, so no region is reported. Returns the region that
  // took the typed rows, kNone when no row changed.
  std::size_t type_rows(std::size_t first, std::size_t last, const std::vector<std::string>& after);
  // Text put on an open conflict's rows: the conflict holds those lines.
  support::Status put_on_conflict(std::size_t region, std::vector<Line> lines);

  // The history: takes, blocks, picks, typing, unsettling, suggestions and
  // clean-change choices. Undo and redo return the first region the step
  // changed (the conflict it changed becomes current), kNone when there is
  // nothing to take back or do again.
  std::size_t undo();
  std::size_t redo();
  bool can_undo() const { return done_ > 0; }
  bool can_redo() const { return done_ < history_.size(); }
  // Choices were made since the session began or was last saved.
  bool has_unsaved_choices() const;
  bool changed_since_save() const { return unsaved_; }
  void mark_saved() { unsaved_ = false; }

 private:
  struct Change {
    std::size_t region = 0;
    Resolution before;
    Resolution after;
    SuggestionPick pick_before;
    SuggestionPick pick_after;
    std::vector<LinePick> lines_before;
    std::vector<LinePick> lines_after;
  };
  struct Step {
    std::vector<Change> changes;
    bool typing = false;
  };
  struct Settle {
    std::size_t region = 0;
    Resolution resolution;
    std::optional<SuggestionPick> pick;          // by default the one shown, unaccepted
    std::optional<std::vector<LinePick>> lines;  // by default none
  };

  void make_plan();
  std::vector<Line> lines_of_picks(std::size_t conflict, const std::vector<LinePick>& picks) const;
  Resolution& choice(std::size_t region);
  std::vector<Block> conflict_alignment(std::size_t conflict) const;
  std::optional<std::vector<Line>> resolved(std::size_t region, const Resolution& r) const;
  // Records the settlements as one step and applies them; `shown`: the
  // view already shows them (typed there), so none is reported.
  void settle(std::vector<Settle> changes, bool typing, bool shown = false);
  support::Status settle_current(Resolution resolution, bool typing = false);
  void apply(const Change& change, bool back, bool shown);
  std::size_t step(bool back);
  void advance();
  void notify_regions(const std::vector<std::size_t>& regions);
  void notify_current();
  void notify_history();

  std::vector<std::vector<Line>> texts_;
  IgnoreOptions ignoring_;
  MergePlan plan_;
  std::vector<std::size_t> conflict_regions_;
  std::vector<Resolution> resolutions_;
  std::vector<std::vector<LinePick>> line_picks_;  // per conflict
  SuggestionPicks picks_;
  std::size_t typing_over_ = kNone;
  std::vector<Resolution> clean_;  // per region: `take` of the base when rejected
  std::size_t current_ = 0;
  std::vector<Step> history_;
  std::size_t done_ = 0;
  bool unsaved_ = false;
  bool advance_after_take_ = false;
  MergeSessionObserver* observer_ = nullptr;
};

}  // namespace marlow
