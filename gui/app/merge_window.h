// The merge window: every contributor's whole text aligned by merge region,
// conflicts settled one by one, the merged result shown as it grows, and
// the result saved in the output's encoding.
#pragma once

#include <QColor>
#include <QPlainTextEdit>
#include <QWidget>
#include <optional>
#include <string>
#include <vector>

#include "app/finish.h"
#include "app/pane_sync.h"
#include "engine/merge_ignoring.h"
#include "engine/suggestion_picks.h"
#include "serve/serve.h"

class QCheckBox;
class QHBoxLayout;
class QLabel;
class QMenu;
class QPushButton;
class QSplitter;

namespace marlow {

class FindBar;
class OverviewStrip;

// The base (when there is one) and the contributors side by side with
// blank filler rows, conflicts and clean changes coloured, the current
// conflict emphasized in every pane; below, the whole merged text, which
// the user may edit anywhere (an unsettled conflict is an empty row with a
// note), and an editor for the current conflict's or clean change's lines.
// Save writes the output once every conflict is settled; the window answers
// 1 when it closes after a save, else 0.
//
// Typing in the result changes the regions whose rows it touches: each such
// region holds the rows it has afterwards, as lines edited by hand. So an
// edit inside an unsettled conflict's row settles that conflict as edited by
// hand (its lines are what was typed), and an edit that joins rows of
// several regions gives the changed rows to the region where they start;
// regions whose rows it removed are left with fewer lines, a conflict among
// them settled as edited by hand. Takes, typing and unsettling share one
// history, so that Ctrl+Z takes back each of them in turn.
class MergeWindow : public QWidget {
  Q_OBJECT
 public:
  MergeWindow(Job job, Finish finish);
  ~MergeWindow() override;

