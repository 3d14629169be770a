// The Windows panes' syntax colours: a keyword is painted in the keyword's
// colour over a changed row's background and its changed characters' marks
// (which stay visible), the highlighter hands a window a text's tokens by a
// message, and the switch turns the colours off everywhere and is kept.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "engine/highlight.h"
#include "win32/pane.h"
#include "win32/settings.h"
#include "win32/syntax.h"

namespace marlow::win32 {
namespace {

#define SKIP_WITHOUT_C_GRAMMAR()         \
  if (syntax_for_file("a.c") == nullptr) \
  GTEST_SKIP() << "built without the C grammar (tools/install-deps.sh all)"

// One row, as a compare window gives it.
class OneRow : public PaneSource {
 public:
  PaneRow row_;
  std::size_t row_count() const override { return 1; }
  PaneRow row(std::size_t, std::size_t) const override { return row_; }
  std::size_t largest_number(std::size_t) const override { return 1; }
};

// A pane painted into a 32-bit bitmap whose pixels the test reads.
class Painted {
 public:
  Painted(const PaneSource& source, HFONT font) {
    parent_ = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, kWidth, kHeight, nullptr, nullptr,
                              GetModuleHandleW(nullptr), nullptr);
    pane_ = std::make_unique<Pane>(parent_, 1, &source, 0, &position_, Pane::Events{});
    pane_->set_font(font);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = kWidth;
    info.bmiHeader.biHeight = -kHeight;  // top row first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    dc_ = CreateCompatibleDC(nullptr);
    bitmap_ =
        CreateDIBSection(dc_, &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits_), nullptr, 0);
    old_ = SelectObject(dc_, bitmap_);
    const RECT area{0, 0, kWidth, kHeight};
    pane_->paint(dc_, area);
    GdiFlush();
  }
  ~Painted() {
    SelectObject(dc_, old_);
    DeleteObject(bitmap_);
    DeleteDC(dc_);
    pane_.reset();
    DestroyWindow(parent_);
  }
  const Pane& pane() const { return *pane_; }
  COLORREF at(int x, int y) const {
    const std::uint32_t p = bits_[y * kWidth + x];
    return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
  }
  // How many pixels of the first row, between x and x_end, have `colour`.
  int count(COLORREF colour, int x = 0, int x_end = kWidth) const {
    int n = 0;
    for (int y = 0; y < pane_->row_height(); ++y)
      for (int x1 = std::max(0, x); x1 < std::min(x_end, kWidth); ++x1) n += at(x1, y) == colour;
    return n;
  }

  static constexpr int kWidth = 600;
  static constexpr int kHeight = 60;

 private:
  HWND parent_ = nullptr;
  PanePosition position_;
  std::unique_ptr<Pane> pane_;
  HDC dc_ = nullptr;
  HBITMAP bitmap_ = nullptr;
  HGDIOBJ old_ = nullptr;
  std::uint32_t* bits_ = nullptr;
};

// A font whose glyphs have no smoothed edges: their pixels are exactly
// the text colour.
HFONT sharp_font() {
  return CreateFontW(-16, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                     OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, NONANTIALIASED_QUALITY,
                     FIXED_PITCH | FF_MODERN, L"Courier New");
}

TEST(Win32PaneColours, KeywordColouredOverAChangedRowWhoseMarksStay) {
  SKIP_WITHOUT_C_GRAMMAR();
  const std::string text = "int f(void) { return 42; }";
  const std::vector<std::string_view> lines = {text};
  const std::optional<LineTokens> tokens = highlight_lines(*syntax_for_file("f.c"), lines);
  ASSERT_TRUE(tokens.has_value());
  const std::size_t keyword = text.find("return");
  const std::size_t number = text.find("42");
  OneRow source;
  source.row_.text = text;
  source.row_.number = 1;
  source.row_.background = kChangedRow;
  source.row_.marks = {{number, 2}};  // "42" changed
  source.row_.tokens = tokens->line(0);
  HFONT font = sharp_font();
  {
    Painted painted(source, font);
    const Pane& pane = painted.pane();
    const int x0 = pane.gutter_width() + pane.char_width() / 2;
    const auto x_of = [&](std::size_t byte) { return x0 + pane.text_x(text, byte); };
    // "return" in the keyword's colour, "42" in the number's, on its mark.
    EXPECT_GT(painted.count(token_colour(TokenClass::keyword), x_of(keyword), x_of(keyword + 6)),
              10);
    EXPECT_GT(painted.count(token_colour(TokenClass::number), x_of(number), x_of(number + 2)), 4);
    EXPECT_GT(painted.count(kChangedText, x_of(number), x_of(number + 2)), 20)
        << "the changed characters' mark is gone";
    // The row's background around the text, and the braces in the plain
    // text colour.
    EXPECT_GT(painted.count(kChangedRow, x_of(text.size()), Painted::kWidth), 100);
    const std::size_t brace = text.find('{');
    EXPECT_GT(painted.count(GetSysColor(COLOR_WINDOWTEXT), x_of(brace), x_of(brace + 1)), 3);
    EXPECT_EQ(painted.count(token_colour(TokenClass::keyword), x_of(brace), x_of(brace + 1)), 0);
  }
  // Without tokens (the switch off) no keyword colour is painted at all.
  source.row_.tokens = {};
  {
    Painted painted(source, font);
    EXPECT_EQ(painted.count(token_colour(TokenClass::keyword)), 0);
    EXPECT_GT(painted.count(kChangedText), 20);
  }
  DeleteObject(font);
}

