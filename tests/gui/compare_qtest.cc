// The comparison window on Qt's offscreen platform.
#include "app/compare_window.h"

#include <QCheckBox>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QWheelEvent>

#include "tests/gui/qtest_files.h"

namespace marlow {

using testing::call;

namespace {

QTextBlock row_of(DiffPane* pane, int row) { return pane->document()->findBlockByNumber(row); }

QColor background(DiffPane* pane, int row) { return pane->row_background(row); }

// The text of the characters marked as changed in a row, piece by piece.
QStringList marked(DiffPane* pane, int row) {
  QStringList pieces;
  const QString text = row_of(pane, row).text();
  for (const CharMark& mark : pane->char_marks()) {
    if (mark.row == row) pieces << text.mid(mark.start, mark.length);
  }
  return pieces;
}

// Whether the frame of the current difference is painted at the left edge
// of the pane beside `row`.
bool framed(DiffPane* pane, int row) {
  const QImage image = pane->viewport()->grab().toImage();
  const int y = pane->cursorRect(QTextCursor(row_of(pane, row))).center().y();
  return image.pixelColor(0, y) == kCurrent;
}

template <typename W>
W* child_named(QWidget* window, const QString& text) {
  for (W* w : window->findChildren<W*>()) {
    if (w->text() == text) return w;
  }
  return nullptr;
}

}  // namespace

class CompareWindowTest : public QObject {
  Q_OBJECT

 private:
  testing::Files files_;
  std::string path(const char* name) { return files_.path(name); }
  void write(const char* name, const std::string& text) { files_.write(name, text); }

  CompareWindow* open(const std::vector<std::string>& paths, std::string* reply) {
    Preparation prep = prepare(call("RequestHandler.Compare", "", paths), false);
    if (!prep.needs_window) return nullptr;
    auto* window = new CompareWindow(prep.job, [reply](const std::string& r) { *reply += r; });
    window->show();
    return window;
  }

 private slots:
  // Ignoring whitespace, a changed line shows its real changes only, not a
  // changed indentation.
  void ignored_whitespace_is_not_marked() {
    write("indent_left", "a\n    call(one);\nz\n");
    write("indent_right", "a\n\tcall(two);\nz\n");
    std::string reply;
    CompareWindow* window = open({path("indent_left"), path("indent_right")}, &reply);
    QCOMPARE(marked(window->pane(1), 1),
             (QStringList{QStringLiteral("\t"), QStringLiteral("two")}));
    window->set_ignore_whitespace(true);
    QCOMPARE(window->difference_count(), 1);
    QCOMPARE(marked(window->pane(1), 1), QStringList{QStringLiteral("two")});
    QCOMPARE(marked(window->pane(0), 1), QStringList{QStringLiteral("one")});
    window->set_ignore_whitespace(false);
    window->close();
  }

  // Changed lines past the limit are marked from their first to their last
  // changed character, the window says so, and marks them fully on demand;
  // F8 scrolls sideways to the change either way.
  void long_lines_say_how_they_are_marked() {
    const std::string head(4500, 'x');
    write("long_left", "a\n" + head + " alpha middle gamma\nz\n");
    write("long_right", "a\n" + head + " ALPHA middle GAMMA\nz\n");
    write("short_left", "a\nb c\n");
    write("short_right", "a\nb d\n");
    std::string reply;
    CompareWindow* plain = open({path("short_left"), path("short_right")}, &reply);
    QVERIFY(plain->long_line_note()->isHidden());
    plain->close();
    CompareWindow* window = open({path("long_left"), path("long_right")}, &reply);
    QVERIFY(window != nullptr);
    QVERIFY(!window->long_line_note()->isHidden());
    QVERIFY2(window->long_line_note_text().contains(QStringLiteral("1 changed line longer")),
             qPrintable(window->long_line_note_text()));
    QCOMPARE(marked(window->pane(1), 1), QStringList{QStringLiteral("ALPHA middle GAMMA")});
    QVERIFY(window->pane(1)->horizontalScrollBar()->value() > 0);
    window->set_mark_long_lines(true);
    QVERIFY(window->long_line_note()->isHidden());
    QCOMPARE(marked(window->pane(1), 1),
             (QStringList{QStringLiteral("ALPHA"), QStringLiteral("GAMMA")}));
    QCOMPARE(marked(window->pane(0), 1),
             (QStringList{QStringLiteral("alpha"), QStringLiteral("gamma")}));
    QVERIFY(window->pane(1)->horizontalScrollBar()->value() > 0);
    window->close();
  }

