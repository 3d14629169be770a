// The merge window on Qt's offscreen platform.
#include "app/merge_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTimer>

#include "app/settings.h"
#include "tests/gui/qtest_files.h"

namespace marlow {

using testing::call;

class MergeWindowTest : public QObject, private testing::Files {
  Q_OBJECT

 private:
  Job job_for(const std::vector<std::string>& paths) {
    Preparation prep = prepare(call("RequestHandler.CompareMerge", path("out"), paths), false);
    Q_ASSERT(prep.needs_window);
    return prep.job;
  }
  // One conflict (line 2) and a clean change of "one" (line 4), CRLF.
  Job merge_job() {
    write("base", "a\r\nb\r\nc\r\nd\r\n");
    write("one", "a\r\nX\r\nc\r\nD\r\n");
    write("other", "a\r\nY\r\nc\r\nd\r\n");
    return job_for({path("base"), path("one"), path("other")});
  }
  // Two conflicts, the second at the end of texts without a last line end.
  Job two_conflicts_job() {
    write("base", "a\nb\nc\nd\ne");
    write("one", "a\nB1\nc\nd\nE1");
    write("other", "a\nB2\nc\nd\nE2");
    return job_for({path("base"), path("one"), path("other")});
  }
  // Answers the question the window asks on close with `button`, noting in
  // `asked` whether there was one; runs inside the dialog's own event loop.
  static void answer_question(QMessageBox::StandardButton button, bool* asked) {
    QTimer::singleShot(0, [button, asked] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      *asked = box != nullptr;
      if (box != nullptr) box->button(button)->click();
    });
  }

 private slots:
  // A long line in one pane only gives that pane a horizontal scroll bar;
  // the panes still end on the same row when scrolled to the end.
  void panes_end_on_the_same_row() {
    std::string base;
    for (int i = 0; i < 100; ++i) base += "line " + std::to_string(i) + "\n";
    std::string one = base;
    one.replace(0, 6, "line 0 " + std::string(2000, 'x') + "\n");
    std::string other = base;
    other.replace(other.find("line 50"), 7, "line fifty");
    write("base", base);
    write("one", one);
    write("other", other + "line 100\n");
    auto* window = new MergeWindow(job_for({path("base"), path("one"), path("other")}),
                                   [](const std::string&) {});
    window->set_ask_on_close(false);
    window->resize(1200, 700);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QCoreApplication::processEvents();  // lays the shown rows out
    window->sync()->set_top_row(1000);
    QCoreApplication::processEvents();
    const int end = window->pane(1)->verticalScrollBar()->value();
    QVERIFY(end > 50);
    for (std::size_t s = 0; s < 3; ++s) {
      QCOMPARE(window->pane(s)->verticalScrollBar()->value(), end);
      QCOMPARE(window->pane(s)->viewport()->height(), window->pane(1)->viewport()->height());
    }
    window->close();
  }

  // A message, however long, takes one line: the panes keep their room,
  // the whole text is in the tool tip; a long output path is shortened in
  // its middle and leaves the colour legend beside it.
  void long_messages_and_paths_leave_the_layout_alone() {
    write("base", "a\nb\nc\n");
    write("one", "a\nB1\nc\n");
    write("other", "a\nB2\nc\n");
    const std::string out = path("no-such-directory") + "/" + std::string(300, 'x') + "/out.txt";
    Preparation prep = prepare(
        call("RequestHandler.CompareMerge", out, {path("base"), path("one"), path("other")}),
        false);
    QVERIFY(prep.needs_window);
    auto* window = new MergeWindow(prep.job, [](const std::string&) {});
    window->set_ask_on_close(false);
    window->resize(1200, 650);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    auto* message = window->findChild<QLabel*>(QStringLiteral("message"));
    QVERIFY(message != nullptr);
    const int pane_height = window->pane(0)->height();
    window->take(1);
    QVERIFY(!window->save());
    QCoreApplication::processEvents();  // lays the window out again
    QCOMPARE(window->pane(0)->height(), pane_height);
    QVERIFY(message->text().startsWith(QStringLiteral("Not saved: cannot write")));
    QVERIFY(message->text().endsWith(QStringLiteral("No such file or directory")));
    QVERIFY(message->fontMetrics().horizontalAdvance(message->text()) <= message->width());
    QVERIFY(message->toolTip().contains(QString::fromStdString(out)));
    auto* output = window->findChild<QLabel*>(QStringLiteral("output"));
    auto* legend = window->findChild<QLabel*>(QStringLiteral("legend"));
    QVERIFY(output != nullptr && legend != nullptr);
    QVERIFY(output->text().endsWith(QStringLiteral("out.txt (UTF-8)")));
    QVERIFY(legend->geometry().right() <= window->width());
    QVERIFY(legend->width() >= legend->sizeHint().width());
    window->close();
  }

