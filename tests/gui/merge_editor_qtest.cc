// The merge window as an editor: one history for takes, unsettling and
// typing; conflicts still unresolved found and taken in one go.
#include <QApplication>
#include <QCheckBox>
#include <QMenu>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSet>
#include <QTest>
#include <QTextBlock>

#include "app/keys.h"
#include "app/merge_window.h"
#include "app/overview.h"
#include "app/panes.h"
#include "tests/gui/qtest_files.h"

namespace marlow {

using testing::call;

class MergeEditorTest : public QObject, private testing::Files {
  Q_OBJECT

 private:
  // Three conflicts (lines 2, 4 and 6) between "one" and "other".
  Job three_conflicts_job() {
    return merge_of("a\nb\nc\nd\ne\nf\ng\n", "a\nB1\nc\nD1\ne\nF1\ng\n",
                    "a\nB2\nc\nD2\ne\nF2\ng\n");
  }
  // A conflict (line 2) and a clean change of "one" (line 4).
  Job clean_change_job() {
    return merge_of("a\nb\nc\nd\ne\n", "a\nB1\nc\nD\ne\n", "a\nB2\nc\nd\ne\n");
  }
  static void click_row(QPlainTextEdit* view, int row) {
    QTextCursor cursor(view->document()->findBlockByNumber(row));
    view->setTextCursor(cursor);
  }
  // The background a view gives a row, invalid when it has none.
  static QColor row_colour(QPlainTextEdit* view, int row) {
    return static_cast<DiffPane*>(view)->row_background(row);
  }
  static MergeWindow* shown(Job job) {
    auto* window = new MergeWindow(std::move(job), [](const std::string&) {});
    window->set_ask_on_close(false);
    window->show();
    window->activateWindow();
    QCoreApplication::processEvents();  // delivers the activation
    return window;
  }

 private slots:
  // Lines selected in a side's pane are taken by Ctrl+T, from either side,
  // in their order down the conflict; again on the same lines leaves them
  // out; each is one undo. The panes show which lines were taken.
  void lines_taken_from_either_side() {
    MergeWindow* window =
        shown(merge_of("a\nb\nc\nz\n", "a\nB1\nB2\nB3\nz\n", "a\nC1\nC2\nz\n"));
    QCOMPARE(window->conflict_count(), std::size_t{1});
    const int row = window->pane_row_of_conflict(0);
    // B1..B2 selected in the first side's pane.
    QPlainTextEdit* one = window->pane(1);
    one->setFocus();
    QTextCursor cursor(one->document()->findBlockByNumber(row));
    cursor.setPosition(one->document()->findBlockByNumber(row + 1).position() + 1,
                       QTextCursor::KeepAnchor);
    one->setTextCursor(cursor);
    QTest::keySequence(window, keys::take_lines());
    QCOMPARE(window->result_text(), QStringLiteral("a\nB1\nB2\nz\n"));
    // C1 (row 0) from the other side goes between B1 (row 0) and B2 (row 1).
    QPlainTextEdit* other = window->pane(2);
    other->setFocus();
    click_row(other, row + 1);
    click_row(other, row);
    QTest::keySequence(window, keys::take_lines());
    QCOMPARE(window->result_text(), QStringLiteral("a\nB1\nC1\nB2\nz\n"));
    QCOMPARE(window->result_view()->toPlainText(), QStringLiteral("a\nB1\nC1\nB2\nz"));
    QVERIFY(row_colour(one, row + 2) != row_colour(one, row));  // B3 not taken
    // Again on C1: left out.
    QTest::keySequence(window, keys::take_lines());
    QCOMPARE(window->result_text(), QStringLiteral("a\nB1\nB2\nz\n"));
    window->undo();
    QCOMPARE(window->result_text(), QStringLiteral("a\nB1\nC1\nB2\nz\n"));
    window->undo();
    window->undo();
    QCOMPARE(window->unresolved_count(), std::size_t{1});
    // From the menu of the pane.
    click_row(one, row + 2);
    QMenu* menu = window->context_menu_for(one, row + 2);
    QAction* take = nullptr;
    for (QAction* a : menu->actions()) {
      if (a->text() == QStringLiteral("Take these lines")) take = a;
    }
    QVERIFY(take != nullptr);
    QCOMPARE(take->shortcut(), keys::take_lines());
    take->trigger();
    QCOMPARE(window->result_text(), QStringLiteral("a\nB3\nz\n"));
    delete menu;
    window->close_without_asking();
  }

