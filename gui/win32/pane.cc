#include "win32/pane.h"

#include <windowsx.h>

#include <algorithm>

#include "engine/highlight_palette.h"
#include "win32/wide.h"

namespace marlow::win32 {
namespace {

constexpr const wchar_t* kPaneClass = L"MarlowPane";

void register_pane_class() {
  static bool done = false;
  if (done) return;
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.style = CS_DBLCLKS;
  wc.lpfnWndProc = DefWindowProcW;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.hCursor = LoadCursorW(nullptr, IDC_IBEAM);
  wc.lpszClassName = kPaneClass;
  RegisterClassExW(&wc);
  done = true;
}

std::size_t digits(std::size_t n) {
  std::size_t d = 1;
  while (n >= 10) {
    n /= 10;
    ++d;
  }
  return d;
}

void fill(HDC dc, const RECT& r, COLORREF colour) {
  SetBkColor(dc, colour);
  ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &r, nullptr, 0, nullptr);
}

}  // namespace

COLORREF token_colour(TokenClass kind) {
  const Rgb rgb = token_rgb(kind);
  return RGB(rgb.red, rgb.green, rgb.blue);
}

COLORREF row_colour(CellKind kind) {
  switch (kind) {
    case CellKind::same:
      return kNoColour;
    case CellKind::changed:
      return kChangedRow;
    case CellKind::added:
      return kAddedRow;
    case CellKind::removed:
      return kRemovedRow;
    case CellKind::filler:
      return kFillerRow;
  }
  return kNoColour;
}

Pane::Pane(HWND parent, int id, const PaneSource* source, std::size_t side,
           const PanePosition* position, Events events)
    : source_(source), side_(side), position_(position), events_(std::move(events)) {
  register_pane_class();
  hwnd_ = CreateWindowExW(WS_EX_CLIENTEDGE, kPaneClass, L"", WS_CHILD | WS_VISIBLE | WS_TABSTOP, 0,
                          0, 10, 10, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                          GetModuleHandleW(nullptr), nullptr);
  SetWindowLongPtrW(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  SetWindowLongPtrW(hwnd_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Pane::procedure));
}

Pane::~Pane() {
  if (hwnd_ != nullptr && IsWindow(hwnd_)) SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
}

void Pane::set_font(HFONT font) {
  font_ = font;
  HDC dc = GetDC(hwnd_);
  HGDIOBJ old = SelectObject(dc, font_);
  TEXTMETRICW metrics{};
  GetTextMetricsW(dc, &metrics);
  row_height_ = std::max<int>(1, metrics.tmHeight + metrics.tmExternalLeading);
  char_width_ = std::max<int>(1, metrics.tmAveCharWidth);
  SelectObject(dc, old);
  ReleaseDC(hwnd_, dc);
  refresh();
}

int Pane::gutter_width() const {
  return static_cast<int>(digits(source_->largest_number(side_)) + 1) * char_width_ +
         char_width_ / 2;
}

std::size_t Pane::visible_rows() const {
  RECT r{};
  GetClientRect(hwnd_, &r);
  return static_cast<std::size_t>(std::max(1L, r.bottom / row_height_));
}

int Pane::text_x(std::string_view text, std::size_t at) const {
  const ShownRow shown = shown_row(text, tab_width_);
  HDC dc = GetDC(hwnd_);
  HGDIOBJ old = SelectObject(dc, font_);
  SIZE size{};
  GetTextExtentPoint32W(dc, shown.text.c_str(),
                        static_cast<int>(shown.units[std::min(at, text.size())]), &size);
  SelectObject(dc, old);
  ReleaseDC(hwnd_, dc);
  return size.cx;
}

