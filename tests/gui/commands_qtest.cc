// The windows' commands: each is one action, shown by its button, carried
// out by its keys and listed in the panes' menus, all enabled alike as the
// session changes; no two of a window's actions share a key; the key list
// (F1) is made of the actions' keys.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QMenu>
#include <QPushButton>
#include <QShortcut>
#include <QSignalSpy>
#include <QTest>

#include "app/commands.h"
#include "app/compare_menu.h"
#include "app/compare_window.h"
#include "app/error_window.h"
#include "app/merge_window.h"
#include "app/shortcuts_help.h"
#include "tests/gui/qtest_files.h"

namespace marlow {

using testing::call;

class CommandsTest : public QObject, private testing::Files {
  Q_OBJECT

 private:
  template <typename W>
  static W* shown(W* window) {
    window->show();
    window->activateWindow();
    QCoreApplication::processEvents();  // delivers the activation
    return window;
  }
  CompareWindow* compare() {
    write("left", "a\nb\nc\nd\n");
    write("right", "a\nB\nc\nD\n");
    Preparation prep =
        prepare(call("RequestHandler.Compare", "", {path("left"), path("right")}), false);
    auto* window = new CompareWindow(prep.job, [](const std::string&) {});
    window->set_unsaved_answer(CompareWindow::UnsavedAnswer::discard);
    return shown(window);
  }
  MergeWindow* merge() {
    // Conflicts on lines 2 and 4, a clean change of "one" on line 6.
    auto* window = new MergeWindow(merge_of("a\nb\nc\nd\ne\nf\ng\n", "a\nB1\nc\nD1\ne\nF\ng\n",
                                            "a\nB2\nc\nD2\ne\nf\ng\n"),
                                   [](const std::string&) {});
    window->set_ask_on_close(false);
    return shown(window);
  }
  // The push button that shows `action`, found by its text; a click on it
  // must trigger that action.
  static QPushButton* button_of(QWidget* window, QAction* action) {
    QPushButton* found = nullptr;
    for (QPushButton* button : window->findChildren<QPushButton*>()) {
      if (button->text() == action->iconText()) found = button;
    }
    return found;
  }
  static bool button_triggers(QPushButton* button, QAction* action) {
    QSignalSpy spy(action, &QAction::triggered);
    button->click();
    return spy.count() == 1;
  }
  // Every key of the window's actions, with the actions that have it.
  static QStringList shared_keys(QWidget* window) {
    QStringList shared;
    QList<QKeySequence> seen;
    for (const QAction* action : window->actions()) {
      for (const QKeySequence& key : action->shortcuts()) {
        if (seen.contains(key)) shared << key.toString() + QLatin1Char(' ') + action->text();
        seen << key;
      }
    }
    return shared;
  }

