// Wrapped long lines in the compare and merge windows: the rows of every
// pane stay side by side however the panes scroll or are resized, the
// current difference and the changed characters land on their rows, the
// merged result follows and takes typing as before, and the choice is
// remembered for the next window.
#include <QAction>
#include <QApplication>
#include <QImage>
#include <QMenu>
#include <QScrollBar>
#include <QSplitter>
#include <QTest>
#include <QTextBlock>
#include <QTextLayout>

#include "app/compare_menu.h"
#include "app/compare_window.h"
#include "app/merge_window.h"
#include "app/settings.h"
#include "tests/gui/qtest_files.h"

namespace marlow {

using testing::call;

namespace {

std::string numbered(int count, const std::string& prefix) {
  std::string text;
  for (int i = 1; i <= count; ++i) text += prefix + std::to_string(i) + "\n";
  return text;
}

// About 700 characters of words.
std::string prose(const std::string& last_word) {
  std::string text;
  for (int i = 0; i < 70; ++i) text += "word" + std::to_string(i % 10) + "xx ";
  return text + last_word;
}

// Puts `with` in place of line `line` ("<prefix><line>\n") of `text`.
void replace_line(std::string* text, const std::string& prefix, int line, const std::string& with) {
  const std::string old = prefix + std::to_string(line) + "\n";
  text->replace(text->find(old), old.size(), with + "\n");
}

// Where row `row` of a view starts on screen.
int screen_top(QPlainTextEdit* view, int row) {
  const QRect rect = view->cursorRect(QTextCursor(view->document()->findBlockByNumber(row)));
  return view->viewport()->mapToGlobal(rect.topLeft()).y();
}

// The first row at least partly in view.
int first_row(QPlainTextEdit* view) {
  const QTextCursor top = view->cursorForPosition(QPoint(4, 1));
  return top.blockNumber();
}

// Empty when every row in view, and a screen below it, starts at the same
// height in each view as in the first; else the first row that does not.
QString misaligned(const std::vector<QPlainTextEdit*>& views) {
  QPlainTextEdit* lead = views.front();
  const int from = first_row(lead);
  const int rows = std::min(lead->document()->blockCount(), from + 2 * 40);
  for (int row = from; row < rows; ++row) {
    for (std::size_t v = 1; v < views.size(); ++v) {
      if (screen_top(views[v], row) != screen_top(lead, row)) {
        return QStringLiteral("row %1: %2 in view %3, %4 in the first")
            .arg(row)
            .arg(screen_top(views[v], row))
            .arg(v)
            .arg(screen_top(lead, row));
      }
    }
  }
  return {};
}

// How many pixels of `colour` the view shows in rows [top, bottom) of its
// viewport.
int pixels_of(QPlainTextEdit* view, const QColor& colour, int top, int bottom) {
  const QImage image = view->viewport()->grab().toImage();
  int count = 0;
  for (int y = std::max(0, top); y < std::min(bottom, image.height()); ++y) {
    for (int x = 0; x < image.width(); ++x) count += image.pixelColor(x, y) == colour ? 1 : 0;
  }
  return count;
}

}  // namespace

class WrapTest : public QObject, private testing::Files {
  Q_OBJECT

 private:
  CompareWindow* compare() {
    Preparation prep =
        prepare(call("RequestHandler.Compare", "", {path("left"), path("right")}), false);
    if (!prep.needs_window) return nullptr;
    auto* window = new CompareWindow(prep.job, [](const std::string&) {});
    window->resize(1000, 700);
    window->show();
    return window;
  }
  // 200 lines. Line 10 is long on both sides, its last word changed; line
  // 50 is long on the left only, line 120 on the right only; lines 60 to 80
  // are long and the same on both sides, and line 82 differs.
  void write_long_lines() {
    std::string left = numbered(200, "line ");
    std::string right = left;
    replace_line(&left, "line ", 10, prose("ending"));
    replace_line(&right, "line ", 10, prose("closing"));
    replace_line(&left, "line ", 50, prose("left"));
    replace_line(&right, "line ", 120, prose("right"));
    for (int line = 60; line <= 80; ++line) {
      replace_line(&left, "line ", line, prose(std::to_string(line)));
      replace_line(&right, "line ", line, prose(std::to_string(line)));
    }
    replace_line(&right, "line ", 82, "line 82 changed");
    write("left", left);
    write("right", right);
  }
  static std::vector<QPlainTextEdit*> panes(CompareWindow* window) {
    return {window->pane(0), window->pane(1)};
  }
  static int row_height(QPlainTextEdit* view, int row) {
    return static_cast<int>(static_cast<DiffPane*>(view)->row_area(row).height());
  }
  static void settle() { QCoreApplication::processEvents(); }

