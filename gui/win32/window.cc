#include "win32/window.h"

#include <commctrl.h>

#include <algorithm>
#include <optional>

#include "support/work_dir.h"
#include "win32/settings.h"

namespace marlow::win32 {
namespace {

constexpr const wchar_t* kClass = L"MarlowWindow";

// WM_DPICHANGED and GetDpiForWindow are from later Windows than 7: the
// message is simply never sent there, and the call is looked up.
constexpr UINT kDpiChanged = 0x02E0;

void register_class() {
  static bool done = false;
  if (done) return;
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.style = CS_HREDRAW | CS_VREDRAW;
  wc.lpfnWndProc = DefWindowProcW;  // replaced per window in create()
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hIcon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(1));
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = kClass;
  RegisterClassExW(&wc);
  done = true;
}

// Set and taken on the UI thread only.
std::optional<std::chrono::steady_clock::time_point> next_arrival;

}  // namespace

void set_call_arrival(std::chrono::steady_clock::time_point arrived) { next_arrival = arrived; }

int window_dpi(HWND hwnd) {
  using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
  static const auto get_dpi = reinterpret_cast<GetDpiForWindowFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
  if (get_dpi != nullptr && hwnd != nullptr) {
    const UINT dpi = get_dpi(hwnd);
    if (dpi != 0) return static_cast<int>(dpi);
  }
  HDC dc = GetDC(nullptr);
  const int dpi = GetDeviceCaps(dc, LOGPIXELSY);
  ReleaseDC(nullptr, dc);
  return dpi > 0 ? dpi : 96;
}

TopWindow::TopWindow(std::string kind, Finish finish, std::string unanswered)
    : kind_(std::move(kind)),
      finish_(std::move(finish)),
      unanswered_(std::move(unanswered)),
      made_(next_arrival.value_or(std::chrono::steady_clock::now())) {
  next_arrival.reset();
}

TopWindow::~TopWindow() {
  // A window destroyed without answering (the program ends) answers now.
  if (finish_) answer(unanswered_);
  if (accelerators_ != nullptr) DestroyAcceleratorTable(accelerators_);
  free_fonts();
}

TopWindow* TopWindow::owning(HWND hwnd) {
  if (hwnd == nullptr) return nullptr;
  HWND root = GetAncestor(hwnd, GA_ROOT);
  if (root == nullptr) return nullptr;
  wchar_t name[32] = {};
  if (GetClassNameW(root, name, 32) == 0 || std::wstring(name) != kClass) return nullptr;
  return reinterpret_cast<TopWindow*>(GetWindowLongPtrW(root, GWLP_USERDATA));
}

