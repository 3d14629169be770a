// Fault tests drive the graphical client's side by hand: the test itself
// connects to a debug-mode service's wrapper pipe, reads each notice and
// decides whether, when and how to serve it. Every wait here is a blocking
// pipe operation, so a test never sleeps to find out what the service did.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "support/graphical_client.h"
#include "support/platform.h"
#include "tests/e2e/fixture.h"

namespace faults {

struct Notice {
  std::string request_pipe;   // the service writes the framed request here
  std::string response_pipe;  // the reply goes here
};

class HandGui {
 public:
  // Connects to the wrapper pipe `name` for reading.
  bool connect(const std::string& name);
  // Blocks until the next whole notice has arrived; false when the wrapper
  // pipe ended first.
  bool next_notice(Notice* notice);
  // Serves one notice: opens its request pipe for reading and its response
  // pipe for writing, reads the framed request into `*framed`, and writes
  // `reply` as one message (an empty `reply` closes the response pipe
  // without a word). False when a pipe cannot be opened.
  static bool serve(const Notice& notice, const std::string& reply, std::string* framed);
  // Drops the wrapper pipe, as a graphical client that ends would.
  void disconnect() { wrapper_.reset(); }

 private:
  std::unique_ptr<platform::ClientPipe> wrapper_;
  support::NoticeSplitter notices_;
};

// An HTTP-framed XML-RPC response whose first boolean is `value`.
std::string reply_with_boolean(char value);

// POSIX: the number of open descriptors and of threads of process `pid`,
// read from /proc; -1 when it cannot be read (and on Windows).
int open_descriptors(std::uint32_t pid);
int threads(std::uint32_t pid);

// POSIX: the names of the socket files in `dir`.
std::vector<std::string> socket_files(const std::string& dir);

// Polls `ready` every few milliseconds for at most `seconds`. Only for what
// offers nothing to block on: the descriptors and threads of a process that
// is not ours settle when its worker threads have cleaned up.
template <typename Ready>
bool settle(Ready ready, int seconds = 20) {
  for (int waited_ms = 0; !ready(); waited_ms += 5) {
    if (waited_ms >= seconds * 1000) return false;
    platform::sleep_ms(5);
  }
  return true;
}

// A debug-mode service started by hand in a sandbox, with the test as its
// graphical client. The first request, made by a real tarnwick, has been
// served when set-up returns, so the request pipe exists and the service's
// resting descriptor and thread counts are known.
class HandServed {
 public:
  explicit HandServed(e2e::Sandbox& box);
  ~HandServed();
  HandServed(const HandServed&) = delete;
  HandServed& operator=(const HandServed&) = delete;

  // Empty when set-up succeeded, else what went wrong.
  const std::string& setup_error() const { return error_; }
  platform::Process& service() { return service_; }
  HandGui& gui() { return gui_; }
  const std::string& request_pipe() const { return request_pipe_; }
  // Contributors a.txt and b.txt of the sandbox, and the call they make.
  std::vector<std::string> args() const { return {a_, b_}; }
  std::string call() const;

  // Serves the next notice with a boolean-1 reply; the framed request it
  // carried goes to `*framed`.
  bool serve_next(std::string* framed);
  // POSIX: waits until the service is back at its resting descriptor and
  // thread counts, and its work directory holds no socket but the request
  // pipe's. Empty text when so, else what differs. Always empty on Windows.
  std::string back_at_rest();

 private:
  e2e::Sandbox& box_;
  platform::Process service_;
  HandGui gui_;
  std::string error_;
  std::string request_pipe_;
  std::string a_;
  std::string b_;
  int rest_fds_ = -1;
  int rest_threads_ = -1;
};

}  // namespace faults