  // The output's encoding and byte-order mark are shown before it is saved.
  void output_line_names_the_encoding_and_byte_order_mark() {
    const auto utf16 = [](const std::string& text) {
      std::string bytes = "\xFF\xFE";
      for (char c : text) bytes += std::string{c, '\0'};
      return bytes;
    };
    write("base", utf16("a\nb\n"));
    write("one", utf16("a\nB1\n"));
    write("other", utf16("a\nB2\n"));
    auto* window = new MergeWindow(job_for({path("base"), path("one"), path("other")}),
                                   [](const std::string&) {});
    auto* output = window->findChild<QLabel*>(QStringLiteral("output"));
    QVERIFY(output != nullptr);
    QVERIFY2(output->toolTip().endsWith(QStringLiteral("(UTF-16LE \u00B7 BOM)")),
             qPrintable(output->toolTip()));
    delete window;
  }

  void merge_saves_only_when_settled_and_answers_one() {
    std::string reply;
    auto* window = new MergeWindow(merge_job(), [&](const std::string& r) { reply = r; });
    window->show();
    QCOMPARE(window->conflict_count(), std::size_t{1});
    QVERIFY(!window->save());
    QVERIFY(!QFile::exists(QString::fromStdString(path("out"))));
    window->take(2);
    QCOMPARE(window->unresolved_count(), std::size_t{0});
    QVERIFY(window->save());
    // The clean change of "one" is merged; line ends are kept.
    QCOMPARE(read("out"), std::string("a\r\nY\r\nc\r\nD\r\n"));
    QVERIFY(!window->has_unsaved_choices());
    QVERIFY(window->close());
    QVERIFY(reply.find("<boolean>1</boolean>") != std::string::npos);
  }

  void two_conflicts_settled_differently_save_exact_bytes() {
    write("out", "old");
    std::string reply;
    auto* window = new MergeWindow(two_conflicts_job(), [&](const std::string& r) { reply = r; });
    window->show();
    QCOMPARE(window->conflict_count(), std::size_t{2});
    // Every pane has the whole text, aligned: the conflicts sit on the same rows.
    for (std::size_t s = 0; s < 3; ++s) QCOMPARE(window->pane(s)->blockCount(), 5);
    QCOMPARE(window->pane_row_of_conflict(0), 1);
    QCOMPARE(window->pane_row_of_conflict(1), 4);
    // An unsettled conflict shows its first suggestion (here one side's
    // lines), with a note beside it.
    QCOMPARE(window->result_view()->toPlainText(), QStringLiteral("a\nB1\nc\nd\nE1"));
    QVERIFY(window->result_note(1).contains(QStringLiteral("conflict 1 not settled")));
    QVERIFY(window->result_note(4).contains(QStringLiteral("conflict 2 not settled")));

    window->take(1);
    // A click on a conflict's row in any pane makes it the current one.
    const QTextCursor cursor(window->pane(2)->document()->findBlockByNumber(4));
    QTest::mouseClick(window->pane(2)->viewport(), Qt::LeftButton, {},
                      window->pane(2)->cursorRect(cursor).center());
    QCOMPARE(window->current_conflict(), std::size_t{1});
    QCOMPARE(window->unresolved_count(), std::size_t{1});
    QVERIFY(!window->save());
    QCOMPARE(read("out"), std::string("old"));
    QVERIFY(window->result_view()->toPlainText().startsWith(QStringLiteral("a\nB1\nc\nd\n")));
    window->take_all();
    QCOMPARE(window->conflict_editor()->toPlainText(), QStringLiteral("E1\nE2"));
    QVERIFY(window->save());
    // "E1" had no line end of its own: joined to "E2" with the texts' one.
    QCOMPARE(read("out"), std::string("a\nB1\nc\nd\nE1\nE2"));
    QCOMPARE(window->result_view()->toPlainText(), QStringLiteral("a\nB1\nc\nd\nE1\nE2"));
    QVERIFY(window->close());
    QVERIFY(reply.find("<boolean>1</boolean>") != std::string::npos);
  }

