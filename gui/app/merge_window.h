// The merge window: every contributor's whole text aligned by merge region,
// conflicts settled one by one, the merged result shown as it grows, and
// the result saved in the output's encoding.
#pragma once

#include <QColor>
#include <QPlainTextEdit>
#include <QWidget>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/finish.h"
#include "app/pane_sync.h"
#include "engine/merge_session.h"
#include "serve/serve.h"

class QAction;
class QCheckBox;
class QComboBox;
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
// The window is a view of a MergeSession, which holds the merge: the
// settlements, the one history of takes, typing and unsettling, and which
// regions the rows typed in the result belong to (MergeSession::type_rows).
// The window passes it keys, clicks and the result's rows, and shows again
// the regions it reports changed.
class MergeWindow : public QWidget, private MergeSessionObserver {
  Q_OBJECT
 public:
  MergeWindow(Job job, Finish finish);
  ~MergeWindow() override;

  // The merge the window is a view of.
  const MergeSession& session() const { return *session_; }
  std::size_t conflict_count() const { return session_->conflict_count(); }
  std::size_t current_conflict() const { return session_->current(); }
  std::size_t unresolved_count() const { return session_->unresolved_count(); }
  void go_to_conflict(std::size_t index);
  // Settle the current conflict: one contributor's lines (0 is the base when
  // there is one), every changed contributor's lines in order, or lines
  // typed by hand (line feeds separate them).
  void take(std::size_t side);
  void take_all();
  // Every changed contributor's lines, in the opposite order.
  void take_all_other_first();
  // The lines selected in the side pane used last (or the line under its
  // cursor), within the current conflict: added to the lines the conflict
  // holds, in their order down its rows, or taken out of them when every
  // one is there already. One step of the history each.
  void take_lines();
  // Whether a take goes on to the next unresolved conflict (the window's
  // check box, remembered).
  QCheckBox* advance_box() const { return advance_box_; }
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
  bool showing_suggestion(std::size_t conflict) const {
    return conflict < conflict_count() &&
           suggestion_shown(session_->region_of_conflict(conflict)) != nullptr;
  }
  const SuggestionPicks& suggestion_picks() const { return session_->suggestion_picks(); }
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
  std::size_t block_count(std::size_t conflict) const { return session_->block_count(conflict); }
  std::size_t blocks_chosen(std::size_t conflict) const {
    return session_->blocks_chosen(conflict);
  }
  // Goes to the next (or previous) clean change after the one last shown,
  // going round the end; false when there is none.
  bool go_to_clean_change(bool forward);
  // Merges again with whitespace or line ends ignored or not (the window's
  // check boxes, remembered); choices made so far are dropped.
  void set_ignoring(bool whitespace, bool line_ends);
  IgnoreOptions compare_options() const { return session_->ignoring(); }
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
  bool can_undo() const { return session_->can_undo(); }
  bool can_redo() const { return session_->can_redo(); }
  // The nearest unsettled conflict after (or before) the current one, going
  // round the end; false when none is left.
  bool go_to_unresolved(bool forward);
  // A clean change (a region only some contributors changed) is accepted
  // as merged, rejected (the result keeps the base's lines there), or
  // edited by hand: a click on it in a pane or the result puts its lines in
  // the editor, and the button or Ctrl+R rejects it or accepts it again.
  std::size_t clean_change_at() const { return clean_at_; }
  bool clean_change_rejected(std::size_t region) const {
    return session_->clean_change_rejected(region);
  }
  void toggle_clean_change();
  QPushButton* clean_change_button() const { return clean_button_; }
  // A conflict the merge engine settled opens settled, shown in its own
  // colour with a note on how it was settled and what each side did, and
  // stays so until the user changes it.
  bool settled_automatically(std::size_t conflict) const {
    return session_->settled_automatically(conflict);
  }
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
  // Save as: a copy of the result (with markers while conflicts are open)
  // in a file the user chooses; the output the merge answers for is not
  // written, and the merge is not finished by it.
  void save_as();
  bool save_copy_to(const QString& path);
  // The encoding and line ends saving gives the result; the first choice
  // of each keeps the output's own.
  QComboBox* encoding_box() const { return encoding_box_; }
  QComboBox* saved_line_ends_box() const { return saved_line_ends_box_; }
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
  QAction* wrap_action() const { return wrap_; }
  FindBar* find_bar() const { return find_bar_; }
  OverviewStrip* overview() const { return overview_; }