 private slots:
  void init() { set_wrap_lines_preference(false); }

  // Off unless turned on; the window's command and the panes' menu turn it
  // on, the next window opens so, and off brings back one line a row.
  void wrapping_is_off_by_default_and_remembered() {
    write_long_lines();
    CompareWindow* first = compare();
    QVERIFY(QTest::qWaitForWindowExposed(first));
    QVERIFY(!first->wrap_action()->isChecked());
    QCOMPARE(first->pane(0)->lineWrapMode(), QPlainTextEdit::NoWrap);
    QVERIFY(first->pane(0)->horizontalScrollBar()->maximum() > 0);
    // The panes' menu and the bar's "More" menu have the command.
    QMenu* menu = compare_pane_menu(first, first->pane(1));
    QVERIFY(menu->actions().contains(first->wrap_action()));
    delete menu;
    QMenu* more = first->findChild<QMenu*>(QStringLiteral("ignore_menu"));
    QVERIFY(more != nullptr);
    emit more->aboutToShow();
    QVERIFY(more->actions().contains(first->wrap_action()));
    first->wrap_action()->trigger();
    QVERIFY(wrap_lines_preference());
    QCOMPARE(first->pane(1)->lineWrapMode(), QPlainTextEdit::WidgetWidth);
    first->close();

    CompareWindow* second = compare();
    QVERIFY(QTest::qWaitForWindowExposed(second));
    QVERIFY(second->wrap_action()->isChecked());
    QCOMPARE(second->pane(0)->lineWrapMode(), QPlainTextEdit::WidgetWidth);
    second->sync()->set_top_row(45);
    settle();
    QVERIFY(row_height(second->pane(1), 49) > 3 * row_height(second->pane(1), 48));
    // Off again: one line a row in both panes, the short side's added lines
    // gone with the long side's wrapping.
    second->wrap_action()->trigger();
    QVERIFY(!wrap_lines_preference());
    settle();
    for (QPlainTextEdit* pane : panes(second)) {
      QCOMPARE(pane->lineWrapMode(), QPlainTextEdit::NoWrap);
      QCOMPARE(row_height(pane, 49), row_height(pane, 48));
      QCOMPARE(pane->document()->findBlockByNumber(49).layout()->lineCount(), 1);
    }
    QCOMPARE(second->sync()->top_row(), 45);
    second->close();
  }

