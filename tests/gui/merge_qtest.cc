// The merge window on Qt's offscreen platform.
#include "app/merge_window.h"

#include <QTest>

#include "tests/gui/qtest_files.h"

namespace marlow {

using testing::call;

class MergeWindowTest : public QObject {
  Q_OBJECT

 private:
  testing::Files files_;
  std::string path(const char* name) { return files_.path(name); }
  void write(const char* name, const std::string& text) { files_.write(name, text); }
  std::string read(const char* name) { return files_.read(name); }
  Job merge_job() {
    write("base", "a\r\nb\r\nc\r\nd\r\n");
    write("one", "a\r\nX\r\nc\r\nD\r\n");
    write("other", "a\r\nY\r\nc\r\nd\r\n");
    Preparation prep = prepare(call("RequestHandler.CompareMerge", path("out"),
                                    {path("base"), path("one"), path("other")}),
                               false);
    Q_ASSERT(prep.needs_window);
    return prep.job;
  }


 private slots:
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
    QVERIFY(window->close());
    QVERIFY(reply.find("<boolean>1</boolean>") != std::string::npos);
  }

  void merge_closed_unsaved_answers_zero_and_leaves_output() {
    write("out", "old");
    std::string reply;
    auto* window = new MergeWindow(merge_job(), [&](const std::string& r) { reply = r; });
    window->show();
    window->take_all();
    QVERIFY(window->close());
    QVERIFY(reply.find("<boolean>0</boolean>") != std::string::npos);
    QCOMPARE(read("out"), std::string("old"));
  }

  void merge_edited_result_uses_the_texts_line_end() {
    std::string reply;
    auto* window = new MergeWindow(merge_job(), [&](const std::string& r) { reply = r; });
    window->edit_result(QStringLiteral("Z1\nZ2"));
    QCOMPARE(window->result_text(), QStringLiteral("a\r\nZ1\r\nZ2\r\nc\r\nD\r\n"));
    QVERIFY(window->close());
    QVERIFY(reply.find("<boolean>0</boolean>") != std::string::npos);
  }
};

}  // namespace marlow

QTEST_MAIN(marlow::MergeWindowTest)
#include "merge_qtest.moc"