LRESULT CALLBACK Pane::procedure(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* pane = reinterpret_cast<Pane*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (pane == nullptr) return DefWindowProcW(hwnd, message, wparam, lparam);
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(hwnd, &ps);
      RECT client{};
      GetClientRect(hwnd, &client);
      // Painted off screen first: no flicker while the panes scroll.
      HDC memory = CreateCompatibleDC(dc);
      HBITMAP bitmap =
          CreateCompatibleBitmap(dc, std::max(1L, client.right), std::max(1L, client.bottom));
      HGDIOBJ old_bitmap = SelectObject(memory, bitmap);
      pane->paint(memory, client);
      BitBlt(dc, 0, 0, client.right, client.bottom, memory, 0, 0, SRCCOPY);
      SelectObject(memory, old_bitmap);
      DeleteObject(bitmap);
      DeleteDC(memory);
      EndPaint(hwnd, &ps);
      return 0;
    }
    case WM_ERASEBKGND:
      return 1;
    case WM_GETDLGCODE:
      // The arrows and paging keys scroll the panes.
      return DLGC_WANTARROWS;
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
      pane->refresh();
      return 0;
    case WM_LBUTTONDOWN: {
      SetFocus(hwnd);
      const int y = GET_Y_LPARAM(lparam);
      if (pane->events_.clicked) {
        pane->events_.clicked(pane, pane->position_->top + static_cast<std::size_t>(
                                                               std::max(0, y) / pane->row_height_));
      }
      return 0;
    }
    case WM_MOUSEWHEEL: {
      // Lines per notch as the user set them; Shift turns the wheel sideways.
      const int delta = GET_WHEEL_DELTA_WPARAM(wparam);
      if ((GET_KEYSTATE_WPARAM(wparam) & MK_SHIFT) != 0) {
        if (pane->events_.wheel_sideways)
          pane->events_.wheel_sideways(-delta * pane->char_width_ * 3 / WHEEL_DELTA);
        return 0;
      }
      UINT lines = 3;
      SystemParametersInfoW(SPI_GETWHEELSCROLLLINES, 0, &lines, 0);
      if (lines == WHEEL_PAGESCROLL) lines = static_cast<UINT>(pane->visible_rows());
      pane->wheel_rest_ += delta * static_cast<int>(lines);
      const int steps = pane->wheel_rest_ / WHEEL_DELTA;
      pane->wheel_rest_ -= steps * WHEEL_DELTA;
      if (steps != 0 && pane->events_.wheel) pane->events_.wheel(-steps);
      return 0;
    }
    case 0x020E: {  // WM_MOUSEHWHEEL (Vista and later)
      const int delta = GET_WHEEL_DELTA_WPARAM(wparam);
      if (pane->events_.wheel_sideways)
        pane->events_.wheel_sideways(delta * pane->char_width_ * 3 / WHEEL_DELTA);
      return 0;
    }
    case WM_KEYDOWN:
      if (pane->events_.key && pane->events_.key(wparam)) return 0;
      break;
    default:
      break;
  }
  return DefWindowProcW(hwnd, message, wparam, lparam);
}

