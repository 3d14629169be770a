// The merged result as an editor: typing anywhere, in one history with the
// takes; a side for one block of a conflict; clean changes in turn; the
// panes' menus; merging again with blanks ignored.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QMenu>
#include <QShortcut>
#include <QTest>
#include <QTextBlock>
#include <random>

#include "app/compare_menu.h"
#include "app/compare_window.h"
#include "app/merge_window.h"
#include "app/shortcuts_help.h"
#include "tests/gui/qtest_files.h"

namespace marlow {

using testing::call;

class MergeResultTest : public QObject, private testing::Files {
  Q_OBJECT

 private:
  // Conflicts on lines 2 and 4, a clean change of "one" on line 6.
  Job two_conflicts_and_a_clean_change() {
    return merge_of("a\nb\nc\nd\ne\nf\ng\n", "a\nB1\nc\nD1\ne\nF\ng\n", "a\nB2\nc\nD2\ne\nf\ng\n");
  }
  static MergeWindow* shown(Job j) {
    auto* window = new MergeWindow(std::move(j), [](const std::string&) {});
    window->set_ask_on_close(false);
    window->show();
    window->activateWindow();
    QCoreApplication::processEvents();  // delivers the activation
    return window;
  }
  // The result view's cursor at a row and column, as a click leaves it.
  static void put(QPlainTextEdit* view, int row, int column = 0) {
    QTextCursor cursor(view->document()->findBlockByNumber(row));
    cursor.movePosition(QTextCursor::Right, QTextCursor::MoveAnchor, column);
    view->setFocus();
    view->setTextCursor(cursor);
  }
  static QString text(MergeWindow* window) { return window->result_view()->toPlainText(); }
  static QAction* action(QMenu* menu, const QString& starts) {
    for (QAction* a : menu->actions()) {
      if (a->text().startsWith(starts)) return a;
    }
    return nullptr;
  }

