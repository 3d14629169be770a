// The options of both windows on Qt's offscreen platform: search, ignoring
// whitespace and line ends (remembered), tab width, Enter, and the list of
// shortcuts.
#include <QApplication>
#include <QAction>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QShortcut>
#include <QSpinBox>
#include <QTest>
#include <QTextBlock>
#include <QTimer>

#include "app/compare_window.h"
#include "app/find_bar.h"
#include "app/merge_window.h"
#include "app/settings.h"
#include "app/shortcuts_help.h"
#include "tests/gui/qtest_files.h"

namespace marlow {

using testing::call;

class OptionsTest : public QObject, private testing::Files {
  Q_OBJECT

 private:
  CompareWindow* compare(const std::vector<std::string>& paths, std::string* reply = nullptr) {
    Preparation prep = prepare(call("RequestHandler.Compare", "", paths), false);
    if (!prep.needs_window) return nullptr;
    auto* window = new CompareWindow(prep.job, [reply](const std::string& r) {
      if (reply != nullptr) *reply += r;
    });
    window->show();
    return window;
  }
  // One conflict (line 2) unless other texts are given.
  MergeWindow* merge(std::string* reply, const std::string& base = "a\nb\nc\n",
                     const std::string& one = "a\nB1\nc\n",
                     const std::string& other = "a\nB2\nc\n") {
    auto* window =
        new MergeWindow(merge_of(base, one, other), [reply](const std::string& r) { *reply += r; });
    window->show();
    return window;
  }
  static int row_of_cursor(QPlainTextEdit* view) { return view->textCursor().blockNumber(); }

 private slots:
  void search_finds_in_the_pane_last_used_and_wraps() {
    std::string left;
    std::string right;
    for (int i = 1; i <= 200; ++i) {
      left += "left " + std::to_string(i) + (i % 50 == 0 ? " needle" : "") + "\n";
      right += "right " + std::to_string(i) + (i == 120 ? " needle" : "") + "\n";
    }
    write("left", left);
    write("right", right);
    CompareWindow* window = compare({path("left"), path("right")});
    QVERIFY(QTest::qWaitForWindowActive(window));
    FindBar* bar = window->find_bar();
    QVERIFY(!bar->isVisible());
    window->pane(0)->setFocus();
    QTest::keyClick(window, Qt::Key_F, Qt::ControlModifier);
    QVERIFY(bar->isVisible());
    QVERIFY(bar->field()->hasFocus());
    QTest::keyClicks(bar->field(), "needle");
    QTest::keyClick(bar->field(), Qt::Key_Return);
    // The window opened on its first difference (row 49); the search goes
    // on from there, and the panes follow the match.
    QCOMPARE(row_of_cursor(window->pane(0)), 49);
    QCOMPARE(bar->note(), QStringLiteral("1 of 4"));
    QTest::keyClick(bar->field(), Qt::Key_F3);
    QCOMPARE(row_of_cursor(window->pane(0)), 99);
    QCOMPARE(bar->note(), QStringLiteral("2 of 4"));
    // The match stands in the middle of the pane, not at an edge.
    const int top = window->pane(0)->verticalScrollBar()->value();
    const int rows =
        window->pane(0)->viewport()->height() / window->pane(0)->fontMetrics().lineSpacing();
    QVERIFY(top + rows / 4 <= 99 && 99 < top + rows * 3 / 4);
    QCOMPARE(window->pane(1)->verticalScrollBar()->value(), top);
    QTest::keyClick(bar->field(), Qt::Key_F3);
    QTest::keyClick(bar->field(), Qt::Key_F3);
    QCOMPARE(row_of_cursor(window->pane(0)), 199);
    QTest::keyClick(bar->field(), Qt::Key_F3);  // round to the start
    QCOMPARE(row_of_cursor(window->pane(0)), 49);
    QCOMPARE(bar->note(), QStringLiteral("1 of 4, from the start"));
    QTest::keyClick(bar->field(), Qt::Key_F3, Qt::ShiftModifier);  // and back round to the end
    QCOMPARE(row_of_cursor(window->pane(0)), 199);
    QCOMPARE(bar->note(), QStringLiteral("4 of 4, from the end"));
    // Another pane, once used, is the one searched.
    window->pane(1)->setFocus();
    QTest::keyClick(window, Qt::Key_F3);
    QCOMPARE(row_of_cursor(window->pane(1)), 119);
    // Escape in the field hides the bar and leaves the window open.
    bar->open();
    QTest::keyClick(bar->field(), Qt::Key_Escape);
    QVERIFY(!bar->isVisible());
    QVERIFY(window->isVisible());
    // Not found: the cursor stays.
    bar->field()->setText(QStringLiteral("nowhere"));
    QVERIFY(!bar->find(false));
    QCOMPARE(row_of_cursor(window->pane(1)), 119);
    QCOMPARE(bar->note(), QStringLiteral("Not found"));
    // Case is ignored unless asked for; a part of a word matches unless
    // whole words are asked for.
    window->pane(0)->setFocus();
    bar->field()->setText(QStringLiteral("NEEDLE"));
    QVERIFY(bar->find(false));
    bar->match_case_box()->setChecked(true);
    QVERIFY(!bar->find(false));
    bar->match_case_box()->setChecked(false);
    bar->field()->setText(QStringLiteral("eedl"));
    QVERIFY(bar->find(false));
    bar->whole_words_box()->setChecked(true);
    QVERIFY(!bar->find(false));
    bar->field()->setText(QStringLiteral("needle"));
    QVERIFY(bar->find(false));
    bar->whole_words_box()->setChecked(false);
    window->close();

    // The merged result is searched too.
    std::string reply;
    MergeWindow* merge_window = merge(&reply);
    QVERIFY(QTest::qWaitForWindowActive(merge_window));
    merge_window->take(1);
    merge_window->result_view()->setFocus();
    merge_window->find_bar()->field()->setText(QStringLiteral("B1"));
    QVERIFY(merge_window->find_bar()->find(false));
    QCOMPARE(merge_window->find_bar()->view(), merge_window->result_view());
    QCOMPARE(merge_window->result_view()->textCursor().selectedText(), QStringLiteral("B1"));
    // The matches are counted again once the text has changed.
    const QString once = merge_window->find_bar()->note();
    QTextCursor(merge_window->result_view()->document()).insertText(QStringLiteral("B1\n"));
    QVERIFY(merge_window->find_bar()->find(false));
    QVERIFY2(merge_window->find_bar()->note() != once, qPrintable(once));
    QVERIFY2(merge_window->find_bar()->note().contains(QStringLiteral(" of 2")),
             qPrintable(merge_window->find_bar()->note()));
    merge_window->close_without_asking();

    // Counting stops past 9999 matches; 9999 are still counted whole.
    for (const int lines : {9999, 10001}) {
      std::string text;
      for (int i = 0; i < lines; ++i) text += "x\n";
      write("many", text);
      write("other", "y\n" + text);
      CompareWindow* many = compare({path("many"), path("other")});
      many->pane(0)->setFocus();
      many->pane(0)->moveCursor(QTextCursor::Start);
      many->find_bar()->field()->setText(QStringLiteral("x"));
      QVERIFY(many->find_bar()->find(false));
      QCOMPARE(many->find_bar()->note(),
               lines == 9999 ? QStringLiteral("1 of 9999") : QStringLiteral("1 of more than 9999"));
      many->close();
    }
  }

