#include "win32/error_window.h"

#include "win32/wide.h"

namespace marlow::win32 {
namespace {

constexpr int kMessage = 101;

class ErrorWindow : public TopWindow {
 public:
  ErrorWindow(const std::string& reply, Finish finish)
      : TopWindow("error", std::move(finish), reply) {}

  bool open(const std::string& title, const std::string& message) {
    if (!create(wide(title), 520, 200, {{FCONTROL, 'W', IDCANCEL}, {0, VK_ESCAPE, IDCANCEL}}))
      return false;
    icon_ = add_control(L"STATIC", nullptr, SS_ICON, 0);
    SendMessageW(icon_, STM_SETICON, reinterpret_cast<WPARAM>(LoadIconW(nullptr, IDI_ERROR)), 0);
    // An edit control, read-only, so that a path can be copied out of it.
    std::wstring text = wide(message);
    for (std::size_t at = 0; (at = text.find(L'\n', at)) != std::wstring::npos; at += 2) {
      if (at == 0 || text[at - 1] != L'\r')
        text.insert(at, 1, L'\r');
      else
        --at;
    }
    message_ = add_control(L"EDIT", text.c_str(),
                           ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | WS_VSCROLL, kMessage);
    close_ = add_control(L"BUTTON", L"Close", BS_DEFPUSHBUTTON | WS_TABSTOP, IDOK);
    show();
    SetFocus(close_);
    return true;
  }

 protected:
  LRESULT handle(UINT message, WPARAM wparam, LPARAM lparam) override {
    if (message == WM_COMMAND && (LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL)) {
      close_asked();
      return 0;
    }
    if (message == WM_CTLCOLORSTATIC && reinterpret_cast<HWND>(lparam) == message_) {
      // The read-only message on the window's face, as a label would be.
      SetBkColor(reinterpret_cast<HDC>(wparam), GetSysColor(COLOR_BTNFACE));
      return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    }
    return TopWindow::handle(message, wparam, lparam);
  }

  void fonts_changed() override {
    for (HWND control : {message_, close_}) use_font(control, ui_font());
  }

  void lay_out(int width, int height) override {
    const int margin = px(12);
    const int icon = GetSystemMetrics(SM_CXICON);
    const int button_w = px(88);
    const int button_h = px(26);
    MoveWindow(icon_, margin, margin, icon, icon, TRUE);
    MoveWindow(message_, margin * 2 + icon, margin, width - margin * 3 - icon,
               height - margin * 3 - button_h, TRUE);
    MoveWindow(close_, width - margin - button_w, height - margin - button_h, button_w, button_h,
               TRUE);
  }

 private:
  HWND icon_ = nullptr;
  HWND message_ = nullptr;
  HWND close_ = nullptr;
};

}  // namespace

void open_error_window(const std::string& title, const std::string& message, std::string reply,
                       Finish finish) {
  auto* window = new ErrorWindow(reply, std::move(finish));
  if (!window->open(title, message)) delete window;
}

}  // namespace marlow::win32