  // A sideways position worked out for one width is worked out again when
  // the window gets another size (as a window manager gives it after the
  // window is shown).
  void sideways_position_follows_the_size_the_window_gets() {
    std::string left;
    std::string right;
    const std::string head = "    int value = compute(first_argument, second_argument, more, ";
    for (int i = 0; i < 30; ++i) {
      // A long tail keeps the rows wider than the panes at either size.
      const std::string tail = "); // " + std::string(200, '-') + "\n";
      left += head + std::to_string(i) + tail;
      right += head + std::to_string(i == 3 ? 99 : i) + tail;
    }
    write("wide_left", left);
    write("wide_right", right);
    std::string reply;
    CompareWindow* window = open({path("wide_left"), path("wide_right")}, &reply);
    QVERIFY(window != nullptr);
    // Too narrow for the change at first: scrolled to it.
    const int first_width = window->pane(0)->viewport()->width();
    QVERIFY2(window->pane(0)->horizontalScrollBar()->value() > 0,
             qPrintable(QString::number(first_width)));
    // Wide enough: the rows' starts are in view again.
    window->resize(window->width() * 2, window->height());
    QTRY_VERIFY(window->pane(0)->viewport()->width() > first_width * 3 / 2);
    for (int s = 0; s < 2; ++s) QTRY_COMPARE(window->pane(s)->horizontalScrollBar()->value(), 0);
    window->close();
  }

  void two_texts_align_and_walk_differences() {
    write("left", "a\nb\nc\nd\n");
    write("right", "a\nB\nc\nd\ne\nf\n");
    std::string reply;
    CompareWindow* window = open({path("left"), path("right")}, &reply);
    QVERIFY(window != nullptr);
    QCOMPARE(window->pane_count(), 2);
    QCOMPARE(window->difference_count(), 2);
    QCOMPARE(window->pane(0)->blockCount(), 6);
    QCOMPARE(window->pane(1)->blockCount(), 6);
    QCOMPARE(window->current_difference(), 0);
    // Line numbers are the files' own; fillers have none.
    QCOMPARE(window->pane(1)->line_number(5), 6);
    QCOMPARE(window->pane(0)->line_number(4), 0);
    QCOMPARE(background(window->pane(0), 4), kFiller);
    QCOMPARE(background(window->pane(1), 4), kAdded);
    QCOMPARE(background(window->pane(0), 0), QColor());
    // The current difference is framed in every pane, and only it.
    for (int i = 0; i < 2; ++i) {
      QCOMPARE(window->pane(i)->current_rows(), std::make_pair(1, 2));
      QVERIFY(framed(window->pane(i), 1));
      QVERIFY(!framed(window->pane(i), 4));
    }
    window->go_to_difference(1);
    QCOMPARE(window->pane(0)->textCursor().blockNumber(), 4);
    QCOMPARE(window->pane(1)->textCursor().blockNumber(), 4);
    for (int i = 0; i < 2; ++i) {
      QCOMPARE(window->pane(i)->current_rows(), std::make_pair(4, 6));
      QVERIFY(framed(window->pane(i), 5));
      QVERIFY(!framed(window->pane(i), 1));
    }
    window->go_to_difference(2);  // past the last: stays
    QCOMPARE(window->current_difference(), 1);
    window->go_to_difference(window->current_difference() - 1);
    QCOMPARE(window->current_difference(), 0);
    window->go_to_difference(-1);
    QCOMPARE(window->current_difference(), 0);
    QCOMPARE(window->pane(0)->current_rows(), std::make_pair(1, 2));
    QPushButton* close = child_named<QPushButton>(window, QStringLiteral("Close"));
    QVERIFY(close != nullptr);
    QPointer<CompareWindow> alive(window);
    close->click();
    QVERIFY(!alive || !alive->isVisible());
    QCOMPARE(reply, boolean_reply(true));  // answered once
  }

  void colours_are_painted_under_the_rows_in_view_at_any_width() {
    write("pl", "same\nkeep this\nsame\n");
    write("pr", "same\nkeep THAT\nsame\nadded\n");
    std::string reply;
    CompareWindow* window = open({path("pl"), path("pr")}, &reply);
    QVERIFY(window != nullptr);
    QVERIFY(QTest::qWaitForWindowExposed(window));
    DiffPane* pane = window->pane(1);
    const auto row_y = [pane](int row) {
      return static_cast<int>(pane->row_area(row).center().y());
    };
    // Whether `colour` is painted somewhere in row `row` between x0 and x1.
    const auto painted = [pane, &row_y](int row, int x0, int x1, const QColor& colour) {
      const QImage image = pane->viewport()->grab().toImage();
      for (int x = std::max(0, x0); x < std::min(x1, image.width()); ++x) {
        for (int y = row_y(row) - 2; y <= row_y(row) + 2; ++y) {
          if (image.pixelColor(x, y) == colour) return true;
        }
      }
      return false;
    };
    // Each time: the row colours reach the pane's right edge, the changed
    // characters are marked and nothing else is, plain rows stay plain.
    const auto check = [&] {
      const int right = pane->viewport()->width();
      QVERIFY(painted(3, right - 8, right, kAdded));
      QVERIFY(painted(1, right - 8, right, kChanged));
      QVERIFY(painted(1, pane->column_x(1, 5), pane->column_x(1, 9), kChangedText));
      QVERIFY(!painted(1, 0, pane->column_x(1, 5) - 1, kChangedText));
      QVERIFY(!painted(0, 0, right, kChanged));
    };
    check();
    const int width = pane->viewport()->width();
    window->resize(window->width() + 300, window->height());
    QTRY_VERIFY(pane->viewport()->width() > width);
    check();
    window->resize(window->width() - 300, window->height());
    QTRY_COMPARE(pane->viewport()->width(), width);
    check();
    QVERIFY(window->close());
  }

