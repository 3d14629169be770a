// Line ends made visible: marks on rows whose line ends differ, in both
// windows, and how each file is stored in the merge window's headers.
#include <QApplication>
#include <QLabel>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>

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

 private:
  MergeWindow* merge_window(const std::string& base, const std::string& one,
                            const std::string& other) {
    auto* window = new MergeWindow(merge_of(base, one, other), [](const std::string&) {});
    window->set_ask_on_close(false);
    window->show();
    return window;
  }
  static QString row_text(QPlainTextEdit* view, int row) {
    return view->document()->findBlockByNumber(row).text();
  }

 private slots:
  // A carriage return inside a line stays in its row, shown as a mark: the
  // rows below keep their numbers and the difference its lines.
  void a_return_inside_a_line_keeps_the_rows_below_in_place() {
    write("cr_left", "a\rb\nc\nd\ne\n");
    write("cr_right", "a\rb\nc\nD\ne\n");
    Preparation prep =
        prepare(call("RequestHandler.Compare", "", {path("cr_left"), path("cr_right")}), false);
    QVERIFY(prep.needs_window);
    auto* window = new CompareWindow(prep.job, [](const std::string&) {});
    window->show();
    for (int s = 0; s < 2; ++s) {
      QCOMPARE(row_text(window->pane(s), 0), QStringLiteral("a\u240Db"));
      QCOMPARE(window->pane(s)->line_number(2), 3);
      QCOMPARE(window->pane(s)->current_rows(), (std::pair<int, int>{2, 3}));
    }
    QCOMPARE(row_text(window->pane(1), 2), QStringLiteral("D"));
    window->close();
  }

  // In a merge, the conflict's row below such a line is the one typed into,
  // and what is saved has the return back in its line and nothing more.
  void a_return_inside_a_line_keeps_the_merge_in_step() {
    MergeWindow* window = merge_window("a\rb\nx\nz\n", "a\rb\nX1\nz\n", "a\rb\nX2\nz\n");
    QCOMPARE(window->conflict_count(), std::size_t{1});
    QCOMPARE(window->result_row_of_conflict(0), 1);
    QCOMPARE(row_text(window->result_view(), 0), QStringLiteral("a\u240Db"));
    QVERIFY(!window->result_note(1).isEmpty());
    QTextCursor cursor(window->result_view()->document()->findBlockByNumber(1));
    cursor.insertText(QStringLiteral("mine"));
    QCOMPARE(window->unresolved_count(), std::size_t{0});
    QVERIFY(window->save());
    QCOMPARE(read("out"), std::string("a\rb\nmine\nz\n"));
    // Typed marks are returns again.
    window->edit_result(QStringLiteral("p\u240Dq"));
    QVERIFY(window->save());
    QCOMPARE(read("out"), std::string("a\rb\np\rq\nz\n"));
    window->take(2);
    QVERIFY(window->save());
    QCOMPARE(read("out"), std::string("a\rb\nX2\nz\n"));
    window->close_without_asking();
  }

  // A file whose lines all end in CR is a file of lines: a conflict is the
  // line that differs, and the saved result keeps the CR line ends.
  void lines_ending_in_cr_merge_line_by_line() {
    MergeWindow* window = merge_window("a\rx\rz\r", "a\rX1\rz\r", "a\rX2\rz\r");
    QCOMPARE(window->conflict_count(), std::size_t{1});
    QCOMPARE(window->result_row_of_conflict(0), 1);
    QCOMPARE(window->pane(0)->blockCount(), 3);
    window->take(1);
    QVERIFY(window->save());
    QCOMPARE(read("out"), std::string("a\rX1\rz\r"));
    window->edit_result(QStringLiteral("typed"));
    QVERIFY(window->save());
    QCOMPARE(read("out"), std::string("a\rtyped\rz\r"));
    window->close_without_asking();
  }

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
