// Both windows on Qt's offscreen platform with a 1366x768 screen: every way
// of scrolling and zooming keeps the panes (and the merged result) in step,
// going to a change shows it, and the windows fit the screen.
#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QPlainTextDocumentLayout>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QWheelEvent>

#include "app/compare_window.h"
#include "app/merge_window.h"
#include "app/settings.h"
#include "tests/gui/qtest_files.h"

namespace marlow {

using testing::call;

namespace {

int top(QPlainTextEdit* view) { return view->verticalScrollBar()->value(); }

// The y of a row on screen: equal in every pane when rows line up.
int screen_y(QPlainTextEdit* view, int row) {
  const QRect rect = view->cursorRect(QTextCursor(view->document()->findBlockByNumber(row)));
  return view->viewport()->mapToGlobal(rect.topLeft()).y();
}

void wheel(QPlainTextEdit* view, int notches, Qt::KeyboardModifiers mods) {
  const QPointF at(30, 30);
  QWheelEvent event(at, view->viewport()->mapToGlobal(at), QPoint(), QPoint(0, 120 * notches),
                    Qt::NoButton, mods, Qt::NoScrollPhase, false);
  QCoreApplication::sendEvent(view->viewport(), &event);
}

std::string numbered(int count, const std::string& prefix) {
  std::string text;
  for (int i = 1; i <= count; ++i) text += prefix + std::to_string(i) + "\n";
  return text;
}

// Whether a widget lies wholly inside the screen's available area.
bool on_screen(QWidget* widget) {
  const QRect area = widget->screen()->availableGeometry();
  const QRect rect(widget->mapToGlobal(QPoint(0, 0)), widget->size());
  return area.contains(rect);
}

}  // namespace

class PanesTest : public QObject, private testing::Files {
  Q_OBJECT

 private:
  CompareWindow* compare(const std::vector<std::string>& paths) {
    Preparation prep = prepare(call("RequestHandler.Compare", "", paths), false);
    if (!prep.needs_window) return nullptr;
    auto* window = new CompareWindow(prep.job, [](const std::string&) {});
    window->show();
    return window;
  }
  MergeWindow* merge(const std::vector<std::string>& paths, const std::string& out) {
    Preparation prep = prepare(call("RequestHandler.CompareMerge", out, paths), false);
    if (!prep.needs_window) return nullptr;
    auto* window = new MergeWindow(prep.job, [](const std::string&) {});
    window->set_ask_on_close(false);
    window->show();
    return window;
  }
  // 300 lines; the second text changes the end of a long line 150 and adds
  // lines after 250.
  CompareWindow* long_compare() {
    std::string left = numbered(300, "line ");
    std::string right = left;
    const std::string tail(300, '.');
    left.replace(left.find("line 150\n"), 9, "line 150 " + tail + "end\n");
    right.replace(right.find("line 150\n"), 9, "line 150 " + tail + "END\n");
    right.replace(right.find("line 251\n"), 9, "new a\nnew b\nline 251\n");
    write("left", left);
    write("right", right);
    return compare({path("left"), path("right")});
  }
  // 400 lines; conflicts at lines 120 (at the end of a long line) and 300,
  // a clean change of "one" at 200 adding six lines.
  MergeWindow* long_merge() {
    std::string base = numbered(400, "row ");
    const std::string tail(250, '-');
    base.replace(base.find("row 120\n"), 8, "row 120 " + tail + "base\n");
    std::string one = base;
    std::string other = base;
    one.replace(one.find(tail + "base"), tail.size() + 4, tail + "mine");
    other.replace(other.find(tail + "base"), tail.size() + 4, tail + "theirs");
    one.replace(one.find("row 200\n"), 8, "a\nb\nc\nd\ne\nf\nrow 200\n");
    one.replace(one.find("row 300\n"), 8, "ONE\n");
    other.replace(other.find("row 300\n"), 8, "OTHER\nOTHER 2\n");
    write("base", base);
    write("one", one);
    write("other", other);
    return merge({path("base"), path("one"), path("other")}, path("out"));
  }

 private slots:
  void screen_is_the_small_one() {
    // The rest rely on it: the offscreen platform took the configured screen.
    QCOMPARE(QApplication::primaryScreen()->size(), QSize(1366, 768));
  }