  void two_contributors_make_every_difference_a_choice() {
    write("left", "a\nb\nc\n");
    write("right", "a\nB\nc\nd\n");
    std::string reply;
    auto* window = new MergeWindow(job_for({path("left"), path("right")}),
                                   [&](const std::string& r) { reply = r; });
    window->show();
    QCOMPARE(window->conflict_count(), std::size_t{2});
    QCOMPARE(window->pane(0)->blockCount(), window->pane(1)->blockCount());
    QCOMPARE(window->pane_row_of_conflict(1), 3);
    window->take(0);
    // A click on the second conflict's placeholder in the result goes there.
    const QTextCursor cursor(window->result_view()->document()->findBlockByNumber(3));
    QTest::mouseClick(window->result_view()->viewport(), Qt::LeftButton, {},
                      window->result_view()->cursorRect(cursor).center());
    QCOMPARE(window->current_conflict(), std::size_t{1});
    window->take(1);
    QCOMPARE(window->result_text(), QStringLiteral("a\nb\nc\nd\n"));
    window->go_to_conflict(0);
    window->take_all();  // both, in order
    QCOMPARE(window->result_text(), QStringLiteral("a\nb\nB\nc\nd\n"));
    QVERIFY(window->save());
    QCOMPARE(read("out"), std::string("a\nb\nB\nc\nd\n"));
    QVERIFY(window->close());
    QVERIFY(reply.find("<boolean>1</boolean>") != std::string::npos);
  }

  void edit_by_hand_uses_the_texts_line_end() {
    std::string reply;
    auto* window = new MergeWindow(merge_job(), [&](const std::string& r) { reply = r; });
    window->show();
    // Typing in the editor settles the conflict as typed.
    window->conflict_editor()->setPlainText(QStringLiteral("Z1\nZ2"));
    QCOMPARE(window->unresolved_count(), std::size_t{0});
    QCOMPARE(window->result_text(), QStringLiteral("a\r\nZ1\r\nZ2\r\nc\r\nD\r\n"));
    QVERIFY(window->result_view()->toPlainText().contains(QStringLiteral("Z1\nZ2\nc")));
    window->edit_result(QStringLiteral("W"));
    QCOMPARE(window->conflict_editor()->toPlainText(), QStringLiteral("W"));
    window->unresolve();
    QCOMPARE(window->unresolved_count(), std::size_t{1});
    QVERIFY(window->conflict_editor()->placeholderText().contains(QStringLiteral("not settled")));
    window->edit_result(QString());  // an empty result deletes the conflict's lines
    QVERIFY(window->conflict_editor()->placeholderText().contains(QStringLiteral("no lines")));
    QVERIFY(window->save());
    QCOMPARE(read("out"), std::string("a\r\nc\r\nD\r\n"));
    QVERIFY(window->close());
    QVERIFY(reply.find("<boolean>1</boolean>") != std::string::npos);
  }

  // The editor never shows the text's last line end: a hand edit of a
  // conflict at the end keeps the final line end the texts have, and typing
  // keeps characters the user did not touch (no-break spaces included).
  void edit_by_hand_at_the_end_keeps_the_text_as_stored() {
    write("base", "a\nb\n");
    write("one", "a\nX\xC2\xA0Y\n");
    write("other", "a\nZ\n");
    auto* window = new MergeWindow(job_for({path("base"), path("one"), path("other")}),
                                   [](const std::string&) {});
    window->show();
    window->take(1);
    QTextCursor cursor = window->conflict_editor()->textCursor();
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(QStringLiteral("!"));  // as the user types
    QVERIFY(window->save());
    QCOMPARE(read("out"), std::string("a\nX\xC2\xA0Y!\n"));
    window->edit_result(QStringLiteral("W1\nW2"));
    QVERIFY(window->save());
    QCOMPARE(read("out"), std::string("a\nW1\nW2\n"));
    window->close_without_asking();

    // An empty last row typed in the editor is a line of its own, and stays
    // when the user comes back to the conflict.
    window = new MergeWindow(two_conflicts_job(), [](const std::string&) {});
    window->conflict_editor()->setPlainText(QStringLiteral("W\n"));
    window->go_to_conflict(1);
    window->take(1);
    QCOMPARE(window->result_text(), QStringLiteral("a\nW\n\nc\nd\nE1"));
    window->go_to_conflict(0);
    QCOMPARE(window->conflict_editor()->toPlainText(), QStringLiteral("W\n"));
    window->close_without_asking();
  }