  // Row N starts at the same height in both panes, for every N in view,
  // wherever they are scrolled, and after the window is made narrower.
  void rows_stay_side_by_side() {
    set_wrap_lines_preference(true);
    write_long_lines();
    CompareWindow* window = compare();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    const std::vector<QPlainTextEdit*> views = panes(window);
    QCOMPARE(misaligned(views), QString());
    QCOMPARE(window->pane(0)->horizontalScrollBar()->maximum(), 0);
    for (int row : {40, 48, 110, 118, 0, 150}) {
      window->sync()->set_top_row(row);
      settle();
      QCOMPARE(misaligned(views), QString());
    }
    // Into the middle of a long row, by the scroll bar of either pane.
    window->sync()->set_top_row(49);
    settle();
    QScrollBar* left_bar = window->pane(0)->verticalScrollBar();
    left_bar->setValue(left_bar->value() + 2);
    settle();
    QCOMPARE(window->pane(1)->verticalScrollBar()->value(), left_bar->value());
    QCOMPARE(misaligned(views), QString());
    QVERIFY(screen_top(window->pane(1), 49) <
            window->pane(1)->viewport()->mapToGlobal(QPoint()).y());
    // A click on the short side's empty lines beside the long row is on
    // that row, not one further down.
    window->sync()->set_top_row(45);
    settle();
    DiffPane* right = window->pane(1);
    const QRectF beside = right->row_area(49);
    QTest::mouseClick(right->viewport(), Qt::LeftButton, {},
                      QPoint(200, static_cast<int>(beside.bottom()) - 3));
    QCOMPARE(right->textCursor().blockNumber(), 49);
    QCOMPARE(right->textCursor().positionInBlock(), right->textCursor().block().length() - 1);
    // And past the end of its text on its one line of text.
    QTest::mouseClick(right->viewport(), Qt::LeftButton, {},
                      QPoint(300, static_cast<int>(beside.top()) + 3));
    QCOMPARE(right->textCursor().blockNumber(), 49);
    // Keys turn pages in step too.
    window->pane(1)->setFocus();
    QTest::keyClick(window->pane(1), Qt::Key_PageDown);
    settle();
    QCOMPARE(misaligned(views), QString());

    // Resized, the long rows wrap on more lines or fewer, still side by side.
    window->sync()->set_top_row(40);
    settle();
    const int tall = row_height(window->pane(0), 49);
    // Narrower: the left pane, by the splitter between the panes.
    auto* splitter = window->findChild<QSplitter*>();
    QVERIFY(splitter != nullptr);
    const QList<int> sizes = splitter->sizes();
    splitter->setSizes({sizes[0] / 2, sizes[1] + sizes[0] - sizes[0] / 2});
    settle();
    QTRY_VERIFY(row_height(window->pane(0), 49) > tall);
    QCOMPARE(misaligned(views), QString());
    QCOMPARE(row_height(window->pane(1), 49), row_height(window->pane(0), 49));
    // Wider: the whole window.
    splitter->setSizes(sizes);
    window->resize(1300, 700);
    settle();
    QTRY_VERIFY(row_height(window->pane(1), 49) < tall);
    QCOMPARE(misaligned(views), QString());
    window->close();
  }

  // While typing is on, Up and Down go from row to row on the side whose
  // row has empty lines added, never onto those lines, and pages turn.
  void cursor_keys_keep_off_added_lines() {
    set_wrap_lines_preference(true);
    write_long_lines();
    CompareWindow* window = compare();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    window->sync()->set_top_row(45);
    settle();
    window->set_editing(true);
    DiffPane* right = window->pane(1);
    right->setFocus();
    right->setTextCursor(QTextCursor(right->document()->findBlockByNumber(47)));
    const auto row_after = [&](Qt::Key key) {
      QTest::keyClick(right, key);
      settle();
      return right->textCursor().blockNumber();
    };
    QCOMPARE(row_after(Qt::Key_Down), 48);
    QCOMPARE(row_after(Qt::Key_Down), 49);
    QCOMPARE(row_after(Qt::Key_Down), 50);
    QCOMPARE(row_after(Qt::Key_Up), 49);
    QCOMPARE(row_after(Qt::Key_Up), 48);
    // Selecting down across the padded row ends on the row after it.
    QTest::keyClick(right, Qt::Key_Down, Qt::ShiftModifier);
    QTest::keyClick(right, Qt::Key_Down, Qt::ShiftModifier);
    QCOMPARE(right->textCursor().blockNumber(), 50);
    QCOMPARE(right->document()->findBlock(right->textCursor().anchor()).blockNumber(), 48);
    // Pages turn either way, the cursor on the rows' text (the view's own
    // page steps went round for ever among the empty lines).
    right->setTextCursor(QTextCursor(right->document()->findBlockByNumber(40)));
    int last = 40;
    for (const Qt::Key key : {Qt::Key_PageDown, Qt::Key_PageDown, Qt::Key_PageDown,
                              Qt::Key_PageUp, Qt::Key_PageUp, Qt::Key_PageUp}) {
      const int now = row_after(key);
      QVERIFY2(key == Qt::Key_PageDown ? now > last : now < last, qPrintable(QString::number(now)));
      last = now;
    }
    window->close();
  }

  // Three texts: a long line in each of two of them, and in none.
  void three_panes_stay_side_by_side() {
    set_wrap_lines_preference(true);
    std::string base = numbered(80, "line ");
    std::string one = base;
    std::string other = base;
    replace_line(&base, "line ", 5, prose("base"));
    replace_line(&one, "line ", 20, prose("one"));
    replace_line(&other, "line ", 5, prose("other") + " " + prose("longer"));
    write("base", base);
    write("one", one);
    write("other", other);
    Preparation prep = prepare(
        call("RequestHandler.Compare", "", {path("base"), path("one"), path("other")}), false);
    QVERIFY(prep.needs_window);
    auto* window = new CompareWindow(prep.job, [](const std::string&) {});
    window->resize(1300, 700);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QCOMPARE(window->pane_count(), 3);
    const std::vector<QPlainTextEdit*> views = {window->pane(0), window->pane(1), window->pane(2)};
    for (int row : {0, 3, 18, 40}) {
      window->sync()->set_top_row(row);
      settle();
      QCOMPARE(misaligned(views), QString());
    }
    window->close();
  }

