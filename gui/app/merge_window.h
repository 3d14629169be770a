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
#include "serve/serve.h"

class QCheckBox;
class QLabel;
class QPushButton;

namespace marlow {

class FindBar;
class OverviewStrip;

// The base (when there is one) and the contributors side by side with
// blank filler rows, conflicts and clean changes coloured, the current
// conflict emphasized in every pane; below, the whole merged text so far
// (an unsettled conflict is a marked placeholder row) and an editor for the
// current conflict's result. Save writes the output once every conflict is
// settled; the window answers 1 when it closes after a save, else 0.
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
  // The first row of a conflict in the panes (all panes align row by row).
  int pane_row_of_conflict(std::size_t conflict) const;
  // The first row of a region's rows in the result view.
  int result_row_of_conflict(std::size_t conflict) const;
  // What keeps the panes and the result in step (scrolling, zoom).
  PaneSync* sync() const { return sync_; }
  FindBar* find_bar() const { return find_bar_; }
  OverviewStrip* overview() const { return overview_; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  struct Rows {
    int first = 0;
    int count = 0;
  };
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
  void settle_many(std::vector<std::pair<std::size_t, Resolution>> changes, bool typing);
  void apply(std::size_t region, const Resolution& resolution);
  Resolution& choice(std::size_t region);
  void show_region(std::size_t region);
  void update_clean_button();
  std::optional<std::vector<Line>> region_lines(std::size_t region) const;
  std::optional<std::vector<Line>> merged() const;
  void step_back_or_forth(bool back);
  bool eventFilter(QObject* watched, QEvent* event) override;
  bool ask_before_closing();
  std::vector<Line> lines_from_editor(const QString& text) const;
  std::vector<Line> lines_from_editor(const QString& text, std::size_t region) const;
  void edit_clean_change(std::size_t region);
  bool clean_change_kept(std::size_t region) const;
  std::size_t conflict_of_region(std::size_t region) const;
  // The current conflict's first differing column: its pane row and x.
  int change_x() const;

  Job job_;
  Finish finish_;
  MergePlan plan_;
  std::vector<std::size_t> conflict_regions_;  // region index of each conflict
  std::vector<Resolution> resolutions_;
  std::vector<Rows> pane_rows_;    // per region
  std::vector<Rows> result_rows_;  // per region, as the result view shows it now
  std::size_t current_ = 0;
  // One undoable step: each changed conflict's resolution before and after.
  struct Change {
    std::size_t region = 0;  // a conflict's or a clean change's
    Resolution before;
    Resolution after;
  };
  struct Step {
    std::vector<Change> changes;
    bool typing = false;
  };
  std::vector<Step> history_;
  std::size_t done_ = 0;
  // Per region: a clean change's choice (`take` of the base when rejected).
  std::vector<Resolution> clean_;
  std::size_t clean_at_ = static_cast<std::size_t>(-1);
  bool editing_clean_ = false;  // the editor holds clean_at_'s lines, not a conflict's  // steps of history_ in effect; the rest can be redone
  bool saved_ = false;
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
  QLabel* status_ = nullptr;
  QLabel* message_ = nullptr;
  QLabel* automatic_note_ = nullptr;
  PaneSync* sync_ = nullptr;
  FindBar* find_bar_ = nullptr;
  OverviewStrip* overview_ = nullptr;
  bool shown_ = false;
};

}  // namespace marlow