  // The result view is patched region by region: rows vanish and come back
  // at the start, in the middle and at the end of the text.
  void result_view_follows_every_settlement() {
    write("left", "x\nm\ny");
    write("right", "X\nm\nY");
    auto* window =
        new MergeWindow(job_for({path("left"), path("right")}), [](const std::string&) {});
    const auto view = [&window] { return window->result_view()->toPlainText(); };
    window->go_to_conflict(1);
    window->edit_result(QString());
    QCOMPARE(view(), QStringLiteral("x\nX\nm"));
    window->go_to_conflict(0);
    window->edit_result(QString());
    QCOMPARE(view(), QStringLiteral("m"));
    window->edit_result(QStringLiteral("p\nq"));
    QCOMPARE(view(), QStringLiteral("p\nq\nm"));
    window->go_to_conflict(1);
    window->edit_result(QStringLiteral("z"));
    QCOMPARE(view(), QStringLiteral("p\nq\nm\nz"));
    QCOMPARE(window->result_text(), QStringLiteral("p\nq\nm\nz"));
    window->unresolve();
    QCOMPARE(view(), QStringLiteral("p\nq\nm\ny\nY"));
    QVERIFY(window->result_note(3).contains(QStringLiteral("conflict 2 not settled")));
    window->close_without_asking();

    write("left", "a");
    write("right", "b");
    window = new MergeWindow(job_for({path("left"), path("right")}), [](const std::string&) {});
    window->edit_result(QString());
    QCOMPARE(view(), QString());
    window->take(1);
    QCOMPARE(view(), QStringLiteral("b"));
    window->close_without_asking();
  }

  void keyboard_moves_takes_and_saves() {
    auto* window = new MergeWindow(two_conflicts_job(), [](const std::string&) {});
    window->show();
    window->activateWindow();
    QCoreApplication::processEvents();                        // delivers the activation
    QTest::keyClick(window, Qt::Key_2, Qt::ControlModifier);  // the second pane: "one"
    QTest::keyClick(window, Qt::Key_F8);
    QCOMPARE(window->current_conflict(), std::size_t{1});
    QTest::keyClick(window, Qt::Key_B, Qt::ControlModifier);
    QTest::keyClick(window, Qt::Key_S, Qt::ControlModifier);
    QVERIFY(window->saved());
    QCOMPARE(read("out"), std::string("a\nB1\nc\nd\nE1\nE2"));
    QTest::keyClick(window, Qt::Key_Up, Qt::AltModifier);
    QCOMPARE(window->current_conflict(), std::size_t{0});
    window->close_without_asking();
  }

  void closing_with_unsaved_choices_and_no_asking_answers_zero() {
    write("out", "old");
    std::string reply;
    auto* window = new MergeWindow(two_conflicts_job(), [&](const std::string& r) { reply = r; });
    window->show();
    window->take(1);
    window->go_to_conflict(1);
    window->take(2);
    QVERIFY(window->has_unsaved_choices());
    window->set_ask_on_close(false);
    QVERIFY(window->close());
    QVERIFY(reply.find("<boolean>0</boolean>") != std::string::npos);
    QCOMPARE(read("out"), std::string("old"));
  }

