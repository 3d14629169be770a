// marlow for Windows: the graphical client. It connects to the wrapper pipe
// named on its command line, stays connected, and serves every pipe notice:
// a comparison or a merge window per call (a call that arrives while windows
// are open gets its own window at once), a window that says why a file of
// the call cannot be served, or an answer without a window. It ends when the
// service has gone and the last window has closed.
//
// Environment:
//   MARLOW_AUTOMATIC    when not empty and not "0" (unset or empty: the
//                       saved preference), a merge without conflicts is
//                       written at once and answered with 1, and a
//                       comparison of equal texts is answered with 1, both
//                       without a window
//   MARLOW_NO_WINDOWS   when not empty (and on a desktop no one can see, as
//                       a service's), no window is ever shown: the automatic
//                       answer where there is one, else 0 (the output is not
//                       touched), and a file that cannot be served is
//                       answered with its fault at once
//   MARLOW_SCRIPT_LOG   a file to which each window appends
//                       "<compare|merge|error> answered <0|1|fault>"
#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <memory>
#include <thread>

#include "serve/serve.h"
#include "support/graphical_client.h"
#include "support/platform.h"
#include "win32/broker.h"
#include "win32/window.h"

namespace {

// Whether windows on this process's window station can be seen: not so for
// a service's, where a window would wait for a user who never comes.
bool desktop_is_visible() {
  HWINSTA station = GetProcessWindowStation();
  if (station == nullptr) return false;
  USEROBJECTFLAGS flags{};
  DWORD needed = 0;
  if (GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, &needed) == 0) {
    return true;  // cannot tell: assume the usual case, a user's desktop
  }
  return (flags.dwFlags & WSF_VISIBLE) != 0;
}

// Loads the rich edit control of the merged result (MSFTEDIT.DLL, Windows
// XP SP1 and later) and the common controls.
bool load_controls() {
  INITCOMMONCONTROLSEX controls{};
  controls.dwSize = sizeof controls;
  controls.dwICC = ICC_STANDARD_CLASSES | ICC_BAR_CLASSES | ICC_LISTVIEW_CLASSES;
  InitCommonControlsEx(&controls);
  return LoadLibraryW(L"Msftedit.dll") != nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string name = support::wrapper_pipe_name(argc, argv);
  const std::unique_ptr<platform::ClientPipe> wrapper = support::connect_wrapper_pipe(name);
  if (!wrapper) return 1;

  const auto serve_without_windows = [&](const std::string& why) {
    marlow::open_call_log("marlow: serving the wrapper pipe " + name + "; " + why +
                          ": merges without conflicts are written at once, other calls that "
                          "need a window are answered 0");
    marlow::serve_notices(*wrapper, marlow::with_call_log(marlow::answer_without_window));
    std::fflush(nullptr);
    platform::exit_now(0);
  };
  if (!platform::get_env("MARLOW_NO_WINDOWS").empty()) {
    serve_without_windows("MARLOW_NO_WINDOWS is set");
  }
  if (!desktop_is_visible()) serve_without_windows("no desktop that a user can see");
  if (!load_controls()) serve_without_windows("the rich edit control cannot be loaded");

  marlow::win32::Broker broker;
  if (!broker.start()) serve_without_windows("no window can be made");
  marlow::open_call_log("marlow: serving the wrapper pipe " + name +
                        "; calls are shown in windows");
  std::thread reader([&wrapper, &broker] {
    // Returns once the wrapper pipe has ended and every call is answered.
    marlow::serve_notices(*wrapper, marlow::with_call_log([&broker](const std::string& framed) {
      return broker.handle(framed);
    }));
    broker.service_gone();
  });
  reader.detach();
  const int status = marlow::win32::TopWindow::run_message_loop();
  // The service has gone and every call has been answered: end at once
  // rather than tear down what detached threads may still hold.
  std::fflush(nullptr);
  platform::exit_now(status);
}