// Waits for the window's next `message` (the test's watchdog ends a hang).
// A message-only window: it needs no display.
HWND message_window() {
  return CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 10, 10, HWND_MESSAGE, nullptr,
                         GetModuleHandleW(nullptr), nullptr);
}

MSG wait_for(HWND window, UINT message) {
  MSG msg{};
  while (GetMessageW(&msg, window, message, message) > 0) {
    if (msg.message == message) break;
  }
  return msg;
}

TEST(Win32SyntaxHighlighter, HandsEachKnownTextsTokensOverByAMessage) {
  SKIP_WITHOUT_C_GRAMMAR();
  HWND window = message_window();
  ASSERT_NE(window, nullptr);
  constexpr UINT kDone = WM_APP + 7;
  TextDocument c;
  c.lines = {{"int main(void) {", "\n"}, {"  return 0;", "\n"}, {"}", "\n"}};
  TextDocument plain;
  plain.lines = {{"return 0;", "\n"}};
  {
    SyntaxHighlighter syntax(window, kDone);
    // A text file has no language: only the C side is highlighted.
    syntax.start({"notes.txt", "dir/main.c"}, {&plain, &c});
    EXPECT_TRUE(syntax.tokens(1, 1).empty()) << "tokens before they were handed over";
    const MSG msg = wait_for(window, kDone);
    EXPECT_EQ(msg.wParam, 1u);
    syntax.take(msg.wParam);
    ASSERT_TRUE(syntax.has_tokens(1));
    EXPECT_FALSE(syntax.has_tokens(0));
    const std::span<const Token> line = syntax.tokens(1, 1);
    ASSERT_FALSE(line.empty());
    EXPECT_EQ(line.front().start, 2u);
    EXPECT_EQ(line.front().length, 6u);
    EXPECT_EQ(line.front().kind, TokenClass::keyword);
    EXPECT_TRUE(syntax.tokens(1, 99).empty());
    EXPECT_TRUE(syntax.tokens(5, 0).empty());
    // Started again and dropped at once: the thread is stopped and waited for.
    syntax.start({"a.c"}, {&c});
  }
  DestroyWindow(window);
}

TEST(Win32SyntaxSwitch, TellsEveryListeningWindowAndIsKept) {
  HWND window = message_window();
  ASSERT_NE(window, nullptr);
  const bool was = syntax_highlighting_preference();
  listen_to_syntax_switch(window);
  set_syntax_highlighting(!was);
  EXPECT_EQ(syntax_highlighting_on(), !was);
  EXPECT_EQ(syntax_highlighting_preference(), !was) << "not kept";
  MSG msg = wait_for(window, kSyntaxSwitched);
  EXPECT_EQ(msg.wParam != 0, !was);
  set_syntax_highlighting(was);
  msg = wait_for(window, kSyntaxSwitched);
  EXPECT_EQ(msg.wParam != 0, was);
  EXPECT_EQ(syntax_highlighting_preference(), was);
  stop_listening_to_syntax_switch(window);
  // Not listening any more: nothing is posted.
  set_syntax_highlighting(!was);
  set_syntax_highlighting(was);
  EXPECT_EQ(PeekMessageW(&msg, window, kSyntaxSwitched, kSyntaxSwitched, PM_REMOVE), FALSE);
  DestroyWindow(window);
}

TEST(Win32SyntaxSwitch, AWindowsHighlighterHearsItAsLongAsItLives) {
  HWND window = message_window();
  ASSERT_NE(window, nullptr);
  const bool was = syntax_highlighting_preference();
  MSG msg;
  {
    SyntaxHighlighter highlighter(window, WM_APP + 1);
    EXPECT_FALSE(highlighter.started());
    set_syntax_highlighting(!was);
    msg = wait_for(window, kSyntaxSwitched);
    EXPECT_EQ(msg.wParam != 0, !was);
    set_syntax_highlighting(was);
    msg = wait_for(window, kSyntaxSwitched);
  }
  set_syntax_highlighting(!was);
  set_syntax_highlighting(was);
  EXPECT_EQ(PeekMessageW(&msg, window, kSyntaxSwitched, kSyntaxSwitched, PM_REMOVE), FALSE)
      << "heard after its highlighter went";
  DestroyWindow(window);
}

TEST(Win32SyntaxSwitch, OnUnlessTurnedOff) {
  // The value the switch keeps, removed: the colours are on.
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Brightdesk\\marlow", 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  DWORD kept = 0;
  DWORD size = sizeof kept;
  const bool had = RegQueryValueExW(key, L"syntax_highlighting", nullptr, nullptr,
                                    reinterpret_cast<BYTE*>(&kept), &size) == ERROR_SUCCESS;
  RegDeleteValueW(key, L"syntax_highlighting");
  EXPECT_TRUE(syntax_highlighting_preference());
  set_syntax_highlighting_preference(false);
  EXPECT_FALSE(syntax_highlighting_preference());
  if (had) {
    RegSetValueExW(key, L"syntax_highlighting", 0, REG_DWORD, reinterpret_cast<BYTE*>(&kept),
                   sizeof kept);
  } else {
    RegDeleteValueW(key, L"syntax_highlighting");
  }
  RegCloseKey(key);
}

}  // namespace
}  // namespace marlow::win32
