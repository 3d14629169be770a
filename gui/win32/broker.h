// Hands calls from the serving threads to the UI thread, where each gets a
// window, and hands each window's answer back to the thread that waits.
#pragma once

#include <windows.h>

#include <string>

namespace marlow::win32 {

class Broker {
 public:
  // Creates the message-only window through which calls reach the UI
  // thread; call on the UI thread before any call arrives.
  bool start();

  // Called on a serving thread: answers at once when it can, otherwise opens
  // the call's window on the UI thread and blocks until it has answered.
  std::string handle(const std::string& framed);

  // Called on the serving thread when the wrapper pipe has ended and every
  // call has been answered: the message loop ends once no window is open.
  void service_gone();

 private:
  static LRESULT CALLBACK procedure(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
  void window_closed();

  HWND hwnd_ = nullptr;
  int open_windows_ = 0;  // UI thread only
  bool gone_ = false;     // UI thread only
};

}  // namespace marlow::win32