void Pane::paint(HDC dc, const RECT& area) {
  fill(dc, area, GetSysColor(COLOR_WINDOW));
  HGDIOBJ old_font = SelectObject(dc, font_);
  SetBkMode(dc, TRANSPARENT);
  const int gutter = gutter_width();
  const int pad = char_width_ / 2;
  const std::size_t total = source_->row_count();
  const std::size_t first = std::min(position_->top, total);
  const std::size_t count =
      std::min<std::size_t>(total - first, static_cast<std::size_t>(area.bottom / row_height_ + 1));
  painted_first_ = first;
  painted_count_ = count;
  const bool in_current = position_->current_first < position_->current_end;

  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t r = first + i;
    const PaneRow row = source_->row(side_, r);
    const int y = static_cast<int>(i) * row_height_;
    const bool current = in_current && r >= position_->current_first && r < position_->current_end;

    // The gutter: the line number, on a band where the current rows are.
    RECT gutter_box{0, y, gutter, y + row_height_};
    fill(dc, gutter_box, current ? kCurrentGutter : GetSysColor(COLOR_BTNFACE));
    if (row.number != 0) {
      const std::wstring number = std::to_wstring(row.number);
      SetTextColor(dc, GetSysColor(COLOR_GRAYTEXT));
      RECT number_box{0, y, gutter - pad, y + row_height_};
      DrawTextW(dc, number.c_str(), static_cast<int>(number.size()), &number_box,
                DT_RIGHT | DT_SINGLELINE | DT_NOPREFIX | DT_TOP);
    }

    // The text, clipped to the right of the gutter and scrolled sideways.
    const int saved = SaveDC(dc);
    IntersectClipRect(dc, gutter, y, area.right, y + row_height_);
    RECT row_box{gutter, y, area.right, y + row_height_};
    if (row.background != kNoColour) fill(dc, row_box, row.background);
    const ShownRow shown = shown_row(row.text, tab_width_);
    const int x0 = gutter + pad - position_->left;
    const auto extent = [&](std::size_t units) {
      SIZE size{};
      GetTextExtentPoint32W(dc, shown.text.c_str(), static_cast<int>(units), &size);
      return static_cast<int>(size.cx);
    };
    const auto mark = [&](const ByteRange& range, COLORREF colour) {
      const std::size_t from = shown.units[std::min(range.start, row.text.size())];
      const std::size_t to = shown.units[std::min(range.start + range.length, row.text.size())];
      // An empty change (a deletion inside the line) still shows as a bar.
      RECT box{x0 + extent(from), y, x0 + std::max(extent(to), extent(from) + 2), y + row_height_};
      fill(dc, box, colour);
    };
    for (const ByteRange& range : row.marks) mark(range, kChangedText);
    if (position_->found_side == side_ && position_->found_row == r)
      mark(position_->found, kFoundText);
    draw_text(dc, x0, y, shown, row.text.size(), row.tokens);
    if (!row.note.empty()) {
      const std::wstring note = wide(row.note);
      SetTextColor(dc, GetSysColor(COLOR_GRAYTEXT));
      TextOutW(dc, x0 + extent(shown.text.size()) + char_width_, y, note.c_str(),
               static_cast<int>(note.size()));
    }
    RestoreDC(dc, saved);
  }

  // The frame around the current rows in view.
  if (in_current && position_->current_end > first &&
      position_->current_first < first + count + 1) {
    HPEN pen = CreatePen(PS_SOLID, std::max(1, row_height_ / 10), kCurrentFrame);
    HGDIOBJ old_pen = SelectObject(dc, pen);
    HGDIOBJ old_brush = SelectObject(dc, GetStockObject(NULL_BRUSH));
    const long top =
        (static_cast<long>(position_->current_first) - static_cast<long>(first)) * row_height_;
    const long bottom =
        (static_cast<long>(position_->current_end) - static_cast<long>(first)) * row_height_;
    Rectangle(dc, gutter, std::max(-4L, top), area.right, std::min(bottom, area.bottom + 4) + 1);
    SelectObject(dc, old_brush);
    SelectObject(dc, old_pen);
    DeleteObject(pen);
  }
  if (GetFocus() == hwnd_) {
    RECT focus{gutter, 0, area.right, area.bottom};
    DrawFocusRect(dc, &focus);
  }
  SelectObject(dc, old_font);
}

void Pane::draw_text(HDC dc, int x, int y, const ShownRow& shown, std::size_t bytes,
                     std::span<const Token> tokens) const {
  const COLORREF plain = GetSysColor(COLOR_WINDOWTEXT);
  const int units = static_cast<int>(shown.text.size());
  if (tokens.empty() || units == 0) {
    SetTextColor(dc, plain);
    TextOutW(dc, x, y, shown.text.c_str(), units);
    return;
  }
  // Each piece starts where the whole row's text would put it, so that
  // the colours never shift the text against the marks under it.
  std::vector<int> ends(static_cast<std::size_t>(units));
  SIZE size{};
  GetTextExtentExPointW(dc, shown.text.c_str(), units, 0, nullptr, ends.data(), &size);
  const auto x_of = [&](std::size_t unit) {
    return unit == 0 ? 0 : ends[std::min(unit, ends.size()) - 1];
  };
  const auto piece = [&](std::size_t from, std::size_t to, COLORREF colour) {
    if (to <= from) return;
    SetTextColor(dc, colour);
    TextOutW(dc, x + x_of(from), y, shown.text.c_str() + from, static_cast<int>(to - from));
  };
  std::size_t done = 0;  // units drawn so far
  for (const Token& token : tokens) {
    const std::size_t start = std::min<std::size_t>(token.start, bytes);
    const std::size_t end = std::min<std::size_t>(start + token.length, bytes);
    const std::size_t from = std::max(done, shown.units[start]);
    const std::size_t to = shown.units[end];
    if (to <= from) continue;
    piece(done, from, plain);
    piece(from, to, token_colour(token.kind));
    done = to;
  }
  piece(done, static_cast<std::size_t>(units), plain);
}

}  // namespace marlow::win32