  void ignoring_whitespace_and_line_ends_is_remembered() {
    write("tight", "int a=1;\nif (a) {\n  call(a);\n}\nend\n");
    write("loose", "int a = 1;\nif (a) {\n\tcall( a );\n}\r\nEND\n");
    CompareWindow* window = compare({path("tight"), path("loose")});
    QCOMPARE(window->difference_count(), 2);  // line 1, and lines 3-5 (blanks, CRLF, "END")
    auto* blanks = window->findChild<QCheckBox*>();
    for (QCheckBox* box : window->findChildren<QCheckBox*>()) {
      if (box->text() == QStringLiteral("Ignore whitespace")) blanks = box;
    }
    blanks->click();
    QVERIFY(window->ignore_whitespace());
    QCOMPARE(window->difference_count(), 1);  // the CRLF line and "END"
    QCOMPARE(window->pane(0)->current_rows(), std::make_pair(3, 5));
    window->set_ignore_line_ends(true);
    QCOMPARE(window->difference_count(), 1);  // "END" alone
    QCOMPARE(window->pane(0)->current_rows(), std::make_pair(4, 5));
    window->close();
    // The next window starts with both.
    window = compare({path("tight"), path("loose")});
    QVERIFY(window->ignore_whitespace());
    QVERIFY(window->ignore_line_ends());
    QCOMPARE(window->difference_count(), 1);
    window->set_ignore_whitespace(false);
    window->set_ignore_line_ends(false);
    window->close();
    QVERIFY(!ignore_whitespace_preference());
    QVERIFY(!ignore_line_ends_preference());
  }

  void tab_width_is_a_setting() {
    write("tabs", "\tx\n");
    write("spaces", "        x\n");
    CompareWindow* window = compare({path("tabs"), path("spaces")});
    DiffPane* pane = window->pane(0);
    DiffPane* spaces = window->pane(1);
    // Eight columns unless set: the tab ends where eight spaces do.
    QCOMPARE(pane->column_x(0, 1), spaces->column_x(0, 8));
    window->findChild<QSpinBox*>()->setValue(3);
    QCOMPARE(pane->column_x(0, 1), spaces->column_x(0, 3));
    QCOMPARE(tab_width_preference(), 3);
    window->close();
    window = compare({path("tabs"), path("spaces")});
    QCOMPARE(window->pane(0)->column_x(0, 1), window->pane(1)->column_x(0, 3));
    // It holds through a zoom.
    window->sync()->zoom_by(3);
    QCOMPARE(window->pane(0)->column_x(0, 1), window->pane(1)->column_x(0, 3));
    window->close();
    set_tab_width_preference(8);
  }

