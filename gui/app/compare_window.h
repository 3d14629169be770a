// The comparison window: every contributor side by side, differences
// highlighted.
#pragma once

#include <QStringList>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/finish.h"
#include "app/pane_sync.h"
#include "app/panes.h"
#include "engine/compare_session.h"
#include "serve/files.h"
#include "serve/serve.h"

class QAction;
class QCheckBox;
class QLabel;
class QLayout;
class QPushButton;
class QScrollBar;
class QSpinBox;
class QToolButton;
class QTimer;

namespace marlow {

class FindBar;

// A view over a CompareSession: one pane per contributor under its display
// name, showing the session's rows (fillers blank, changed lines and their
// changed characters highlighted), scrolling shared by all panes,
// next/previous difference, the current one framed in every pane. What is
// ignored is the session's, remembered for the next window. Closing (the
// Close button, the default: Enter; Ctrl+W, Escape, or the window's own
// close) answers 1.
class CompareWindow : public QWidget, private CompareObserver {
  Q_OBJECT
 public:
  CompareWindow(Job job, Finish finish);
  ~CompareWindow() override;

  CompareSession& session() const { return *session_; }
  int difference_count() const;
  int current_difference() const;
  int pane_count() const { return static_cast<int>(panes_.size()); }
  DiffPane* pane(int i) const { return panes_.at(static_cast<std::size_t>(i)); }
  // Shows difference `index` (0-based) in every pane; out of range: no change.
  void go_to_difference(int index);
  // Lays the panes out again with lines that differ only in their line ends
  // counted as equal (or not); the same as the check box, and kept as the
  // preference for the next window.
  void set_ignore_line_ends(bool ignore);
  bool ignore_line_ends() const;
  // Lays the panes out again with lines that differ only in blanks (spaces
  // and tabs, anywhere in the line) counted as equal (or not).
  void set_ignore_whitespace(bool ignore);
  bool ignore_whitespace() const;
  // Everything that is ignored; false (and no change) when the line filter
  // is no regular expression. Kept as the preference for the next window.
  IgnoreOptions ignore_options() const;
  bool set_ignore_options(const IgnoreOptions& options);
  // Puts the cursor of pane `pane` on line `line` (1-based) of its text and
  // shows it; false when the text has no such line.
  bool go_to_line(int pane, int line);
  // Focus to the next (or previous) pane, round; the pane that has it.
  void focus_pane(int step);
  int focused_pane() const;
  // Asks for a line number of the focused pane's text and goes there
  // (Ctrl+L); asks for the line filter, again while it is no regular
  // expression.
  void ask_go_to_line();
  void ask_line_filter();

  // --- Editing, where a contributor's file can be written.
  // Typing in the panes of files that can be written, on or off (off at
  // first: the panes take no keys of their own).
  void set_editing(bool on);
  bool editing() const;
  // Copies the difference at the focused pane's cursor (else the current
  // one) from that pane to the pane on its left (step -1) or right (+1);
  // without a focused pane, from the pane on the other side. False when
  // there is no such difference or pane, or that file cannot be written.
  bool copy_difference(int step);
  // Undoes and redoes copies and typing.
  void undo();
  void redo();
  // Writes every changed text to its file (same encoding, mark and line
  // ends), each replaced whole or not at all. False when any cannot be
  // written; the message says which and why.
  bool save();
  bool has_unsaved_edits() const;
  QString edit_message() const;
  // What typing in a pane has done, into the session at once (it goes in
  // by itself once typing pauses).
  void take_typing();
  // Instead of asking on closing with unsaved edits, answer `answer`
  // (Save, Discard or Cancel); for tests.
  enum class UnsavedAnswer { ask, save, discard, cancel };
  void set_unsaved_answer(UnsavedAnswer answer) { unsaved_answer_ = answer; }
  // Looks whether a contributor's file changed on disk since it was read
  // (its size or time of change; also when the window gets the focus, and
  // every few seconds): if so the reload bar offers to read it again.
  bool check_files_on_disk();
  QWidget* reload_bar() const { return reload_bar_; }
  // Reads the changed files again, keeping the options and the place; a
  // file with unsaved edits is read again only when the user lets them go
  // (the unsaved answer Discard). False when some file was not read.
  bool reload();
  // Reads and writes through `files` (the system's unless set).
  void set_files(Files& files) { files_ = &files; }
  // Changed lines longer than kCharDiffLimit bytes get their changed
  // characters found too (or only the stretch where they change), and a
  // note says how many are marked only so; the same as its button.
  void set_mark_long_lines(bool mark);
  bool mark_long_lines() const;
  QWidget* long_line_note() const { return long_note_; }
  QString long_line_note_text() const;
  // What keeps the panes in step (scrolling, zoom).
  PaneSync* sync() const { return sync_; }
  QAction* wrap_action() const { return wrap_; }
  FindBar* find_bar() const { return find_bar_; }