  std::size_t conflict_count() const { return resolutions_.size(); }
  std::size_t current_conflict() const { return current_; }
  std::size_t unresolved_count() const;
  void go_to_conflict(std::size_t index);
  // Settle the current conflict: one contributor's lines (0 is the base when
  // there is one), every changed contributor's lines in order, or lines
  // typed by hand (line feeds separate them).
  void take(std::size_t side);
  void take_all();
  void edit_result(const QString& text);
  // Settles every conflict still unsettled with one contributor's lines,
  // as one step that a single undo takes back.
  void take_remaining(std::size_t side);
  // Puts the current conflict back to unsettled.
  void unresolve();
  // An unsettled conflict shows its current suggestion in the result, in
  // grey italics with a note, and stays unsettled: Save still needs it
  // settled and Save with markers writes markers for it. Accepting settles
  // the current conflict with the suggestion's lines; cycling shows the
  // next (step 1) or previous (-1) one, or, once one is accepted, accepts
  // that instead. Both are steps of the one history. Typing on the rows of
  // a suggestion types into an empty row, as on any unsettled conflict.
  void accept_suggestion();
  void cycle_suggestion(int step);
  bool showing_suggestion(std::size_t conflict) const;
  const SuggestionPicks& suggestion_picks() const { return picks_; }
  // The conflict block under the cursor of the view last used (a run of
  // rows the contributors changed, between rows they agree on): takes one
  // side's lines for that block only, the conflict's other blocks staying
  // as they are (as the base has them, or as taken before).
  // Blocks are the differences between the two changed sides' lines.
  // Until every block of a conflict is chosen it stays unsettled (the
  // choices kept); then it is settled with the lines its blocks make, as a
  // hand edit. A side taken whole counts as chosen for every block.
  void take_block(std::size_t side);
  void take_block_at(std::size_t block, std::size_t side);
  std::size_t block_count(std::size_t conflict) const;
  std::size_t blocks_chosen(std::size_t conflict) const;
  // Goes to the next (or previous) clean change after the one last shown,
  // going round the end; false when there is none.
  bool go_to_clean_change(bool forward);
  // Merges again with whitespace or line ends ignored or not (the window's
  // check boxes, remembered); choices made so far are dropped.
  void set_ignoring(bool whitespace, bool line_ends);
  IgnoreOptions compare_options() const { return ignoring_; }
  // The menu a right click on a view of this window shows.
  QMenu* context_menu_for(QPlainTextEdit* view, int row);
  // For the scripted hook: types text at the end of the current conflict's
  // first row of the merged result, as keys would; shows the result's menu
  // for that row.
  void type_in_result(const QString& text);
  void show_result_menu();
  // Takes back, or does again, the last step: a take, an unsettling, a run
  // of typing in one conflict's editor. What was typed before a take comes
  // back with the undo of the take.
  void undo();
  void redo();
  bool can_undo() const { return done_ > 0; }
  bool can_redo() const { return done_ < history_.size(); }
  // The nearest unsettled conflict after (or before) the current one, going
  // round the end; false when none is left.
  bool go_to_unresolved(bool forward);
  // A clean change (a region only some contributors changed) is accepted
  // as merged, rejected (the result keeps the base's lines there), or
  // edited by hand: a click on it in a pane or the result puts its lines in
  // the editor, and the button or Ctrl+R rejects it or accepts it again.
  std::size_t clean_change_at() const { return clean_at_; }
  bool clean_change_rejected(std::size_t region) const;
  void toggle_clean_change();
  QPushButton* clean_change_button() const { return clean_button_; }
  // Conflicts the merge engine settled open settled, in their own colour,
  // with a note on how and what each side did, until the user changes them.
  bool settled_automatically(std::size_t conflict) const;
  // Puts the current conflict, if the engine settled it, back to unsettled.
  void undo_automatic();
  QLabel* automatic_note_label() const { return automatic_note_; }
  QPushButton* unresolve_button() const { return unresolve_button_; }
  bool save();
  bool saved() const { return saved_; }
  // Saves a merge with conflicts still open: the settled lines, and each
  // open conflict between git's conflict markers. The merge is not finished
  // by it: closing then answers 0, as without a save. Closing with choices
  // unsaved and conflicts open offers it.
  bool save_unfinished();
  bool saved_unfinished() const { return saved_unfinished_; }
  // The merged text once every conflict is settled, else empty.
  QString result_text() const;

  // True when closing would lose choices made since the last save.
  bool has_unsaved_choices() const;
  // Whether closing with unsaved choices asks Save / Discard / Cancel (on by
  // default). Programmatic closes that must never block turn it off, or call
  // close_without_asking(), which closes at once (answering 0 unless saved).
  void set_ask_on_close(bool ask) { ask_on_close_ = ask; }
  bool close_without_asking();