  void compare_panes_move_together_every_way() {
    CompareWindow* window = long_compare();
    QVERIFY(window != nullptr);
    QVERIFY(QTest::qWaitForWindowExposed(window));
    DiffPane* left = window->pane(0);
    DiffPane* right = window->pane(1);
    const auto in_step = [&] { return top(left) == top(right); };

    // Keys in the left pane, which has no scroll bar of its own.
    left->setFocus();
    window->sync()->set_top_row(0);
    QTest::keyClick(left, Qt::Key_PageDown);
    QVERIFY(top(left) > 0);
    QVERIFY(in_step());
    const int one_page = top(right);
    QTest::keyClick(left, Qt::Key_PageDown);
    QCOMPARE(top(right), 2 * one_page);
    QTest::keyClick(left, Qt::Key_PageUp);
    QCOMPARE(top(right), one_page);
    QTest::keyClick(left, Qt::Key_End, Qt::ControlModifier);
    QCOMPARE(top(left), left->verticalScrollBar()->maximum());
    QVERIFY(in_step());
    QTest::keyClick(right, Qt::Key_Home, Qt::ControlModifier);
    QCOMPARE(top(left), 0);
    QVERIFY(in_step());
    QTest::keyClick(right, Qt::Key_Down);
    QCOMPARE(top(left), 1);

    // The wheel over either pane, and the scroll bar.
    wheel(left, -3, Qt::NoModifier);
    QVERIFY(top(right) > 1);
    QVERIFY(in_step());
    right->verticalScrollBar()->setValue(77);
    QCOMPARE(top(left), 77);
    // A click in the scroll bar's trough turns a page.
    QScrollBar* bar = right->verticalScrollBar();
    QTest::mouseClick(bar, Qt::LeftButton, Qt::NoModifier,
                      QPoint(bar->width() / 2, bar->height() - 30));
    QVERIFY(top(right) > 77);
    QTRY_COMPARE(top(left), top(right));

    // Ctrl+wheel zooms both; rows stay level.
    const qreal size = left->font().pointSizeF();
    wheel(right, 2, Qt::ControlModifier);
    QCOMPARE(left->font().pointSizeF(), size + 2);
    QCOMPARE(right->font().pointSizeF(), size + 2);
    QVERIFY(in_step());
    QCOMPARE(screen_y(left, top(left) + 3), screen_y(right, top(right) + 3));
    QTest::keyClick(left, Qt::Key_Minus, Qt::ControlModifier);
    QCOMPARE(right->font().pointSizeF(), size + 1);
    QTest::keyClick(left, Qt::Key_0, Qt::ControlModifier);
    QCOMPARE(right->font().pointSizeF(), size);
    QCOMPARE(left->font().pointSizeF(), size);
    // Ctrl++ as typed on a US keyboard: Ctrl+Shift+= (Qt reports the plus).
    QTest::keyClick(left, Qt::Key_Plus, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(right->font().pointSizeF(), size + 1);
    QCOMPARE(left->font().pointSizeF(), size + 1);
    QVERIFY(window->close());
  }

  void going_to_a_change_shows_it_sideways_and_with_context() {
    CompareWindow* window = long_compare();
    QVERIFY(window != nullptr);
    QVERIFY(QTest::qWaitForWindowExposed(window));
    DiffPane* right = window->pane(1);
    // Opens on the first difference (row 149), with rows above it in view.
    QCOMPARE(window->current_difference(), 0);
    QVERIFY(top(right) < 149 - 3);
    QVERIFY(top(right) + right->viewport()->height() / right->fontMetrics().lineSpacing() > 150);
    // Its change is at the end of a long line: the panes scrolled to it.
    const int x = right->column_x(149, 9 + 300);
    const int left_edge = right->horizontalScrollBar()->value();
    QVERIFY(left_edge > 0);
    QVERIFY(x > left_edge && x < left_edge + right->viewport()->width());
    const int left_pane_edge = window->pane(0)->horizontalScrollBar()->value();
    QVERIFY(x > left_pane_edge && x < left_pane_edge + window->pane(0)->viewport()->width());
    // The whole change is in view, with room after it: the panes scroll a
    // little past the end of their longest row.
    const int end = right->column_x(149, 9 + 300 + 3);
    const int room = right->fontMetrics().horizontalAdvance(QLatin1Char('m'));
    QVERIFY(end + room <= left_edge + right->viewport()->width());
    QVERIFY(end + room <= left_pane_edge + window->pane(0)->viewport()->width());
    // The next one is at the left edge: back there.
    window->go_to_difference(1);
    QCOMPARE(right->horizontalScrollBar()->value(), 0);
    QCOMPARE(top(window->pane(0)), top(right));
    QVERIFY(window->close());
  }

  void the_last_rows_number_is_level_with_its_text() {
    // Each line's text is its own number, so the gutter and the text draw
    // the same glyphs: their ink must start and end on the same pixel rows.
    std::string left;
    for (int i = 1; i <= 80; ++i) left += std::to_string(i) + "\n";
    std::string right = left;
    right.replace(0, 2, "one\n");
    write("left", left);
    write("right", right);
    CompareWindow* window = compare({path("left"), path("right")});
    QVERIFY(window != nullptr);
    QVERIFY(QTest::qWaitForWindowExposed(window));
    window->sync()->set_top_row(80);
    DiffPane* pane = window->pane(0);
    QTRY_VERIFY(pane->row_area(79).bottom() <= pane->viewport()->height());
    const QImage image = pane->grab().toImage();
    const QPoint viewport_at = pane->viewport()->mapTo(pane, QPoint(0, 0));
    // The first and last pixel rows with ink at x in [x0, x1) from y on.
    const auto ink = [&image](int x0, int x1, int y0, int y1) {
      int top = -1;
      int bottom = -1;
      for (int y = std::max(0, y0); y < std::min(y1, image.height()); ++y) {
        for (int x = x0; x < x1; ++x) {
          if (qGray(image.pixel(x, y)) < 160) {
            if (top < 0) top = y;
            bottom = y;
            break;
          }
        }
      }
      return std::pair{top, bottom};
    };
    for (const int row : {75, 79}) {
      const QRectF area = pane->row_area(row);
      const int y0 = viewport_at.y() + static_cast<int>(area.top());
      // Below the last row: nothing down to the viewport's bottom.
      const int y1 = viewport_at.y() +
                     (row == 79 ? pane->viewport()->height() : static_cast<int>(area.bottom()));
      const auto number =
          ink(viewport_at.x() - pane->gutter_width() + 2, viewport_at.x() - 6, y0, y1);
      const auto text = ink(viewport_at.x() + 2, viewport_at.x() + 60, y0, y1);
      QVERIFY(number.first >= 0 && text.first >= 0);
      QCOMPARE(number, text);
    }
    QVERIFY(window->close());
  }

  void large_texts_fill_every_pane_and_the_views_follow() {
    // Texts large enough that the panes are filled side by side on threads:
    // each pane holds exactly its rows, and its view scrolls over all of them.
    constexpr int kLines = 20000;
    std::string left = numbered(kLines, "a line of some length to fill the pane, number ");
    std::string right = left;
    right.replace(right.find("number 15000\n"), 13, "number 15000 changed\nan added row\n");
    write("left", left);
    write("right", right);
    CompareWindow* window = compare({path("left"), path("right")});
    QVERIFY(window != nullptr);
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QCOMPARE(window->difference_count(), 1);
    for (const int side : {0, 1}) {
      DiffPane* pane = window->pane(side);
      QCOMPARE(pane->document()->blockCount(), kLines + 1);
      QCOMPARE(pane->document()->findBlockByNumber(0).text(),
               QStringLiteral("a line of some length to fill the pane, number 1"));
      QCOMPARE(pane->verticalScrollBar()->maximum(),
               window->pane(0)->verticalScrollBar()->maximum());
      QVERIFY(pane->verticalScrollBar()->maximum() > kLines - 100);
    }
    QCOMPARE(window->pane(1)->document()->findBlockByNumber(14999).text(),
             QStringLiteral("a line of some length to fill the pane, number 15000 changed"));
    QCOMPARE(window->pane(0)->document()->findBlockByNumber(15000).text(), QString());
    // Opened on the difference; Ctrl+End reaches the last row in both.
    QCOMPARE(window->pane(0)->current_rows(), std::make_pair(14999, 15001));
    QTest::keyClick(window->pane(0), Qt::Key_End, Qt::ControlModifier);
    QCOMPARE(top(window->pane(1)), window->pane(1)->verticalScrollBar()->maximum());
    // Rows are put in without laying any out, as a filling thread must:
    // text it measured would keep font engines that end with the thread.
    QTextDocument doc;
    doc.setDocumentLayout(new QPlainTextDocumentLayout(&doc));
    fill_rows(&doc, QStringLiteral("one\ntwo\nthree"));
    QCOMPARE(doc.blockCount(), 3);
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
      QCOMPARE(block.layout()->lineCount(), 0);
    }
    // Filled again while shown (an option changed): the views still scroll
    // over every row.
    const int range = window->pane(0)->verticalScrollBar()->maximum();
    window->set_ignore_whitespace(!window->ignore_whitespace());
    for (const int side : {0, 1}) {
      QCOMPARE(window->pane(side)->document()->blockCount(), kLines + 1);
      QCOMPARE(window->pane(side)->verticalScrollBar()->maximum(), range);
    }

    std::string base = numbered(kLines, "a row of the merge, long enough to be threaded, ");
    std::string one = base;
    std::string other = base;
    one.replace(one.find("threaded, 100\n"), 14, "threaded, one\n");
    other.replace(other.find("threaded, 100\n"), 14, "threaded, other\nand more\n");
    write("base", base);
    write("one", one);
    write("other", other);
    MergeWindow* merge_window = merge({path("base"), path("one"), path("other")}, path("out"));
    QVERIFY(merge_window != nullptr);
    QVERIFY(QTest::qWaitForWindowExposed(merge_window));
    QCOMPARE(merge_window->conflict_count(), std::size_t{1});
    for (const std::size_t side : {0, 1, 2}) {
      QPlainTextEdit* pane = merge_window->pane(side);
      QCOMPARE(pane->document()->blockCount(), kLines + 1);
      QVERIFY(pane->verticalScrollBar()->maximum() > kLines - 100);
    }
    QCOMPARE(merge_window->pane(2)->document()->findBlockByNumber(100).text(),
             QStringLiteral("and more"));
    QVERIFY(window->close());
    QVERIFY(merge_window->close());
  }

