// The merge window's suggestions on Qt's offscreen platform: shown in place
// of an unsettled conflict, accepted, cycled, undone, typed over, and never
// saved unless accepted.
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>

#include "app/merge_window.h"
#include "app/shortcuts_help.h"
#include "tests/gui/qtest_files.h"

namespace marlow {

using testing::call;

class MergeSuggestTest : public QObject, private testing::Files {
  Q_OBJECT

 private:
  // Conflict 1: the two sides changed different words of one line, which
  // only a word merge (the first suggestion) puts together. Conflict 2 at
  // the end, without a last line end.
  MergeWindow* open_window() {
    write("base", "the quick fox\nkeep\nend");
    write("one", "the slow fox\nkeep\nEND1");
    write("other", "the quick dog\nkeep\nEND2");
    Preparation prep = prepare(call("RequestHandler.CompareMerge", path("out"),
                                    {path("base"), path("one"), path("other")}),
                               false);
    Q_ASSERT(prep.needs_window);
    auto* window = new MergeWindow(std::move(prep.job), [](const std::string&) {});
    window->set_ask_on_close(false);
    window->show();
    window->activateWindow();
    if (!QTest::qWaitForWindowActive(window)) qWarning("the window did not become active");
    return window;
  }
  static QString row(MergeWindow* window, int n) {
    return window->result_view()->document()->findBlockByNumber(n).text();
  }
  static bool row_in_italics(MergeWindow* window, int n) {
    const QTextBlock block = window->result_view()->document()->findBlockByNumber(n);
    return block.begin().fragment().charFormat().fontItalic();
  }
  // A key pressed where the focus is (the first pane when the window opens).
  static void press(MergeWindow* window, Qt::Key key) {
    QWidget* focus = QApplication::focusWidget();
    QTest::keyClick(focus != nullptr ? focus : window, key, Qt::AltModifier);
  }

 private slots:
  void first_suggestion_is_shown_but_not_settled() {
    MergeWindow* window = open_window();
    QCOMPARE(window->conflict_count(), std::size_t{2});
    QVERIFY(window->showing_suggestion(0));
    QCOMPARE(window->suggestion_picks().suggestions(0).front().reason, std::string("word merge"));
    // In place, greyed, its row no line of the result, with a note naming it.
    QCOMPARE(row(window, 0), QStringLiteral("the slow dog"));
    QVERIFY(row_in_italics(window, 0));
    QVERIFY(!row_in_italics(window, 1));
    const QString note = window->result_note(0);
    QVERIFY2(note.contains(QStringLiteral("not settled")), qPrintable(note));
    QVERIFY2(note.contains(QStringLiteral("suggestion 1 of ")), qPrintable(note));
    QVERIFY2(note.contains(QStringLiteral("word merge")), qPrintable(note));
    QCOMPARE(window->unresolved_count(), std::size_t{2});
    QVERIFY(window->result_text().isEmpty());
    QVERIFY(!window->has_unsaved_choices());
    window->close_without_asking();
  }

  void accepting_settles_and_undo_takes_it_back() {
    MergeWindow* window = open_window();
    press(window, Qt::Key_Return);
    QCOMPARE(window->unresolved_count(), std::size_t{1});
    QVERIFY(!window->showing_suggestion(0));
    QCOMPARE(row(window, 0), QStringLiteral("the slow dog"));
    QVERIFY(!row_in_italics(window, 0));
    QVERIFY(window->suggestion_picks().pick(0).accepted);
    QVERIFY(window->result_note(0).isEmpty());
    // Accepting again has nothing to accept: the conflict is settled.
    window->accept_suggestion();
    window->undo();
    QCOMPARE(window->unresolved_count(), std::size_t{2});
    QVERIFY(window->showing_suggestion(0));
    QVERIFY(!window->suggestion_picks().pick(0).accepted);
    QVERIFY(row_in_italics(window, 0));
    window->redo();
    QCOMPARE(window->unresolved_count(), std::size_t{1});
    // Settled, with the other conflict's side: the suggestion's lines are saved.
    window->go_to_conflict(1);
    window->take(2);
    QVERIFY(window->save());
    QCOMPARE(read("out"), std::string("the slow dog\nkeep\nEND2"));
    window->close_without_asking();
  }

  void cycling_shows_the_next_and_is_undone() {
    MergeWindow* window = open_window();
    const std::vector<Suggestion>& list = window->suggestion_picks().suggestions(0);
    QVERIFY(list.size() >= 3);
    const QString second = QString::fromStdString(std::string(list[1].lines.front().text.view()));
    press(window, Qt::Key_Right);
    QCOMPARE(window->suggestion_picks().pick(0).shown, std::size_t{1});
    QCOMPARE(row(window, 0), second);
    QVERIFY(window->result_note(0).contains(QStringLiteral("suggestion 2 of ")));
    QCOMPARE(window->unresolved_count(), std::size_t{2});
    // Back round the start to the last, then undone step by step.
    press(window, Qt::Key_Left);
    press(window, Qt::Key_Left);
    QCOMPARE(window->suggestion_picks().pick(0).shown, list.size() - 1);
    window->undo();
    window->undo();
    QCOMPARE(window->suggestion_picks().pick(0).shown, std::size_t{1});
    window->undo();
    QCOMPARE(window->suggestion_picks().pick(0).shown, std::size_t{0});
    QCOMPARE(row(window, 0), QStringLiteral("the slow dog"));
    // Once accepted, the next one is accepted in its place, as one step.
    window->accept_suggestion();
    window->cycle_suggestion(1);
    QCOMPARE(window->unresolved_count(), std::size_t{1});
    QVERIFY(window->suggestion_picks().pick(0).accepted);
    QCOMPARE(row(window, 0), second);
    window->undo();
    QCOMPARE(row(window, 0), QStringLiteral("the slow dog"));
    QVERIFY(window->suggestion_picks().pick(0).accepted);
    window->close_without_asking();
  }

