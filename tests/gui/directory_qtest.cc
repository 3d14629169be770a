// The comparison of two and of three directories on Qt's offscreen
// platform: the tree and its columns, its keys and actions, the filters,
// copying and reading again.
#include <QAction>
#include <QCheckBox>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTextBlock>
#include <QToolButton>
#include <QTreeWidget>
#include <filesystem>

#include "app/compare_window.h"
#include "app/directory_window.h"
#include "app/error_window.h"
#include "app/settings.h"
#include "app/shortcuts_help.h"
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

  // A base and two trees changed from it.
  CompareRequest three_way() {
    make("three/base/sub");
    make("three/a/sub");
    make("three/b/sub");
    const auto put3 = [this](const std::string& name, const char* base, const char* a,
                             const char* b) {
      if (base != nullptr) write(("three/base/" + name).c_str(), base);
      if (a != nullptr) write(("three/a/" + name).c_str(), a);
      if (b != nullptr) write(("three/b/" + name).c_str(), b);
    };
    put3("changed_a.txt", "1\n", "1 in A\n", "1\n");
    put3("changed_b.txt", "1\n", "1\n", "1 in B!\n");
    put3("both.txt", "1\n", "2\n", "2\n");
    put3("conflict.txt", "one\ntwo\n", "one\nA\n", "one\nB\n");
    put3("added_a.txt", nullptr, "new\n", nullptr);
    put3("sub/deleted_b.txt", "old\n", "old\n", nullptr);
    put3("sub/same.txt", "s\n", "s\n", "s\n");
    make("three/base/mixed");
    make("three/a/mixed");
    make("three/b/mixed");
    put3("mixed/x.txt", "x\n", "x in A\n", "x\n");
    put3("mixed/y.txt", "y\n", "y\n", "y in B\n");
    CompareRequest r;
    r.method = Method::compare;
    r.contributors = {path("three/base"), path("three/a"), path("three/b")};
    r.display_names = {"base", "mine", "theirs"};
    return r;
  }

 private slots:
  // Each test starts with every state shown and no name left out.
  void cleanup() {
    for (const char* state : {"identical", "different", "only_left", "only_right", "same_change",
                              "changed_a", "changed_b", "changed_both"}) {
      set_directory_shows_preference(QString::fromLatin1(state), true);
    }
    set_directory_exclude_preference(QString());
  }

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
    // Folders first, then files; a folder with a difference under it is
    // marked as such, and open.
    QCOMPARE(list->topLevelItemCount(), 4);
    QCOMPARE(list->topLevelItem(0)->text(DirectoryWindow::kName), QStringLiteral("sub"));
    QCOMPARE(list->topLevelItem(0)->text(DirectoryWindow::kState), QStringLiteral("different"));
    QVERIFY(list->topLevelItem(0)->isExpanded());
    QTreeWidgetItem* deep = window->item_of(QStringLiteral("sub/deep"));
    QVERIFY(deep != nullptr);
    QCOMPARE(deep->text(DirectoryWindow::kState), QStringLiteral("only left"));
    QCOMPARE(window->item_of(QStringLiteral("size.bin"))->text(DirectoryWindow::kState),
             QStringLiteral("different"));
    auto* status = window->findChild<QLabel*>(QStringLiteral("status"));
    QCOMPARE(status->text(), QStringLiteral("2 different, 1 only left, 1 only right, 1 identical"));
    // The first file that is not identical is current: Enter opens it.
    QCOMPARE(list->currentItem()->text(0), QStringLiteral("gone.txt"));
    window->set_shown(DirectoryEntry::State::identical, false);
    QVERIFY(window->item_of(QStringLiteral("same.txt")) == nullptr);
    QVERIFY(status->text().endsWith(QStringLiteral("; 1 not shown")));

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

  // Size and modification time of each side, in local time; nothing on the
  // side where a file is absent.
  void the_columns_show_sizes_and_times() {
    const auto set_time = [this](const char* file, const QDateTime& when) {
      std::filesystem::last_write_time(
          path(file),
          std::chrono::file_clock::from_sys(std::chrono::sys_time<std::chrono::milliseconds>(
              std::chrono::milliseconds(when.toMSecsSinceEpoch()))));
    };
    set_time("old/size.bin", QDateTime(QDate(2024, 2, 29), QTime(13, 5, 9)));
    set_time("new/size.bin", QDateTime(QDate(2025, 12, 31), QTime(23, 59, 58)));
    auto* window = new DirectoryWindow(request(), [](const std::string&) {});
    QTreeWidgetItem* size = window->item_of(QStringLiteral("size.bin"));
    QCOMPARE(size->text(DirectoryWindow::kLeftSize), QLocale().toString(70000));
    QCOMPARE(size->text(DirectoryWindow::kRightSize), QLocale().toString(70000));
    QCOMPARE(size->text(DirectoryWindow::kLeftTime), QStringLiteral("2024-02-29 13:05:09"));
    QCOMPARE(size->text(DirectoryWindow::kRightTime), QStringLiteral("2025-12-31 23:59:58"));
    QTreeWidgetItem* added = window->item_of(QStringLiteral("added.txt"));
    QVERIFY(added->text(DirectoryWindow::kLeftSize).isEmpty());
    QVERIFY(added->text(DirectoryWindow::kLeftTime).isEmpty());
    QCOMPARE(added->text(DirectoryWindow::kRightSize), QStringLiteral("6"));
    // A folder has no size of its own.
    QVERIFY(window->item_of(QStringLiteral("sub"))->text(DirectoryWindow::kLeftSize).isEmpty());
    window->close();
  }

  // The tree has the keys as the window opens: Down moves in it, Enter
  // opens the comparison of a file and opens or closes a folder, Left and
  // Right close and open folders, Ctrl+E and Ctrl+Shift+E all of them.
  void the_tree_has_the_keys_from_the_start() {
    auto* window = new DirectoryWindow(request(), [](const std::string&) {});
    window->show();
    QVERIFY(QTest::qWaitForWindowActive(window));
    QTreeWidget* list = window->list();
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(list));
    QCOMPARE(list->currentItem()->text(0), QStringLiteral("gone.txt"));
    QTest::keyClick(list, Qt::Key_Up);
    QTreeWidgetItem* deep = window->item_of(QStringLiteral("sub/deep"));
    QCOMPARE(list->currentItem(), deep);
    QVERIFY(deep->isExpanded());
    QTest::keyClick(list, Qt::Key_Return);
    QVERIFY(!deep->isExpanded());
    QTest::keyClick(list, Qt::Key_Return);
    QVERIFY(deep->isExpanded());
    QTest::keyClick(list, Qt::Key_Left);
    QVERIFY(!deep->isExpanded());
    QTest::keyClick(list, Qt::Key_Right);
    QVERIFY(deep->isExpanded());
    QTest::keyClick(list, Qt::Key_E, Qt::ControlModifier | Qt::ShiftModifier);
    QVERIFY(!deep->isExpanded());
    QVERIFY(!window->item_of(QStringLiteral("sub"))->isExpanded());
    QTest::keyClick(list, Qt::Key_E, Qt::ControlModifier);
    QVERIFY(deep->isExpanded());
    QVERIFY(window->item_of(QStringLiteral("sub"))->isExpanded());

    // The list of keys (F1) names them, and none of the text panes' keys,
    // which this window has not.
    QStringList listed;
    for (const auto& [keys, what] : shortcut_list(window)) listed << keys + QLatin1Char('=') + what;
    for (const char* expected : {"F5=Refresh", "Alt+Right=Copy to right \u2192",
                                 "Ctrl+E=Expand all", "Ctrl+Shift+E=Collapse all"}) {
      QVERIFY2(listed.contains(QString::fromUtf8(expected)),
               qPrintable(listed.join(QLatin1Char(';'))));
    }
    QVERIFY(!listed.join(QLatin1Char(';')).contains(QStringLiteral("PgUp")));

    list->setCurrentItem(window->item_of(QStringLiteral("same.txt")));
    const int before = static_cast<int>(QApplication::topLevelWidgets().size());
    QTest::keyClick(list, Qt::Key_Return);
    QTRY_VERIFY(QApplication::topLevelWidgets().size() > before);
    window->close();
  }

  // Which states show and what names are left out are kept for the next
  // window; a folder with nothing shown under it goes too.
  void the_filters_hide_and_are_remembered() {
    auto* window = new DirectoryWindow(request(), [](const std::string&) {});
    window->findChild<QCheckBox*>(QStringLiteral("show_only_left"))->click();
    QVERIFY(window->item_of(QStringLiteral("sub/deep")) == nullptr);
    QVERIFY(window->item_of(QStringLiteral("sub/changed.txt")) != nullptr);
    auto* exclude = window->findChild<QLineEdit*>(QStringLiteral("exclude"));
    exclude->setFocus();
    exclude->setText(QStringLiteral("*.bin; sub/"));
    QTest::keyClick(exclude, Qt::Key_Return);
    QCOMPARE(window->entries().size(), std::size_t{2});
    QVERIFY(window->item_of(QStringLiteral("size.bin")) == nullptr);
    QVERIFY(window->item_of(QStringLiteral("sub")) == nullptr);
    window->close();

    auto* again = new DirectoryWindow(request(), [](const std::string&) {});
    QVERIFY(!again->findChild<QCheckBox*>(QStringLiteral("show_only_left"))->isChecked());
    QVERIFY(again->findChild<QCheckBox*>(QStringLiteral("show_identical"))->isChecked());
    QCOMPARE(again->findChild<QLineEdit*>(QStringLiteral("exclude"))->text(),
             QStringLiteral("*.bin; sub/"));
    QCOMPARE(again->entries().size(), std::size_t{2});
    again->set_exclude(QString());
    QCOMPARE(again->entries().size(), std::size_t{5});
    again->close();
  }

  // A file only on one side is copied at once; a file that differs is
  // replaced after a question that names it; a copy that fails says why.
  void copies_go_to_the_other_side() {
    make("copy/l/sub");
    make("copy/r");
    write("copy/l/sub/new \xC3\xA9.txt", "fresh\n");
    write("copy/l/changed.txt", "left\n");
    write("copy/r/changed.txt", "right\n");
    write("copy/l/locked.txt", "left\n");
    write("copy/r/locked.txt", "right\n");
    CompareRequest r = request();
    r.contributors = {path("copy/l"), path("copy/r")};
    auto* window = new DirectoryWindow(r, [](const std::string&) {});
    window->show();
    QVERIFY(QTest::qWaitForWindowActive(window));
    QTreeWidget* list = window->list();

    // The folder stands for the file under it.
    list->setCurrentItem(window->item_of(QStringLiteral("sub")));
    QTest::keyClick(list, Qt::Key_Right, Qt::AltModifier);
    QCOMPARE(read("copy/r/sub/new \xC3\xA9.txt"), std::string("fresh\n"));
    QCOMPARE(
        window->item_of(QString::fromUtf8("sub/new \xC3\xA9.txt"))->text(DirectoryWindow::kState),
        QStringLiteral("identical"));
    QCOMPARE(list->currentItem(), window->item_of(QStringLiteral("sub")));

    // Replacing asks; Cancel leaves the file as it was.
    list->setCurrentItem(window->item_of(QStringLiteral("changed.txt")));
    QTest::keyClick(list, Qt::Key_Left, Qt::AltModifier);
    QMessageBox* question = nullptr;
    QTRY_VERIFY((question = window->findChild<QMessageBox*>(QStringLiteral("copy_question"))));
    QVERIFY2(
        question->text().startsWith(QStringLiteral("Replace 1 file on the left with the right's")),
        qPrintable(question->text()));
    QVERIFY2(question->informativeText().startsWith(
                 QStringLiteral("changed.txt\n    now 5 bytes of ")) &&
                 question->informativeText().contains(QStringLiteral("then 6 bytes of ")),
             qPrintable(question->informativeText()));
    question->button(QMessageBox::Cancel)->click();
    QCOMPARE(read("copy/l/changed.txt"), std::string("left\n"));
    QTRY_VERIFY(window->findChild<QMessageBox*>(QStringLiteral("copy_question")) == nullptr);
    // The offscreen platform gives no window the focus back, as a window
    // manager would.
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window));
    QTest::keyClick(list, Qt::Key_Left, Qt::AltModifier);
    QTRY_VERIFY((question = window->findChild<QMessageBox*>(QStringLiteral("copy_question"))));
    question->button(QMessageBox::Yes)->click();
    QCOMPARE(read("copy/l/changed.txt"), std::string("right\n"));
    QTRY_VERIFY(window->findChild<QMessageBox*>(QStringLiteral("copy_question")) == nullptr);
    QCOMPARE(window->item_of(QStringLiteral("changed.txt"))->text(DirectoryWindow::kState),
             QStringLiteral("identical"));

    // A read-only target: the failure is shown, with the file's name.
    QFile::setPermissions(QString::fromStdString(path("copy/r/locked.txt")),
                          QFileDevice::ReadOwner);
    list->setCurrentItem(window->item_of(QStringLiteral("locked.txt")));
    window->copy_selected(CopyDirection::left_to_right);
    QTRY_VERIFY((question = window->findChild<QMessageBox*>(QStringLiteral("copy_question"))));
    question->button(QMessageBox::Yes)->click();
    QMessageBox* failed = nullptr;
    QTRY_VERIFY((failed = window->findChild<QMessageBox*>(QStringLiteral("copy_errors"))));
    QVERIFY2(failed->informativeText().contains(QStringLiteral("locked.txt is read-only")),
             qPrintable(failed->informativeText()));
    QVERIFY(window->findChild<QLabel*>(QStringLiteral("note"))
                ->text()
                .contains(QStringLiteral("1 failed")));
    QCOMPARE(read("copy/r/locked.txt"), std::string("right\n"));
    failed->close();
    window->close();
  }

  // F5 reads both directories again; the open folders, the current file
  // and the selection stay.
  void refresh_keeps_what_is_open_and_chosen() {
    make("again/l/a");
    make("again/l/b");
    make("again/r/a");
    make("again/r/b");
    write("again/l/a/x.txt", "1\n");
    write("again/r/a/x.txt", "2\n");
    write("again/l/b/y.txt", "1\n");
    write("again/r/b/y.txt", "2\n");
    CompareRequest r = request();
    r.contributors = {path("again/l"), path("again/r")};
    auto* window = new DirectoryWindow(r, [](const std::string&) {});
    window->show();
    QVERIFY(QTest::qWaitForWindowActive(window));
    QTreeWidget* list = window->list();
    window->item_of(QStringLiteral("a"))->setExpanded(false);
    list->setCurrentItem(window->item_of(QStringLiteral("b/y.txt")));
    window->item_of(QStringLiteral("a/x.txt"))->setSelected(true);
    write("again/r/b/y.txt", "1\n");
    write("again/r/b/z.txt", "new\n");
    QTest::keyClick(list, Qt::Key_F5);
    QCOMPARE(window->item_of(QStringLiteral("b/y.txt"))->text(DirectoryWindow::kState),
             QStringLiteral("identical"));
    QVERIFY(window->item_of(QStringLiteral("b/z.txt")) != nullptr);
    QVERIFY(!window->item_of(QStringLiteral("a"))->isExpanded());
    QVERIFY(window->item_of(QStringLiteral("b"))->isExpanded());
    QCOMPARE(list->currentItem(), window->item_of(QStringLiteral("b/y.txt")));
    QVERIFY(window->item_of(QStringLiteral("a/x.txt"))->isSelected());
    QVERIFY(!window->item_of(QStringLiteral("b/z.txt"))->isSelected());
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

  // A base and two trees changed from it: a column pair per side, states
  // that say which tree changed what, and a comparison of three files.
  void three_directories_show_each_side_and_what_changed() {
    const CompareRequest r = three_way();
    QVERIFY(is_directory_call(r));
    CompareRequest mixed = r;
    mixed.contributors[2] = path("three/b/both.txt");
    QVERIFY(!is_directory_call(mixed));
    std::string reply;
    auto* window = new DirectoryWindow(r, [&reply](const std::string& text) { reply += text; });
    window->show();
    QTreeWidget* list = window->list();
    QCOMPARE(list->columnCount(), 8);
    QCOMPARE(list->headerItem()->text(DirectoryWindow::size_column(0)),
             QStringLiteral("Base size"));
    QCOMPARE(list->headerItem()->text(DirectoryWindow::time_column(2)),
             QStringLiteral("B modified"));
    QCOMPARE(window->windowTitle(), QStringLiteral("Compare directories - base / mine / theirs"));
    const auto state = [&](const char* name) {
      QTreeWidgetItem* item = window->item_of(QString::fromLatin1(name));
      return item != nullptr ? item->text(DirectoryWindow::kState) : QStringLiteral("(not shown)");
    };
    QCOMPARE(state("changed_a.txt"), QStringLiteral("changed in A"));
    QCOMPARE(state("changed_b.txt"), QStringLiteral("changed in B"));
    QCOMPARE(state("both.txt"), QStringLiteral("same change in both"));
    QCOMPARE(state("conflict.txt"), QStringLiteral("changed in both (differently)"));
    QCOMPARE(state("added_a.txt"), QStringLiteral("added in A"));
    QCOMPARE(state("sub/deleted_b.txt"), QStringLiteral("deleted in B"));
    QCOMPARE(state("sub"), QStringLiteral("changed in B"));
    // A folder of A's change and B's: changed in both, without a conflict's colour.
    QTreeWidgetItem* mixed_folder = window->item_of(QStringLiteral("mixed"));
    QCOMPARE(mixed_folder->text(DirectoryWindow::kState), QStringLiteral("changed in both"));
    QVERIFY(mixed_folder->background(DirectoryWindow::kState).color() !=
            window->item_of(QStringLiteral("conflict.txt"))->background(0).color());
    // Each side's size in its own column; nothing where the side lacks the file.
    QTreeWidgetItem* changed_b = window->item_of(QStringLiteral("changed_b.txt"));
    QCOMPARE(changed_b->text(DirectoryWindow::size_column(0)), QStringLiteral("2"));
    QCOMPARE(changed_b->text(DirectoryWindow::size_column(2)), QStringLiteral("8"));
    QTreeWidgetItem* added = window->item_of(QStringLiteral("added_a.txt"));
    QVERIFY(added->text(DirectoryWindow::size_column(0)).isEmpty());
    QCOMPARE(added->text(DirectoryWindow::size_column(1)), QStringLiteral("4"));
    QVERIFY(added->text(DirectoryWindow::time_column(2)).isEmpty());
    auto* status = window->findChild<QLabel*>(QStringLiteral("status"));
    QVERIFY2(
        status->text().startsWith(QStringLiteral("3 changed in A, 3 changed in B, 1 changed "
                                                 "in both, 1 same change in both, 1 identical")),
        qPrintable(status->text()));

    // The state filters of three sides.
    QVERIFY(window->findChild<QCheckBox*>(QStringLiteral("show_only_left")) == nullptr);
    window->findChild<QCheckBox*>(QStringLiteral("show_changed_b"))->click();
    QCOMPARE(state("changed_b.txt"), QStringLiteral("(not shown)"));
    QCOMPARE(state("sub/deleted_b.txt"), QStringLiteral("(not shown)"));
    QCOMPARE(state("sub"), QStringLiteral("changed in B"));  // its identical file is still shown
    QCOMPARE(state("changed_a.txt"), QStringLiteral("changed in A"));
    window->set_shown(DirectoryEntry::State::third_differs, true);
    QCOMPARE(state("sub/deleted_b.txt"), QStringLiteral("deleted in B"));
    window->close();
    QVERIFY(reply.find("<boolean>1</boolean>") != std::string::npos);
  }

  void three_way_files_open_in_a_comparison_of_three() {
    auto* window = new DirectoryWindow(three_way(), [](const std::string&) {});
    window->show();
    QVERIFY(QTest::qWaitForWindowActive(window));
    QTreeWidget* list = window->list();
    list->setCurrentItem(window->item_of(QStringLiteral("conflict.txt")));
    const int before = static_cast<int>(QApplication::topLevelWidgets().size());
    QTest::keyClick(list, Qt::Key_Return);
    QTRY_VERIFY(QApplication::topLevelWidgets().size() > before);
    CompareWindow* conflict = nullptr;
    for (QWidget* top : QApplication::topLevelWidgets()) {
      if (auto* one = qobject_cast<CompareWindow*>(top); one != nullptr && one->isVisible()) {
        conflict = one;
      }
    }
    QVERIFY(conflict != nullptr);
    QCOMPARE(conflict->pane_count(), 3);
    QCOMPARE(conflict->pane(1)->document()->toPlainText(), QStringLiteral("one\nA"));
    QCOMPARE(conflict->pane(2)->document()->toPlainText(), QStringLiteral("one\nB"));

    // A file in A alone: the base and B are there, absent.
    std::size_t added_index = 0;
    while (window->entries()[added_index].path != "added_a.txt") ++added_index;
    auto* added = qobject_cast<CompareWindow*>(window->open_entry(added_index));
    QVERIFY(added != nullptr);
    QCOMPARE(added->pane_count(), 3);
    QCOMPARE(added->findChildren<QLabel*>(QStringLiteral("absent")).size(), qsizetype{2});
    QCOMPARE(added->pane(1)->document()->toPlainText(), QStringLiteral("new"));
    QPointer<CompareWindow> opened(added);
    window->close();
    QTRY_VERIFY(opened.isNull());
  }

  // Each command is one action of the window: its button, its key and the
  // tree's menu carry out the same one, and a disabled copy says why.
  void commands_are_the_windows_actions() {
    auto* window = new DirectoryWindow(three_way(), [](const std::string&) {});
    window->show();
    QVERIFY(QTest::qWaitForWindowActive(window));
    QTreeWidget* list = window->list();
    using Command = DirectoryWindow::Command;
    QAction* refresh = window->action(Command::refresh);
    QCOMPARE(refresh->shortcut(), QKeySequence(Qt::Key_F5));
    QVERIFY(list->actions().contains(refresh));
    bool found_button = false;
    for (QToolButton* button : window->findChildren<QToolButton*>()) {
      found_button = found_button || button->defaultAction() == refresh;
    }
    QVERIFY(found_button);

    int triggered = 0;
    connect(refresh, &QAction::triggered, this, [&triggered] { ++triggered; });
    write("three/b/changed_a.txt", "1 in A\n");  // now the same change in both
    QTest::keyClick(list, Qt::Key_F5);
    QCOMPARE(triggered, 1);
    QCOMPARE(window->item_of(QStringLiteral("changed_a.txt"))->text(DirectoryWindow::kState),
             QStringLiteral("same change in both"));
    write("three/b/changed_a.txt", "1\n");

    window->action(Command::collapse_all)->trigger();
    QVERIFY(!window->item_of(QStringLiteral("sub"))->isExpanded());
    QTest::keyClick(list, Qt::Key_E, Qt::ControlModifier);
    QVERIFY(window->item_of(QStringLiteral("sub"))->isExpanded());

    // Copying has no one other side among three: disabled, with the reason.
    for (const Command copy : {Command::copy_to_right, Command::copy_to_left}) {
      QVERIFY(!window->action(copy)->isEnabled());
      QVERIFY2(window->action(copy)->toolTip().contains(QStringLiteral("two directories")),
               qPrintable(window->action(copy)->toolTip()));
    }
    list->setCurrentItem(window->item_of(QStringLiteral("changed_a.txt")));
    list->currentItem()->setSelected(true);
    QTest::keyClick(list, Qt::Key_Right, Qt::AltModifier);
    QVERIFY(window->findChild<QMessageBox*>(QStringLiteral("copy_question")) == nullptr);
    QCOMPARE(read("three/b/changed_a.txt"), std::string("1\n"));

    // Escape closes the window through its action.
    QPointer<DirectoryWindow> alive(window);
    QTest::keyClick(list, Qt::Key_Escape);
    QTRY_VERIFY(alive.isNull());
  }
};

}  // namespace marlow

MARLOW_QTEST_MAIN(marlow::DirectoryTest)

#include "directory_qtest.moc"
