// The merge window with conflicts that the merge engine settled, on Qt's
// offscreen platform; and the windowless mode with the same engine.
#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include "app/merge_window.h"
#include "tests/gui/qtest_files.h"

namespace marlow {

using testing::call;

class MergeAutoTest : public QObject, private testing::Files {
  Q_OBJECT

 private:
  // Conflict 1: both sides raised the version (the engine keeps 1.3.0);
  // conflict 2: the same line changed two ways, left to the user.
  void write_merge() {
    write("base", "name = demo\nversion = 1.2.0\nkeep\nkeep\nkeep\nkeep\ncolour = red\n");
    write("one", "name = demo\nversion = 1.3.0\nkeep\nkeep\nkeep\nkeep\ncolour = blue\n");
    write("other", "name = demo\nversion = 1.2.1\nkeep\nkeep\nkeep\nkeep\ncolour = green\n");
  }
  std::string merge_call() {
    return call("RequestHandler.CompareMerge", path("out"),
                {path("base"), path("one"), path("other")});
  }

 private slots:
  void settled_conflicts_open_settled_and_undo_to_unsettled() {
    write_merge();
    Preparation prep = prepare(merge_call(), false);
    QVERIFY(prep.needs_window);
    std::string reply;
    auto* window = new MergeWindow(std::move(prep.job), [&](const std::string& r) { reply = r; });
    window->show();
    QCOMPARE(window->conflict_count(), std::size_t{2});
    QVERIFY(window->settled_automatically(0));
    QVERIFY(!window->settled_automatically(1));
    QCOMPARE(window->unresolved_count(), std::size_t{1});
    QCOMPARE(window->current_conflict(), std::size_t{0});
    // Marked as settled automatically, with how and what each side did.
    QVERIFY(window->automatic_note_label()->isVisibleTo(window));
    const QString note = window->automatic_note_label()->text();
    QVERIFY2(note.contains(QStringLiteral("version")), qPrintable(note));
    QVERIFY2(note.contains(QStringLiteral("one changed 1 base line(s) into 1")), qPrintable(note));
    QVERIFY2(note.contains(QStringLiteral("other changed")), qPrintable(note));
    QCOMPARE(window->unresolve_button()->text(), QStringLiteral("&Undo automatic settlement"));
    QCOMPARE(window->conflict_editor()->toPlainText(), QStringLiteral("version = 1.3.0"));
    QVERIFY(window->result_view()->toPlainText().contains(QStringLiteral("version = 1.3.0")));
    // Each side's lines stay in its pane.
    QVERIFY(window->pane(1)->toPlainText().contains(QStringLiteral("version = 1.3.0")));
    QVERIFY(window->pane(2)->toPlainText().contains(QStringLiteral("version = 1.2.1")));
    // Another conflict: the note goes; back on the settled one, it returns.
    window->go_to_conflict(1);
    QVERIFY(!window->automatic_note_label()->isVisibleTo(window));
    QCOMPARE(window->unresolve_button()->text(), QStringLiteral("&Unresolve"));
    window->go_to_conflict(0);
    QVERIFY(window->automatic_note_label()->isVisibleTo(window));

    // One action puts it back to an unsettled conflict.
    window->unresolve_button()->click();
    QVERIFY(!window->settled_automatically(0));
    QCOMPARE(window->unresolved_count(), std::size_t{2});
    QVERIFY(!window->automatic_note_label()->isVisibleTo(window));
    QVERIFY(window->result_note(window->result_row_of_conflict(0))
                .contains(QStringLiteral("conflict 1 not settled")));
    QVERIFY(!window->save());
    // Settled by hand this time, the other way.
    window->take(2);
    QVERIFY(!window->settled_automatically(0));
    window->go_to_conflict(1);
    window->take(1);
    QVERIFY(window->save());
    QCOMPARE(read("out"),
             std::string("name = demo\nversion = 1.2.1\nkeep\nkeep\nkeep\nkeep\ncolour = blue\n"));
    QVERIFY(window->close());
    QVERIFY(reply.find("<boolean>1</boolean>") != std::string::npos);
  }

  void settled_automatically_saves_as_settled() {
    write_merge();
    Preparation prep = prepare(merge_call(), false);
    auto* window = new MergeWindow(std::move(prep.job), [](const std::string&) {});
    window->show();
    window->go_to_conflict(1);
    window->take(2);
    QVERIFY(window->settled_automatically(0));  // settling another leaves it alone
    QVERIFY(window->save());
    QCOMPARE(read("out"),
             std::string("name = demo\nversion = 1.3.0\nkeep\nkeep\nkeep\nkeep\ncolour = green\n"));
    // undo_automatic does nothing to a conflict the user settled.
    window->undo_automatic();
    QCOMPARE(window->unresolved_count(), std::size_t{0});
    window->close_without_asking();
  }

  void without_a_window_when_the_engine_settles_every_conflict() {
    write("base", "name = demo\nversion = 1.2.0\n");
    write("one", "name = demo\nversion = 1.3.0\n");
    write("other", "name = demo\nversion = 1.2.1\n");
    Preparation prep = prepare(merge_call(), true);
    QVERIFY(!prep.needs_window);
    QVERIFY(prep.reply.find("<boolean>1</boolean>") != std::string::npos);
    QCOMPARE(read("out"), std::string("name = demo\nversion = 1.3.0\n"));
    // A conflict it cannot settle still needs the window.
    write_merge();
    QVERIFY(prepare(merge_call(), true).needs_window);
  }
};

}  // namespace marlow

int main(int argc, char** argv) {
  QTemporaryDir config;
  qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
  QApplication app(argc, argv);
  marlow::MergeAutoTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "merge_auto_qtest.moc"
