// Pieces shared by the windows: read-only text panes, row highlighting, and
// turning lines into the text an editor shows.
#pragma once

#include <QColor>
#include <QLabel>
#include <QPlainTextEdit>
#include <QString>
#include <QTextBlock>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/highlight.h"
#include "engine/inline_diff.h"
#include "engine/text_codec.h"

namespace marlow {

class RowHeights;

QString q(std::string_view utf8);

// A carriage return inside a line is shown as this mark: the text views
// would otherwise end the row there, and every row below would move.
inline constexpr QChar kCarriageReturnMark(0x240D);
// A line's text as the views show it: carriage returns as the mark.
QString shown_text(std::string_view utf8);
// A row as typed back into a line's text: with `marks_are_returns` (the
// texts have carriage returns inside lines) each mark is one again.
std::string typed_line(const QString& row, bool marks_are_returns);
// Whether any line's text holds a carriage return.
bool has_returns_inside_lines(const std::vector<Line>& lines);

// The lines as an editor shows them: the texts joined by line feeds.
QString shown(const std::vector<Line>& lines);

// Whether a contributor is no file at all: a path that does not exist, or
// the null device that stands for the side of an added or deleted file.
bool is_absent(const std::string& path);

// "UTF-8 · BOM · CRLF · 120 lines": how the file is stored.
QString file_note(const TextDocument& doc, bool absent);

// The UTF-16 units of utf8[from, to) (a four-byte character takes two).
int utf16_units(const std::string& utf8, std::size_t from, std::size_t to);

inline const QColor kChanged(255, 240, 170);
inline const QColor kRemoved(255, 205, 205);
inline const QColor kAdded(205, 245, 205);
inline const QColor kFiller(230, 230, 230);
// The changed characters inside a changed line.
inline const QColor kChangedText(255, 196, 90);
// The frame around the current difference and its band in the gutter.
inline const QColor kCurrent(40, 100, 200);
inline const QColor kCurrentGutter(208, 224, 248);

// A one-line label that shortens its text in the middle to the room it has,
// so that long names never widen a window; the tooltip has the whole text.
class ElidedLabel : public QLabel {
 public:
  ElidedLabel(const QString& text, QWidget* parent);

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  QString full_;
};

// `length` UTF-16 units of row `row` from unit `start`.
struct CharMark {
  int row = 0;
  int start = 0;
  int length = 0;
};

// Marks for the byte ranges of a row's UTF-8 text, in UTF-16 units.
void add_marks(std::vector<CharMark>* marks, int row, std::string_view text,
               const std::vector<TextRange>& ranges);

// A read-only pane of rows with line numbers in a gutter on its left. The
// rows go into a fresh document in one step; their colours and the marked
// characters are kept beside it and painted under the text of the rows in
// view, so a pane costs the same however many rows are coloured. Unless
// the pane wraps its rows, the text is laid out once at no width at all: a
// change of the pane's width lays out nothing again (Qt would otherwise
// make a text layout for every row of the document on each one).
class DiffPane : public QPlainTextEdit {
 public:
  explicit DiffPane(QWidget* parent);
  ~DiffPane() override;

