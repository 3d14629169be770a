// The scripted test hook: MARLOW_SCRIPT applied to a window once it is
// shown, one action per event-loop turn (serve/script_parse.h has the
// actions). When the actions run out the window closes as with `close`; an
// action that does not apply to the window is reported on stderr as
// "marlow: script: <what>" and the window closes at once, unsaved.
#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>
#include <cstddef>
#include <string>

#include "serve/script_parse.h"

namespace marlow {

class CompareWindow;
class DirectoryWindow;
class ErrorWindow;
class MergeWindow;

class ScriptRunner : public QObject {
  Q_OBJECT
 public:
  // Each attaches a runner to the window (its child, so it goes with it);
  // the runner starts when the window is shown, or at once when it already
  // is. A merge needs its contributor count to check `take N`.
  static ScriptRunner* attach(CompareWindow* window, Script script);
  static ScriptRunner* attach(MergeWindow* window, std::size_t contributors, Script script);
  static ScriptRunner* attach(ErrorWindow* window, Script script);
  // A directory comparison knows shot and close.
  static ScriptRunner* attach(DirectoryWindow* window, Script script);

 signals:
  // Emitted when the script has run to its end or stopped, right before the
  // runner closes the window.
  void finished();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  ScriptRunner(QWidget* window, Script script);
  void start();
  void step();
  // Runs one action; false with the reason when it does not apply.
  bool run(const ScriptAction& action, std::string* why);
  void close_window();

  QPointer<QWidget> window_;
  CompareWindow* compare_ = nullptr;
  MergeWindow* merge_ = nullptr;
  ErrorWindow* error_ = nullptr;
  DirectoryWindow* directory_ = nullptr;
  std::size_t contributors_ = 0;
  Script script_;
  std::size_t next_ = 0;
  bool started_ = false;
  bool done_ = false;
};

// Attaches MARLOW_SCRIPT to the window when it is set and not empty.
void attach_environment_script(CompareWindow* window);
void attach_environment_script(MergeWindow* window, std::size_t contributors);
void attach_environment_script(ErrorWindow* window);
void attach_environment_script(DirectoryWindow* window);

}  // namespace marlow
