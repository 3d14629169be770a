// The comparison window on Qt's offscreen platform.
#include "app/compare_window.h"

#include <QTest>

#include "tests/gui/qtest_files.h"

namespace marlow {

using testing::call;

class CompareWindowTest : public QObject {
  Q_OBJECT

 private:
  testing::Files files_;
  std::string path(const char* name) { return files_.path(name); }
  void write(const char* name, const std::string& text) { files_.write(name, text); }
  std::string read(const char* name) { return files_.read(name); }

 private slots:
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

QTEST_MAIN(marlow::CompareWindowTest)
#include "compare_qtest.moc"
