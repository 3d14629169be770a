// A sandbox for end-to-end runs of the real programs: a private temporary
// directory (so a work directory, log files, pid file and, on POSIX, socket
// paths of its own), a record directory for the marlow stand-in, and the
// clean-up of every process that the test started, directly or through the
// programs (clients, services, graphical clients), whatever happened.
//
// Waits are bounded: a client that does not end, a stand-in that does not
// connect or report fails the test within kWaitSeconds, never hangs it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "support/platform.h"
#include "tests/testlib/testlib.h"

namespace e2e {

inline constexpr const char* kWrapperPipeProperty =
    "-Dcom.orvane.tessel.team.client.integration.wrapperpipe=";

// The XML text of a value as the client sends it: & < > escaped.
std::string xml_escaped(const std::string& text);

// The XML-RPC call that the client builds: RequestHandler.CompareMerge with
// `out_path` first when `merge`, else RequestHandler.Compare.
std::string expected_call(bool merge, const std::string& out_path,
                          const std::vector<std::string>& display_names,
                          const std::vector<std::string>& contributors,
                          const std::string& type_name);

// The framed request that the stand-in must receive for `call`.
std::string framed(const std::string& call);

// How long a test waits for anything a run does (a client's end, an event
// of the stand-in, a service's end) before it fails: ample on a busy machine
// and under Wine, well inside the per-test limit.
inline constexpr int kWaitSeconds = 60;

class Sandbox {
 public:
  // Windows: every service of the user shares the request pipe's name, so a
  // service that an earlier test left running (a test program that was
  // killed) would serve this test's clients; it is ended first.
  Sandbox();
  // Ends every process the test started, and waits until they have gone.
  ~Sandbox();
  Sandbox(const Sandbox&) = delete;
  Sandbox& operator=(const Sandbox&) = delete;

  const std::string& dir() const { return temp_.path(); }
  std::string file(const std::string& name) const { return temp_.file(name); }
  // The sandbox directory as a program that runs in it reads its current
  // directory (POSIX resolves symbolic links).
  std::string dir_as_cwd() const;
  // <dir><sep><login>.tarnwick
  std::string work_dir() const;
  std::string service_log() const;
  std::string client_log() const;
  // The pipe base name as client and service build it for this sandbox.
  std::string pipe_base() const;
  const std::string& record_dir() const { return record_; }

  // Writes a contributor file in the sandbox and returns its full path.
  std::string contributor(const std::string& name, const std::string& content = "text\n");

  // Steers the stand-in for every notice from now on (a running one too).
  void set_mode(const std::string& mode);
  // The file that releases a stand-in in "slow" mode.
  void open_gate();

  // Runs tarnwick in the sandbox directory and waits for it.
  testlib::RunResult tarnwick(const std::vector<std::string>& args);
  // Starts tarnwick in the sandbox directory, output in files named after
  // `tag`; the caller waits (see wait). An invalid Process when it could not
  // be started; the test has then failed with the reason.
  platform::Process start_tarnwick(const std::vector<std::string>& args, const std::string& tag);
  // Waits for a process the test started, at most `seconds`, and returns its
  // status. If it has not ended by then, the test fails, the process is
  // ended, and kDidNotEnd is returned.
  static constexpr int kDidNotEnd = -1000;
  static int wait(platform::Process& process, const std::string& what, int seconds = kWaitSeconds);
  // Waits until process `pid` has ended (any process; on the process itself,
  // not by polling), at most `seconds`. True when it has.
  static bool wait_for_exit(std::uint32_t pid, int seconds = kWaitSeconds);
  // Starts hollin_service by hand with `args` (standard output in the file
  // service.out) and returns once its pid file names it.
  platform::Process start_service(const std::vector<std::string>& args);
  // Returns the first line that the service started by hand wrote on its
  // standard output, waiting for it.
  std::string service_stdout_line();

  // The id in the pid file, 0 when there is none.
  std::uint32_t service_pid() const;
  // True when `pid` runs this build's hollin_service.
  static bool is_service(std::uint32_t pid);
  // POSIX: every live process of this build's `program` whose temporary
  // directory is this sandbox (read from /proc), so that a service still
  // starting up is found too. Empty on Windows.
  std::vector<std::uint32_t> processes_of_sandbox(const std::string& program) const;
  // Polls until at most `count` services of this sandbox are alive (POSIX);
  // true when that happened in time.
  bool wait_for_services_at_most(std::size_t count) const;
  // The stand-ins started so far, from their pid files.
  std::vector<std::uint32_t> marlow_pids() const;
  // The contents of the record files whose names begin with `prefix`, in the
  // order the stand-ins wrote them (by process, then by number).
  std::vector<std::string> recorded(const std::string& prefix) const;

  // Ends every process the test started so far (clients, services,
  // stand-ins, whoever started them), and waits until they are gone.
  void stop_all();

 private:
  void note_service();
  // Windows: ends every service and stand-in of this build that runs in the
  // prefix; true when the request pipe is then free.
  bool end_strays();

  testlib::TempDir temp_;
  testlib::ScopedTempDirEnv temp_env_;
  std::string record_;
  testlib::ScopedEnv record_env_;
  testlib::ScopedEnv mode_env_;
  testlib::ScopedEnv gate_env_;
  std::vector<std::uint32_t> services_;
};

// A pipe on which the stand-in reports what it does ("connected <pid>",
// "request <n>", "replied <n>"), so that a test can wait for those moments.
// Create it before the run that starts the stand-in.
class EventPipe {
 public:
  explicit EventPipe(const Sandbox& sandbox);
  EventPipe(const EventPipe&) = delete;
  EventPipe& operator=(const EventPipe&) = delete;

  bool created() const { return pipe_ != nullptr; }
  // Blocks until the stand-in has connected; false (and the test fails)
  // when it has not within `seconds`.
  bool accept(int seconds = kWaitSeconds);
  // Blocks until a line that begins with `prefix` arrives and returns it;
  // empty text when the stand-in went away first. When none has come
  // within `seconds`, the test fails and the sandbox's stand-ins are ended.
  std::string wait_for(const std::string& prefix, int seconds = kWaitSeconds);

 private:
  std::string next_line();

  const Sandbox& sandbox_;
  std::string name_;
  std::unique_ptr<platform::ServerPipe> pipe_;
  std::unique_ptr<testlib::ScopedEnv> env_;
};

}  // namespace e2e