  // The views, for tests and screenshots.
  QPlainTextEdit* pane(std::size_t side) const { return panes_.at(side); }
  QPlainTextEdit* result_view() const { return result_view_; }
  QPlainTextEdit* conflict_editor() const { return editor_; }
  QCheckBox* automatic_merge_box() const { return automatic_box_; }
  QCheckBox* ignore_whitespace_box() const { return whitespace_box_; }
  QCheckBox* ignore_line_ends_box() const { return line_ends_box_; }
  // The first row of a conflict in the panes (all panes align row by row).
  int pane_row_of_conflict(std::size_t conflict) const;
  // The note beside a row of the result view (an unsettled conflict's
  // empty row has one), empty for none.
  QString result_note(int row) const;
  // The first row of a region's rows in the result view.
  int result_row_of_conflict(std::size_t conflict) const;
  // What keeps the panes and the result in step (scrolling, zoom).
  PaneSync* sync() const { return sync_; }
  FindBar* find_bar() const { return find_bar_; }
  OverviewStrip* overview() const { return overview_; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  struct Rows {
    int first = 0;
    int count = 0;
  };
  static constexpr std::size_t kNone = static_cast<std::size_t>(-1);
  // The steps of building the window.
  void plan_regions();
  QHBoxLayout* make_conflict_bar();
  QLabel* make_automatic_note();
  QLabel* make_legend();
  QHBoxLayout* make_output_line();
  void make_pane_area(QSplitter* splitter);
  void make_result_area(QSplitter* splitter);
  QHBoxLayout* make_actions();
  void connect_buttons();
  void add_shortcuts();
  void add_context_menus();
  void disable_conflict_controls();
  void replan();
  bool confirm_replan();
  std::vector<Block> conflict_alignment(std::size_t conflict) const;
  // Per line of a changed side in a conflict whose blocks are chosen one
  // by one: 1 in a block taken from that side, 0 in one taken from the
  // other, -1 elsewhere; empty when no block is chosen.
  std::vector<int> block_lines_taken(std::size_t conflict, std::size_t side) const;
  QString side_name(std::size_t side) const;
  // The document of the result view changed at `position`: by typing, a
  // paste or a cut. Gives each region it touched the rows it now has.
  void result_typed(int position, int removed, int added);
  int region_at_result_row(int row) const;
  std::vector<Line> lines_from_rows(const QStringList& rows, std::size_t region) const;
  // The editor shows the current conflict's (or clean change's) lines again.
  void refill_editor();
  void build_panes();
  // Shows the current conflict's result in the editor, then the views.
  void update_placeholder();
  void refresh(bool scroll_panes, bool scroll_result);
  void update_views(bool scroll_panes, bool scroll_result);
  void colour_panes();
  void update_overview();
  bool side_taken(std::size_t conflict, std::size_t side) const;
  QColor conflict_colour(std::size_t conflict) const;
  QString automatic_note(std::size_t conflict) const;
  // The result view holds every region's rows; settling a conflict replaces
  // only that region's rows, so that big texts stay quick to work on.
  QStringList result_rows_of(std::size_t region) const;
  void build_result_view();
  void replace_result_rows(std::size_t region);
  void decorate_result_view(bool scroll);
  // A click on a conflict's row in a pane or the result makes it current;
  // the clicked view stays still and the others follow.
  void row_clicked(const std::vector<Rows>& rows, int row, bool in_result);
  // Records and applies new resolutions of the given conflicts as one step;
  // `typing` steps on the same conflict join the one before.
  void settle(Resolution resolution, bool typing = false);
  // `shown`: the result view already has the new rows (they were typed there).
  // `picks`: per change, the conflict's suggestion pick after it (by
  // default the same suggestion, not accepted).
  void settle_many(std::vector<std::pair<std::size_t, Resolution>> changes, bool typing,
                   bool shown = false, const std::vector<SuggestionPick>* picks = nullptr);
  void apply(std::size_t region, const Resolution& resolution, bool shown = false,
             const SuggestionPick* pick = nullptr);
  // The suggestion the result shows for a region, nullptr for none.
  const Suggestion* suggestion_shown(std::size_t region) const;
  // Before an edit of the result touching rows [first, last]: a suggestion
  // shown there gives way to an empty row, so that what is typed is all
  // the conflict gets. The cursor stays where it was, or goes to that row.
  void clear_suggestions_for_edit(int first, int last);
  // Cut or paste in the result from its menu.
  void edit_through(QPlainTextEdit* view, bool cut);
  // The note beside an unsettled conflict's first row.
  QString open_conflict_note(std::size_t conflict) const;
  Resolution& choice(std::size_t region);
  void show_region(std::size_t region);
  void update_clean_button();
  std::optional<std::vector<Line>> region_lines(std::size_t region) const;
  std::optional<std::vector<Line>> merged() const;
  void step_back_or_forth(bool back);
  bool eventFilter(QObject* watched, QEvent* event) override;
  bool ask_before_closing();
  // The message line left of the actions: one line, shortened in its
  // middle to fit, the whole text in its tool tip; empty clears it.
  void show_message(const QString& text);
  void fit_message();
  std::vector<Line> lines_from_editor(const QString& text) const;
  std::vector<Line> lines_from_editor(const QString& text, std::size_t region) const;
  // `move_result_cursor`: false when the user stands in the result view.
  void edit_clean_change(std::size_t region, bool move_result_cursor = true);
  bool clean_change_kept(std::size_t region) const;
  std::size_t conflict_of_region(std::size_t region) const;
  // The current conflict's first differing column: its pane row and x.
  int change_x() const;

  Job job_;
  Finish finish_;
  MergePlan plan_;
  std::vector<std::size_t> conflict_regions_;  // region index of each conflict
  std::vector<Resolution> resolutions_;
  SuggestionPicks picks_;
  // The conflict whose suggestion gave way to an empty row for typing.
  std::size_t typing_over_ = static_cast<std::size_t>(-1);
  std::vector<Rows> pane_rows_;    // per region
  std::vector<Rows> result_rows_;  // per region, as the result view shows it now
  std::size_t current_ = 0;
  // The texts hold carriage returns inside lines, shown as marks: a mark
  // typed back is one again.
  bool returns_inside_lines_ = false;
  // One undoable step: each changed conflict's resolution before and after.
  struct Change {
    std::size_t region = 0;  // a conflict's or a clean change's
    Resolution before;
    Resolution after;
    SuggestionPick pick_before;  // a conflict's
    SuggestionPick pick_after;
  };
  struct Step {
    std::vector<Change> changes;
    bool typing = false;
  };
  std::vector<Step> history_;
  std::size_t done_ = 0;
  // Per region: a clean change's choice (`take` of the base when rejected).
  std::vector<Resolution> clean_;
  std::size_t clean_at_ = kNone;
  bool editing_clean_ = false;  // the editor holds clean_at_'s lines, not a conflict's
  bool saved_ = false;
  bool saved_unfinished_ = false;
  // The sideways position the window last chose itself; while the panes
  // stay there, a new size places the conflict again.
  int placed_left_ = -1;  // the output holds conflict markers from this window
  QPushButton* save_unfinished_button_ = nullptr;
  bool unsaved_choices_ = false;  // a conflict was settled or edited since the last save
  bool ask_on_close_ = true;
  bool updating_ = false;  // the editor is being filled, not typed in
  bool moving_ = false;    // the views are being rebuilt or scrolled
  std::vector<QPlainTextEdit*> panes_;
  std::vector<QPushButton*> take_buttons_;
  QPushButton* take_all_button_ = nullptr;
  QPushButton* unresolve_button_ = nullptr;
  QPushButton* next_open_button_ = nullptr;
  QPushButton* undo_button_ = nullptr;
  QPushButton* clean_button_ = nullptr;
  QPushButton* redo_button_ = nullptr;
  QPushButton* prev_button_ = nullptr;
  QPushButton* next_button_ = nullptr;
  QPlainTextEdit* result_view_ = nullptr;
  QPlainTextEdit* editor_ = nullptr;
  QLabel* editor_label_ = nullptr;
  QPushButton* save_button_ = nullptr;
  QPushButton* save_close_button_ = nullptr;
  QCheckBox* automatic_box_ = nullptr;
  QCheckBox* whitespace_box_ = nullptr;
  QCheckBox* line_ends_box_ = nullptr;
  QPushButton* close_button_ = nullptr;
  QPlainTextEdit* last_view_ = nullptr;  // the view last clicked or typed in
  IgnoreOptions ignoring_;         // what the plan was made ignoring
  QLabel* status_ = nullptr;
  QLabel* message_ = nullptr;
  QString message_text_;  // the message in full
  QLabel* automatic_note_ = nullptr;
  PaneSync* sync_ = nullptr;
  FindBar* find_bar_ = nullptr;
  OverviewStrip* overview_ = nullptr;
  bool shown_ = false;
};

}  // namespace marlow
