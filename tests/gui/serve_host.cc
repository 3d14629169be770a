// The serving layer as the graphical client runs it when no window can be
// shown: the wrapper pipe's notices served with the automatic answer, every
// call logged. The serving tests start it where the Qt program is not built
// (Windows).
#include <cstdio>
#include <memory>
#include <string>

#include "serve/serve.h"

int main(int argc, char** argv) {
  const std::string name = support::wrapper_pipe_name(argc, argv);
  const std::unique_ptr<platform::ClientPipe> wrapper = support::connect_wrapper_pipe(name);
  if (!wrapper) return 1;
  // The graphical client's own first line when it serves without windows.
  marlow::open_call_log("marlow: serving the wrapper pipe " + name +
                        "; MARLOW_NO_WINDOWS is set: merges without conflicts are written at "
                        "once, other calls that need a window are answered 0");
  marlow::serve_notices(*wrapper, marlow::with_call_log(marlow::answer_without_window));
  std::fflush(nullptr);
  return 0;
}