 private slots:
  void compare_buttons_keys_and_menu_entries_are_the_same_actions() {
    CompareWindow* window = compare();
    const CompareWindow::Commands& c = window->commands();
    QCOMPARE(window->difference_count(), 2);
    QCOMPARE(window->current_difference(), 0);
    QVERIFY(c.next->shortcuts().contains(QKeySequence(Qt::Key_F8)));
    QPushButton* next = button_of(window, c.next);
    QVERIFY(next != nullptr);
    QVERIFY(next->toolTip().contains(QStringLiteral("F8")));
    QVERIFY(!button_of(window, c.previous)->isEnabled());
    QVERIFY(button_triggers(next, c.next));
    QCOMPARE(window->current_difference(), 1);
    // On the last difference: the button, the menu entry and the key alike.
    QVERIFY(!c.next->isEnabled());
    QVERIFY(!next->isEnabled());
    QVERIFY(button_of(window, c.previous)->isEnabled());
    QMenu* menu = compare_pane_menu(window, window->pane(0));
    QVERIFY(menu->actions().contains(c.next));
    QVERIFY(menu->actions().contains(c.undo));
    QVERIFY(menu->actions().contains(c.copy_right));
    delete menu;
    QTest::keyClick(window, Qt::Key_F8);
    QCOMPARE(window->current_difference(), 1);
    QTest::keyClick(window, Qt::Key_Up, Qt::AltModifier);
    QCOMPARE(window->current_difference(), 0);

    // Nothing to undo or save until a copy.
    QPushButton* undo = button_of(window, c.undo);
    QPushButton* save = button_of(window, c.save);
    QVERIFY(!c.undo->isEnabled() && !undo->isEnabled());
    QVERIFY(!c.save->isEnabled() && !save->isEnabled());
    // From the left pane: to the right only.
    window->pane(0)->setFocus();
    QVERIFY(!c.copy_left->isEnabled());
    QVERIFY(c.copy_right->isEnabled());
    QTest::keyClick(window->pane(0), Qt::Key_Right, Qt::AltModifier);
    QVERIFY(c.undo->isEnabled() && undo->isEnabled());
    QVERIFY(c.save->isEnabled() && save->isEnabled());
    QVERIFY(button_triggers(undo, c.undo));
    QVERIFY(!c.undo->isEnabled() && !undo->isEnabled());
    QVERIFY(!window->has_unsaved_edits());

    // Checkable: the key, the button and the check box follow the action.
    QPushButton* edit = button_of(window, c.edit);
    QTest::keyClick(window, Qt::Key_E, Qt::ControlModifier);
    QVERIFY(window->editing() && edit->isChecked() && c.edit->isChecked());
    edit->click();
    QVERIFY(!window->editing() && !c.edit->isChecked());
    QCheckBox* blanks = nullptr;
    for (QCheckBox* box : window->findChildren<QCheckBox*>()) {
      if (box->text() == c.ignore_whitespace->text()) blanks = box;
    }
    QVERIFY(blanks != nullptr);
    blanks->setChecked(true);
    QVERIFY(window->ignore_whitespace() && c.ignore_whitespace->isChecked());
    window->set_ignore_whitespace(false);
    QVERIFY(!blanks->isChecked() && !c.ignore_whitespace->isChecked());
    window->close();
  }

  void merge_buttons_keys_and_menu_entries_are_the_same_actions() {
    MergeWindow* window = merge();
    const MergeWindow::Commands& c = window->commands();
    QCOMPARE(window->current_conflict(), std::size_t{0});
    QPushButton* next = button_of(window, c.next);
    QVERIFY(next != nullptr);
    QVERIFY(button_triggers(next, c.next));
    QCOMPARE(window->current_conflict(), std::size_t{1});
    // On the last conflict: the button, the menu entry and the key alike
    // (row 0 of the result is no conflict: the menu keeps the current one).
    QVERIFY(!c.next->isEnabled() && !next->isEnabled());
    QMenu* menu = window->context_menu_for(window->result_view(), 0);
    QVERIFY(menu->actions().contains(c.next));
    QVERIFY(menu->actions().contains(c.undo));
    QVERIFY(!c.undo->isEnabled());
    delete menu;
    QTest::keyClick(window, Qt::Key_F8);
    QCOMPARE(window->current_conflict(), std::size_t{1});
    QTest::keyClick(window, Qt::Key_Up, Qt::AltModifier);
    QCOMPARE(window->current_conflict(), std::size_t{0});

    // A take by key: Undo is enabled in its button and the result's menu,
    // Unresolve for the settled conflict; Save with markers while one is open.
    QPushButton* undo = button_of(window, c.undo);
    QVERIFY(!undo->isEnabled());
    QVERIFY(!window->unresolve_button()->isEnabled());
    window->advance_box()->setChecked(false);
    QTest::keyClick(window, Qt::Key_2, Qt::ControlModifier);
    QCOMPARE(window->unresolved_count(), std::size_t{1});
    QVERIFY(c.undo->isEnabled() && undo->isEnabled());
    QVERIFY(c.unresolve->isEnabled() && window->unresolve_button()->isEnabled());
    QVERIFY(c.save_unfinished->isEnabled() && !c.save_and_close->isEnabled());
    menu = window->context_menu_for(window->result_view(), 0);
    QVERIFY(menu->actions().contains(c.undo));
    delete menu;
    // The take button of a side is that side's take.
    QPushButton* take_other = button_of(window, c.take[2]);
    QVERIFY(take_other != nullptr);
    window->go_to_conflict(1);
    QVERIFY(button_triggers(take_other, c.take[2]));
    QCOMPARE(window->unresolved_count(), std::size_t{0});
    QVERIFY(!c.save_unfinished->isEnabled() && c.save_and_close->isEnabled());
    QVERIFY(!c.next_unresolved->isEnabled());
    QVERIFY(!button_of(window, c.next_unresolved)->isEnabled());

    // The clean change's button and menu entry turn together.
    QVERIFY(!window->clean_change_button()->isEnabled());
    menu = window->context_menu_for(window->result_view(), 5);
    QVERIFY(menu->actions().contains(c.toggle_clean_change));
    QVERIFY(c.toggle_clean_change->isEnabled());
    QVERIFY(window->clean_change_button()->isEnabled());
    QCOMPARE(c.toggle_clean_change->text(), QStringLiteral("Reject this clean change"));
    c.toggle_clean_change->trigger();
    delete menu;
    QCOMPARE(c.toggle_clean_change->text(), QStringLiteral("Accept this clean change"));
    QCOMPARE(window->clean_change_button()->text(), c.toggle_clean_change->iconText());
    window->close_without_asking();
  }

