// Runs of the whole chain with the real graphical client: tarnwick (or
// tarnwickutf8, or git) from <build>/gui-root/bin starts hollin_service from
// cold, which starts <build>/gui-root/Brightdesk/marlow. The windows are
// driven by marlow's MARLOW_SCRIPT hook and report through MARLOW_SCRIPT_LOG.
#pragma once

#include <string>
#include <vector>

#include "tests/testlib/testlib.h"

namespace chain {

// <build>/gui-root and the programs in it.
std::string gui_root();
std::string gui_bin(const std::string& name);
std::string gui_marlow();

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
  // Every line of the script log (MARLOW_SCRIPT_LOG) so far. marlow writes
  // a window's line before its reply goes out, so once the program that
  // asked has ended, the line is there.
  std::vector<std::string> log;
};

// A private TMPDIR (so a work directory, pid file and sockets of its own),
// HOME and git configuration, the offscreen platform (or no display at all),
// and at the end every service and marlow the runs started, ended and
// waited for.
class Sandbox {
 public:
  enum class Display { offscreen, none };
  explicit Sandbox(Display display = Display::offscreen);
  ~Sandbox();
  Sandbox(const Sandbox&) = delete;
  Sandbox& operator=(const Sandbox&) = delete;

  const std::string& dir() const { return temp_.path(); }
  std::string file(const std::string& name) const { return temp_.file(name); }
  // Writes `bytes` to the file `name` in the sandbox and returns its path.
  std::string write(const std::string& name, const std::string& bytes) const;
  std::string read(const std::string& name) const;

  // The MARLOW_SCRIPT that marlow applies to each of its windows. marlow
  // takes its environment when the first run starts it: set it before.
  void script(const std::string& actions);

  // Runs `program` with `args` in `cwd` (the sandbox when empty) and waits
  // for it.
  Outcome run(const std::string& program, const std::vector<std::string>& args,
              const std::string& cwd = "");
  Outcome tarnwick(const std::vector<std::string>& args) { return run(gui_bin("tarnwick"), args); }

  // Ends the service of this sandbox and every process of its session
  // (marlow), and blocks until they have gone.
  void stop_all();

 private:
  testlib::TempDir temp_;
  testlib::ScopedTempDirEnv tmp_env_;
  testlib::ScopedEnv home_;
  testlib::ScopedEnv xdg_config_;
  testlib::ScopedEnv git_global_;
  testlib::ScopedEnv git_nosystem_;
  testlib::ScopedEnv qpa_;
  testlib::ScopedEnv display_;
  testlib::ScopedEnv wayland_;
  testlib::ScopedEnv automatic_;
  testlib::ScopedEnv no_windows_;
  testlib::ScopedEnv script_;
  testlib::ScopedEnv log_env_;
  unsigned runs_ = 0;
};

// UTF-16LE bytes of UTF-8 text (characters of the basic plane only).
std::string utf16le(const std::string& utf8);

}  // namespace chain