  // The window's commands, one action each: its keys work anywhere in the
  // window, and its buttons and the views' menus show the same action.
  struct Commands {
    QAction* previous = nullptr;
    QAction* next = nullptr;
    QAction* next_unresolved = nullptr;
    QAction* previous_unresolved = nullptr;
    QAction* next_clean_change = nullptr;
    QAction* previous_clean_change = nullptr;
    std::vector<QAction*> take;            // per side
    std::vector<QAction*> take_remaining;  // per side
    std::vector<QAction*> take_block;      // per side; null for a side without blocks
    QAction* take_all = nullptr;
    QAction* take_all_other_first = nullptr;
    QAction* take_lines = nullptr;
    QAction* unresolve = nullptr;
    QAction* accept_suggestion = nullptr;
    QAction* next_suggestion = nullptr;
    QAction* previous_suggestion = nullptr;
    QAction* toggle_clean_change = nullptr;
    QAction* undo = nullptr;
    QAction* redo = nullptr;
    QAction* save = nullptr;
    QAction* save_unfinished = nullptr;
    QAction* save_as = nullptr;
    QAction* save_and_close = nullptr;
    QAction* close = nullptr;
  };
  const Commands& commands() const { return commands_; }
  // Enables the commands (and names the ones whose text turns) as the merge
  // is now: the current conflict, the clean change last clicked, the
  // history, what is left unsettled. Called whenever one of them changes.
  void update_actions();

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
  void make_commands();
  QHBoxLayout* make_conflict_bar();
  QLabel* make_automatic_note();
  QLabel* make_legend();
  QHBoxLayout* make_output_line();
  void make_pane_area(QSplitter* splitter);
  void make_result_area(QSplitter* splitter);
  QHBoxLayout* make_actions();
  void connect_buttons();
  void add_context_menus();
  void disable_conflict_controls();
  void replan();
  bool confirm_replan();
  // The session's notifications: regions to show again in the result
  // (unless typed there), and a new step (the message line clears).
  void regions_changed(const std::vector<std::size_t>& regions) override;
  void current_changed(std::size_t /*conflict*/) override {}
  void history_changed() override;
  const MergePlan& plan() const { return session_->plan(); }
  bool no_conflicts() const { return session_->conflict_count() == 0; }
  std::size_t conflict_of_region(std::size_t region) const {
    return session_->conflict_of_region(region);
  }
  // A refusal of the session told to the user where it needs telling.
  bool done(const support::Status& status);
  // The result as saving writes it: the chosen line ends and encoding.
  TextDocument saved_document(std::vector<Line> lines) const;
  // Encodes and writes `lines` to `path`; false with the reason in `error`.
  bool write_result(const std::string& path, std::vector<Line> lines, std::string* error) const;
  QHBoxLayout* make_save_options();
  // Rows of a view as the lines' texts (carriage-return marks typed back).
  std::vector<std::string> typed_rows(const QStringList& rows) const;
  QString side_name(std::size_t side) const;
  // The document of the result view changed at `position`: by typing, a
  // paste or a cut. Gives each region it touched the rows it now has.
  void result_typed(int position, int removed, int added);
  int region_at_result_row(int row) const;
  // The editor shows the current conflict's (or clean change's) lines again.
  void refill_editor();
  void build_panes();
  // Shows the current conflict's result in the editor, then the views.
  void update_placeholder();
  void refresh(bool scroll_panes, bool scroll_result);
  void update_views(bool scroll_panes, bool scroll_result);
  void colour_panes();
  void update_overview();
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
  // The suggestion the result shows for a region, nullptr for none.
  const Suggestion* suggestion_shown(std::size_t region) const {
    return session_->suggestion_shown(region);
  }
  // Before an edit of the result touching rows [first, last]: a suggestion
  // shown there gives way to an empty row, so that what is typed is all
  // the conflict gets. The cursor stays where it was, or goes to that row.
  void clear_suggestions_for_edit(int first, int last);
  // Cut or paste in the result from its menu.
  void edit_through(QPlainTextEdit* view, bool cut);
  // The note beside an unsettled conflict's first row.
  QString open_conflict_note(std::size_t conflict) const;
  void show_region(std::size_t region);
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
  bool clean_change_kept(std::size_t region) const { return session_->clean_change_kept(region); }
  // The current conflict's first differing column: its pane row and x.
  int change_x() const;

  Job job_;
  Answer answer_;
  std::unique_ptr<MergeSession> session_;
  // The output's encoding and mark (no lines), and which contributors'
  // lines it converts, in a sentence (empty for none).
  TextDocument stored_;
  std::string conversion_;
  // How each contributor is stored, for its pane's header. The
  // contributors' lines are the session's: job_.docs keeps none.
  std::vector<QString> file_notes_;
  std::vector<Rows> pane_rows_;    // per region
  std::vector<Rows> result_rows_;  // per region, as the result view shows it now
  // The texts hold carriage returns inside lines, shown as marks: a mark
  // typed back is one again.
  bool returns_inside_lines_ = false;
  std::size_t clean_at_ = kNone;
  bool editing_clean_ = false;  // the editor holds clean_at_'s lines, not a conflict's
  bool saved_ = false;
  bool saved_unfinished_ = false;  // the output holds conflict markers from this window
  // The sideways position the window last chose itself; while the panes
  // stay there, a new size places the conflict again.
  int placed_left_ = -1;
  QPushButton* save_unfinished_button_ = nullptr;
  bool ask_on_close_ = true;
  bool updating_ = false;  // the editor is being filled, not typed in
  bool moving_ = false;    // the views are being rebuilt or scrolled
  std::vector<QPlainTextEdit*> panes_;
  Commands commands_;
  QPushButton* unresolve_button_ = nullptr;
  QPushButton* clean_button_ = nullptr;
  QPlainTextEdit* result_view_ = nullptr;
  QPlainTextEdit* editor_ = nullptr;
  QLabel* editor_label_ = nullptr;
  QPushButton* save_close_button_ = nullptr;
  QCheckBox* automatic_box_ = nullptr;
  QCheckBox* whitespace_box_ = nullptr;
  QAction* wrap_ = nullptr;  // "Wrap lines"
  QCheckBox* line_ends_box_ = nullptr;
  QCheckBox* advance_box_ = nullptr;
  QComboBox* encoding_box_ = nullptr;
  QComboBox* saved_line_ends_box_ = nullptr;
  QPlainTextEdit* last_view_ = nullptr;  // the view last clicked or typed in
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