  // What goes with the rows: numbers[i] is the line number the gutter shows
  // beside row i, 0 for none; backgrounds[i] the colour of row i (invalid:
  // plain); the marks get `mark_colour`. No rows are current after it.
  void set_row_marks(std::vector<int> numbers, std::vector<QColor> backgrounds,
                     std::vector<CharMark> marks, const QColor& mark_colour);
  // Only the text: texts[i], rows joined by line feeds, goes into panes[i]
  // in a fresh document; the panes keep their colours, marks and current
  // rows. Putting many rows into a document is most of the time a large
  // comparison takes to open, so large texts are put in at once, all but
  // the first on threads of their own.
  static void set_texts(const std::vector<DiffPane*>& panes, const std::vector<QString>& texts);
  // Only the rows' colours, for a pane whose colours change as the user
  // works (the rows in view are painted again; the text stays).
  void set_row_backgrounds(std::vector<QColor> backgrounds);
  // The colour row `row` has (invalid: plain), and the rows' marks.
  QColor row_background(int row) const;
  const std::vector<CharMark>& char_marks() const { return marks_; }
  // Where row `row` is in the viewport, one line high (the document's margin
  // below the last row left out); empty when there is no such row.
  QRectF row_area(int row) const;
  // Only the line numbers, for rows the caller puts in the document itself.
  void set_numbers(std::vector<int> numbers);
  // Rows [first, end) are the current difference: a frame around them across
  // the whole pane and a band in the gutter. (-1, -1): none.
  void set_current_rows(int first, int end);
  std::pair<int, int> current_rows() const { return {current_first_, current_end_}; }
  int line_number(int row) const;
  int gutter_width() const;
  // Tabs are `columns` character widths apart (the preference unless set).
  void set_tab_width(int columns);
  int tab_width() const { return tab_columns_; }
  // The x of column `column` (UTF-16 units) of row `row` in the document,
  // -1 when there is no such row.
  int column_x(int row, int column) const;
  // Scrolls sideways only as far as needed to show x in the text (with room
  // on either side); returns the new horizontal scroll value.
  int left_to_show(int x) const;
  // Small marks drawn after the text of some rows (row, mark), for line
  // ends that differ from the aligned rows of the other panes.
  void set_line_end_marks(std::vector<std::pair<int, QString>> marks);
  const std::vector<std::pair<int, QString>>& line_end_marks() const { return eol_marks_; }
  // Characters marked by a translucent `colour` painted over them, for
  // panes whose rows are coloured by the window as it goes.
  void set_overlay_marks(std::vector<CharMark> marks, const QColor& colour);
  const std::vector<CharMark>& overlay_marks() const { return overlay_; }
  // Syntax colouring (app/syntax_colours.cc): `lines`, the lines of file
  // `file_name` that the gutter numbers, are highlighted on a thread of
  // their own, and the text of the rows in view then takes their tokens'
  // colours, over the rows' colours and marks. Nothing for a file of no
  // known kind.
  void highlight_syntax(const std::string& file_name, const std::vector<Line>& lines);
  // The tokens of the file's lines (row r shows line line_number(r) - 1);
  // null: none.
  void set_line_tokens(std::shared_ptr<const LineTokens> tokens);
  const LineTokens* line_tokens() const;
  // Colours the rows by their tokens again, or takes the colours away, as
  // the preference now says.
  void refresh_syntax_colours();
  // Wraps long rows at the pane's width (at word boundaries, anywhere in a
  // word longer than the pane), or shows each row on one line again.
  // `heights`: the aligned panes whose rows take the same height as this
  // pane's (null: none). Nothing scrolls sideways while rows wrap.
  void set_wrapping(bool on, RowHeights* heights);
  bool wrapping() const { return wrapping_; }
  // The cursor at a point of the viewport: on the empty lines after a
  // wrapped row's text, at the end of that row's text.
  QTextCursor cursor_at(const QPoint& at) const;

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  // Where a point of the viewport falls in the text: a point on the empty
  // lines after a wrapped row's text is on its last line of text (the view
  // would put it in a row further down).
  QPointF onto_text(const QPointF& at) const;
  void pass_on(QMouseEvent* event, const std::function<void(QMouseEvent*)>& handle);
  // Up or Down (Shift: selecting) from a row's text to the next row's when
  // the empty lines of a wrapped row lie between them: the view would step
  // onto those lines, which belong to no row. False when the view's own
  // step is right.
  bool step_over_added_lines(const QKeyEvent* event);
  // Page Up or Page Down (Shift: selecting) in an aligned pane with wrapped
  // rows: the view's own step goes line by line onto those empty lines,
  // and can go round for ever. A page is scrolled and the cursor put at the same height in the
  // view, on the text there. False when the view's own step is right.
  bool turn_page_over_added_lines(const QKeyEvent* event);
  class Gutter;
  void paint_gutter(QPaintEvent* event);
  void place_gutter();
  QRectF row_area(const QTextBlock& block) const;
  void paint_under_text(QPaintEvent* event);
  // Calls `paint` with each of `marks` (sorted by row) in the rows in view
  // down to `bottom`: the mark, its box in the viewport, its row's length.
  void for_each_mark_box(
      const std::vector<CharMark>& marks, qreal bottom,
      const std::function<void(const CharMark&, const QRectF&, int)>& paint) const;
  void lay_out_unbounded(const std::function<void()>& relayout);
  // A new empty document for the rows, given to the view.
  QTextDocument* fresh_document();
  // The room kept beside a change shown sideways.
  int side_room() const;

  QWidget* gutter_ = nullptr;
  QTextDocument* own_document_ = nullptr;
  bool wrapping_ = false;
  RowHeights* heights_ = nullptr;
  Qt::ScrollBarPolicy sideways_policy_ = Qt::ScrollBarAsNeeded;  // kept while wrapping
  std::vector<int> numbers_;
  int largest_number_ = 1;
  int current_first_ = -1;
  int current_end_ = -1;
  int tab_columns_ = 8;
  bool widening_range_ = false;
  std::vector<std::pair<int, QString>> eol_marks_;  // sorted by row
  std::vector<CharMark> overlay_;                   // sorted by row
  QColor overlay_colour_;
  std::vector<QColor> backgrounds_;  // per row, from set_row_marks
  std::vector<CharMark> marks_;      // sorted by row, from set_row_marks
  QColor mark_colour_;
  void paint_overlay();
  struct Syntax;
  struct SyntaxDeleter {
    void operator()(Syntax* syntax) const;
  };
  std::unique_ptr<Syntax, SyntaxDeleter> syntax_;
  // Gives the rows in view their tokens' colours, once per row.
  void colour_rows_in_view();
};

// Puts `text` at the start of `doc` without laying out any row, so that no
// text is measured: it may run on any thread while no other uses `doc`
// (font engines belong to the thread that made them and go with it).
void fill_rows(QTextDocument* doc, const QString& text);

// How a line end is shown where it matters: "CRLF", "LF", "CR", or "no EOL".
QString line_end_label(std::string_view eol);

}  // namespace marlow