  // The merge window has the same setting, for its panes, its result and
  // the conflict editor alike.
  void merge_window_tab_width() {
    std::string reply;
    const auto open = [this, &reply] {
      MergeWindow* window = merge(&reply, "a\n\tb\nc\n", "a\n\tB1\nc\n", "a\n\tB2\nc\n");
      window->set_ask_on_close(false);
      return window;
    };
    MergeWindow* window = open();
    window->take(1);
    const auto columns = [](QPlainTextEdit* view) {
      return qRound(view->tabStopDistance() /
                    QFontMetricsF(view->font()).horizontalAdvance(QLatin1Char(' ')));
    };
    QPlainTextEdit* views[] = {window->pane(0), window->pane(2), window->result_view(),
                               window->conflict_editor()};
    for (QPlainTextEdit* view : views) QCOMPARE(columns(view), 8);
    auto* box = window->findChild<QSpinBox*>();
    QVERIFY(box != nullptr);
    box->setValue(4);
    for (QPlainTextEdit* view : views) QCOMPARE(columns(view), 4);
    QCOMPARE(tab_width_preference(), 4);
    window->close();
    window = open();
    QCOMPARE(columns(window->conflict_editor()), 4);
    QCOMPARE(columns(window->result_view()), 4);
    window->close();
    set_tab_width_preference(8);
  }

  void enter_is_the_default_button() {
    write("x", "a\n");
    write("y", "b\n");
    std::string reply;
    CompareWindow* window = compare({path("x"), path("y")}, &reply);
    QVERIFY(QTest::qWaitForWindowActive(window));
    window->pane(0)->setFocus();
    QTest::keyClick(window->pane(0), Qt::Key_Return);
    QVERIFY(reply.find("<boolean>1</boolean>") != std::string::npos);

    reply.clear();
    MergeWindow* merge_window = merge(&reply);
    QVERIFY(QTest::qWaitForWindowActive(merge_window));
    merge_window->pane(0)->setFocus();
    QTest::keyClick(merge_window->pane(0), Qt::Key_Return);  // unsettled: nothing happens
    QVERIFY(merge_window->isVisible());
    QVERIFY(!QFile::exists(QString::fromStdString(path("out"))));
    // Enter in the conflict editor is a line break, not a save.
    merge_window->conflict_editor()->setFocus();
    QTest::keyClicks(merge_window->conflict_editor(), "B");
    QTest::keyClick(merge_window->conflict_editor(), Qt::Key_Return);
    QTest::keyClicks(merge_window->conflict_editor(), "C");
    QVERIFY(merge_window->isVisible());
    merge_window->pane(0)->setFocus();
    QTest::keyClick(merge_window->pane(0), Qt::Key_Return);
    QCOMPARE(read("out"), std::string("a\nB\nC\nc\n"));
    QVERIFY(reply.find("<boolean>1</boolean>") != std::string::npos);
  }

  void every_shortcut_is_listed_with_what_it_does() {
    write("x", "a\n");
    write("y", "b\n");
    std::string reply;
    CompareWindow* window = compare({path("x"), path("y")});
    MergeWindow* merge_window = merge(&reply);
    for (QWidget* w : {static_cast<QWidget*>(window), static_cast<QWidget*>(merge_window)}) {
      const auto list = shortcut_list(w);
      QList<QKeySequence> all;
      for (QShortcut* shortcut : w->findChildren<QShortcut*>()) all << shortcut->key();
      for (QAction* command : w->actions()) all << command->shortcuts();
      QVERIFY(all.size() > 8);
      for (const QKeySequence& key : all) {
        const QString keys = key.toString(QKeySequence::NativeText);
        bool described = false;
        for (const auto& [listed, what] : list) {
          described =
              described || (listed.split(QStringLiteral(", ")).contains(keys) && !what.isEmpty());
        }
        QVERIFY2(described, qPrintable(keys));
      }
    }
    // A key whose button changes its text is described by what it does either way.
    for (const auto& [keys, what] : shortcut_list(merge_window)) {
      if (keys == QStringLiteral("Ctrl+R"))
        QVERIFY2(what.contains(QStringLiteral("or accept")), qPrintable(what));
    }
    window->close();
    merge_window->close_without_asking();
  }

  // The list opens wide enough to read every line without scrolling sideways.
  void the_shortcut_list_needs_no_sideways_scrolling() {
    std::string reply;
    MergeWindow* window = merge(&reply);
    QVERIFY(QTest::qWaitForWindowExposed(window));
    bool seen = false;
    QTimer::singleShot(0, [&seen] {
      QWidget* dialog = QApplication::activeModalWidget();
      if (dialog == nullptr) return;
      auto* scroll = dialog->findChild<QScrollArea*>();
      seen = scroll != nullptr && scroll->horizontalScrollBar()->maximum() == 0 &&
             dialog->width() <= dialog->screen()->availableGeometry().width();
      dialog->close();
    });
    QTest::keyClick(window, Qt::Key_F1);
    QVERIFY(seen);
    window->close_without_asking();
  }
};

}  // namespace marlow

MARLOW_QTEST_MAIN(marlow::OptionsTest)

#include "options_qtest.moc"
