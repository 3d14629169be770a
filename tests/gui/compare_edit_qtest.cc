// What the comparison window adds for daily work, on Qt's offscreen
// platform: more that may be ignored (remembered), going to a line and
// between panes.
#include <QApplication>
#include <QMenu>
#include <QPushButton>
#include <QScrollBar>
#include <QShortcut>
#include <QTest>
#include <QTextBlock>
#include <QToolButton>

#include "app/compare_window.h"
#include "app/settings.h"
#include "app/shortcuts_help.h"
#include "tests/gui/qtest_files.h"

namespace marlow {

using testing::call;

class CompareEditTest : public QObject, private testing::Files {
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
  static int cursor_row(QPlainTextEdit* view) { return view->textCursor().blockNumber(); }

 private slots:
  void more_ignoring_from_the_menu_is_remembered() {
    write("upper", "Alpha\n\nint a;\n// one\nEnd\n");
    write("lower", "alpha\nint   a;\n// two\nend\n");
    CompareWindow* window = compare({path("upper"), path("lower")});
    QVERIFY(window->difference_count() > 0);
    // The bar's menu sets each option.
    QMenu* menu = nullptr;
    for (QToolButton* button : window->findChildren<QToolButton*>()) {
      if (button->text() == QStringLiteral("More")) menu = button->menu();
    }
    QVERIFY(menu != nullptr);
    emit menu->aboutToShow();
    for (QAction* action : menu->actions()) {
      if (action->isCheckable()) action->trigger();
    }
    const IgnoreOptions set = window->ignore_options();
    QVERIFY(set.ignore_case && set.ignore_whitespace_amount && set.ignore_blank_lines);
    // The comment lines still differ: with the filter, nothing does.
    QCOMPARE(window->difference_count(), 1);
    IgnoreOptions filtered = set;
    filtered.line_filter = "^//";
    QVERIFY(window->set_ignore_options(filtered));
    QCOMPARE(window->difference_count(), 0);
    // No regular expression: refused, nothing changes.
    filtered.line_filter = "(";
    QVERIFY(!window->set_ignore_options(filtered));
    QCOMPARE(window->ignore_options().line_filter, std::string("^//"));
    // Shown checked when the menu opens again, and kept for the next window.
    emit menu->aboutToShow();
    int checked = 0;
    for (QAction* action : menu->actions()) checked += action->isChecked() ? 1 : 0;
    QCOMPARE(checked, 3);
    window->close();
    QCOMPARE(ignore_options_preference().line_filter, std::string("^//"));
    window = compare({path("upper"), path("lower")});
    QCOMPARE(window->difference_count(), 0);
    QVERIFY(window->set_ignore_options(IgnoreOptions{}));
    QCOMPARE(ignore_options_preference(), IgnoreOptions{});
    window->close();
  }

  void control_l_goes_to_a_line_of_the_focused_panes_file_and_f6_moves_between_panes() {
    std::string left;
    std::string right;
    for (int i = 1; i <= 300; ++i) {
      left += "line " + std::to_string(i) + "\n";
      if (i != 100) right += "line " + std::to_string(i) + "\n";  // one fewer
    }
    write("long_left", left);
    write("long_right", right);
    CompareWindow* window = compare({path("long_left"), path("long_right")});
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window));
    // Line 250 of the right text is in the row of line 251 of the left.
    QVERIFY(window->go_to_line(1, 250));
    QCOMPARE(window->focused_pane(), 1);
    QCOMPARE(window->pane(1)->line_number(cursor_row(window->pane(1))), 250);
    QCOMPARE(window->pane(0)->line_number(cursor_row(window->pane(0))), 251);
    QVERIFY(window->pane(1)->verticalScrollBar()->value() > 150);
    QVERIFY(!window->go_to_line(1, 300));
    QVERIFY(!window->go_to_line(2, 1));
    // F6 and Shift+F6 go round the panes.
    QTest::keyClick(window->pane(1), Qt::Key_F6);
    QCOMPARE(window->focused_pane(), 0);
    QTest::keyClick(window->pane(0), Qt::Key_F6, Qt::ShiftModifier);
    QCOMPARE(window->focused_pane(), 1);
    // Both keys and Ctrl+L are in the list F1 shows.
    QStringList described;
    for (const auto& [keys, what] : shortcut_list(window)) described << keys + " " + what;
    for (const char* key : {"F6", "Shift+F6", "Ctrl+L"}) {
      QVERIFY2(!described.filter(QString::fromLatin1(key) + " ").isEmpty(), key);
    }
    window->close();
  }
};

}  // namespace marlow

MARLOW_QTEST_MAIN(marlow::CompareEditTest)
#include "compare_edit_qtest.moc"
