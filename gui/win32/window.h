// What every top-level window of the client shares: its class, its
// accelerator table, its fonts at the monitor's DPI, a size that fits the
// screen it opens on and is remembered, and answering its call once.
#pragma once

#include <windows.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace marlow::win32 {

// Receives the reply to the window's call, once, when it closes.
using Finish = std::function<void(const std::string& reply)>;

// The one key table, as pairs of modifiers (FCONTROL, FSHIFT, FALT) and
// virtual keys, with the command each sends.
struct Key {
  BYTE modifiers = 0;
  WORD key = 0;
  WORD command = 0;
};

class TopWindow {
 public:
  TopWindow(const TopWindow&) = delete;
  TopWindow& operator=(const TopWindow&) = delete;
  virtual ~TopWindow();

  HWND hwnd() const { return hwnd_; }
  // The window that owns `hwnd` (itself or an ancestor), or null.
  static TopWindow* owning(HWND hwnd);
  // Runs the program's message loop until WM_QUIT; accelerators and dialog
  // navigation go to the window that owns the message.
  static int run_message_loop();

 protected:
  // `kind` names the window for its remembered size ("compare", "merge");
  // `unanswered` is the reply of a window that closes or goes without
  // having answered otherwise.
  TopWindow(std::string kind, Finish finish, std::string unanswered);

  // Creates the window, hidden, for its controls to be added: `width` x
  // `height` at 96 DPI unless the user gave this kind of window another
  // size, never larger than the work area of the monitor under the mouse
  // pointer, centred on it.
  bool create(const std::wstring& title, int width, int height, const std::vector<Key>& keys);
  // Gives the window its place, lays its controls out and shows it.
  void show();

  // Window messages; the default handles the size, DPI and the close.
  virtual LRESULT handle(UINT message, WPARAM wparam, LPARAM lparam);
  // The window's own controls are placed here, on every size or DPI change.
  virtual void lay_out(int width, int height) = 0;
  // A font or DPI change: make the controls' fonts again.
  virtual void fonts_changed() {}
  // A close asked for by the user (the close box, Alt+F4, Ctrl+W): the
  // default answers `unanswered` and destroys; a window that may refuse
  // overrides it.
  virtual void close_asked();

  // Paints the window now and writes to the program's log how long it took
  // from the call's arrival until the window could be used.
  void log_usable(const std::string& what);

  // Answers the call (only the first answer counts) and destroys the window.
  void answer_and_close(const std::string& reply);
  void answer(const std::string& reply);

  int dpi() const { return dpi_; }
  int px(int at96) const { return MulDiv(at96, dpi_, 96); }
  HFONT ui_font() const { return ui_font_; }
  HFONT bold_font() const { return bold_font_; }
  HFONT mono_font() const { return mono_font_; }
  // Sets the UI font on a control.
  void use_font(HWND control, HFONT font) const;
  HWND add_control(const wchar_t* cls, const wchar_t* text, DWORD style, int id,
                   DWORD ex_style = 0);

 private:
  static LRESULT CALLBACK procedure(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
  void make_fonts();
  void free_fonts();

  std::string kind_;
  Finish finish_;
  std::string unanswered_;
  std::chrono::steady_clock::time_point made_;
  HWND hwnd_ = nullptr;
  HACCEL accelerators_ = nullptr;
  int dpi_ = 96;
  bool shown_ = false;
  RECT placed_{};  // left, top, width, height
  HFONT ui_font_ = nullptr;
  HFONT bold_font_ = nullptr;
  HFONT mono_font_ = nullptr;
};

// When the call that the next window opened answers arrived (the serving
// thread sets it before the window is made; the window takes it, and counts
// from its own making when none is set): its log line says how long the
// call took to be usable, reading and decoding included.
void set_call_arrival(std::chrono::steady_clock::time_point arrived);

// The DPI of the monitor a window is on (96 where the system cannot say).
int window_dpi(HWND hwnd);

// Shows the list of a window's keys, (key, what it does) per line.
void show_keys(HWND owner, const wchar_t* title,
               const std::vector<std::pair<std::wstring, std::wstring>>& keys);

}  // namespace marlow::win32