  void escape_closes() {
    write("e1", "a\n");
    write("e2", "b\n");
    std::string reply;
    CompareWindow* window = open({path("e1"), path("e2")}, &reply);
    QVERIFY(window != nullptr);
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window));
    QTest::keyClick(window, Qt::Key_Escape);
    QVERIFY(!window->isVisible());
    QCOMPARE(reply, boolean_reply(true));
  }

  void line_ends_can_be_ignored() {
    write("lf", "a\nb\nc\nd\ne");
    write("crlf", "a\r\nB\r\nc\r\nd\r\nE\r\n");
    write("crlf_same", "a\r\nb\r\nc\r\nd\r\ne\r\n");
    std::string reply;
    CompareWindow* window = open({path("lf"), path("crlf")}, &reply);
    QVERIFY(window != nullptr);
    QCheckBox* box = child_named<QCheckBox>(window, QStringLiteral("Ignore line ends"));
    QVERIFY(box != nullptr);
    QVERIFY(!box->isChecked());
    QCOMPARE(window->difference_count(), 1);  // every line differs
    QCOMPARE(background(window->pane(1), 0), kChanged);
    box->click();
    QVERIFY(window->ignore_line_ends());
    QCOMPARE(window->difference_count(), 2);
    QCOMPARE(background(window->pane(1), 0), QColor());
    QCOMPARE(background(window->pane(1), 4), kChanged);
    QCOMPARE(window->current_difference(), 0);
    QCOMPARE(window->pane(1)->current_rows(), std::make_pair(1, 2));
    QCOMPARE(marked(window->pane(1), 1), QStringList{QStringLiteral("B")});
    // The notes above the panes still tell the line ends apart.
    QVERIFY(child_named<QLabel>(window, QString::fromUtf8("UTF-8 \u00B7 CRLF \u00B7 5 lines")) !=
            nullptr);
    window->set_ignore_line_ends(false);
    QVERIFY(!box->isChecked());
    QCOMPARE(window->difference_count(), 1);
    QVERIFY(window->close());

    CompareWindow* same = open({path("lf"), path("crlf_same")}, &reply);
    QVERIFY(same != nullptr);
    QCOMPARE(same->difference_count(), 1);
    same->set_ignore_line_ends(true);
    QCOMPARE(same->difference_count(), 0);
    QCOMPARE(same->current_difference(), -1);
    QCOMPARE(same->pane(0)->current_rows(), std::make_pair(-1, -1));
    QVERIFY(child_named<QLabel>(same, QStringLiteral("The texts differ only in their line ends")) !=
            nullptr);
    QVERIFY(same->close());
  }

  void three_texts_align_against_the_first() {
    write("base", "one\ntwo\nthree\nfour\n");
    write("mine", "one\nTWO\nthree\nadded\nfour\n");
    write("theirs", "one\ntwo\nthree\n");
    std::string reply;
    CompareWindow* window = open({path("base"), path("mine"), path("theirs")}, &reply);
    QVERIFY(window != nullptr);
    QCOMPARE(window->pane_count(), 3);
    // Rows: one, two, three, (added), four.
    for (int i = 0; i < 3; ++i) QCOMPARE(window->pane(i)->blockCount(), 5);
    QCOMPARE(row_of(window->pane(1), 3).text(), QStringLiteral("added"));
    QCOMPARE(background(window->pane(0), 3), kFiller);
    QCOMPARE(background(window->pane(2), 3), kFiller);
    QCOMPARE(row_of(window->pane(2), 4).text(), QString());
    QCOMPARE(background(window->pane(2), 4), kFiller);
    QCOMPARE(background(window->pane(0), 4), kRemoved);
    // Theirs left "two" alone: plain there, while base and mine show the change.
    QCOMPARE(background(window->pane(2), 1), QColor());
    QCOMPARE(background(window->pane(1), 1), kChanged);
    QCOMPARE(window->difference_count(), 2);
    window->go_to_difference(1);
    QCOMPARE(window->pane(2)->textCursor().blockNumber(), 3);
    QVERIFY(window->close());
  }

  void changed_characters_are_marked() {
    write("old", "int colour = 10;\nsame\nx = \xC3\xA4lpha(1);\n");
    write("new", "int color = 12;\nsame\nx = \xC3\xB6lpha(1);\n");
    std::string reply;
    CompareWindow* window = open({path("old"), path("new")}, &reply);
    QVERIFY(window != nullptr);
    QCOMPARE(window->difference_count(), 2);
    QCOMPARE(marked(window->pane(0), 0), (QStringList{QStringLiteral("u"), QStringLiteral("10")}));
    QCOMPARE(marked(window->pane(1), 0), QStringList{QStringLiteral("12")});
    QCOMPARE(marked(window->pane(1), 1), QStringList());
    // Positions count characters, not bytes: the mark sits on the umlaut.
    QCOMPARE(marked(window->pane(0), 2), QStringList{QString::fromUtf8("\xC3\xA4")});
    QCOMPARE(marked(window->pane(1), 2), QStringList{QString::fromUtf8("\xC3\xB6")});
    QVERIFY(window->close());
  }

  void panes_scroll_together_and_keys_walk() {
    std::string many;
    for (int i = 0; i < 300; ++i) many += "line " + std::to_string(i) + "\n";
    std::string edited = many;
    edited.replace(edited.find("line 100\n"), 9,
                   "line one hundred, now much longer than any other line\n");
    edited.replace(edited.find("line 200\n"), 9, "");
    write("long0", many);
    write("long1", edited);
    write("long2", many);
    std::string reply;
    CompareWindow* window = open({path("long0"), path("long1"), path("long2")}, &reply);
    QVERIFY(window != nullptr);
    QCOMPARE(window->difference_count(), 2);
    // The first difference is in view in every pane.
    for (int i = 0; i < 3; ++i) {
      const int top = window->pane(i)->verticalScrollBar()->value();
      const int rows =
          window->pane(i)->viewport()->height() / window->pane(i)->fontMetrics().lineSpacing();
      QVERIFY(top < 100 && 100 < top + rows - 2);
    }
    window->pane(2)->verticalScrollBar()->setValue(40);
    for (int i = 0; i < 3; ++i) QCOMPARE(window->pane(i)->verticalScrollBar()->value(), 40);
    // The wheel scrolls a pane without a scroll bar of its own, and the rest follow.
    QWheelEvent wheel(QPointF(20, 20), window->pane(0)->viewport()->mapToGlobal(QPointF(20, 20)),
                      QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase,
                      false);
    QCoreApplication::sendEvent(window->pane(0)->viewport(), &wheel);
    QVERIFY(window->pane(2)->verticalScrollBar()->value() > 40);
    QCOMPARE(window->pane(1)->verticalScrollBar()->value(),
             window->pane(2)->verticalScrollBar()->value());
    // A pane that cannot scroll as far sideways does not hold the others back.
    window->pane(1)->horizontalScrollBar()->setValue(
        window->pane(1)->horizontalScrollBar()->maximum());
    QVERIFY(window->pane(1)->horizontalScrollBar()->value() > 0);
    QCOMPARE(window->pane(0)->horizontalScrollBar()->value(),
             window->pane(0)->horizontalScrollBar()->maximum());

    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window));
    QTest::keyClick(window, Qt::Key_F8);
    QCOMPARE(window->current_difference(), 1);
    QTest::keyClick(window, Qt::Key_Up, Qt::AltModifier);
    QCOMPARE(window->current_difference(), 0);
    QVERIFY(window->close());
  }

  void identical_texts() {
    write("x", "same\ntext\n");
    write("y", "same\ntext\n");
    std::string reply;
    CompareWindow* window = open({path("x"), path("y")}, &reply);
    QVERIFY(window != nullptr);
    QCOMPARE(window->difference_count(), 0);
    QCOMPARE(window->current_difference(), -1);
    window->go_to_difference(0);
    QCOMPARE(window->current_difference(), -1);
    bool says_identical = false;
    for (QLabel* label : window->findChildren<QLabel*>()) {
      says_identical = says_identical || label->text() == QStringLiteral("The texts are identical");
    }
    QVERIFY(says_identical);
    delete window;  // without a close event: the destructor answers
    QCOMPARE(reply, boolean_reply(true));
  }
};

}  // namespace marlow

MARLOW_QTEST_MAIN(marlow::CompareWindowTest)
#include "compare_qtest.moc"
