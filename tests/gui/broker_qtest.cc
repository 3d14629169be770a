// The broker: calls from serving threads become windows on the GUI thread,
// each answering its own call, on Qt's offscreen platform.
#include "app/broker.h"

#include <QApplication>
#include <QDir>
#include <QTest>
#include <chrono>
#include <future>

#include "app/compare_window.h"
#include "app/directory_window.h"
#include "app/merge_window.h"
#include "tests/gui/qtest_files.h"

namespace marlow {

using testing::call;

class BrokerTest : public QObject, private testing::Files {
  Q_OBJECT

 private:
  WindowBroker broker_;

  // Hands the call to the broker as a serving thread does.
  std::future<std::string> request(const std::string& text) {
    return std::async(std::launch::async, [this, text] { return broker_.handle(text); });
  }
  static bool ready(const std::future<std::string>& reply) {
    return reply.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
  }
  std::string merge_call() {
    return call("RequestHandler.CompareMerge", path("out"),
                {path("base"), path("one"), path("other")});
  }
  template <typename Window>
  Window* window_of_kind() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (auto* window = qobject_cast<Window*>(w); window && window->isVisible()) return window;
    }
    return nullptr;
  }

 private slots:
  void init() {
    qunsetenv("MARLOW_SCRIPT");
    qputenv("MARLOW_SCRIPT_LOG", QByteArray::fromStdString(path("answers.log")));
    qputenv("MARLOW_AUTOMATIC", "0");
    QFile::remove(QString::fromStdString(path("answers.log")));
    QFile::remove(QString::fromStdString(path("out")));
    write("base", "a\nb\nc\n");
    write("one", "a\nX\nc\n");
    write("other", "a\nY\nc\n");
  }

  void scripted_merge_saves_answers_one_and_logs() {
    qputenv("MARLOW_SCRIPT", "take 1; save; close");
    std::future<std::string> reply = request(merge_call());
    QTRY_VERIFY(ready(reply));
    QVERIFY(reply.get().find("<boolean>1</boolean>") != std::string::npos);
    QCOMPARE(read("out"), std::string("a\nX\nc\n"));
    QCOMPARE(read("answers.log"), std::string("merge answered 1\n"));
  }

  void two_directories_open_their_comparison() {
    QDir().mkpath(QString::fromStdString(path("dir_left")));
    QDir().mkpath(QString::fromStdString(path("dir_right")));
    write("dir_left/a.txt", "1\n");
    write("dir_right/a.txt", "2\n");
    std::future<std::string> reply =
        request(call("RequestHandler.Compare", "", {path("dir_left"), path("dir_right")}));
    QTRY_VERIFY(window_of_kind<DirectoryWindow>() != nullptr);
    DirectoryWindow* window = window_of_kind<DirectoryWindow>();
    QCOMPARE(window->entries().size(), std::size_t{1});
    QVERIFY(!ready(reply));
    window->close();
    QTRY_VERIFY(ready(reply));
    QVERIFY(reply.get().find("<boolean>1</boolean>") != std::string::npos);
    QCOMPARE(read("answers.log"), std::string("compare answered 1\n"));
  }

  void three_directories_open_their_comparison() {
    for (const char* name : {"dir3_base", "dir3_a", "dir3_b"}) {
      QDir().mkpath(QString::fromStdString(path(name)));
    }
    write("dir3_base/a.txt", "1\n");
    write("dir3_a/a.txt", "2\n");
    write("dir3_b/a.txt", "1\n");
    std::future<std::string> reply = request(
        call("RequestHandler.Compare", "", {path("dir3_base"), path("dir3_a"), path("dir3_b")}));
    QTRY_VERIFY(window_of_kind<DirectoryWindow>() != nullptr);
    DirectoryWindow* window = window_of_kind<DirectoryWindow>();
    QCOMPARE(window->entries().size(), std::size_t{1});
    QCOMPARE(window->entries()[0].state, DirectoryEntry::State::second_differs);
    window->close();
    QTRY_VERIFY(ready(reply));
    QVERIFY(reply.get().find("<boolean>1</boolean>") != std::string::npos);
  }

  void unreadable_contributor_opens_the_error_window_answering_a_fault() {
    qputenv("MARLOW_SCRIPT", "close");
    std::future<std::string> reply = request(call("RequestHandler.CompareMerge", path("out"),
                                                  {path("base"), path("gone"), path("other")}));
    QTRY_VERIFY(ready(reply));
    const std::string text = reply.get();
    QVERIFY(text.find("<fault>") != std::string::npos);
    QVERIFY(text.find("<boolean>") == std::string::npos);
    QCOMPARE(read("answers.log"), std::string("error answered fault\n"));
    QVERIFY(!QFile::exists(QString::fromStdString(path("out"))));
  }

  // A directory where the call has no place for one: a window says what is
  // supported, and the fault says it too.
  void directories_in_other_calls_get_a_window_saying_what_works() {
    qputenv("MARLOW_SCRIPT", "close");
    QDir().mkpath(QString::fromStdString(path("dir_a")));
    QDir().mkpath(QString::fromStdString(path("dir_b")));
    QDir().mkpath(QString::fromStdString(path("dir_c")));
    for (const std::vector<std::string>& paths :
         {std::vector<std::string>{path("dir_a"), path("one")},
          std::vector<std::string>{path("dir_a"), path("dir_b"), path("dir_c"), path("dir_a")}}) {
      QFile::remove(QString::fromStdString(path("answers.log")));
      std::future<std::string> reply = request(call("RequestHandler.Compare", "", paths));
      QTRY_VERIFY(ready(reply));
      const std::string text = reply.get();
      QVERIFY2(text.find(path("dir_a")) != std::string::npos, text.c_str());
      QVERIFY2(text.find("cannot read") == std::string::npos, text.c_str());
      QVERIFY2(text.find("two or three directories") != std::string::npos, text.c_str());
      QCOMPARE(read("answers.log"), std::string("error answered fault\n"));
    }
  }

  void calls_while_windows_are_open_get_their_own_windows() {
    write("left", "a\n");
    write("right", "b\n");
    std::future<std::string> compare =
        request(call("RequestHandler.Compare", "", {path("left"), path("right")}));
    std::future<std::string> merge = request(merge_call());
    QTRY_COMPARE(broker_.open_windows(), 2);
    CompareWindow* compare_window = window_of_kind<CompareWindow>();
    QVERIFY(compare_window != nullptr);
    compare_window->close();
    QTRY_VERIFY(ready(compare));
    QVERIFY(compare.get().find("<boolean>1</boolean>") != std::string::npos);
    QTRY_COMPARE(broker_.open_windows(), 1);
    QVERIFY(!ready(merge));  // the other window still waits for its user
    // A third call arrives after the first window has gone.
    std::future<std::string> third = request(merge_call());
    QTRY_COMPARE(broker_.open_windows(), 2);
    for (int i = 0; i < 2; ++i) {
      MergeWindow* merge_window = window_of_kind<MergeWindow>();
      QVERIFY(merge_window != nullptr);
      merge_window->close_without_asking();
    }
    QTRY_VERIFY(ready(merge) && ready(third));
    QVERIFY(merge.get().find("<boolean>0</boolean>") != std::string::npos);
    QVERIFY(third.get().find("<boolean>0</boolean>") != std::string::npos);
    QCOMPARE(read("answers.log"),
             std::string("compare answered 1\nmerge answered 0\nmerge answered 0\n"));
    QTRY_COMPARE(broker_.open_windows(), 0);
  }

  void automatic_merging_is_asked_for_every_call() {
    write("other", "a\nb\nC\n");  // changes apart from "one": no conflict
    write("one", "A\nb\nc\n");
    qputenv("MARLOW_AUTOMATIC", "1");
    std::future<std::string> automatic = request(merge_call());
    QTRY_VERIFY(ready(automatic));
    QVERIFY(automatic.get().find("<boolean>1</boolean>") != std::string::npos);
    QCOMPARE(read("out"), std::string("A\nb\nC\n"));
    QCOMPARE(broker_.open_windows(), 0);

    QFile::remove(QString::fromStdString(path("out")));
    qputenv("MARLOW_AUTOMATIC", "0");
    qputenv("MARLOW_SCRIPT", "close");
    std::future<std::string> shown = request(merge_call());
    QTRY_VERIFY(ready(shown));
    QVERIFY(shown.get().find("<boolean>0</boolean>") != std::string::npos);
    QCOMPARE(read("answers.log"), std::string("merge answered 0\n"));
    QVERIFY(!QFile::exists(QString::fromStdString(path("out"))));
  }
};

}  // namespace marlow

MARLOW_QTEST_MAIN(marlow::BrokerTest)
#include "broker_qtest.moc"