  void closing_asks_only_when_choices_would_be_lost() {
    write("out", "old");
    std::string reply;
    bool asked = false;
    auto* window = new MergeWindow(merge_job(), [&](const std::string& r) { reply = r; });
    window->show();
    window->take(1);
    answer_question(QMessageBox::Cancel, &asked);
    QVERIFY(!window->close());
    QVERIFY(asked);
    QVERIFY(reply.empty());
    answer_question(QMessageBox::Save, &asked);
    QVERIFY(window->close());
    QVERIFY(asked);
    QCOMPARE(read("out"), std::string("a\r\nX\r\nc\r\nD\r\n"));
    QVERIFY(reply.find("<boolean>1</boolean>") != std::string::npos);

    // Nothing settled: no question.
    reply.clear();
    window = new MergeWindow(merge_job(), [&](const std::string& r) { reply = r; });
    window->show();
    answer_question(QMessageBox::Cancel, &asked);
    QVERIFY(window->close());
    QCoreApplication::processEvents();  // runs the answerer, which finds no question
    QVERIFY(!asked);
    QVERIFY(reply.find("<boolean>0</boolean>") != std::string::npos);
  }

  // Closing a partly settled merge offers to save it with the open
  // conflicts between markers; such a save is no finished merge: answered 0.
  void a_partly_settled_merge_is_saved_with_markers_and_answered_0() {
    write("out", "old");
    std::string reply;
    bool asked = false;
    auto* window = new MergeWindow(two_conflicts_job(), [&](const std::string& r) { reply = r; });
    window->show();
    window->take(1);
    answer_question(QMessageBox::Save, &asked);
    QVERIFY(window->close());
    QVERIFY(asked);
    QCOMPARE(read("out"),
             std::string("a\nB1\nc\nd\n<<<<<<< " + path("one") + "\nE1\n||||||| " + path("base") +
                         "\ne\n=======\nE2\n>>>>>>> " + path("other") + "\n"));
    QVERIFY(reply.find("<boolean>0</boolean>") != std::string::npos);

    // Saved with markers, then finished and saved: answered 1.
    reply.clear();
    window = new MergeWindow(two_conflicts_job(), [&](const std::string& r) { reply = r; });
    window->show();
    window->take(1);
    QVERIFY(window->save_unfinished());
    QVERIFY(window->saved_unfinished());
    QVERIFY(!window->has_unsaved_choices());
    window->go_to_conflict(1);
    window->take(2);
    QVERIFY(window->save());
    QVERIFY(!window->saved_unfinished());
    QCOMPARE(read("out"), std::string("a\nB1\nc\nd\nE2"));
    QVERIFY(window->close_without_asking());
    QVERIFY(reply.find("<boolean>1</boolean>") != std::string::npos);
  }

  void merge_without_conflicts_can_be_saved_at_once() {
    write("base", "a\nb\nc\n");
    write("one", "a\nB\nc\n");
    write("other", "a\nb\nc\nd\n");
    std::string reply;
    auto* window = new MergeWindow(job_for({path("base"), path("one"), path("other")}),
                                   [&](const std::string& r) { reply = r; });
    window->show();
    QCOMPARE(window->conflict_count(), std::size_t{0});
    QVERIFY(window->result_view()->toPlainText() == QStringLiteral("a\nB\nc\nd"));
    QVERIFY(window->save());
    QCOMPARE(read("out"), std::string("a\nB\nc\nd\n"));
    QVERIFY(window->close());
    QVERIFY(reply.find("<boolean>1</boolean>") != std::string::npos);
  }

  void automatic_merge_preference_follows_the_checkbox() {
    QVERIFY(!automatic_merge_preference());
    auto* window = new MergeWindow(merge_job(), [](const std::string&) {});
    QVERIFY(!window->automatic_merge_box()->isChecked());
    window->automatic_merge_box()->click();
    QVERIFY(automatic_merge_preference());
    window->close_without_asking();
    window = new MergeWindow(merge_job(), [](const std::string&) {});
    QVERIFY(window->automatic_merge_box()->isChecked());
    window->automatic_merge_box()->click();
    QVERIFY(!automatic_merge_preference());
    window->close_without_asking();
  }
};

}  // namespace marlow

// The preference lives in the user's settings: keep the tests' own apart.
int main(int argc, char** argv) {
  QTemporaryDir config;
  qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
  QApplication app(argc, argv);
  marlow::MergeWindowTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "merge_qtest.moc"