  // Typing on a suggestion's row types into an empty row: the conflict gets
  // what was typed, never the suggestion's text with it.
  void typing_over_a_suggestion_is_a_hand_edit() {
    MergeWindow* window = open_window();
    QTextCursor cursor(window->result_view()->document()->findBlockByNumber(0));
    cursor.setPosition(cursor.position() + 4);
    window->result_view()->setFocus();
    window->result_view()->setTextCursor(cursor);
    QTest::keyClicks(window->result_view(), QStringLiteral("mine"));
    QCOMPARE(window->unresolved_count(), std::size_t{1});
    QCOMPARE(row(window, 0), QStringLiteral("mine"));
    QVERIFY(!row_in_italics(window, 0));
    QCOMPARE(row(window, 1), QStringLiteral("keep"));
    QCOMPARE(window->conflict_editor()->toPlainText(), QStringLiteral("mine"));
    // One undo takes the typing back, and the suggestion shows again.
    window->undo();
    QCOMPARE(window->unresolved_count(), std::size_t{2});
    QCOMPARE(row(window, 0), QStringLiteral("the slow dog"));
    // Typing on an accepted suggestion edits it, no longer a suggestion.
    window->accept_suggestion();
    window->type_in_result(QStringLiteral("!"));
    QCOMPARE(row(window, 0), QStringLiteral("the slow dog!"));
    QVERIFY(!window->suggestion_picks().pick(0).accepted);
    QVERIFY(!window->suggestion_picks().settled_by_suggestion(0, Resolution{}));
    // Delete at the end of the row before a suggestion leaves its text out.
    window->undo();
    window->undo();
    window->go_to_conflict(1);
    QTextCursor keep(window->result_view()->document()->findBlockByNumber(1));
    keep.movePosition(QTextCursor::EndOfBlock);
    window->result_view()->setTextCursor(keep);
    QTest::keyClick(window->result_view(), Qt::Key_Delete);
    QVERIFY(!window->result_view()->toPlainText().contains(QStringLiteral("END")));
    window->undo();
    // Text put there by other ways than keys (a drop, a program) too.
    QTextCursor inside(window->result_view()->document()->findBlockByNumber(0));
    inside.setPosition(inside.position() + 3);
    inside.insertText(QStringLiteral("zz"));
    QCOMPARE(row(window, 0), QStringLiteral("zz"));
    QCOMPARE(row(window, 1), QStringLiteral("keep"));
    QVERIFY(!row_in_italics(window, 0));
    QVERIFY(!row_in_italics(window, 1));
    QCOMPARE(window->unresolved_count(), std::size_t{1});
    window->close_without_asking();
  }

  void a_suggestion_is_never_saved_unaccepted() {
    write("out", "old");
    MergeWindow* window = open_window();
    window->go_to_conflict(1);
    window->take(1);
    QVERIFY(!window->save());
    QCOMPARE(read("out"), std::string("old"));
    // With markers: the conflict between them, not the suggestion shown.
    QVERIFY(window->save_unfinished());
    const std::string out = read("out");
    QVERIFY2(out.find("<<<<<<<") != std::string::npos, out.c_str());
    QVERIFY2(out.find("the slow dog") == std::string::npos, out.c_str());
    QVERIFY(window->showing_suggestion(0));
    window->close_without_asking();
  }

  void keys_are_listed_and_in_the_menu() {
    MergeWindow* window = open_window();
    const QString accept =
        QKeySequence(Qt::ALT | Qt::Key_Return).toString(QKeySequence::NativeText);
    bool listed = false;
    for (const auto& [keys, what] : shortcut_list(window))
      listed = listed || (keys == accept && what.contains(QStringLiteral("suggestion")));
    QVERIFY(listed);
    QMenu* menu = window->context_menu_for(window->result_view(), 0);
    bool in_menu = false;
    for (QAction* action : menu->actions()) {
      in_menu = in_menu ||
                (action->text().contains(QStringLiteral("suggestion")) && action->isEnabled() &&
                 action->shortcut().matches(QKeySequence(Qt::ALT | Qt::Key_Return)) ==
                     QKeySequence::ExactMatch);
    }
    QVERIFY(in_menu);
    delete menu;
    window->close_without_asking();
  }
};

}  // namespace marlow

int main(int argc, char** argv) {
  QTemporaryDir config;
  qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
  QApplication app(argc, argv);
  marlow::MergeSuggestTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "merge_suggest_qtest.moc"