int TopWindow::run_message_loop() {
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (TopWindow* window = owning(msg.hwnd)) {
      if (window->accelerators_ != nullptr &&
          TranslateAcceleratorW(window->hwnd_, window->accelerators_, &msg) != 0) {
        continue;
      }
      if (IsDialogMessageW(window->hwnd_, &msg) != 0) continue;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return static_cast<int>(msg.wParam);
}

bool TopWindow::create(const std::wstring& title, int width, int height,
                       const std::vector<Key>& keys) {
  register_class();
  std::vector<ACCEL> table;
  for (const Key& key : keys) {
    table.push_back(ACCEL{static_cast<BYTE>(key.modifiers | FVIRTKEY), key.key, key.command});
  }
  if (!table.empty())
    accelerators_ = CreateAcceleratorTableW(table.data(), static_cast<int>(table.size()));

  int kept_width = 0;
  int kept_height = 0;
  if (window_size_preference(kind_, &kept_width, &kept_height)) {
    width = kept_width;
    height = kept_height;
  }
  // The monitor the user looks at: the one under the mouse pointer.
  POINT pointer{};
  GetCursorPos(&pointer);
  HMONITOR monitor = MonitorFromPoint(pointer, MONITOR_DEFAULTTOPRIMARY);
  MONITORINFO info{};
  info.cbSize = sizeof info;
  GetMonitorInfoW(monitor, &info);
  const RECT area = info.rcWork;

  hwnd_ = CreateWindowExW(WS_EX_CONTROLPARENT | WS_EX_APPWINDOW, kClass, title.c_str(),
                          WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, area.left, area.top, 100, 100,
                          nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  if (hwnd_ == nullptr) return false;
  SetWindowLongPtrW(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  SetWindowLongPtrW(hwnd_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&TopWindow::procedure));
  dpi_ = window_dpi(hwnd_);
  make_fonts();

  const int area_width = area.right - area.left;
  const int area_height = area.bottom - area.top;
  const int w = std::clamp(px(width), std::min(320, area_width), area_width);
  const int h = std::clamp(px(height), std::min(240, area_height), area_height);
  placed_ = RECT{area.left + (area_width - w) / 2, area.top + (area_height - h) / 2, w, h};
  return true;
}

void TopWindow::show() {
  shown_ = true;
  SetWindowPos(hwnd_, nullptr, placed_.left, placed_.top, placed_.right, placed_.bottom,
               SWP_NOZORDER | SWP_NOACTIVATE);
  fonts_changed();
  RECT client{};
  GetClientRect(hwnd_, &client);
  lay_out(client.right, client.bottom);
  ShowWindow(hwnd_, SW_SHOWNORMAL);
  SetForegroundWindow(hwnd_);
}

LRESULT CALLBACK TopWindow::procedure(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* window = reinterpret_cast<TopWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (window == nullptr) return DefWindowProcW(hwnd, message, wparam, lparam);
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    window->hwnd_ = nullptr;
    delete window;
    return DefWindowProcW(hwnd, message, wparam, lparam);
  }
  return window->handle(message, wparam, lparam);
}

LRESULT TopWindow::handle(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_SIZE:
      if (shown_ && wparam != SIZE_MINIMIZED) lay_out(LOWORD(lparam), HIWORD(lparam));
      return 0;
    case WM_GETMINMAXINFO: {
      auto* limits = reinterpret_cast<MINMAXINFO*>(lparam);
      limits->ptMinTrackSize = POINT{px(320), px(240)};
      return 0;
    }
    case kDpiChanged: {
      dpi_ = HIWORD(wparam);
      make_fonts();
      fonts_changed();
      const RECT* wanted = reinterpret_cast<const RECT*>(lparam);
      SetWindowPos(hwnd_, nullptr, wanted->left, wanted->top, wanted->right - wanted->left,
                   wanted->bottom - wanted->top, SWP_NOZORDER | SWP_NOACTIVATE);
      return 0;
    }
    case WM_CLOSE:
      close_asked();
      return 0;
    case WM_DESTROY: {
      // The size the user gave, kept for the next window of this kind.
      WINDOWPLACEMENT place{};
      place.length = sizeof place;
      if (GetWindowPlacement(hwnd_, &place) != 0) {
        const RECT& r = place.rcNormalPosition;
        set_window_size_preference(kind_, MulDiv(r.right - r.left, 96, dpi_),
                                   MulDiv(r.bottom - r.top, 96, dpi_));
      }
      return 0;
    }
    default:
      return DefWindowProcW(hwnd_, message, wparam, lparam);
  }
}

void TopWindow::close_asked() { answer_and_close(unanswered_); }

void TopWindow::answer(const std::string& reply) {
  if (!finish_) return;
  Finish finish = std::move(finish_);
  finish_ = nullptr;
  finish(reply);
}

void TopWindow::answer_and_close(const std::string& reply) {
  answer(reply);
  if (hwnd_ != nullptr) DestroyWindow(hwnd_);
}

void TopWindow::log_usable(const std::string& what) {
  UpdateWindow(hwnd_);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - made_)
                      .count();
  support::log_line(kind_ + " window usable after " + std::to_string(ms) + " ms: " + what);
}

void TopWindow::make_fonts() {
  free_fonts();
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
  LOGFONTW ui = metrics.lfMessageFont;
  ui.lfHeight = -MulDiv(9, dpi_, 72);
  ui.lfWidth = 0;
  ui_font_ = CreateFontIndirectW(&ui);
  ui.lfWeight = FW_BOLD;
  bold_font_ = CreateFontIndirectW(&ui);
  LOGFONTW mono{};
  mono.lfHeight = -MulDiv(10, dpi_, 72);
  mono.lfCharSet = DEFAULT_CHARSET;
  mono.lfPitchAndFamily = FIXED_PITCH | FF_MODERN;
  mono.lfQuality = CLEARTYPE_QUALITY;
  wcscpy(mono.lfFaceName, L"Consolas");
  mono_font_ = CreateFontIndirectW(&mono);
}

void TopWindow::free_fonts() {
  for (HFONT* font : {&ui_font_, &bold_font_, &mono_font_}) {
    if (*font != nullptr) DeleteObject(*font);
    *font = nullptr;
  }
}

void TopWindow::use_font(HWND control, HFONT font) const {
  SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
}

HWND TopWindow::add_control(const wchar_t* cls, const wchar_t* text, DWORD style, int id,
                            DWORD ex_style) {
  HWND control = CreateWindowExW(ex_style, cls, text, WS_CHILD | WS_VISIBLE | style, 0, 0, 10, 10,
                                 hwnd_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                 GetModuleHandleW(nullptr), nullptr);
  use_font(control, ui_font_);
  return control;
}

void show_keys(HWND owner, const wchar_t* title,
               const std::vector<std::pair<std::wstring, std::wstring>>& keys) {
  std::wstring text;
  for (const auto& [key, what] : keys) text += key + L"\t" + what + L"\r\n";
  MessageBoxW(owner, text.c_str(), title, MB_OK | MB_ICONINFORMATION);
}

}  // namespace marlow::win32
