// The comparison of two directories on Qt's offscreen platform.
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QTest>
#include <QTextBlock>
#include <QTreeWidget>

#include "app/compare_window.h"
#include "app/directory_window.h"
#include "app/error_window.h"
#include "tests/gui/qtest_files.h"

namespace marlow {

class DirectoryTest : public QObject, private testing::Files {
  Q_OBJECT

 private:
  void make(const char* dir) { QDir().mkpath(QString::fromStdString(path(dir))); }
  CompareRequest request() {
    CompareRequest r;
    r.method = Method::compare;
    r.contributors = {path("old"), path("new")};
    r.display_names = {"old", "new"};
    return r;
  }

 private slots:
  void initTestCase() {
    make("old/sub/deep");
    make("new/sub/deep");
    make("new/empty_dir");
    write("old/same.txt", "x\ny\n");
    write("new/same.txt", "x\ny\n");
    write("old/sub/changed.txt", "one\ntwo\n");
    write("new/sub/changed.txt", "one\nTWO\n");
    write("old/sub/deep/gone.txt", "bye\n");
    write("new/added.txt", "hello\n");
    write("old/size.bin", std::string(70000, 'a'));
    write("new/size.bin", std::string(69999, 'a') + "b");  // same size, last byte differs
  }

  void files_are_sorted_into_their_states() {
    const std::vector<DirectoryEntry> entries = compare_directories(path("old"), path("new"));
    using S = DirectoryEntry::State;
    const std::vector<std::pair<std::string, S>> expected = {{"added.txt", S::only_right},
                                                             {"same.txt", S::identical},
                                                             {"size.bin", S::different},
                                                             {"sub/changed.txt", S::different},
                                                             {"sub/deep/gone.txt", S::only_left}};
    QCOMPARE(entries.size(), expected.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
      QCOMPARE(entries[i].path, expected[i].first);
      QVERIFY2(entries[i].state == expected[i].second, entries[i].path.c_str());
    }
    QVERIFY(is_directory_call(request()));
    CompareRequest files = request();
    files.contributors = {path("old/same.txt"), path("new/same.txt")};
    QVERIFY(!is_directory_call(files));
  }

  // git difftool -d puts symbolic links to the working tree's files in the
  // directory it compares: a link is listed under its own name, compared
  // by the bytes of the file it points to.
  void links_count_under_their_own_names() {
    make("linked/left");
    make("linked/right");
    make("linked/tree");
    write("linked/tree/f.txt", "one\nTWO\n");
    write("linked/tree/same.txt", "same\n");
    write("linked/left/f.txt", "one\ntwo\n");
    write("linked/left/same.txt", "same\n");
    QVERIFY(QFile::link(QString::fromStdString(path("linked/tree/f.txt")),
                        QString::fromStdString(path("linked/right/f.txt"))));
    QVERIFY(QFile::link(QStringLiteral("../tree/same.txt"),
                        QString::fromStdString(path("linked/right/same.txt"))));
    // A root given with a trailing separator names the same files.
    const std::vector<DirectoryEntry> entries =
        compare_directories(path("linked/left"), path("linked/right") + "/");
    QCOMPARE(entries.size(), std::size_t{2});
    QCOMPARE(entries[0].path, std::string("f.txt"));
    QVERIFY(entries[0].state == DirectoryEntry::State::different);
    QCOMPARE(entries[1].path, std::string("same.txt"));
    QVERIFY(entries[1].state == DirectoryEntry::State::identical);
  }

  void the_window_lists_them_and_opens_file_comparisons() {
    std::string reply;
    auto* window = new DirectoryWindow(request(), [&reply](const std::string& r) { reply += r; });
    window->show();
    QTreeWidget* list = window->list();
    QCOMPARE(list->topLevelItemCount(), 5);
    QCOMPARE(list->topLevelItem(3)->text(1), QStringLiteral("different"));
    // The first file that is not identical is current: Enter opens it.
    QCOMPARE(list->currentItem()->text(0), QStringLiteral("added.txt"));
    window->set_show_identical(false);
    QCOMPARE(list->topLevelItemCount(), 4);

    auto* changed = qobject_cast<CompareWindow*>(window->open_entry(3));
    QVERIFY(changed != nullptr);
    QCOMPARE(changed->difference_count(), 1);
    QCOMPARE(changed->pane(1)->document()->findBlockByNumber(1).text(), QStringLiteral("TWO"));
    QVERIFY(changed->findChild<QLabel*>(QStringLiteral("absent")) == nullptr);

    // A file on one side only is compared with nothing, and says so.
    auto* gone = qobject_cast<CompareWindow*>(window->open_entry(4));
    QVERIFY(gone != nullptr);
    auto* absent = gone->findChild<QLabel*>(QStringLiteral("absent"));
    QVERIFY(absent != nullptr);
    QVERIFY(absent->text().contains(QStringLiteral("absent")));
    QCOMPARE(gone->pane(0)->document()->toPlainText(), QStringLiteral("bye"));

    // Closing the list closes what was opened from it, and answers 1.
    QPointer<CompareWindow> opened(changed);
    window->close();
    QTRY_VERIFY(opened.isNull());
    QVERIFY(reply.find("<boolean>1</boolean>") != std::string::npos);
  }

  // The list has the keys as the window opens: Down moves in it, Enter
  // opens the comparison of the current file.
  void the_list_has_the_keys_from_the_start() {
    auto* window = new DirectoryWindow(request(), [](const std::string&) {});
    window->show();
    QVERIFY(QTest::qWaitForWindowActive(window));
    QTreeWidget* list = window->list();
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(list));
    QCOMPARE(list->currentItem()->text(0), QStringLiteral("added.txt"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
    QCOMPARE(list->currentItem()->text(0), QStringLiteral("same.txt"));
    const int before = static_cast<int>(QApplication::topLevelWidgets().size());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QTRY_VERIFY(QApplication::topLevelWidgets().size() > before);
    window->close();
  }

  // Binary files are not shown as text: the window says they are binary
  // and whether they are equal.
  void binary_files_are_named_as_such() {
    make("bin/left");
    make("bin/right");
    write("bin/left/same.o", std::string("\x7f\x45LF\0\1\2", 7));
    write("bin/right/same.o", std::string("\x7f\x45LF\0\1\2", 7));
    write("bin/left/other.o", std::string("ab\0c", 4));
    write("bin/right/other.o", std::string("ab\0d", 4));
    CompareRequest r = request();
    r.contributors = {path("bin/left"), path("bin/right")};
    auto* window = new DirectoryWindow(r, [](const std::string&) {});
    QCOMPARE(window->entries().size(), std::size_t{2});
    auto* differ = qobject_cast<ErrorWindow*>(window->open_entry(0));
    QVERIFY(differ != nullptr);
    QCOMPARE(differ->objectName(), QStringLiteral("binary"));
    QVERIFY2(differ->message().contains(QStringLiteral("they differ")),
             qPrintable(differ->message()));
    QVERIFY(differ->message().contains(QStringLiteral("old/other.o")));
    auto* same = qobject_cast<ErrorWindow*>(window->open_entry(1));
    QVERIFY(same != nullptr);
    QVERIFY2(same->message().contains(QStringLiteral("identical")), qPrintable(same->message()));
    window->close();
  }
};

}  // namespace marlow

MARLOW_QTEST_MAIN(marlow::DirectoryTest)

#include "directory_qtest.moc"
