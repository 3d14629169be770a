// The scripted test hook driving real windows on Qt's offscreen platform.
#include "app/script.h"

#include <QFile>
#include <QImage>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include "app/compare_window.h"
#include "app/error_window.h"
#include "app/merge_window.h"
#include "tests/gui/qtest_files.h"

namespace marlow {

using testing::call;

class ScriptTest : public QObject, private testing::Files {
  Q_OBJECT

 private:
  Job merge_job() { return merge_of("a\nb\nc\nd\n", "a\nX\nc\nD\n", "a\nY\nc\nd\n"); }

  // Runs `script` on a merge window until the window has answered.
  std::string run_merge(const std::string& script) {
    std::string reply;
    auto* window = new MergeWindow(merge_job(), [&](const std::string& r) { reply = r; });
    QSignalSpy done(ScriptRunner::attach(window, 3, parse_script(script)), &ScriptRunner::finished);
    window->show();
    [&] { QVERIFY(done.wait()); }();
    return reply;
  }

 private slots:
  void merge_takes_saves_and_closes_with_one() {
    const std::string reply = run_merge("take 2; save; close");
    QVERIFY(reply.find("<boolean>1</boolean>") != std::string::npos);
    QCOMPARE(read("out"), std::string("a\nY\nc\nD\n"));
  }

  void merge_edit_then_running_out_closes() {
    const std::string reply = run_merge(R"(edit Z1\nZ2; save)");
    QVERIFY(reply.find("<boolean>1</boolean>") != std::string::npos);
    QCOMPARE(read("out"), std::string("a\nZ1\nZ2\nc\nD\n"));
  }

  void merge_bad_action_closes_unsaved_with_zero() {
    write("out", "old");
    for (const char* script :
         {"take 3; save", "take-all; edit x; next; prev; shot; save", "take 1; bogus; save"}) {
      const std::string reply = run_merge(script);
      QVERIFY2(reply.find("<boolean>0</boolean>") != std::string::npos, script);
      QCOMPARE(read("out"), std::string("old"));
    }
  }

  void compare_walks_takes_a_picture_and_answers_one() {
    write("left", "a\nb\nc\n");
    write("right", "a\nB\nc\nd\n");
    Preparation prep =
        prepare(call("RequestHandler.Compare", "", {path("left"), path("right")}), false);
    std::string reply;
    auto* window = new CompareWindow(prep.job, [&](const std::string& r) { reply = r; });
    window->show();  // already shown: the runner starts at once
    int seen = -1;
    ScriptRunner* runner =
        ScriptRunner::attach(window, parse_script("next; shot " + path("shot.png")));
    connect(runner, &ScriptRunner::finished, this, [&] { seen = window->current_difference(); });
    QSignalSpy done(runner, &ScriptRunner::finished);
    QVERIFY(done.wait());
    QCOMPARE(seen, 1);
    QVERIFY(reply.find("<boolean>1</boolean>") != std::string::npos);
    QImage shot(QString::fromStdString(path("shot.png")), "PNG");
    QVERIFY(!shot.isNull());
    QVERIFY(shot.width() > 100);
  }

  void error_window_answers_its_fault() {
    const std::string fault = fault_reply(kFaultCannotServe, "cannot read x");
    std::string reply;
    auto* window = new ErrorWindow(QStringLiteral("Cannot merge"),
                                   QStringLiteral("x cannot be read: No such file or directory"),
                                   fault, [&](const std::string& r) { reply = r; });
    QSignalSpy done(ScriptRunner::attach(window, parse_script("shot " + path("error.png"))),
                    &ScriptRunner::finished);
    window->show();
    QVERIFY(done.wait());
    QCOMPARE(reply, fault);
    QVERIFY(reply.find("<boolean>1") == std::string::npos);
    QVERIFY(QFile::exists(QString::fromStdString(path("error.png"))));

    // Closed by its button, without a script.
    reply.clear();
    window = new ErrorWindow(QStringLiteral("Cannot compare"), QStringLiteral("y"), fault,
                             [&](const std::string& r) { reply = r; });
    window->show();
    QCOMPARE(window->message(), QStringLiteral("y"));
    QPushButton* close = window->findChild<QPushButton*>();
    QVERIFY(close != nullptr);
    QTest::mouseClick(close, Qt::LeftButton);
    QCOMPARE(reply, fault);
  }
};

}  // namespace marlow

MARLOW_QTEST_MAIN(marlow::ScriptTest)
#include "script_qtest.moc"