  // The window's commands, one action each: its keys work anywhere in the
  // window, and its buttons and the panes' menu show the same action.
  struct Commands {
    QAction* previous = nullptr;
    QAction* next = nullptr;
    QAction* copy_left = nullptr;
    QAction* copy_right = nullptr;
    QAction* undo = nullptr;
    QAction* redo = nullptr;
    QAction* save = nullptr;
    QAction* edit = nullptr;               // checkable
    QAction* ignore_whitespace = nullptr;  // checkable
    QAction* ignore_line_ends = nullptr;   // checkable
    QAction* go_to_line = nullptr;
    QAction* next_pane = nullptr;
    QAction* previous_pane = nullptr;
    QAction* close = nullptr;
  };
  const Commands& commands() const { return commands_; }
  // Enables (and checks) the commands as the session, the edits and the
  // focused pane are now; called whenever one of them changes.
  void update_actions();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void changeEvent(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // The steps of making the window: the bar of buttons and options, a column
  // per contributor (its name, how its file is stored, its pane; the
  // overview beside the last), and the buttons' and keys' connections.
  void make_commands();
  // Whether copy_difference(step) has a pane to copy to that can be written.
  bool can_copy(int step) const;
  QLayout* make_bar();
  QWidget* make_panes(const QStringList& names);
  void add_pane_header(QWidget* column, std::size_t i, const QString& name);
  void connect_controls();
  void fill_panes();
  void lay_out_rows();
  void show_current();
  void show_status();

  // The first row in view.
  int top_row() const;
  QWidget* make_edit_bar();
  QWidget* make_reload_bar();
  // The size and time of change of contributor i's file now ({-1, 0} when
  // there is none).
  std::pair<qint64, qint64> disk_stamp(std::size_t i) const;
  void show_edit_state();
  // Answers the call, once.
  void answer();
  void rows_changed(const CompareSession& session) override;
  void current_changed(const CompareSession& session) override;
  // Scrolls sideways to the current difference's first changed character,
  // from the left edge when that shows it.
  void place_sideways();
  QWidget* make_long_line_note();
  void show_long_line_note(int rows);

  Job job_;  // the call; its texts are the session's
  Answer answer_;
  std::unique_ptr<CompareSession> session_;
  std::vector<DiffPane*> panes_;
  QLabel* status_ = nullptr;
  Commands commands_;
  QCheckBox* ignore_eol_ = nullptr;
  QCheckBox* ignore_blanks_ = nullptr;
  QToolButton* more_ignoring_ = nullptr;  // the other options, in its menu
  QSpinBox* tab_width_ = nullptr;
  QWidget* map_ = nullptr;  // the overview of all differences
  PaneSync* sync_ = nullptr;
  QAction* wrap_ = nullptr;  // "Wrap lines"

  FindBar* find_bar_ = nullptr;
  bool shown_ = false;
  // The sideways position the window last chose itself; while the panes
  // stay there, a new size places the difference again.
  int placed_left_ = -1;
  QWidget* long_note_ = nullptr;
  QLabel* long_note_text_ = nullptr;
  Files* files_ = &real_files();
  QWidget* edit_bar_ = nullptr;
  QLabel* edit_note_ = nullptr;
  QTimer* typing_timer_ = nullptr;
  std::vector<bool> typed_;  // per pane: typed into since the rows were filled
  bool filling_ = false;     // the panes are being filled: no typing
  // The application's focus changes, followed while the window lives: the
  // base class's destructor still moves the focus, after this class's
  // members are gone.
  QMetaObject::Connection focus_watch_;
  bool keep_view_ = false;  // an edit goes in: the view stays where it is
  UnsavedAnswer unsaved_answer_ = UnsavedAnswer::ask;
  QWidget* reload_bar_ = nullptr;
  QLabel* reload_note_ = nullptr;
  std::vector<std::pair<qint64, qint64>> stamps_;  // per contributor, as last read
  std::vector<bool> changed_on_disk_;
  std::vector<QLabel*> notes_;  // per pane: how its file is stored
  // Per pane: a fingerprint of the text its syntax colours were found for;
  // an edit or a reload changes it, and the text is highlighted again.
  std::vector<std::size_t> highlighted_;
};

}  // namespace marlow