  // Ctrl+Shift+B takes both sides, the other one first.
  void both_sides_the_other_first() {
    MergeWindow* window = shown(three_conflicts_job());
    QTest::keySequence(window, keys::take_all_other_first());
    QCOMPARE(window->unresolved_count(), std::size_t{2});
    window->take_remaining(1);
    QCOMPARE(window->result_text(), QStringLiteral("a\nB2\nB1\nc\nD1\ne\nF1\ng\n"));
    window->close_without_asking();
  }

  // With the box checked (remembered), a take goes to the next conflict
  // still unresolved, round the end.
  void a_take_goes_on_to_the_next_unresolved() {
    MergeWindow* window = shown(three_conflicts_job());
    QVERIFY(!window->advance_box()->isChecked());
    window->take(1);
    QCOMPARE(window->current_conflict(), std::size_t{0});
    window->advance_box()->setChecked(true);
    window->go_to_conflict(2);
    QTest::keyClick(window, Qt::Key_2, Qt::ControlModifier);
    QCOMPARE(window->current_conflict(), std::size_t{1});
    window->close_without_asking();
    MergeWindow* again = shown(three_conflicts_job());
    QVERIFY(again->advance_box()->isChecked());
    again->take(2);
    QCOMPARE(again->current_conflict(), std::size_t{1});
    again->advance_box()->setChecked(false);
    again->close_without_asking();
  }

  // Save as writes a copy (with markers while conflicts are open) and
  // leaves the output alone; the encoding and line ends chosen apply to it
  // and to Save.
  void save_as_a_copy_in_the_chosen_encoding() {
    write("out", "untouched");
    MergeWindow* window = shown(three_conflicts_job());
    window->take(1);
    QVERIFY(window->save_copy_to(QString::fromStdString(path("copy"))));
    QVERIFY(read("copy").find("<<<<<<<") != std::string::npos);
    QCOMPARE(read("out"), std::string("untouched"));
    QVERIFY(!window->saved() && !window->saved_unfinished());
    window->take_remaining(2);
    window->encoding_box()->setCurrentIndex(4);  // UTF-16 LE with BOM
    window->saved_line_ends_box()->setCurrentIndex(2);  // CRLF
    QVERIFY(window->save_copy_to(QString::fromStdString(path("copy"))));
    const std::string crlf = "a\r\nB1\r\nc\r\nD2\r\ne\r\nF2\r\ng\r\n";
    std::string utf16 = "\xFF\xFE";
    for (char ch : crlf) utf16 += std::string{ch, '\0'};
    QCOMPARE(read("copy"), utf16);
    QCOMPARE(read("out"), std::string("untouched"));
    QVERIFY(window->save());
    QCOMPARE(read("out"), utf16);
    // Back to the output's own: as merged.
    window->encoding_box()->setCurrentIndex(0);
    window->saved_line_ends_box()->setCurrentIndex(0);
    QVERIFY(window->save());
    QCOMPARE(read("out"), std::string("a\nB1\nc\nD2\ne\nF2\ng\n"));
    // The output itself chosen is a save.
    window->unresolve();
    QVERIFY(window->save_copy_to(QString::fromStdString(path("out"))));
    QVERIFY(window->saved_unfinished());
    window->close_without_asking();
  }