 private slots:
  // Keys typed on an unsettled conflict's empty row settle it as edited by
  // hand; Enter adds a line; each run of typing is one undo, and an undo
  // puts the conflict back to unsettled.
  void typing_on_a_conflict_settles_it_by_hand() {
    MergeWindow* window = shown(two_conflicts_and_a_clean_change());
    QPlainTextEdit* result = window->result_view();
    QCOMPARE(text(window), QStringLiteral("a\nB1\nc\nD1\ne\nF\ng"));
    QCOMPARE(window->unresolved_count(), std::size_t{2});
    put(result, 3);
    QTest::keyClicks(result, QStringLiteral("x"));
    QTest::keyClick(result, Qt::Key_Return);
    QTest::keyClicks(result, QStringLiteral("y"));
    QCOMPARE(window->unresolved_count(), std::size_t{1});
    QCOMPARE(window->current_conflict(), std::size_t{1});
    QCOMPARE(text(window), QStringLiteral("a\nB1\nc\nx\ny\ne\nF\ng"));
    // The conflict editor shows what was typed, the rows below moved down.
    QCOMPARE(window->conflict_editor()->toPlainText(), QStringLiteral("x\ny"));
    QCOMPARE(window->result_row_of_conflict(1), 3);
    QVERIFY(window->result_note(1).contains(QStringLiteral("conflict 1 not settled")));
    QVERIFY(window->result_note(3).isEmpty());
    // The other conflict by keys too, then the whole text is saved as typed.
    put(result, 1);
    QTest::keyClicks(result, QStringLiteral("z"));
    QCOMPARE(window->unresolved_count(), std::size_t{0});
    QVERIFY(window->save());
    QCOMPARE(read("out"), std::string("a\nz\nc\nx\ny\ne\nF\ng\n"));
    // One undo per run of typing in one conflict.
    QTest::keyClick(result, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(text(window), QStringLiteral("a\nB1\nc\nx\ny\ne\nF\ng"));
    QTest::keyClick(result, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(text(window), QStringLiteral("a\nB1\nc\nD1\ne\nF\ng"));
    QCOMPARE(window->unresolved_count(), std::size_t{2});
    QVERIFY(!window->can_undo());
    QTest::keyClick(result, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(text(window), QStringLiteral("a\nB1\nc\nx\ny\ne\nF\ng"));
    window->close_without_asking();
  }

  // Random edits anywhere, across regions and line breaks: after each, an
  // undo and a redo give the same text back (the regions hold what the
  // view shows), and undoing them all gives the text the merge opened with.
  void random_edits_keep_the_regions_and_the_view_together() {
    for (unsigned seed = 1; seed <= 6; ++seed) {
      MergeWindow* window = shown(two_conflicts_and_a_clean_change());
      QPlainTextEdit* result = window->result_view();
      const QString start = text(window);
      std::mt19937 random(seed);
      const QString alphabet = QStringLiteral("ab\n");
      for (int edit = 0; edit < 40; ++edit) {
        const int length = result->document()->characterCount() - 1;
        const int at = static_cast<int>(random() % static_cast<unsigned>(length + 1));
        const int removed = std::min(length - at, static_cast<int>(random() % 5));
        QString inserted;
        for (unsigned n = random() % 4; n > 0; --n) inserted += alphabet[random() % 3];
        QTextCursor cursor(result->document());
        cursor.setPosition(at);
        cursor.setPosition(at + removed, QTextCursor::KeepAnchor);
        cursor.insertText(inserted);
        const QString now = text(window);
        window->undo();
        window->redo();
        QCOMPARE(text(window), now);
      }
      while (window->can_undo()) window->undo();
      QCOMPARE(text(window), start);
      QCOMPARE(window->unresolved_count(), std::size_t{2});
      window->close_without_asking();
    }
  }

  // Typed text, then a take, then undo: the typed text comes back; typing
  // in rows nobody changed, and in a clean change, is kept and undone too.
  void takes_and_typing_share_one_history() {
    MergeWindow* window = shown(two_conflicts_and_a_clean_change());
    QPlainTextEdit* result = window->result_view();
    put(result, 1);
    QTest::keyClicks(result, QStringLiteral("mine"));
    QCOMPARE(window->current_conflict(), std::size_t{0});
    QTest::keyClick(result, Qt::Key_3, Qt::ControlModifier);
    QCOMPARE(result->document()->findBlockByNumber(1).text(), QStringLiteral("B2"));
    QTest::keyClick(result, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(result->document()->findBlockByNumber(1).text(), QStringLiteral("mine"));
    QCOMPARE(window->unresolved_count(), std::size_t{1});
    // A row nobody changed, and the clean change's row.
    put(result, 0, 1);
    QTest::keyClicks(result, QStringLiteral("!"));
    put(result, 5, 1);
    QTest::keyClick(result, Qt::Key_Backspace);
    QTest::keyClicks(result, QStringLiteral("Fx"));
    QCOMPARE(text(window), QStringLiteral("a!\nmine\nc\nD1\ne\nFx\ng"));
    QVERIFY(window->has_unsaved_choices());
    window->undo();
    QCOMPARE(text(window), QStringLiteral("a!\nmine\nc\nD1\ne\nF\ng"));
    window->undo();
    QCOMPARE(text(window), QStringLiteral("a\nmine\nc\nD1\ne\nF\ng"));
    window->close_without_asking();
  }

  // A cut across regions: the changed rows go to the region where it
  // starts, a conflict whose row it took is settled with no lines, and the
  // rows after it keep their regions.
  void an_edit_across_regions() {
    MergeWindow* window = shown(two_conflicts_and_a_clean_change());
    QPlainTextEdit* result = window->result_view();
    // From the end of "c" (row 2) to the start of "e" (row 4).
    QTextCursor cursor(result->document()->findBlockByNumber(2));
    cursor.movePosition(QTextCursor::EndOfBlock);
    cursor.setPosition(result->document()->findBlockByNumber(4).position(),
                       QTextCursor::KeepAnchor);
    result->setTextCursor(cursor);
    result->cut();
    QCOMPARE(text(window), QStringLiteral("a\nB1\nce\nF\ng"));
    QCOMPARE(window->unresolved_count(), std::size_t{1});
    QCOMPARE(window->result_row_of_conflict(0), 1);
    window->take(1);
    QCOMPARE(window->result_text(), QStringLiteral("a\nB1\nce\nF\ng\n"));
    window->undo();
    window->undo();
    QCOMPARE(text(window), QStringLiteral("a\nB1\nc\nD1\ne\nF\ng"));
    QCOMPARE(window->unresolved_count(), std::size_t{2});
    // Pasted lines at the very end belong to the last region.
    QApplication::clipboard()->setText(QStringLiteral("h\ni"));
    put(result, 6, 1);
    QTest::keyClick(result, Qt::Key_Return);
    result->paste();
    QCOMPARE(text(window), QStringLiteral("a\nB1\nc\nD1\ne\nF\ng\nh\ni"));
    window->take_remaining(1);
    QCOMPARE(window->result_text(), QStringLiteral("a\nB1\nc\nD1\ne\nF\ng\nh\ni\n"));
    window->close_without_asking();
  }

  // A conflict of two blocks: one side for each, by key in a pane and from
  // the menu; the conflict stays unsettled until both are chosen.
  void one_side_for_each_block() {
    // Both sides changed lines 2 to 4, and agree on line 3.
    MergeWindow* window =
        shown(merge_of("a\nb\ny\nd\ne\n", "a\nB1\nx\nD1\ne\n", "a\nB2\nx\nD2\ne\n"));
    QCOMPARE(window->conflict_count(), std::size_t{1});
    QCOMPARE(window->block_count(0), std::size_t{2});
    // The cursor on the first block's row of "one": Ctrl+Shift+2 takes it.
    QPlainTextEdit* one = window->pane(1);
    put(one, window->pane_row_of_conflict(0));
    QTest::keyClick(one, Qt::Key_2, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(window->unresolved_count(), std::size_t{1});
    QCOMPARE(window->blocks_chosen(0), std::size_t{1});
    QVERIFY(
        window->result_note(window->result_row_of_conflict(0)).contains(QStringLiteral("1 of 2")));
    // The second block from the other side, through the menu of its row.
    QPlainTextEdit* other = window->pane(2);
    const int second = window->pane_row_of_conflict(0) + 2;
    put(other, second);
    QMenu* menu = window->context_menu_for(other, second);
    QAction* take_block = action(menu, QStringLiteral("Take other for this block"));
    QVERIFY(take_block != nullptr);
    QVERIFY(action(menu, QStringLiteral("Take one for this block")) == nullptr);
    // The menu names the two-sided take as its button does.
    QVERIFY(action(menu, QStringLiteral("Take both for this conflict")) != nullptr);
    take_block->trigger();
    delete menu;
    QCOMPARE(window->unresolved_count(), std::size_t{0});
    QCOMPARE(window->result_text(), QStringLiteral("a\nB1\nx\nD2\ne\n"));
    // A block changed again; undo goes back one choice at a time.
    window->take_block_at(0, 2);
    QCOMPARE(window->result_text(), QStringLiteral("a\nB2\nx\nD2\ne\n"));
    window->undo();
    window->undo();
    QCOMPARE(window->blocks_chosen(0), std::size_t{1});
    QCOMPARE(window->unresolved_count(), std::size_t{1});
    // A side taken whole counts for every block: one block changes it.
    window->take(2);
    window->take_block_at(1, 1);
    QCOMPARE(window->result_text(), QStringLiteral("a\nB2\nx\nD1\ne\n"));
    window->close_without_asking();
  }

  // Alt+F8 and Alt+Shift+F8 go through the clean changes, round the end;
  // the menu offers to reject the one under the mouse.
  void clean_changes_in_turn_and_the_menu() {
    MergeWindow* window = shown(
        merge_of("a\nb\nc\nd\ne\nf\ng\n", "A\nb\nc\nD1\ne\nF\ng\n", "a\nb\nc\nD2\ne\nf\ng\n"));
    // From the current conflict on: the change after it, then round to the first.
    QTest::keyClick(window, Qt::Key_F8, Qt::AltModifier);
    const std::size_t after = window->clean_change_at();
    QTest::keyClick(window, Qt::Key_F8, Qt::AltModifier);
    const std::size_t first = window->clean_change_at();
    QVERIFY(first < after);
    QTest::keyClick(window, Qt::Key_F8, Qt::AltModifier);
    QCOMPARE(window->clean_change_at(), after);
    QTest::keyClick(window, Qt::Key_F8, Qt::AltModifier | Qt::ShiftModifier);
    QCOMPARE(window->clean_change_at(), first);
    // The menu of the result's row 5 ("F") acts on that change.
    QMenu* menu = window->context_menu_for(window->result_view(), 5);
    QAction* reject = action(menu, QStringLiteral("Reject this clean change"));
    QVERIFY(reject != nullptr);
    reject->trigger();
    delete menu;
    // The keys are in the list F1 shows.
    QStringList listed;
    for (const auto& [keys, what] : shortcut_list(window)) listed << keys + QLatin1Char('=') + what;
    const QString all = listed.join(QLatin1Char('\n'));
    QVERIFY2(all.contains(QStringLiteral("Alt+F8=Go to the next clean change")), qPrintable(all));
    QVERIFY2(all.contains(QStringLiteral("Alt+Shift+F8=Go to the previous clean change")),
             qPrintable(all));
    QVERIFY2(all.contains(QStringLiteral("Ctrl+Shift+3=Take theirs")) ||
                 all.contains(QStringLiteral("Ctrl+Shift+3=Take other for the block")),
             qPrintable(all));
    QVERIFY(!all.contains(QStringLiteral("Ctrl+Shift+1=")));
    QVERIFY(window->clean_change_rejected(after));
    QVERIFY(!window->clean_change_rejected(first));
    QCOMPARE(window->result_view()->document()->findBlockByNumber(5).text(), QStringLiteral("f"));
    window->close_without_asking();
  }

  // A key a menu shows is a key the window answers: one of its shortcuts,
  // or an editing key the text views answer themselves.
  void menus_show_only_the_windows_keys() {
    const auto shortcuts_of = [](QWidget* window) {
      QList<QKeySequence> keys;
      for (const QShortcut* shortcut : window->findChildren<QShortcut*>()) keys << shortcut->keys();
      for (const QAction* command : window->actions()) keys << command->shortcuts();
      for (const auto standard : {QKeySequence::Copy, QKeySequence::Cut, QKeySequence::Paste,
                                  QKeySequence::SelectAll, QKeySequence::Undo}) {
        keys << QKeySequence::keyBindings(standard);
      }
      return keys;
    };
    const auto check = [](QMenu* menu, const QList<QKeySequence>& answered) {
      int shown = 0;
      for (const QAction* entry : menu->actions()) {
        if (entry->shortcut().isEmpty()) continue;
        ++shown;
        QVERIFY2(answered.contains(entry->shortcut()),
                 qPrintable(entry->text() + QLatin1Char(' ') + entry->shortcut().toString()));
      }
      QVERIFY(shown > 4);
    };
    MergeWindow* window = shown(
        merge_of("a\nb\nc\nd\ne\nf\ng\n", "A\nb\nc\nD1\ne\nF\ng\n", "a\nb\nc\nD2\ne\nf\ng\n"));
    const QList<QKeySequence> answered = shortcuts_of(window);
    for (const int row : {0, 3, 5}) {
      QMenu* menu = window->context_menu_for(window->result_view(), row);
      check(menu, answered);
      delete menu;
    }
    QMenu* pane_menu = window->context_menu_for(window->pane(1), window->pane_row_of_conflict(0));
    check(pane_menu, answered);
    delete pane_menu;
    window->close_without_asking();

    write("left", "a\nb\n");
    write("right", "a\nB\n");
    Preparation prep =
        prepare(call("RequestHandler.Compare", "", {path("left"), path("right")}), false);
    auto* compare = new CompareWindow(prep.job, [](const std::string&) {});
    QMenu* menu = compare_pane_menu(compare, compare->pane(0));
    const QList<QKeySequence> compare_keys = shortcuts_of(compare);
    for (const QAction* entry : menu->actions()) {
      if (!entry->shortcut().isEmpty()) QVERIFY(compare_keys.contains(entry->shortcut()));
    }
    delete menu;
    compare->close();
  }

  // The compare panes' menu goes through the differences and sets the
  // options, as the keys and check boxes do.
  void compare_menu_acts_on_the_window() {
    write("left", "a\nb\nc\nd x\ne\n");
    write("right", "a\nB\nc\nd  x\ne\n");
    Preparation prep =
        prepare(call("RequestHandler.Compare", "", {path("left"), path("right")}), false);
    auto* window = new CompareWindow(prep.job, [](const std::string&) {});
    window->set_ignore_whitespace(false);
    QCOMPARE(window->difference_count(), 2);
    QCOMPARE(window->current_difference(), 0);
    QMenu* menu = compare_pane_menu(window, window->pane(1));
    QVERIFY(!action(menu, QStringLiteral("Previous difference"))->isEnabled());
    action(menu, QStringLiteral("Next difference"))->trigger();
    QCOMPARE(window->current_difference(), 1);
    action(menu, QStringLiteral("Ignore whitespace"))->trigger();
    QVERIFY(window->ignore_whitespace());
    QCOMPARE(window->difference_count(), 1);
    delete menu;
    window->set_ignore_whitespace(false);
    window->close();
  }

  // Ignoring whitespace merges again: a side that only re-indented a line
  // gives way to the other's change, and the choice is remembered.
  void ignoring_whitespace_merges_again() {
    MergeWindow* window = shown(merge_of("a\n  b\nc\n", "a\n\tb\nc\n", "a\n  B\nc\n"));
    QCOMPARE(window->conflict_count(), std::size_t{1});
    window->take(1);
    window->ignore_whitespace_box()->setChecked(true);
    QCOMPARE(window->conflict_count(), std::size_t{0});
    QCOMPARE(window->result_text(), QStringLiteral("a\n  B\nc\n"));
    QVERIFY(!window->can_undo());
    window->close_without_asking();
    window = shown(merge_of("a\n  b\nc\n", "a\n\tb\nc\n", "a\n  B\nc\n"));
    QVERIFY(window->ignore_whitespace_box()->isChecked());
    QCOMPARE(window->conflict_count(), std::size_t{0});
    window->ignore_whitespace_box()->setChecked(false);
    QCOMPARE(window->conflict_count(), std::size_t{1});
    window->close_without_asking();
  }
};

}  // namespace marlow

MARLOW_QTEST_MAIN(marlow::MergeResultTest)

#include "merge_result_qtest.moc"
