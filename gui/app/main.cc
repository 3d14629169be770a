// marlow: the graphical client. It connects to the wrapper pipe named on its
// command line, stays connected, and serves every pipe notice: a comparison
// or a merge window per call (a call that arrives while windows are open
// gets its own window at once), a window that says why a file of the call
// cannot be served, or an answer without a window.
//
// Environment:
//   MARLOW_AUTOMATIC    when not empty and not "0" (unset or empty: the
//                       saved preference, asked for every call), a merge
//                       without conflicts is written at once and answered
//                       with 1, and a comparison of equal texts is answered
//                       with 1, both without a window
//   MARLOW_NO_WINDOWS   when not empty (and when there is no display at all),
//                       no window is ever shown: the automatic answer where
//                       there is one, else 0 (the output is not touched),
//                       and a file that cannot be served is answered with
//                       its fault at once
//   MARLOW_SCRIPT       actions applied to every window once it is shown,
//                       for tests (app/script.h)
//   MARLOW_SCRIPT_LOG   a file to which each window appends
//                       "<compare|merge|error> answered <0|1|fault>"
#include <QApplication>
#include <cstdio>
#include <thread>

#include "app/broker.h"
#include "serve/serve.h"

namespace {

bool has_display() {
  return !platform::get_env("QT_QPA_PLATFORM").empty() || !platform::get_env("DISPLAY").empty() ||
         !platform::get_env("WAYLAND_DISPLAY").empty();
}

}  // namespace

int main(int argc, char** argv) {
  const std::string name = support::wrapper_pipe_name(argc, argv);
  const std::unique_ptr<platform::ClientPipe> wrapper = support::connect_wrapper_pipe(name);
  if (!wrapper) return 1;

  const std::string windowless_note =
      "merges without conflicts are written at once, other calls that need a window are "
      "answered 0";
  const auto serve_without_windows = [&](const std::string& why) {
    marlow::open_call_log("marlow: serving the wrapper pipe " + name + "; " + why + ": " +
                          windowless_note);
    marlow::serve_notices(*wrapper, marlow::with_call_log(marlow::answer_without_window));
    std::fflush(nullptr);
    platform::exit_now(0);
  };
  if (!platform::get_env("MARLOW_NO_WINDOWS").empty())
    serve_without_windows("MARLOW_NO_WINDOWS is set");
  if (!has_display()) serve_without_windows("no display");

  // Qt ends the program when it cannot reach the display. Given the
  // offscreen platform as the last choice it starts all the same, and the
  // program then knows that no window can be seen: without that, every start
  // of the service would start a client that ends at once.
  const bool platform_chosen = !platform::get_env("QT_QPA_PLATFORM").empty();
  if (!platform_chosen) {
    std::string choices;
    if (!platform::get_env("WAYLAND_DISPLAY").empty()) choices += "wayland;";
    if (!platform::get_env("DISPLAY").empty()) choices += "xcb;";
    // Unset, Qt makes its own choice, which only misses the offscreen fallback.
    static_cast<void>(platform::set_env("QT_QPA_PLATFORM", choices + "offscreen"));
  }
  QApplication app(argc, argv);
  if (!platform_chosen && QGuiApplication::platformName() == QStringLiteral("offscreen")) {
    serve_without_windows("the display cannot be reached");
  }
  marlow::open_call_log("marlow: serving the wrapper pipe " + name +
                        "; calls are shown in windows");
  QApplication::setQuitOnLastWindowClosed(false);
  marlow::WindowBroker broker;
  std::thread reader([&wrapper, &broker] {
    // Returns once the wrapper pipe has ended and every call is answered.
    marlow::serve_notices(*wrapper, marlow::with_call_log([&broker](const std::string& framed) {
      return broker.handle(framed);
    }));
    broker.service_gone();
  });
  reader.detach();
  const int status = QApplication::exec();
  // The service has gone and every call has been answered: end at once
  // rather than tear down what detached threads may still hold.
  std::fflush(nullptr);
  platform::exit_now(status);
}