  void no_two_actions_of_a_window_share_a_key() {
    CompareWindow* compared = compare();
    MergeWindow* merged = merge();
    auto* error = shown(new ErrorWindow(QStringLiteral("Error"), QStringLiteral("Cannot read x"),
                                        "fault", [](const std::string&) {}));
    for (QWidget* window : {static_cast<QWidget*>(compared), static_cast<QWidget*>(merged),
                            static_cast<QWidget*>(error)}) {
      QVERIFY2(shared_keys(window).isEmpty(), qPrintable(shared_keys(window).join('\n')));
      // Every key is an action's: no shortcut beside them.
      QVERIFY(window->findChildren<QShortcut*>().isEmpty());
    }
    // The same keys in different windows are no clash: Alt+Left copies in a
    // comparison and shows the previous suggestion in a merge.
    QCOMPARE(compared->commands().copy_left->shortcut(),
             merged->commands().previous_suggestion->shortcut());
    QTest::keyClick(error, Qt::Key_Escape);
    QVERIFY(!error->isVisible());
    compared->close();
    merged->close_without_asking();
  }

  void the_key_list_is_the_windows_actions() {
    CompareWindow* compared = compare();
    MergeWindow* merged = merge();
    auto* error = new ErrorWindow(QStringLiteral("Error"), QStringLiteral("Cannot read x"),
                                  "fault", [](const std::string&) {});
    for (QWidget* window : {static_cast<QWidget*>(compared), static_cast<QWidget*>(merged),
                            static_cast<QWidget*>(error)}) {
      std::vector<std::pair<QString, QString>> expected;
      for (const QAction* action : window->actions()) {
        if (action->shortcuts().isEmpty()) continue;
        QString what = action->whatsThis();
        if (what.isEmpty()) what = QString(action->text()).remove(QLatin1Char('&'));
        expected.emplace_back(key_text(action->shortcuts()), what);
      }
      QVERIFY(!expected.empty());
      const std::vector<std::pair<QString, QString>> listed = shortcut_list(window);
      // Then only the keys the text panes know themselves, where there are any.
      const std::size_t panes = window == error ? 0 : 9;
      QCOMPARE(listed.size(), expected.size() + panes);
      for (std::size_t i = 0; i < expected.size(); ++i) {
        QCOMPARE(listed[i].first, expected[i].first);
        QVERIFY2(!listed[i].second.isEmpty(), qPrintable(listed[i].first));
      }
    }
    // F1 and the Keys button are one command too.
    bool help = false;
    for (const auto& [keys, what] : shortcut_list(merged)) help = help || keys == QStringLiteral("F1");
    QVERIFY(help);
    compared->close();
    merged->close_without_asking();
    error->close();
  }
};

}  // namespace marlow

MARLOW_QTEST_MAIN(marlow::CommandsTest)

#include "commands_qtest.moc"
