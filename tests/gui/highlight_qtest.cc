// Syntax colouring in the compare window's panes, on Qt's offscreen
// platform (or a real display): tokens take their class's colour while a
// changed row keeps its colour and its changed characters their mark; the
// switch takes the colours away and back and is remembered; a pane that
// goes while its file is still being highlighted is safe.
//
// MARLOW_HIGHLIGHT_SHOT=<file.png> also writes the compared window there.
#include <QApplication>
#include <QImage>
#include <QTest>

#include "app/compare_window.h"
#include "app/panes.h"
#include "app/settings.h"
#include "app/syntax_colours.h"
#include "tests/gui/qtest_files.h"

namespace marlow {

using testing::call;

namespace {

// Pixels of row `row` of `pane`, in its viewport as painted now, whose
// colour is near `colour` (the text's edges are blended with what is under
// it; the middle of a stroke has the colour itself).
int pixels_near(DiffPane* pane, int row, const QColor& colour) {
  const QImage image = pane->viewport()->grab().toImage();
  const QRect area = pane->row_area(row).toAlignedRect().intersected(image.rect());
  int count = 0;
  for (int y = area.top(); y <= area.bottom(); ++y) {
    for (int x = area.left(); x <= area.right(); ++x) {
      const QColor c = image.pixelColor(x, y);
      if (std::abs(c.red() - colour.red()) + std::abs(c.green() - colour.green()) +
              std::abs(c.blue() - colour.blue()) <
          30) {
        ++count;
      }
    }
  }
  return count;
}

QColor colour_at_row_end(DiffPane* pane, int row) {
  const QImage image = pane->viewport()->grab().toImage();
  const QRectF area = pane->row_area(row);
  return image.pixelColor(image.width() - 4, static_cast<int>(area.center().y()));
}

}  // namespace

class HighlightTest : public QObject, private testing::Files {
  Q_OBJECT

 private:
  CompareWindow* compare(const char* left, const char* right) {
    Preparation prep =
        prepare(call("RequestHandler.Compare", "", {path(left), path(right)}), false);
    auto* window = new CompareWindow(prep.job, [](const std::string&) {});
    window->resize(900, 400);
    window->show();
    return window;
  }

 private slots:
  void init() {
    if (syntax_names().empty())
      QSKIP("no grammars were built in: run tools/install-deps.sh gui and configure again");
  }

  void keywordsTakeTheirColourOverAChangedRow() {
    write("left.c", "int main(void) {\n  return 1;\n}\n");
    write("right.c", "int main(void) {\n  return 2; /* two */\n}\n");
    std::unique_ptr<CompareWindow> window(compare("left.c", "right.c"));
    DiffPane* right = window->pane(1);
    QTRY_VERIFY(right->line_tokens() != nullptr);
    QTRY_VERIFY(window->pane(0)->line_tokens() != nullptr);
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    QCOMPARE(right->row_background(1), kChanged);

    // Row 1 is changed: its keyword and its comment have their colours, the
    // row keeps its colour and the changed characters their mark.
    QVERIFY(pixels_near(right, 1, token_colour(TokenClass::keyword)) > 0);
    QVERIFY(pixels_near(right, 1, token_colour(TokenClass::comment)) > 0);
    QCOMPARE(colour_at_row_end(right, 1), kChanged);
    QVERIFY(pixels_near(right, 1, kChangedText) > 20);
    // The unchanged row above: a type and a function name.
    QVERIFY(pixels_near(right, 0, token_colour(TokenClass::type)) > 0);
    QVERIFY(pixels_near(right, 0, token_colour(TokenClass::function)) > 0);
    if (const QByteArray shot = qgetenv("MARLOW_HIGHLIGHT_SHOT"); !shot.isEmpty()) {
      QVERIFY(window->grab().save(QString::fromLocal8Bit(shot)));
    }

    // Off: no keyword colour, the row's own colour stays; remembered.
    set_syntax_highlighting(false);
    QCOMPARE(pixels_near(right, 1, token_colour(TokenClass::keyword)), 0);
    QCOMPARE(pixels_near(window->pane(0), 0, token_colour(TokenClass::type)), 0);
    QCOMPARE(colour_at_row_end(right, 1), kChanged);
    QVERIFY(!syntax_highlighting_preference());
    set_syntax_highlighting(true);
    QVERIFY(pixels_near(right, 1, token_colour(TokenClass::keyword)) > 0);
    QVERIFY(syntax_highlighting_preference());
  }

  void colouredRowsFollowTheLineTheyShow() {
    // The right side has two lines more at the top: its rows and the left
    // side's filler rows are coloured by the lines they show, not by row.
    write("a.py", "x = 1\n");
    write("b.py", "# one\n# two\nx = 1\n");
    std::unique_ptr<CompareWindow> window(compare("a.py", "b.py"));
    DiffPane* left = window->pane(0);
    DiffPane* right = window->pane(1);
    QTRY_VERIFY(left->line_tokens() != nullptr && right->line_tokens() != nullptr);
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    QCOMPARE(right->line_number(2), 3);
    QCOMPARE(left->line_number(2), 1);
    QCOMPARE(pixels_near(left, 0, token_colour(TokenClass::comment)), 0);
    QVERIFY(pixels_near(right, 1, token_colour(TokenClass::comment)) > 0);
    QVERIFY(pixels_near(left, 2, token_colour(TokenClass::number)) > 0);
    QCOMPARE(pixels_near(right, 2, token_colour(TokenClass::comment)), 0);
  }

  void unknownFilesGetNoTokens() {
    write("a.txt", "int main() { return 0; }\n");
    write("b.txt", "int main() { return 1; }\n");
    std::unique_ptr<CompareWindow> window(compare("a.txt", "b.txt"));
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    QCOMPARE(window->pane(0)->line_tokens(), nullptr);
    QCOMPARE(pixels_near(window->pane(0), 0, token_colour(TokenClass::keyword)), 0);
  }

  void closingWhileHighlightingIsSafe() {
    // Long enough that the highlighting is still under way when the window
    // goes: it is stopped and waited for, and hands nothing to the pane
    // that went (the sanitizer build sees any use of it).
    std::string text;
    for (int i = 0; i < 100000; ++i) text += "int v" + std::to_string(i) + " = f(\"s\", 1); // c\n";
    write("big-a.c", text);
    write("big-b.c", text + "int last;\n");
    delete compare("big-a.c", "big-b.c");
    QCoreApplication::processEvents();
    std::unique_ptr<CompareWindow> window(compare("big-a.c", "big-b.c"));
    window->pane(0)->highlight_syntax(path("big-a.c"), {});
    window.reset();
    QCoreApplication::processEvents();
  }
};

}  // namespace marlow

MARLOW_QTEST_MAIN(marlow::HighlightTest)

#include "highlight_qtest.moc"
