// Line ends made visible: marks on rows whose line ends differ, in both
// windows, and how each file is stored in the merge window's headers.
#include <QApplication>
#include <QLabel>
#include <QTest>

#include "app/compare_window.h"
#include "app/merge_window.h"
#include "app/panes.h"
#include "tests/gui/qtest_files.h"

namespace marlow {

using testing::call;

class LineEndsTest : public QObject, private testing::Files {
  Q_OBJECT

 private:
  static QStringList marks_of(DiffPane* pane) {
    QStringList out;
    for (const auto& [row, mark] : pane->line_end_marks())
      out << QStringLiteral("%1:%2").arg(row).arg(mark);
    return out;
  }

 private slots:
  // Only rows whose line ends differ are marked, each side with its own;
  // a missing last line end counts as a line end of its own.
  void compare_marks_rows_whose_line_ends_differ() {
    write("left", "same\nend differs\ntext\nlast");
    write("right", "same\nend differs\r\ntext\nlast\n");
    Preparation prep =
        prepare(call("RequestHandler.Compare", "", {path("left"), path("right")}), false);
    QVERIFY(prep.needs_window);
    auto* window = new CompareWindow(prep.job, [](const std::string&) {});
    window->show();
    QCOMPARE(marks_of(window->pane(0)), (QStringList{"1:LF", "3:no EOL"}));
    QCOMPARE(marks_of(window->pane(1)), (QStringList{"1:CRLF", "3:LF"}));
    window->close();
  }

  // A side that converted its line ends: its rows are marked in every
  // pane, and each pane's header says how its file is stored.
  void merge_marks_line_ends_and_names_them_in_the_headers() {
    write("base", "a\nb\nc\n");
    write("one",
          "\xEF\xBB\xBF"
          "a\r\nb\r\nc\r\n");
    write("other", "a\nB\nc\n");
    Preparation prep = prepare(call("RequestHandler.CompareMerge", path("out"),
                                    {path("base"), path("one"), path("other")}),
                               false);
    QVERIFY(prep.needs_window);
    auto* window = new MergeWindow(prep.job, [](const std::string&) {});
    window->set_ask_on_close(false);
    window->show();
    const QStringList one = marks_of(static_cast<DiffPane*>(window->pane(1)));
    QVERIFY(!one.isEmpty());
    for (const QString& mark : one)
      QVERIFY2(mark.endsWith(QStringLiteral(":CRLF")), qPrintable(mark));
    const QStringList base = marks_of(static_cast<DiffPane*>(window->pane(0)));
    QCOMPARE(base.size(), one.size());
    for (const QString& mark : base)
      QVERIFY2(mark.endsWith(QStringLiteral(":LF")), qPrintable(mark));
    QStringList notes;
    for (QLabel* label : window->findChildren<QLabel*>(QStringLiteral("file_note")))
      notes << label->toolTip();
    QCOMPARE(notes.size(), 3);
    QCOMPARE(notes.filter(QStringLiteral("CRLF")).size(), 1);
    QCOMPARE(notes.filter(QStringLiteral("BOM")).size(), 1);
    QCOMPARE(notes.filter(QStringLiteral("\u00B7 LF")).size(), 2);
    window->close_without_asking();

    // Texts that agree on their line ends have no marks.
    write("one", "a\nX\nc\n");
    prep = prepare(call("RequestHandler.CompareMerge", path("out"),
                        {path("base"), path("one"), path("other")}),
                   false);
    window = new MergeWindow(prep.job, [](const std::string&) {});
    window->set_ask_on_close(false);
    for (std::size_t s = 0; s < 3; ++s) {
      QVERIFY(static_cast<DiffPane*>(window->pane(s))->line_end_marks().empty());
    }
    window->close_without_asking();
  }
};

}  // namespace marlow

MARLOW_QTEST_MAIN(marlow::LineEndsTest)

#include "line_ends_qtest.moc"