  void merge_panes_and_result_move_together() {
    MergeWindow* window = long_merge();
    QVERIFY(window != nullptr);
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QCOMPARE(window->conflict_count(), std::size_t{2});
    QPlainTextEdit* base = window->pane(0);
    QPlainTextEdit* other = window->pane(2);
    QPlainTextEdit* result = window->result_view();

    // Opens on the first conflict with context above it, in the panes and
    // the result, scrolled sideways to where the sides part.
    const int conflict_row = window->pane_row_of_conflict(0);
    QVERIFY(top(base) < conflict_row - 2);
    QVERIFY(top(base) + base->viewport()->height() / base->fontMetrics().lineSpacing() >
            conflict_row);
    QVERIFY(top(result) < window->result_row_of_conflict(0) - 2);
    QVERIFY(base->horizontalScrollBar()->value() > 0);

    // A key in one pane moves every pane and the result.
    base->setFocus();
    QTest::keyClick(base, Qt::Key_Home, Qt::ControlModifier);
    QCOMPARE(top(other), 0);
    QCOMPARE(top(result), 0);
    QTest::keyClick(base, Qt::Key_PageDown);
    QVERIFY(top(other) > 0);
    QCOMPARE(top(other), top(base));
    QCOMPARE(top(result), top(base));  // nothing differs above: row for row
    // Below the clean change that added six lines, the result runs ahead.
    other->verticalScrollBar()->setValue(250);
    QCOMPARE(top(base), 250);
    QCOMPARE(result->document()->findBlockByNumber(top(result)).text(),
             base->document()->findBlockByNumber(250).text());
    // The result's own scrolling takes the panes along.
    result->verticalScrollBar()->setValue(60);
    QCOMPARE(top(base), 60);
    QCOMPARE(top(other), 60);
    QTest::keyClick(result, Qt::Key_End, Qt::ControlModifier);
    QVERIFY(top(base) > 250);
    // Ctrl+wheel zooms panes and result alike.
    const qreal size = base->font().pointSizeF();
    wheel(other, 1, Qt::ControlModifier);
    QCOMPARE(base->font().pointSizeF(), size + 1);
    QCOMPARE(result->font().pointSizeF(), size + 1);
    QCOMPARE(screen_y(base, top(base) + 2), screen_y(other, top(other) + 2));

    // Going to the second conflict brings all of them there.
    window->go_to_conflict(1);
    const int second = window->pane_row_of_conflict(1);
    QVERIFY(top(other) < second && second < top(other) + visible(other));
    QVERIFY(top(result) < window->result_row_of_conflict(1));
    QCOMPARE(base->horizontalScrollBar()->value(), 0);
    window->close();
  }