  // Every control can be reached by key: the keys start outside the text
  // views, Tab goes through the window without typing into the result, and
  // Ctrl+Tab leaves a text view where Tab types a tab.
  void no_key_is_trapped_in_the_text() {
    MergeWindow* window = shown(three_conflicts_job());
    QVERIFY(QTest::qWaitForWindowActive(window));
    QWidget* start = QApplication::focusWidget();
    QVERIFY(start != nullptr);
    QVERIFY(start != window->conflict_editor());
    QVERIFY(start != window->result_view());
    QSet<QWidget*> reached;
    for (int i = 0; i < 40; ++i) {
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
      reached.insert(QApplication::focusWidget());
      // The result view and the editor may follow each other: at most two
      // steps leave them both.
      for (int k = 0; k < 2 && (QApplication::focusWidget() == window->result_view() ||
                                QApplication::focusWidget() == window->conflict_editor());
           ++k) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, Qt::ControlModifier);
        reached.insert(QApplication::focusWidget());
      }
      QVERIFY(QApplication::focusWidget() != window->result_view());
      QVERIFY(QApplication::focusWidget() != window->conflict_editor());
    }
    QCOMPARE(window->unresolved_count(), std::size_t{3});
    QVERIFY(!window->conflict_editor()->toPlainText().contains(QLatin1Char('\t')));
    QVERIFY(reached.contains(static_cast<QWidget*>(window->ignore_whitespace_box())));
    QVERIFY(reached.contains(static_cast<QWidget*>(window->automatic_merge_box())));
    QVERIFY(reached.contains(window->result_view()));
    QVERIFY(reached.contains(window->conflict_editor()));
    // Tab in the editor types a tab, as editors do.
    window->conflict_editor()->setFocus();
    QTest::keyClick(window->conflict_editor(), Qt::Key_Tab);
    QCOMPARE(window->conflict_editor()->toPlainText(), QStringLiteral("\t"));
    QTest::keyClick(window->conflict_editor(), Qt::Key_Tab, Qt::ControlModifier);
    QVERIFY(QApplication::focusWidget() != window->conflict_editor());
    QCOMPARE(window->conflict_editor()->toPlainText(), QStringLiteral("\t"));
    // Buttons and boxes have Alt keys.
    QVERIFY(!window->ignore_whitespace_box()->isChecked());
    QTest::keyClick(window, Qt::Key_W, Qt::AltModifier);
    QTRY_VERIFY(window->ignore_whitespace_box()->isChecked());
    window->close_without_asking();
  }

  // Typed text, then Ctrl+3 (take "other"), then Ctrl+Z in the editor: the
  // typed text is back, and Ctrl+Shift+Z takes "other" again.
  void undo_brings_typed_text_back_after_a_take() {
    MergeWindow* window = shown(three_conflicts_job());
    QPlainTextEdit* editor = window->conflict_editor();
    editor->setFocus();
    QTest::keyClicks(editor, QStringLiteral("mine"));
    QCOMPARE(editor->toPlainText(), QStringLiteral("mine"));
    QTest::keyClick(editor, Qt::Key_3, Qt::ControlModifier);
    QCOMPARE(editor->toPlainText(), QStringLiteral("B2"));
    QTest::keyClick(editor, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(editor->toPlainText(), QStringLiteral("mine"));
    QCOMPARE(window->unresolved_count(), std::size_t{2});
    // One undo takes back the whole run of typing: unsettled again.
    QTest::keyClick(editor, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(editor->toPlainText(), QString());
    QCOMPARE(window->unresolved_count(), std::size_t{3});
    QVERIFY(!window->can_undo());
    QTest::keyClick(editor, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(editor->toPlainText(), QStringLiteral("mine"));
    QTest::keyClick(editor, Qt::Key_Y, Qt::ControlModifier);
    QCOMPARE(editor->toPlainText(), QStringLiteral("B2"));
    QVERIFY(!window->can_redo());
    window->close_without_asking();
  }

  // Undo goes to the conflict it changes; a new step drops what could be
  // redone; unsettling is undone like a take.
  void undo_follows_the_conflict_and_a_new_step_ends_redo() {
    MergeWindow* window = shown(three_conflicts_job());
    window->take(1);
    window->go_to_conflict(2);
    window->take(2);
    window->unresolve();
    QCOMPARE(window->unresolved_count(), std::size_t{2});
    window->undo();  // the unsettling
    QCOMPARE(window->unresolved_count(), std::size_t{1});
    window->undo();  // the take of conflict 3
    window->undo();  // the take of conflict 1
    QCOMPARE(window->unresolved_count(), std::size_t{3});
    QCOMPARE(window->current_conflict(), std::size_t{0});
    window->redo();
    QCOMPARE(window->conflict_editor()->toPlainText(), QStringLiteral("B1"));
    QVERIFY(window->can_redo());
    window->go_to_conflict(1);
    window->take(1);
    QVERIFY(!window->can_redo());
    window->undo();
    window->undo();
    QCOMPARE(window->unresolved_count(), std::size_t{3});
    window->close_without_asking();
  }

  // One side for every conflict still unresolved, in one undoable step; a
  // conflict settled before keeps its own choice.
  void take_for_every_remaining_conflict() {
    MergeWindow* window = shown(three_conflicts_job());
    window->go_to_conflict(1);
    window->take(1);
    QTest::keyClick(window, Qt::Key_3, Qt::ControlModifier | Qt::AltModifier);
    QCOMPARE(window->unresolved_count(), std::size_t{0});
    QCOMPARE(window->result_text(), QStringLiteral("a\nB2\nc\nD1\ne\nF2\ng\n"));
    window->undo();
    QCOMPARE(window->unresolved_count(), std::size_t{2});
    window->redo();
    QVERIFY(window->save());
    QCOMPARE(read("out"), std::string("a\nB2\nc\nD1\ne\nF2\ng\n"));
    window->close_without_asking();
  }

  // Next/previous unresolved skip settled conflicts and go round the ends;
  // Save with conflicts left shows the next one and says how many.
  void next_unresolved_and_save_lead_to_what_is_left() {
    MergeWindow* window = shown(three_conflicts_job());
    window->take(1);  // conflict 1 settled; 2 and 3 left
    QTest::keyClick(window, Qt::Key_F8, Qt::ControlModifier);
    QCOMPARE(window->current_conflict(), std::size_t{1});
    window->take(1);
    QTest::keyClick(window, Qt::Key_F8, Qt::ControlModifier);
    QCOMPARE(window->current_conflict(), std::size_t{2});
    window->go_to_conflict(0);
    QTest::keyClick(window, Qt::Key_F8, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(window->current_conflict(), std::size_t{2});  // round the start
    window->go_to_conflict(1);
    QTest::keyClick(window, Qt::Key_S, Qt::ControlModifier);
    QVERIFY(!window->saved());
    QCOMPARE(window->current_conflict(), std::size_t{2});
    bool said = false;
    for (QLabel* label : window->findChildren<QLabel*>()) {
      said = said || label->text().contains(QStringLiteral("1 unresolved"));
    }
    QVERIFY(said);
    window->take(2);
    QVERIFY(!window->go_to_unresolved(true));
    QCOMPARE(window->current_conflict(), std::size_t{2});
    window->close_without_asking();
  }

  // A clean change clicked in a pane or the result is rejected (the base's
  // lines) and accepted again; both are steps of the one history, and the
  // saved bytes follow.
  void clean_change_rejected_accepted_and_undone() {
    MergeWindow* window = shown(clean_change_job());
    QVERIFY(!window->clean_change_button()->isEnabled());
    // The editor's heading gives the change's line as the result's gutter
    // numbers it: the unsettled conflict above has no line yet.
    auto* heading = window->findChild<QLabel*>(QStringLiteral("editor_heading"));
    QVERIFY(heading != nullptr);
    click_row(window->pane(1), 3);
    QVERIFY2(heading->text().contains(QStringLiteral("line 3 ")), qPrintable(heading->text()));
    window->take(1);
    click_row(window->pane(1), 0);
    click_row(window->pane(1), 3);
    QVERIFY2(heading->text().contains(QStringLiteral("line 4 ")), qPrintable(heading->text()));
    QCOMPARE(window->result_text(), QStringLiteral("a\nB1\nc\nD\ne\n"));
    click_row(window->pane(1), 3);
    QVERIFY(window->clean_change_button()->isEnabled());
    QTest::keyClick(window, Qt::Key_R, Qt::ControlModifier);
    QCOMPARE(window->result_text(), QStringLiteral("a\nB1\nc\nd\ne\n"));
    QCOMPARE(window->result_view()->document()->findBlockByNumber(3).text(), QStringLiteral("d"));
    QCOMPARE(window->clean_change_button()->text(), QStringLiteral("Accept clean change"));
    QVERIFY(window->save());
    QCOMPARE(read("out"), std::string("a\nB1\nc\nd\ne\n"));
    window->undo();
    QCOMPARE(window->result_text(), QStringLiteral("a\nB1\nc\nD\ne\n"));
    window->redo();
    // Accepted again from the result view's row.
    click_row(window->result_view(), 3);
    window->clean_change_button()->click();
    QCOMPARE(window->result_view()->document()->findBlockByNumber(3).text(), QStringLiteral("D"));
    QVERIFY(window->save());
    QCOMPARE(read("out"), std::string("a\nB1\nc\nD\ne\n"));
    window->close_without_asking();
  }

  // Which side a settled conflict took shows in every pane: the taken
  // side's colour differs from the others', and follows a change of mind.
  void side_taken_is_visible_in_every_pane() {
    MergeWindow* window = shown(three_conflicts_job());
    const auto colours = [window] {
      return std::vector<QColor>{row_colour(window->pane(0), 1), row_colour(window->pane(1), 1),
                                 row_colour(window->pane(2), 1)};
    };
    std::vector<QColor> open = colours();
    QCOMPARE(open[0], open[1]);
    QCOMPARE(open[1], open[2]);
    window->take(1);
    std::vector<QColor> one = colours();
    QVERIFY(one[1] != one[2]);
    QCOMPARE(one[0], one[2]);
    QVERIFY(one[1] != open[1]);
    window->take(2);
    std::vector<QColor> other = colours();
    QCOMPARE(other[2], one[1]);
    QCOMPARE(other[1], one[2]);
    window->take_all();  // both changed sides taken, not the base
    std::vector<QColor> both = colours();
    QCOMPARE(both[1], both[2]);
    QVERIFY(both[0] != both[1]);
    window->close_without_asking();
  }

  // The changed characters are marked in the merge panes as in compare:
  // on each side against the base, on the base for any side; never on
  // common rows.
  void changed_characters_are_marked_in_every_pane() {
    write("base", "keep\nvalue = 1;\nkeep\n");
    write("one", "keep\nvalue = 2;\nkeep\n");
    write("other", "keep\nvalue = 1; // note\nkeep\n");
    Preparation prep = prepare(call("RequestHandler.CompareMerge", path("out"),
                                    {path("base"), path("one"), path("other")}),
                               false);
    QVERIFY(prep.needs_window);
    MergeWindow* window = shown(prep.job);
    const auto marks = [window](std::size_t pane) {
      QStringList out;
      for (const CharMark& m : static_cast<DiffPane*>(window->pane(pane))->overlay_marks()) {
        out << QStringLiteral("%1:%2+%3").arg(m.row).arg(m.start).arg(m.length);
      }
      return out;
    };
    QCOMPARE(marks(1), QStringList{QStringLiteral("1:8+1")});
    QVERIFY(!marks(2).isEmpty());
    for (const QString& m : marks(2)) QVERIFY2(m.startsWith(QStringLiteral("1:")), qPrintable(m));
    QVERIFY(marks(0).contains(QStringLiteral("1:8+1")));
    // Painted over the marked character itself: the top edge of row 1 (no
    // glyph there) is tinted at column 8 and plain at columns 7 and 9.
    auto* pane = static_cast<DiffPane*>(window->pane(1));
    const QTextBlock block = pane->document()->findBlockByNumber(1);
    const int top = pane->cursorRect(QTextCursor(block)).top() + 1;
    const auto pixel = [pane, top](int column) {
      const int left = pane->column_x(1, column);
      const int right = pane->column_x(1, column + 1);
      return pane->viewport()->grab().toImage().pixelColor((left + right) / 2, top);
    };
    QVERIFY(pixel(8) != pixel(7));
    QCOMPARE(pixel(9), pixel(7));
    window->close_without_asking();
  }

  // A clean change clicked in the result goes into the editor and is edited
  // there like a conflict; undo and Accept bring back the lines as merged;
  // a click on the conflict gives the editor back to it.
  void clean_change_edited_by_hand() {
    MergeWindow* window = shown(clean_change_job());
    window->take(1);
    click_row(window->result_view(), 3);
    QPlainTextEdit* editor = window->conflict_editor();
    QCOMPARE(editor->toPlainText(), QStringLiteral("D"));
    editor->setFocus();
    QTest::keyClick(editor, Qt::Key_End);
    QTest::keyClicks(editor, QStringLiteral("2"));
    QCOMPARE(window->result_text(), QStringLiteral("a\nB1\nc\nD2\ne\n"));
    QCOMPARE(window->result_view()->document()->findBlockByNumber(3).text(), QStringLiteral("D2"));
    QTest::keyClick(editor, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(window->result_text(), QStringLiteral("a\nB1\nc\nD\ne\n"));
    QCOMPARE(editor->toPlainText(), QStringLiteral("D"));
    window->redo();
    QCOMPARE(editor->toPlainText(), QStringLiteral("D2"));
    QCOMPARE(window->clean_change_button()->text(), QStringLiteral("Accept clean change"));
    window->clean_change_button()->click();
    QCOMPARE(window->result_text(), QStringLiteral("a\nB1\nc\nD\ne\n"));
    click_row(window->pane(0), 1);
    QCOMPARE(editor->toPlainText(), QStringLiteral("B1"));
    QVERIFY(window->save());
    QCOMPARE(read("out"), std::string("a\nB1\nc\nD\ne\n"));
    window->close_without_asking();
  }

  // In a merge without conflicts a rejected clean change is a choice that
  // closing would lose, and Save writes the base's lines.
  void rejected_clean_change_without_conflicts_counts_as_unsaved() {
    write("base", "a\nb\n");
    write("one", "a\nB\n");
    write("other", "a\nb\n");
    Preparation prep = prepare(call("RequestHandler.CompareMerge", path("out"),
                                    {path("base"), path("one"), path("other")}),
                               false);
    QVERIFY(prep.needs_window);
    MergeWindow* window = shown(prep.job);
    QVERIFY(!window->has_unsaved_choices());
    click_row(window->pane(1), 1);
    window->toggle_clean_change();
    QVERIFY(window->has_unsaved_choices());
    QVERIFY(window->save());
    QVERIFY(!window->has_unsaved_choices());
    QCOMPARE(read("out"), std::string("a\nb\n"));
    window->close_without_asking();
  }

  // A click on the strip goes to the conflict nearest to it; a conflict's
  // mark turns from red to blue when it is settled.
  void overview_strip_goes_to_a_conflict_and_shows_its_state() {
    MergeWindow* window = shown(three_conflicts_job());
    OverviewStrip* strip = window->overview();
    QVERIFY(strip->isVisible());
    const int x = strip->width() / 2;
    QTest::mouseClick(strip, Qt::LeftButton, {}, QPoint(x, strip->y_of_row(5.5)));
    QCOMPARE(window->current_conflict(), std::size_t{2});
    QTest::mouseClick(strip, Qt::LeftButton, {}, QPoint(x, strip->y_of_row(1.5)));
    QCOMPARE(window->current_conflict(), std::size_t{0});
    const auto colour_at = [strip, x](double row) {
      return strip->grab().toImage().pixelColor(x, strip->y_of_row(row));
    };
    const QColor open = colour_at(3.5);
    QVERIFY(open.red() > open.blue() + 80);
    window->go_to_conflict(1);
    window->take(1);
    const QColor settled = colour_at(3.5);
    QVERIFY(settled.blue() > settled.red() + 80);
    window->undo();
    QCOMPARE(colour_at(3.5), open);
    window->close_without_asking();
  }

  // Going to a clean change far down brings the merged result along with
  // the panes, and so does undoing an edit there.
  void result_follows_to_a_clean_change() {
    std::string base;
    for (int i = 0; i < 300; ++i) base += "line " + std::to_string(i) + "\n";
    std::string one = base;
    one.replace(one.find("line 1\n"), 6, "line ONE");
    std::string other = base;
    other.replace(other.find("line 1\n"), 6, "line UNO");
    other.replace(other.find("line 250\n"), 8, "line CLEAN");
    MergeWindow* window = shown(merge_of(base, one, other));
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QPlainTextEdit* result = window->result_view();
    const auto in_sight = [](QPlainTextEdit* view, const QString& text) {
      const int row = view->document()->find(text).blockNumber();
      const int top = view->verticalScrollBar()->value();
      const int rows = view->viewport()->height() / view->fontMetrics().lineSpacing();
      return row >= top && row < top + rows;
    };
    QVERIFY(!in_sight(result, QStringLiteral("line CLEAN")));
    QTest::keyClick(window, Qt::Key_F8, Qt::AltModifier);
    QVERIFY(in_sight(window->pane(2), QStringLiteral("line CLEAN")));
    QVERIFY(in_sight(result, QStringLiteral("line CLEAN")));
    window->conflict_editor()->insertPlainText(QStringLiteral("!"));
    window->sync()->set_top_row(0);
    QVERIFY(!in_sight(result, QStringLiteral("CLEAN")));
    window->undo();
    QVERIFY(in_sight(window->pane(2), QStringLiteral("line CLEAN")));
    QVERIFY(in_sight(result, QStringLiteral("line CLEAN")));
    window->close_without_asking();
  }

  // The editor's prompt names the current conflict, on screen too: the
  // editor repaints when only the prompt's text changes.
  void editor_prompt_follows_the_current_conflict_on_screen() {
    MergeWindow* window = shown(three_conflicts_job());
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QPlainTextEdit* editor = window->conflict_editor();
    QWidget* viewport = editor->viewport();
    const auto on_screen = [window, viewport] {
      QCoreApplication::processEvents();  // paints what is pending
      const QRect rect(viewport->mapTo(window, QPoint(0, 0)), viewport->size());
      return window->screen()
          ->grabWindow(window->winId())
          .toImage()
          .copy(rect)
          .convertToFormat(QImage::Format_RGB32);
    };
    const QImage first = on_screen();
    window->go_to_conflict(2);
    QVERIFY(editor->placeholderText().contains(QStringLiteral("Conflict 3")));
    const QImage third = on_screen();
    QVERIFY(third != first);
    QCOMPARE(third, viewport->grab().toImage().convertToFormat(QImage::Format_RGB32));
    window->close_without_asking();
  }
};

}  // namespace marlow

MARLOW_QTEST_MAIN(marlow::MergeEditorTest)

#include "merge_editor_qtest.moc"
