// marlow stand-in: a graphical client that keeps the service's contract and
// nothing more, so that everything can run end to end.
//
// Contract with hollin_service:
// - It is started with the fixed options of the real graphical client and
//   the property -Dcom.orvane.tessel.team.client.integration.wrapperpipe=<name>
//   (surrounding double quotes are stripped where the platform left them).
// - It connects to that wrapper pipe for reading and stays connected. The
//   pipe carries notices "N1\nN2\n"; bytes are gathered and split at every
//   second line feed, since a read may return part of a notice or several.
// - Each notice is served on a thread of its own, so several requests can be
//   in flight: open N1 for reading and N2 for writing, read the framed request
//   ("POST /RPC2 HTTP/1.1\r\nContent-Length: n\r\n\r\n" and n body bytes),
//   then write the reply with one write.
// - It never writes on the wrapper pipe, and ends when that pipe fails (the
//   service has gone).
//
// Steering, through the environment it inherits from the service (and so
// from the client that started the service):
//   MARLOW_STANDIN_MODE    how to answer:
//     ok (default)    an HTTP-framed XML-RPC response with <boolean>1</boolean>
//     fail            the same with <boolean>0</boolean>
//     big             a 9,000-byte reply, the boolean 1 first
//     empty           close N2 without writing
//     slow            read the request, then wait (polling every 10 ms) until
//                     the file named by MARLOW_STANDIN_GATE exists; reply ok
//     response_first  open N2 before N1; reply ok
//     exit            end at once after connecting to the wrapper pipe
//     never           stay connected, but never open per-request pipes
//   MARLOW_STANDIN_RECORD  a directory that receives, each written whole
//     (written to a temporary name, then renamed):
//       marlow-<pid>.pid         its process id, at start
//       argv-<pid>.txt           its arguments, argv[0] first, one per line
//       cwd-<pid>.txt            its working directory
//       notice-<pid>-<n>.txt     the n-th notice as received
//       request-<pid>-<n>.txt    the n-th framed request as received
//     A file named "mode" in that directory, when present, overrides
//     MARLOW_STANDIN_MODE for every notice that arrives afterwards, so that
//     one running service can be steered through several kinds of reply.
//   MARLOW_STANDIN_EVENTS  the name of a pipe that a test serves; when set,
//     the stand-in connects to it first and reports, one line each,
//     "connected <pid>" after connecting to the wrapper pipe,
//     "request <n>" after reading a request and "replied <n>" after writing
//     its reply, so that a test can wait for these moments without polling.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/graphical_client.h"
#include "support/platform.h"

namespace {

namespace fs = std::filesystem;

std::string g_record_dir;
std::string g_default_mode;
std::string g_gate;
std::atomic<unsigned> g_temp_counter{0};

std::mutex g_events_mutex;
std::unique_ptr<platform::ClientPipe> g_events;

std::string pid_text() { return std::to_string(platform::current_pid()); }

void record(const std::string& name, const std::string& content) {
  if (g_record_dir.empty()) return;
  const fs::path dir(g_record_dir);
  const fs::path temp = dir / (".tmp-" + pid_text() + "-" + std::to_string(g_temp_counter++));
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out << content;
    if (!out) return;
  }
  std::error_code ec;
  fs::rename(temp, dir / name, ec);
}

void report_event(const std::string& line) {
  const std::lock_guard<std::mutex> lock(g_events_mutex);
  if (!g_events) return;
  const std::string text = line + "\n";
  // An event the test no longer reads is lost: the stand-in goes on.
  static_cast<void>(g_events->write(text.data(), text.size()));
}

std::string trim(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
    text.pop_back();
  }
  return text;
}

std::string current_mode() {
  if (!g_record_dir.empty()) {
    std::ifstream in(fs::path(g_record_dir) / "mode", std::ios::binary);
    if (in) {
      std::ostringstream text;
      text << in.rdbuf();
      const std::string mode = trim(text.str());
      if (!mode.empty()) return mode;
    }
  }
  return g_default_mode;
}

std::string http_reply(const std::string& body) {
  return "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\n\r\n" + body;
}