  void windows_fit_and_messages_never_resize_them() {
    for (int i = 0; i < 2; ++i) {
      write("l", "a\n");
      write("r", "b\n");
      CompareWindow* window = compare({path("l"), path("r"), path("l")});
      QVERIFY(window != nullptr);
      QVERIFY(QTest::qWaitForWindowExposed(window));
      QVERIFY(on_screen(window));
      window->close();
    }
    MergeWindow* window = long_merge();
    QVERIFY(window != nullptr);
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QVERIFY(on_screen(window));
    for (QPushButton* button : window->findChildren<QPushButton*>()) {
      QVERIFY2(on_screen(button), qPrintable(button->text()));
    }
    window->take(1);
    window->go_to_conflict(1);
    window->take(2);
    QCOMPARE(window->unresolved_count(), std::size_t{0});
    // A save into a missing directory with a long name: the message is long.
    const QSize size = window->size();
    MergeWindow* far = merge({path("base"), path("one"), path("other")},
                             path("no-such-directory") + "/" + std::string(300, 'x') + "/out.txt");
    QVERIFY(far != nullptr);
    QVERIFY(QTest::qWaitForWindowExposed(far));
    const QSize far_size = far->size();
    far->take(1);
    far->go_to_conflict(1);
    far->take(1);
    QVERIFY(!far->save());
    QApplication::processEvents();
    QCOMPARE(far->size(), far_size);
    QVERIFY(on_screen(far));
    far->close();
    QCOMPARE(window->size(), size);
    window->close();
  }

