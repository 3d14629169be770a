// The compare and merge windows on Qt's offscreen platform.
#include <QTemporaryDir>
#include <QTest>
#include <fstream>
#include <sstream>

#include "app/windows.h"
#include "engine/xmlrpc.h"

namespace marlow {
namespace {

std::string call(const std::string& method, const std::string& out,
                 const std::vector<std::string>& paths) {
  std::string text = "<methodCall><methodName>" + method + "</methodName><params>";
  if (!out.empty()) text += "<param><value><string>" + xml_escape(out) + "</string></value></param>";
  std::string array = "<param><value><array>";
  for (const std::string& p : paths) {
    array += "<data><value><string>" + xml_escape(p) + "</string></value></data>";
  }
  array += "</array></value></param>";
  return text + array + array + "<param><value><string></string></value></param></params></methodCall>";
}

}  // namespace

class WindowsTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir dir_;

  std::string path(const char* name) { return (dir_.path() + "/" + name).toStdString(); }
  void write(const char* name, const std::string& text) {
    std::ofstream(path(name), std::ios::binary) << text;
  }
  std::string read(const char* name) {
    std::ifstream in(path(name), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }
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

  void compare_aligns_and_walks_differences() {
    write("left", "a\nb\nc\nd\n");
    write("right", "a\nB\nc\nd\ne\nf\n");
    Preparation prep =
        prepare(call("RequestHandler.Compare", "", {path("left"), path("right")}), false);
    QVERIFY(prep.needs_window);
    std::string reply;
    auto* window = new CompareWindow(prep.job, [&](const std::string& r) { reply = r; });
    window->show();
    QCOMPARE(window->difference_count(), 2);
    QCOMPARE(window->left()->blockCount(), window->right()->blockCount());
    QCOMPARE(window->right()->blockCount(), 6);
    QCOMPARE(window->current_difference(), 0);
    window->go_to_difference(1);
    QCOMPARE(window->left()->textCursor().blockNumber(), 4);
    window->go_to_difference(2);  // past the last: stays
    QCOMPARE(window->current_difference(), 1);
    QVERIFY(window->close());
    QVERIFY(reply.find("<boolean>1</boolean>") != std::string::npos);
  }
};

}  // namespace marlow

QTEST_MAIN(marlow::WindowsTest)
#include "windows_qtest.moc"
