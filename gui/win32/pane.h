// A read-only pane of rows painted with GDI: line numbers in a gutter, each
// row's background by its kind, the changed characters of a row marked, the
// text coloured by its tokens' classes, a note after a row (its line end),
// and a frame around the current rows.
// Only the rows in view are painted, so a pane of 100,000 rows costs no
// more than one of 100. The window that owns the panes keeps their shared
// position (the top row and how far they are scrolled sideways) and forwards
// every scroll to all of them, so they move together.
#pragma once

#include <windows.h>

#include <cstddef>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/highlight.h"
#include "win32/compare_rows.h"
#include "win32/wide.h"

namespace marlow::win32 {

inline constexpr COLORREF kNoColour = 0xFFFFFFFF;  // CLR_NONE
inline constexpr COLORREF kChangedRow = RGB(255, 240, 170);
inline constexpr COLORREF kRemovedRow = RGB(255, 205, 205);
inline constexpr COLORREF kAddedRow = RGB(205, 245, 205);
inline constexpr COLORREF kFillerRow = RGB(230, 230, 230);
inline constexpr COLORREF kChangedText = RGB(255, 196, 90);
inline constexpr COLORREF kCurrentFrame = RGB(40, 100, 200);
inline constexpr COLORREF kCurrentGutter = RGB(208, 224, 248);
inline constexpr COLORREF kFoundText = RGB(120, 200, 255);

// The background of a cell of that kind (kNoColour: the pane's own).
COLORREF row_colour(CellKind kind);

// What a pane shows in one row.
struct PaneRow {
  std::string_view text;   // UTF-8, without its line end
  std::size_t number = 0;  // 1-based line number; 0: none (a filler)
  COLORREF background = kNoColour;
  std::vector<ByteRange> marks;   // changed bytes of `text`
  std::string note;               // shown after the text, greyed (a line end)
  std::span<const Token> tokens;  // bytes of `text` in a token class's colour
};

// The colour a pane paints a token of class `kind` in.
COLORREF token_colour(TokenClass kind);

// Where the rows come from; a pane asks only for the rows in view.
class PaneSource {
 public:
  virtual ~PaneSource() = default;
  virtual std::size_t row_count() const = 0;
  virtual PaneRow row(std::size_t side, std::size_t row) const = 0;
  // The largest line number any row of `side` shows (for the gutter).
  virtual std::size_t largest_number(std::size_t side) const = 0;
};

// The position all panes of a window share.
struct PanePosition {
  std::size_t top = 0;  // the first row in view
  int left = 0;         // pixels scrolled sideways
  // The current rows [first, end), framed; first == end: none.
  std::size_t current_first = 0;
  std::size_t current_end = 0;
  // A match of a search: in this row of this side, these bytes.
  std::size_t found_side = static_cast<std::size_t>(-1);
  std::size_t found_row = 0;
  ByteRange found;
};

class Pane {
 public:
  // The pane's wishes, passed on to the window that owns the shared position.
  struct Events {
    std::function<void(int lines)> wheel;            // positive: towards the end
    std::function<void(int pixels)> wheel_sideways;  // positive: to the right
    std::function<bool(WPARAM key)> key;             // true: taken
    std::function<void(Pane*, std::size_t row)> clicked;
  };

  Pane(HWND parent, int id, const PaneSource* source, std::size_t side,
       const PanePosition* position, Events events);
  Pane(const Pane&) = delete;
  Pane& operator=(const Pane&) = delete;
  ~Pane();

  HWND hwnd() const { return hwnd_; }
  std::size_t side() const { return side_; }
  void set_font(HFONT font);
  void set_tab_width(int columns) { tab_width_ = columns; }
  // Paints again after the source or the position changed.
  void refresh() const { InvalidateRect(hwnd_, nullptr, FALSE); }

  int row_height() const { return row_height_; }
  int char_width() const { return char_width_; }
  int gutter_width() const;
  // Whole rows that fit in the pane.
  std::size_t visible_rows() const;
  // The x of byte `at` of a row's text from the text's start (unscrolled).
  int text_x(std::string_view text, std::size_t at) const;

  // What was painted last: the rows and, per row, its shown text (for tests
  // and for reading the screen back).
  std::size_t painted_first() const { return painted_first_; }
  std::size_t painted_count() const { return painted_count_; }

  // Paints the rows in view into `dc` (a memory bitmap the size of the pane).
  void paint(HDC dc, const RECT& area);

 private:
  static LRESULT CALLBACK procedure(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
  // Draws `shown` at (x, y): the bytes of `tokens` in their colours, the
  // rest in the text colour.
  void draw_text(HDC dc, int x, int y, const ShownRow& shown, std::size_t bytes,
                 std::span<const Token> tokens) const;

  HWND hwnd_ = nullptr;
  const PaneSource* source_;
  std::size_t side_;
  const PanePosition* position_;
  Events events_;
  HFONT font_ = nullptr;
  int row_height_ = 16;
  int char_width_ = 8;
  int tab_width_ = 8;
  int wheel_rest_ = 0;
  std::size_t painted_first_ = 0;
  std::size_t painted_count_ = 0;
};

}  // namespace marlow::win32