std::string boolean_body(char value) {
  return std::string("<?xml version=\"1.0\"?><methodResponse><params><param><value><boolean>") +
         value + "</boolean></value></param></params></methodResponse>";
}

std::string reply_for(const std::string& mode) {
  if (mode == "fail") return http_reply(boolean_body('0'));
  if (mode == "big") {
    constexpr std::size_t kTotal = 9000;
    // The length line has four digits for any body near this size.
    const std::size_t header = http_reply(std::string(1000, ' ')).size() - 1000;
    std::string body = boolean_body('1') + "<!--";
    body.append(kTotal - header - body.size() - 3, 'x');
    body += "-->";
    return http_reply(body);
  }
  return http_reply(boolean_body('1'));
}

void serve(std::string request_name, std::string response_name, unsigned number, std::string mode) {
  const std::string suffix = pid_text() + "-" + std::to_string(number) + ".txt";
  std::unique_ptr<platform::ClientPipe> in;
  std::unique_ptr<platform::ClientPipe> out;
  if (mode == "response_first") {
    out = support::open_request_pipe(response_name, platform::PipeAccess::write);
    in = support::open_request_pipe(request_name, platform::PipeAccess::read);
  } else {
    in = support::open_request_pipe(request_name, platform::PipeAccess::read);
    out = support::open_request_pipe(response_name, platform::PipeAccess::write);
  }
  if (!in || !out) return;
  const std::string request = support::read_framed_request(*in);
  record("request-" + suffix, request);
  report_event("request " + std::to_string(number));
  if (mode == "empty") return;  // N2 closes without a word
  if (mode == "slow") {
    std::error_code ec;
    while (!fs::exists(g_gate, ec)) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  const std::string reply = reply_for(mode);
  // A reply the service no longer takes is its to report.
  static_cast<void>(out->write(reply.data(), reply.size()));
  report_event("replied " + std::to_string(number));
}

void record_start(int argc, char** argv) {
  record("marlow-" + pid_text() + ".pid", pid_text());
  std::string args;
  for (int i = 0; i < argc; ++i) args += std::string(argv[i]) + "\n";
  record("argv-" + pid_text() + ".txt", args);
  record("cwd-" + pid_text() + ".txt", platform::current_dir());
}

}  // namespace

int main(int argc, char** argv) {
  g_record_dir = platform::get_env("MARLOW_STANDIN_RECORD");
  g_default_mode = platform::get_env("MARLOW_STANDIN_MODE");
  if (g_default_mode.empty()) g_default_mode = "ok";
  g_gate = platform::get_env("MARLOW_STANDIN_GATE");
  record_start(argc, argv);

  const std::string events = platform::get_env("MARLOW_STANDIN_EVENTS");
  if (!events.empty()) {
    std::unique_ptr<platform::ClientPipe> pipe;
    if (platform::open_client_pipe(events, platform::PipeAccess::write, true, &pipe).kind ==
        platform::OpenStatus::opened) {
      g_events = std::move(pipe);
    }
  }

  const std::string name = support::wrapper_pipe_name(argc, argv);
  const std::unique_ptr<platform::ClientPipe> wrapper = support::connect_wrapper_pipe(name);
  if (!wrapper) return 1;
  report_event("connected " + pid_text());
  const std::string start_mode = current_mode();
  if (start_mode == "exit") platform::exit_now(0);

  support::NoticeSplitter notices;
  unsigned number = 0;
  char buffer[4096];
  for (;;) {
    std::size_t got = 0;
    if (!wrapper->read(buffer, sizeof buffer, &got) || got == 0) break;
    notices.feed(buffer, got);
    while (auto names = notices.next()) {
      ++number;
      record("notice-" + pid_text() + "-" + std::to_string(number) + ".txt",
             names->first + "\n" + names->second + "\n");
      if (start_mode == "never") continue;
      std::thread(serve, std::move(names->first), std::move(names->second), number, current_mode())
          .detach();
    }
  }
  // The service has gone: so has the reason to run.
  std::fflush(nullptr);
  platform::exit_now(0);
}