  // Typing in a pane: a short row beside a long one keeps its empty lines
  // after what is typed, a long row that grows makes the row beside it
  // taller at once, and the rows stay side by side before and after the
  // window takes the typing in.
  void typing_keeps_rows_side_by_side() {
    set_wrap_lines_preference(true);
    write_long_lines();
    CompareWindow* window = compare();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    const std::vector<QPlainTextEdit*> views = panes(window);
    window->set_editing(true);
    QVERIFY(window->editing());
    window->sync()->set_top_row(45);
    settle();
    DiffPane* left = window->pane(0);
    DiffPane* right = window->pane(1);
    QTextCursor end(right->document()->findBlockByNumber(49));
    end.movePosition(QTextCursor::EndOfBlock);
    right->setFocus();
    right->setTextCursor(end);
    QTest::keyClicks(right, QStringLiteral(" typed"));
    settle();
    const QTextBlock typed = right->document()->findBlockByNumber(49);
    QCOMPARE(typed.text(), QStringLiteral("line 50 typed"));
    QVERIFY(typed.layout()->lineAt(0).textLength() >= typed.length() - 1);
    QCOMPARE(misaligned(views), QString());
    window->take_typing();
    settle();
    QCOMPARE(right->document()->findBlockByNumber(49).text(), QStringLiteral("line 50 typed"));
    QCOMPARE(misaligned(views), QString());
    // Many more words at the end of the long row: more lines in both.
    const int before = row_height(right, 49);
    QTextCursor long_end(left->document()->findBlockByNumber(49));
    long_end.movePosition(QTextCursor::EndOfBlock);
    left->setFocus();
    left->setTextCursor(long_end);
    QTest::keyClicks(left, QString::fromStdString(" " + prose("more")));
    settle();
    QVERIFY(row_height(right, 49) > before);
    QCOMPARE(misaligned(views), QString());
    window->take_typing();
    settle();
    QVERIFY(left->document()->findBlockByNumber(49).text().endsWith(QStringLiteral("more")));
    QCOMPARE(misaligned(views), QString());
    QCOMPARE(row_height(right, 49), row_height(left, 49));
    window->set_unsaved_answer(CompareWindow::UnsavedAnswer::discard);
    window->close();
  }

  // The current difference's frame is around the whole wrapped row in both
  // panes, going to it scrolls nothing sideways, and the changed word at
  // the end of the long row is marked on its last line, not its first.
  void the_current_difference_and_its_marks_land_on_their_rows() {
    set_wrap_lines_preference(true);
    write_long_lines();
    CompareWindow* window = compare();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    window->go_to_difference(0);
    settle();
    QCOMPARE(window->pane(0)->current_rows(), std::make_pair(9, 10));
    QCOMPARE(window->pane(0)->horizontalScrollBar()->value(), 0);
    QCOMPARE(misaligned(panes(window)), QString());
    // Below many tall rows, the difference is still in view.
    window->go_to_difference(2);
    settle();
    QCOMPARE(window->pane(1)->current_rows(), std::make_pair(81, 82));
    for (DiffPane* pane : {window->pane(0), window->pane(1)}) {
      const QRectF area = pane->row_area(81);
      QVERIFY(area.top() >= 0);
      QVERIFY(area.bottom() <= pane->viewport()->height());
    }
    QCOMPARE(misaligned(panes(window)), QString());
    window->go_to_difference(0);
    settle();
    for (DiffPane* pane : {window->pane(0), window->pane(1)}) {
      const QRectF area = pane->row_area(9);
      QVERIFY(area.height() > 3 * pane->fontMetrics().lineSpacing());
      const QTextLayout* layout = pane->document()->findBlockByNumber(9).layout();
      const QTextLine last =
          layout->lineForTextPosition(pane->document()->findBlockByNumber(9).length() - 1);
      QVERIFY(last.lineNumber() > 0);
      const int last_top = static_cast<int>(area.top() + last.y());
      const int first_bottom = static_cast<int>(area.top() + layout->lineAt(0).height());
      // The mark of the changed last word, on its line only.
      QVERIFY(pixels_of(pane, kChangedText, last_top + 1,
                        last_top + static_cast<int>(last.height()) - 1) > 0);
      QCOMPARE(pixels_of(pane, kChangedText, static_cast<int>(area.top()) + 2, first_bottom - 1),
               0);
      // The frame's bottom edge below the row's last line.
      QVERIFY(pixels_of(pane, kCurrent, static_cast<int>(area.bottom()) - 1,
                        static_cast<int>(area.bottom()) + 1) > pane->viewport()->width() / 2);
    }
    window->close();
  }

