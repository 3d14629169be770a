// Hands calls from the serving threads to the GUI thread and waits for the
// window's answer.
#pragma once

#include <QObject>
#include <string>

#include "serve/serve.h"

namespace marlow {

class WindowBroker : public QObject {
  Q_OBJECT
 public:
  explicit WindowBroker(bool automatic) : automatic_(automatic) {}

  // Called on a serving thread: answers at once when it can, otherwise opens
  // a window on the GUI thread and blocks until that window has answered.
  std::string handle(const std::string& framed);
  // Called on the serving thread when the wrapper pipe has ended: the
  // program quits once no window is left open.
  void service_gone();

 private:
  void window_closed();
  void quit_if_done();

  bool automatic_;
  int open_windows_ = 0;  // GUI thread only
  bool gone_ = false;     // GUI thread only
};

}  // namespace marlow