  void the_size_the_user_gives_is_kept() {
    write("l", "a\n");
    write("r", "b\n");
    CompareWindow* window = compare({path("l"), path("r")});
    QVERIFY(QTest::qWaitForWindowExposed(window));
    window->resize(1000, 560);
    QTRY_COMPARE(window->size(), QSize(1000, 560));
    window->close();
    QCOMPARE(window_size_preference(QStringLiteral("compare")), QSize(1000, 560));
    window = compare({path("l"), path("r")});
    QCOMPARE(window->size(), QSize(1000, 560));
    window->close();
    // A kept size larger than this screen is cut down to it.
    set_window_size_preference(QStringLiteral("merge"), QSize(3000, 2000));
    MergeWindow* merge_window = long_merge();
    QVERIFY(QTest::qWaitForWindowExposed(merge_window));
    QVERIFY(on_screen(merge_window));
    merge_window->close();
  }

 private:
  static int visible(QPlainTextEdit* view) {
    return view->viewport()->height() / view->fontMetrics().lineSpacing();
  }
};

}  // namespace marlow

// An offscreen screen of 1366x768, the smallest the windows are made for.
int main(int argc, char** argv) {
  QTemporaryDir dir;
  qputenv("XDG_CONFIG_HOME", (dir.path() + "/config").toUtf8());
  QFile config(dir.path() + "/screen.json");
  if (!config.open(QIODevice::WriteOnly)) return 2;
  config.write(R"({"screens": [{"name": "small", "x": 0, "y": 0, "width": 1366, "height": 768,
                   "logicalDpiX": 96, "logicalDpiY": 96, "dpr": 1}]})");
  config.close();
  qputenv("QT_QPA_PLATFORM", ("offscreen:configfile=" + config.fileName()).toUtf8());
  QApplication app(argc, argv);
  marlow::PanesTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "panes_qtest.moc"
