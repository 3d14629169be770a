// What the comparison window adds for daily work, on Qt's offscreen
// platform: more that may be ignored (remembered), going to a line and
// between panes.
#include <unistd.h>
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QScrollBar>
#include <QShortcut>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>

#include <QToolButton>
#include <filesystem>

#include "app/compare_window.h"
#include "app/settings.h"
#include "app/shortcuts_help.h"
#include "serve/files.h"
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
  static void activate(QWidget* window) {
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window));
  }

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
    // Every option that ignores something (wrapping lines is a view option).
    const auto ignores = [](QAction* action) {
      return action->isCheckable() && action->objectName() != QStringLiteral("wrap_lines");
    };
    for (QAction* action : menu->actions()) {
      if (ignores(action)) action->trigger();
    }
    const IgnoreOptions set = window->ignore_options();
    QVERIFY(set.ignore_case && set.ignore_whitespace_amount && set.ignore_blank_lines);
    // The comment lines still differ: with the filter, nothing does.
    QCOMPARE(window->difference_count(), 1);
    IgnoreOptions filtered = set;
    filtered.line_filter = "^//";
    QVERIFY(window->set_ignore_options(filtered));
    QCOMPARE(window->difference_count(), 0);
    // The status says so, not that only line ends differ.
    bool says_ignored = false;
    for (QLabel* label : window->findChildren<QLabel*>()) {
      says_ignored = says_ignored ||
                     label->text() == QStringLiteral("The texts differ only in what is ignored");
    }
    QVERIFY(says_ignored);
    // No regular expression: refused, nothing changes.
    filtered.line_filter = "(";
    QVERIFY(!window->set_ignore_options(filtered));
    QCOMPARE(window->ignore_options().line_filter, std::string("^//"));
    // Shown checked when the menu opens again, and kept for the next window.
    emit menu->aboutToShow();
    int checked = 0;
    for (QAction* action : menu->actions())
      checked += ignores(action) && action->isChecked() ? 1 : 0;
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

  void copies_go_left_and_right_by_key_undo_and_save_in_the_files_own_form() {
    // The left file in UTF-16 with a mark and CRLF line ends.
    const std::u16string text = u"\uFEFFa\r\nold \u00E9\r\nc\r\n";
    std::string bytes;
    for (const char16_t unit : text) {
      bytes += static_cast<char>(unit & 0xFF);
      bytes += static_cast<char>(unit >> 8);
    }
    write("wide", bytes);
    write("plain", "a\nnew\nc\nextra\n");
    std::string reply;
    CompareWindow* window = compare({path("wide"), path("plain")}, &reply);
    activate(window);
    window->set_ignore_line_ends(true);
    QCOMPARE(window->difference_count(), 2);
    window->pane(1)->setFocus();
    // Alt+Left: the focused right pane's difference into the left pane.
    QTest::keyClick(window->pane(1), Qt::Key_Left, Qt::AltModifier);
    QCOMPARE(window->difference_count(), 1);
    QVERIFY(window->has_unsaved_edits());
    QCOMPARE(window->pane(0)->document()->findBlockByNumber(1).text(), QStringLiteral("new"));
    // Ctrl+Z takes it back, Ctrl+Y brings it again.
    QTest::keyClick(window->pane(1), Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(window->difference_count(), 2);
    QVERIFY(!window->has_unsaved_edits());
    QTest::keyClick(window->pane(1), Qt::Key_Y, Qt::ControlModifier);
    QCOMPARE(window->difference_count(), 1);
    // Ctrl+S writes it in UTF-16 with its mark and CRLF; the other file,
    // unchanged, is not written.
    QTest::keyClick(window->pane(1), Qt::Key_S, Qt::ControlModifier);
    QVERIFY(!window->has_unsaved_edits());
    const std::u16string saved = u"\uFEFFa\r\nnew\r\nc\r\n";
    std::string expected;
    for (const char16_t unit : saved) {
      expected += static_cast<char>(unit & 0xFF);
      expected += static_cast<char>(unit >> 8);
    }
    QCOMPARE(read("wide"), expected);
    QCOMPARE(read("plain"), std::string("a\nnew\nc\nextra\n"));
    // Alt+Right from the left pane: the remaining difference (the left
    // has no lines there) takes "extra" out of the right.
    window->pane(0)->setFocus();
    QVERIFY(window->copy_difference(1));
    QCOMPARE(window->difference_count(), 0);
    QVERIFY(!window->copy_difference(1));   // nothing left to copy
    QVERIFY(!window->copy_difference(-1));  // no pane left of the left one
    window->set_unsaved_answer(CompareWindow::UnsavedAnswer::save);
    window->close();
    QCOMPARE(read("plain"), std::string("a\nnew\nc\n"));
    set_ignore_options_preference(IgnoreOptions{});
    QCOMPARE(reply, boolean_reply(true));
  }

  void closing_with_unsaved_edits_asks_and_a_read_only_file_is_not_edited() {
    write("mine", "one\ntwo\n");
    write("theirs", "one\n2\n");
    std::filesystem::permissions(path("theirs"), std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::remove);
    std::string reply;
    CompareWindow* window = compare({path("mine"), path("theirs")}, &reply);
    // The right file cannot be written (but by root): its pane takes nothing.
    QVERIFY(window->pane(0)->isReadOnly());  // until editing is turned on
    window->set_editing(true);
    QVERIFY(!window->pane(0)->isReadOnly());
    if (::geteuid() != 0) {
      QVERIFY(window->pane(1)->isReadOnly());
      QVERIFY(!window->copy_difference(1));
    }
    QVERIFY(window->copy_difference(-1));
    // Cancel: the window stays, unanswered.
    window->set_unsaved_answer(CompareWindow::UnsavedAnswer::cancel);
    QVERIFY(!window->close());
    QVERIFY(window->isVisible());
    QVERIFY(reply.empty());
    // A save that fails keeps the window and the edits, and says why.
    struct Refusing : FilesWrapper {
      using FilesWrapper::FilesWrapper;
      support::Status replace_whole(const std::string&, const std::string&, int) override {
        return support::Status::failure("disk full");
      }
    } refusing(real_files());
    window->set_files(refusing);
    window->set_unsaved_answer(CompareWindow::UnsavedAnswer::save);
    QVERIFY(!window->close());
    QVERIFY(window->edit_message().contains(QStringLiteral("disk full")));
    QVERIFY(window->has_unsaved_edits());
    // Discard: closed and answered, the file as it was.
    window->set_files(real_files());
    window->set_unsaved_answer(CompareWindow::UnsavedAnswer::discard);
    QVERIFY(window->close());
    QCOMPARE(read("mine"), std::string("one\ntwo\n"));
    QCOMPARE(reply, boolean_reply(true));
  }

  void typing_in_a_pane_re_aligns_and_saves() {
    write("typed_left", "alpha\nbeta\ngamma\n");
    write("typed_right", "alpha\ngamma\n");
    CompareWindow* window = compare({path("typed_left"), path("typed_right")});
    activate(window);
    QCOMPARE(window->difference_count(), 1);
    // Ctrl+E, and type "beta" into the right pane's filler row.
    DiffPane* right = window->pane(1);
    QTest::keyClick(right, Qt::Key_E, Qt::ControlModifier);
    QVERIFY(window->editing());
    right->setFocus();
    QTextCursor cursor(right->document()->findBlockByNumber(1));
    right->setTextCursor(cursor);
    QTest::keyClicks(right, QStringLiteral("beta"));
    window->take_typing();
    QCOMPARE(window->difference_count(), 0);
    QCOMPARE(right->textCursor().blockNumber(), 1);
    QCOMPARE(right->line_number(1), 2);
    // Ctrl+Z undoes the typing as one change.
    QTest::keyClick(right, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(window->difference_count(), 1);
    QTest::keyClick(right, Qt::Key_Y, Qt::ControlModifier);
    QVERIFY(window->save());
    QCOMPARE(read("typed_right"), std::string("alpha\nbeta\ngamma\n"));

    // Typing in both panes before the typing is taken keeps both: the left
    // pane's new line moves the rows, the right pane's text must stay.
    QTextCursor left_end(window->pane(0)->document()->findBlockByNumber(2));
    left_end.movePosition(QTextCursor::EndOfBlock);
    window->pane(0)->setTextCursor(left_end);
    window->pane(0)->setFocus();
    QTest::keyClick(window->pane(0), Qt::Key_Return);
    QTest::keyClicks(window->pane(0), QStringLiteral("delta"));
    QTextCursor right_start(right->document()->findBlockByNumber(0));
    right->setTextCursor(right_start);
    right->setFocus();
    QTest::keyClicks(right, QStringLiteral("A"));
    window->take_typing();
    QVERIFY(window->save());
    QCOMPARE(read("typed_left"), std::string("alpha\nbeta\ngamma\ndelta\n"));
    QCOMPARE(read("typed_right"), std::string("Aalpha\nbeta\ngamma\n"));
    window->close();

    // A file with a carriage return inside a line (shown as the mark) and
    // the mark itself as a character of another line: typing elsewhere
    // leaves both as they were.
    const std::string mark = "\xE2\x90\x8D";  // U+240D in UTF-8
    write("marks_left", "a\rb\nthe mark " + mark + " itself\nc\n");
    write("marks_right", "a\rb\nthe mark " + mark + " itself\nC\n");
    window = compare({path("marks_left"), path("marks_right")});
    activate(window);
    window->set_editing(true);
    QTextCursor c_row(window->pane(0)->document()->findBlockByNumber(2));
    c_row.movePosition(QTextCursor::EndOfBlock);
    window->pane(0)->setFocus();
    window->pane(0)->setTextCursor(c_row);
    QTest::keyClicks(window->pane(0), QStringLiteral("c"));
    window->take_typing();
    QVERIFY(window->save());
    QCOMPARE(read("marks_left"), "a\rb\nthe mark " + mark + " itself\ncc\n");
    window->close();
  }

  void a_file_changed_on_disk_is_offered_for_reload_in_place() {
    std::string left;
    for (int i = 1; i <= 200; ++i) left += "row " + std::to_string(i) + "\n";
    std::string right = left;
    right.replace(right.find("row 150\n"), 8, "row 150 changed\n");
    write("disk_left", left);
    write("disk_right", right);
    CompareWindow* window = compare({path("disk_left"), path("disk_right")});
    QVERIFY(!window->check_files_on_disk());
    QVERIFY(!window->reload_bar()->isVisible());
    QCOMPARE(window->current_difference(), 0);
    // Another program changes the right file: a change above the first.
    write("disk_right", "row 0 new\n" + right);
    QVERIFY(window->check_files_on_disk());
    QVERIFY(window->reload_bar()->isVisible());
    QVERIFY(window->reload());
    QVERIFY(!window->reload_bar()->isVisible());
    QCOMPARE(window->difference_count(), 2);
    // The user stays at the difference they were at.
    QCOMPARE(window->current_difference(), 1);
    QCOMPARE(window->pane(1)->line_number(window->pane(0)->current_rows().first), 151);
    // With unsaved edits the file is read again only when they may go.
    window->set_editing(true);
    QVERIFY(window->copy_difference(-1));
    write("disk_left", left + "tail\n");
    QVERIFY(window->check_files_on_disk());
    window->set_unsaved_answer(CompareWindow::UnsavedAnswer::cancel);
    QVERIFY(!window->reload());
    QVERIFY(window->has_unsaved_edits());
    QVERIFY(window->reload_bar()->isVisible());
    window->set_unsaved_answer(CompareWindow::UnsavedAnswer::discard);
    QVERIFY(window->reload());
    QVERIFY(!window->has_unsaved_edits());
    QCOMPARE(window->pane(0)->line_number(window->pane(0)->blockCount() - 1), 201);
    // The window's own save is no change to offer.
    QVERIFY(window->copy_difference(1));
    QVERIFY(window->save());
    QVERIFY(!window->check_files_on_disk());
    window->close();
  }
};

}  // namespace marlow

MARLOW_QTEST_MAIN(marlow::CompareEditTest)
#include "compare_edit_qtest.moc"