  // The merge window's contributors stay side by side, the result wraps and
  // follows them, and typing on a conflict's row below a wrapped row
  // settles that conflict.
  void merge_panes_wrap_and_typing_settles_the_right_conflict() {
    std::string base = numbered(60, "row ");
    std::string one = base;
    std::string other = base;
    replace_line(&base, "row ", 5, prose("base"));
    replace_line(&one, "row ", 5, prose("mine"));
    replace_line(&other, "row ", 5, prose("theirs"));
    replace_line(&one, "row ", 20, prose("one only"));
    replace_line(&one, "row ", 30, "ONE");
    replace_line(&other, "row ", 30, "OTHER");
    auto* window = new MergeWindow(merge_of(base, one, other), [](const std::string&) {});
    window->set_ask_on_close(false);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QCOMPARE(window->conflict_count(), std::size_t{2});
    QVERIFY(!window->wrap_action()->isChecked());
    // The result's menu has the command.
    QMenu* menu = window->context_menu_for(window->result_view(), 0);
    QVERIFY(menu->actions().contains(window->wrap_action()));
    delete menu;
    window->wrap_action()->trigger();
    settle();
    const std::vector<QPlainTextEdit*> views = {window->pane(0), window->pane(1), window->pane(2)};
    QPlainTextEdit* result = window->result_view();
    QCOMPARE(result->lineWrapMode(), QPlainTextEdit::WidgetWidth);
    for (int row : {0, 15, 25}) {
      window->sync()->set_top_row(row);
      settle();
      QCOMPARE(misaligned(views), QString());
      // The result shows the same row at its top: nothing differs above.
      QCOMPARE(first_row(result), row);
    }
    // The result's own scrolling takes the panes along, by rows.
    result->verticalScrollBar()->setValue(
        result->document()->findBlockByNumber(22).firstLineNumber());
    settle();
    QCOMPARE(window->sync()->top_row(), 22);
    QCOMPARE(misaligned(views), QString());
    // A right click on the empty lines beside row 20 ("one only", long) in
    // the base's pane opens the menu of that row, not of one below.
    window->sync()->set_top_row(15);
    settle();
    auto* base_pane = static_cast<DiffPane*>(window->pane(0));
    const QRectF padded = base_pane->row_area(19);
    QVERIFY(padded.height() > 2 * base_pane->row_area(18).height());
    emit base_pane->customContextMenuRequested(QPoint(40, static_cast<int>(padded.bottom()) - 3));
    QCOMPARE(base_pane->textCursor().blockNumber(), 19);
    if (QWidget* popup = QApplication::activePopupWidget()) popup->close();

    // Typing on the second conflict's row, below the wrapped rows, settles
    // that conflict and leaves the first open.
    const int row = window->result_row_of_conflict(1);
    QCOMPARE(row, 29);
    QTextCursor cursor(result->document()->findBlockByNumber(row));
    result->setFocus();
    result->setTextCursor(cursor);
    QTest::keyClicks(result, QStringLiteral("typed"));
    QCOMPARE(window->unresolved_count(), std::size_t{1});
    QCOMPARE(window->current_conflict(), std::size_t{1});
    QCOMPARE(result->document()->findBlockByNumber(row).text(), QStringLiteral("typed"));
    QVERIFY(window->result_note(window->result_row_of_conflict(0))
                .contains(QStringLiteral("not settled")));
    window->close_without_asking();
  }
};

}  // namespace marlow

MARLOW_QTEST_MAIN(marlow::WrapTest)

#include "wrap_qtest.moc"
