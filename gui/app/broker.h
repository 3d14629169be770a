// Hands calls from the serving threads to the GUI thread and waits for the
// window's answer.
#pragma once

#include <QObject>
#include <functional>
#include <string>

#include "app/finish.h"
#include "serve/serve.h"

class QWidget;

namespace marlow {

class WindowBroker : public QObject {
  Q_OBJECT
 public:
  WindowBroker() = default;

  // Called on a serving thread: answers at once when it can, otherwise opens
  // a window on the GUI thread (a compare or merge window, a comparison of
  // two directories, or the window that says why a file cannot be served) and blocks until that
  // window has answered. Whether a merge without conflicts is written at once is asked of the
  // preferences for every call. Calls that arrive while windows are open get windows of their own
  // at once.
  std::string handle(const std::string& framed);
  // Called on the serving thread when the wrapper pipe has ended and every
  // call has been answered: the program quits once no window is left open.
  void service_gone();

  int open_windows() const { return open_windows_; }  // GUI thread only

 private:
  // Opens the window `make` builds on the GUI thread and waits for its
  // answer; `kind` names it in the answer log.
  std::string in_window(const char* kind, std::function<QWidget*(const Finish&)> make);
  void window_closed();
  void quit_if_done();

  int open_windows_ = 0;  // GUI thread only
  bool gone_ = false;     // GUI thread only
};

}  // namespace marlow
