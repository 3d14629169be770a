// What the benchmark programs share: timing and percentiles, running the
// programs of this build, a private temporary directory per service, stopping
// a service and its stand-in, and the floor peer (a process that answers
// direct pipe round trips and does nothing else).
//
// Only the standard library and support/platform.h: the round-trip benchmark
// is built for Windows too and runs under Wine.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/pipe_names.h"
#include "support/platform.h"

namespace bench {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

inline double ms_since(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// ---------------------------------------------------------------------------
// Samples.

struct Samples {
  std::vector<double> ms;
  int failures = 0;

  // A negative value stands for a failed run.
  void add(double value) {
    if (value < 0) {
      ++failures;
    } else {
      ms.push_back(value);
    }
  }
};

// Linear interpolation between the closest ranks.
inline double percentile(std::vector<double> values, double p) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const double index = p * static_cast<double>(values.size() - 1);
  const auto low = static_cast<std::size_t>(index);
  const std::size_t high = std::min(low + 1, values.size() - 1);
  return values[low] + (values[high] - values[low]) * (index - static_cast<double>(low));
}

inline double median(const Samples& samples) { return percentile(samples.ms, 0.5); }

inline double max_of(const Samples& samples) {
  return samples.ms.empty() ? 0 : *std::max_element(samples.ms.begin(), samples.ms.end());
}

// One Markdown row: case, runs, median, p10, p90, max, failures.
inline void print_row(const std::string& what, const Samples& samples) {
  if (samples.ms.empty()) {
    std::printf("| %s | 0 | - | - | - | - | %d |\n", what.c_str(), samples.failures);
    return;
  }
  std::printf("| %s | %zu | %.2f | %.2f | %.2f | %.2f | %d |\n", what.c_str(), samples.ms.size(),
              median(samples), percentile(samples.ms, 0.1), percentile(samples.ms, 0.9),
              max_of(samples), samples.failures);
}

inline void print_row_header() {
  std::printf("| Case | Runs | Median ms | p10 ms | p90 ms | Max ms | Failed |\n");
  std::printf("|---|---:|---:|---:|---:|---:|---:|\n");
}

// ---------------------------------------------------------------------------
// Files and programs.

inline std::string read_text(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void write_text(const fs::path& path, const std::string& content) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

// The installation tree of this build: the benchmarks live in <build>/bench,
// the programs in <build>/root/{bin,Brightdesk}.
inline fs::path build_root() {
  return fs::path(platform::executable_path()).parent_path().parent_path() / "root";
}

inline std::string program(const fs::path& root, const std::string& dir, const std::string& name) {
  return (root / dir / (name + platform::kExeSuffix)).string();
}

// Runs `invocation` to its end: the time in milliseconds, or -1 when it could not
// start or ended with another status than `expected_status`.
inline double timed_run(const platform::ProcessSpec& invocation, int expected_status) {
  const Clock::time_point start = Clock::now();
  platform::Process process;
  if (!platform::start_process(invocation, &process)) return -1;
  const int status = process.wait();
  const double ms = ms_since(start);
  return status == expected_status ? ms : -1;
}

// Runs `one` `total` times from `concurrency` threads, each taking the next
// run as soon as its last one ends. Returns the wall time in milliseconds;
// `*failures` counts the runs for which `one` returned false.
inline double time_concurrently(int total, int concurrency, const std::function<bool()>& one,
                                int* failures) {
  std::atomic<int> next{0};
  std::atomic<int> failed{0};
  const Clock::time_point start = Clock::now();
  std::vector<std::thread> workers;
  for (int i = 0; i < concurrency; ++i) {
    workers.emplace_back([&] {
      while (next.fetch_add(1) < total) {
        if (!one()) failed.fetch_add(1);
      }
    });
  }
  for (std::thread& worker : workers) worker.join();
  *failures = failed.load();
  return ms_since(start);
}

// Runs `total` copies of `invocation`, `concurrency` at a time; the wall time
// in ms. `*failures` counts the runs that did not end with `expected_status`.
inline double run_concurrently(const platform::ProcessSpec& invocation, int expected_status,
                               int total, int concurrency, int* failures) {
  return time_concurrently(
      total, concurrency, [&] { return timed_run(invocation, expected_status) >= 0; }, failures);
}

// ---------------------------------------------------------------------------
// A private service per temporary directory: the client and the service put
// their work directory, pipes and pid file below the user's temporary
// directory, which the environment names.

inline void use_temp_dir(const fs::path& dir) {
  // Valid names and values: setting them fails only without memory.
  static_cast<void>(platform::set_env("TMPDIR", dir.string()));
  static_cast<void>(platform::set_env("TMP", dir.string()));
  static_cast<void>(platform::set_env("TEMP", dir.string()));
}

// A private directory for one benchmark run, named `prefix` and this
// process's id, below the user's temporary directory: the contributors a.txt
// and b.txt, and tmp/, which becomes the temporary directory of every
// program started from now on (so a service of its own). The stand-in
// answers every request at once.
inline fs::path make_sandbox(const std::string& prefix) {
  const fs::path base =
      fs::path(platform::temp_dir()) / (prefix + std::to_string(platform::current_pid()));
  std::error_code ec;
  fs::remove_all(base, ec);
  fs::create_directories(base / "tmp");
  write_text(base / "a.txt", "one\n");
  write_text(base / "b.txt", "two\n");
  // Valid names and values: setting them fails only without memory.
  static_cast<void>(platform::set_env("MARLOW_STANDIN_MODE", "ok"));
  use_temp_dir(base / "tmp");
  return base;
}

inline fs::path work_dir_in(const fs::path& temp) {
  return temp / (platform::login_name() + ".tarnwick");
}

inline std::string request_pipe_in(const fs::path& temp) {
  return support::pipe_base_name_for(platform::kWindows, work_dir_in(temp).string()) +
         support::kRequestPipePart + platform::login_name();
}

inline std::uint32_t service_pid(const fs::path& work_dir) {
  const std::string text = read_text(work_dir / "hollin_service.pid");
  return text.empty() ? 0 : static_cast<std::uint32_t>(std::strtoul(text.c_str(), nullptr, 10));
}

// Linux: the processes whose parent is `pid`, from /proc/<id>/stat. Empty
// elsewhere.
inline std::vector<std::uint32_t> children_of(std::uint32_t pid) {
  std::vector<std::uint32_t> children;
  if constexpr (!platform::kWindows) {
    std::error_code ec;
    for (fs::directory_iterator it("/proc", ec), end; !ec && it != end; it.increment(ec)) {
      const std::string name = it->path().filename().string();
      if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
      const std::string stat = read_text(it->path() / "stat");
      // "pid (comm) state ppid ...": the name may hold blanks and parentheses.
      const std::size_t close = stat.rfind(')');
      if (close == std::string::npos) continue;
      std::istringstream rest(stat.substr(close + 1));
      std::string state;
      std::uint32_t parent = 0;
      if (rest >> state >> parent && parent == pid) {
        children.push_back(static_cast<std::uint32_t>(std::strtoul(name.c_str(), nullptr, 10)));
      }
    }
  }
  return children;
}

// Waits until the process is gone (its image can no longer be read).
inline void wait_gone(std::uint32_t pid) {
  for (int i = 0; i < 5000 && platform::process_image_path(pid).ok(); ++i) {
    platform::sleep_ms(1);
  }
}

// Ends the service whose pid file is in `work_dir`, and its stand-in: on
// Linux the service's children, elsewhere the stand-ins that recorded their
// ids in `record_dir` (empty when nothing was recorded).
inline void stop_service(const fs::path& work_dir, const fs::path& record_dir) {
  std::vector<std::uint32_t> pids;
  const std::uint32_t service = service_pid(work_dir);
  if (service != 0) {
    pids.push_back(service);
    for (const std::uint32_t child : children_of(service)) pids.push_back(child);
  }
  if (!record_dir.empty()) {
    std::error_code ec;
    for (fs::directory_iterator it(record_dir, ec), end; !ec && it != end; it.increment(ec)) {
      const std::string name = it->path().filename().string();
      if (name.rfind("marlow-", 0) == 0) {
        pids.push_back(
            static_cast<std::uint32_t>(std::strtoul(read_text(it->path()).c_str(), nullptr, 10)));
      }
    }
  }
  // One that has ended meanwhile cannot be killed, which is as good.
  for (const std::uint32_t pid : pids) static_cast<void>(platform::kill_process(pid));
  for (const std::uint32_t pid : pids) wait_gone(pid);
}

// ---------------------------------------------------------------------------
// Requests and round trips on the request pipe.

// What the stand-in answers, so that the floor peer's reply is the same size.
inline const std::string& ok_reply() {
  static const std::string reply = [] {
    const std::string body =
        "<?xml version=\"1.0\"?><methodResponse><params><param><value><boolean>1</boolean>"
        "</value></param></params></methodResponse>";
    return "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\n\r\n" + body;
  }();
  return reply;
}

// A compare call of two contributors in the client's format, `size` bytes
// long (at least the size of the call without padding): the first display
// name is padded with 'x'.
inline std::string request_of_size(std::size_t size) {
  const std::string head =
      "<methodCall><methodName>RequestHandler.Compare</methodName><params><param><value><array>"
      "<data><value><string>";
  const std::string tail =
      "</string></value></data><data><value><string>b.txt</string></value></data></array>"
      "</value></param><param><value><array><data><value><string>/w/a.txt</string></value>"
      "</data><data><value><string>/w/b.txt</string></value></data></array></value></param>"
      "<param><value><string></string></value></param></params></methodCall>";
  const std::size_t fixed = head.size() + tail.size() + 5;  // "a.txt" at least
  std::string request = head + "a.txt";
  if (size > fixed) request.append(size - fixed, 'x');
  return request + tail;
}

// One exchange as the client makes it: wait for the pipe, open it, write the
// request as one message, read up to 1023 bytes of reply. True when the
// reply reports success.
inline bool pipe_round_trip(const std::string& name, const std::string& request) {
  std::unique_ptr<platform::ClientPipe> pipe;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const platform::OpenStatus status =
        platform::open_client_pipe(name, platform::PipeAccess::read_write, false, &pipe).kind;
    if (status == platform::OpenStatus::opened) break;
    pipe.reset();
    if (status == platform::OpenStatus::failed) return false;
    if (!platform::wait_named_pipe(name, 10000)) platform::sleep_ms(1);
  }
  if (!pipe || !pipe->write(request.data(), request.size())) return false;
  char buffer[1024] = {};
  std::size_t bytes = 0;
  if (!pipe->read(buffer, sizeof buffer - 1, &bytes)) return false;
  return std::string(buffer, bytes).find("<boolean>1") != std::string::npos;
}

// Times `runs` round trips of `request`; each one a connection of its own.
inline Samples time_round_trips(const std::string& name, const std::string& request, int runs) {
  Samples samples;
  for (int i = 0; i < runs; ++i) {
    const Clock::time_point start = Clock::now();
    const bool ok = pipe_round_trip(name, request);
    samples.add(ok ? ms_since(start) : -1);
  }
  return samples;
}

// Runs `total` round trips from `concurrency` threads; the wall time in ms.
inline double round_trips_concurrently(const std::string& name, const std::string& request,
                                       int total, int concurrency, int* failures) {
  return time_concurrently(
      total, concurrency, [&] { return pipe_round_trip(name, request); }, failures);
}

// The relay of large requests, as a Markdown table: a benchmark client
// writes each request straight to `service_pipe` (as tarnwick does) and reads
// the reply; beside it the same request goes to the floor peer at
// `floor_pipe`, which reads it whole and answers. `runs` rounds, each sending
// every size once both ways, so that a change of load touches every size
// alike. The last column is the ratio of the two costs per MB above the small
// call. False when a round trip failed.
inline bool relay_table(const std::string& service_pipe, const std::string& floor_pipe,
                        const std::string& keeping_floor_pipe, const std::string& chain_floor_pipe,
                        int runs, const std::vector<std::size_t>& large_sizes) {
  const std::string small = request_of_size(0);
  std::printf(
      "A benchmark client writes the request straight to the service's request pipe "
      "(platform::open_client_pipe), as tarnwick does, and reads the reply (a tarnwick "
      "command line cannot carry megabytes). %d rounds; each sends every size once "
      "through the service and once to the floor peer, which reads it whole and "
      "answers. The relay carries each request twice (client to service, service to "
      "stand-in), so 2 is the ratio of a relay that adds nothing to the pipe's own "
      "work. The floor peer reads into one small buffer, used again for every read; "
      "the columns \"keeping floor\" come from a second peer that keeps the request whole "
      "in memory, in a buffer that grows as it arrives, as the service and the graphical "
      "client must, and the columns \"two-hop floor\" from a third that keeps each request "
      "and hands it on whole to the second, as the relay does with nothing of its own.\n\n",
      runs);
  std::printf(
      "| Request | Median ms | p10 ms | p90 ms | ms/MB | ms/MB above the small call | "
      "Failed | floor: median ms | floor: ms/MB above the small call | ratio to the floor | "
      "keeping floor: ms/MB above the small call | ratio to it | "
      "two-hop floor: ms/MB above the small call | ratio to it |\n");
  std::printf("|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
  std::vector<std::pair<std::string, std::string>> requests;
  requests.emplace_back(std::to_string(small.size()) + " B (a small call)", small);
  for (const std::size_t size : large_sizes) {
    const std::string label = size >= (1u << 20) ? std::to_string(size >> 20) + " MB"
                                                 : std::to_string(size >> 10) + " KB";
    requests.emplace_back(label, request_of_size(size));
  }
  std::vector<Samples> relay(requests.size());
  std::vector<Samples> floor(requests.size());
  std::vector<Samples> keeping(requests.size());
  std::vector<Samples> chain(requests.size());
  for (const auto& request : requests) pipe_round_trip(service_pipe, request.second);
  for (int round = 0; round < runs; ++round) {
    for (std::size_t i = 0; i < requests.size(); ++i) {
      Clock::time_point start = Clock::now();
      relay[i].add(pipe_round_trip(service_pipe, requests[i].second) ? ms_since(start) : -1);
      start = Clock::now();
      floor[i].add(pipe_round_trip(floor_pipe, requests[i].second) ? ms_since(start) : -1);
      start = Clock::now();
      keeping[i].add(pipe_round_trip(keeping_floor_pipe, requests[i].second) ? ms_since(start)
                                                                             : -1);
      start = Clock::now();
      chain[i].add(pipe_round_trip(chain_floor_pipe, requests[i].second) ? ms_since(start) : -1);
    }
  }
  // The small call's medians are the fixed cost that the larger sizes are
  // measured above: a constant ms/MB above it shows linear growth.
  const double small_relay = median(relay[0]);
  const double small_floor = median(floor[0]);
  const double small_keeping = median(keeping[0]);
  const double small_chain = median(chain[0]);
  bool ok = true;
  for (std::size_t i = 0; i < requests.size(); ++i) {
    const double relay_ms = median(relay[i]);
    const double floor_ms = median(floor[i]);
    const char* label = requests[i].first.c_str();
    const double p10 = percentile(relay[i].ms, 0.1);
    const double p90 = percentile(relay[i].ms, 0.9);
    if (i == 0) {
      std::printf("| %s | %.2f | %.2f | %.2f | - | - | %d | %.2f | - | - | - | - | - | - |\n",
                  label, relay_ms, p10, p90, relay[i].failures, floor_ms);
    } else {
      const std::size_t bytes = requests[i].second.size();
      const double mb = static_cast<double>(bytes) / (1 << 20);
      const double extra_mb = static_cast<double>(bytes - small.size()) / (1 << 20);
      const double above = (relay_ms - small_relay) / extra_mb;
      const double floor_above = (floor_ms - small_floor) / extra_mb;
      const double keeping_above = (median(keeping[i]) - small_keeping) / extra_mb;
      const double chain_above = (median(chain[i]) - small_chain) / extra_mb;
      std::printf(
          "| %s | %.2f | %.2f | %.2f | %.2f | %.2f | %d | %.2f | %.2f | %.1f | %.2f | %.1f | %.2f "
          "| %.1f |\n",
          label, relay_ms, p10, p90, relay_ms / mb, above, relay[i].failures, floor_ms, floor_above,
          floor_above > 0 ? above / floor_above : 0.0, keeping_above,
          keeping_above > 0 ? above / keeping_above : 0.0, chain_above,
          chain_above > 0 ? above / chain_above : 0.0);
    }
    ok = ok && relay[i].failures == 0 && floor[i].failures == 0 && keeping[i].failures == 0 &&
         chain[i].failures == 0;
  }
  std::fflush(stdout);
  return ok;
}

// ---------------------------------------------------------------------------
// The floor peer: a second process that serves a request pipe of its own the
// way the service serves its clients (one connection per request, the whole
// request read, a reply of the stand-in's size written), without relaying.

inline constexpr const char* kEchoOption = "--floor-peer";
// The same peer keeping each request whole in memory, in a buffer of its own
// that grows as the request arrives, as any receiver of a whole message
// must (the service does, to frame it; so does the graphical client).
inline constexpr const char* kKeepingEchoOption = "--keeping-floor-peer";
// A keeping peer that hands each request on whole to another keeping peer,
// waits for its answer and then answers: the relay's two hops with nothing
// of the relay's own.
inline constexpr const char* kForwardingEchoOption = "--forwarding-floor-peer";

enum class PeerKind { discarding, keeping, forwarding };

// The peer's pipe name: beside the other files of the run on POSIX (a
// filesystem path), a name of its own on Windows.
inline std::string echo_pipe_name(const fs::path& base, PeerKind peer) {
  const std::string kind = peer == PeerKind::discarding ? "floor"
                           : peer == PeerKind::keeping  ? "floor_keeping"
                                                        : "floor_forwarding";
  if constexpr (platform::kWindows) {
    return "\\\\.\\pipe\\tarnwick_bench_" + kind + "_" + std::to_string(platform::current_pid());
  } else {
    return (base / (kind + ".sock")).string();
  }
}

// One request read whole.
struct KeptRequest {
  struct Free {
    void operator()(char* bytes) const { std::free(bytes); }
  };
  std::unique_ptr<char, Free> bytes;
  std::size_t size = 0;
};

// Reads one request whole into a buffer that doubles as it fills, from 64 KB.
inline KeptRequest read_and_keep(platform::ServerPipe& pipe) {
  KeptRequest kept;
  std::size_t capacity = std::size_t{64} << 10;
  kept.bytes.reset(static_cast<char*>(std::malloc(capacity)));
  while (kept.bytes) {
    if (kept.size == capacity) {
      char* larger = static_cast<char*>(std::realloc(kept.bytes.get(), capacity * 2));
      if (larger == nullptr) break;
      (void)kept.bytes.release();
      kept.bytes.reset(larger);
      capacity *= 2;
    }
    const platform::ReadResult got = pipe.read(kept.bytes.get() + kept.size, capacity - kept.size);
    kept.size += std::min(got.bytes, capacity - kept.size);
    if (got.status != platform::ReadStatus::more_data) break;
  }
  return kept;
}

// Hands `kept` on whole to the peer at `next` and waits for its answer.
inline void forward(const KeptRequest& kept, const std::string& next) {
  std::unique_ptr<platform::ClientPipe> out;
  if (platform::open_client_pipe(next, platform::PipeAccess::read_write, false, &out).kind !=
          platform::OpenStatus::opened ||
      !out->write(kept.bytes ? kept.bytes.get() : "", kept.size)) {
    return;
  }
  char reply[1024];
  std::size_t bytes = 0;
  // The answer only has to have come: the client counts a failed trip by
  // its own reply.
  static_cast<void>(out->read(reply, sizeof reply, &bytes));
}

// The peer's main loop; it runs until it is killed.
inline int serve_echo(const std::string& name, PeerKind peer, const std::string& hand_on_to) {
  platform::PipeParams params;
  params.direction = platform::PipeDirection::duplex;
  params.max_instances = 255;
  const platform::PipeSecurity* security = platform::owner_pipe_security(0x1F01FF, true);
  std::unique_ptr<platform::ServerPipe> next =
      platform::create_server_pipe(name, params, security).value();
  std::vector<char> buffer(65536);
  while (next) {
    std::unique_ptr<platform::ServerPipe> pipe = std::move(next);
    const platform::ConnectResult connected = pipe->connect();
    next = platform::create_server_pipe(name, params, security).value();
    // Only a peer that came is served; every other result (failed, lost,
    // out of descriptors, idle) leaves nobody to answer.
    if (connected != platform::ConnectResult::connected &&
        connected != platform::ConnectResult::already_connected)
      continue;
    if (peer == PeerKind::forwarding) {
      forward(read_and_keep(*pipe), hand_on_to);
    } else if (peer == PeerKind::keeping) {
      static_cast<void>(read_and_keep(*pipe));
    } else {
      for (;;) {
        const platform::ReadResult got = pipe->read(buffer.data(), buffer.size());
        if (got.status != platform::ReadStatus::more_data) break;
      }
    }
    // A client that has gone is the client's failure to count.
    static_cast<void>(pipe->write(ok_reply().data(), ok_reply().size()));
    static_cast<void>(pipe->flush());
    pipe->disconnect();
  }
  return 1;
}

// Answers for this program when it was started as a floor peer: the
// peer's exit status, or -1 when it was not.
inline int serve_echo_if_asked(int argc, char** argv) {
  if (argc < 3) return -1;
  const std::string option = argv[1];
  if (option == kEchoOption && argc == 3) return serve_echo(argv[2], PeerKind::discarding, "");
  if (option == kKeepingEchoOption && argc == 3) return serve_echo(argv[2], PeerKind::keeping, "");
  if (option == kForwardingEchoOption && argc == 4) {
    return serve_echo(argv[2], PeerKind::forwarding, argv[3]);
  }
  return -1;
}

// Starts the floor peer (this program again, with kEchoOption) and ends it
// when destroyed.
class EchoPeer {
 public:
  // A forwarding peer hands each request on to the peer named `next`.
  explicit EchoPeer(const fs::path& base, PeerKind peer = PeerKind::discarding,
                    const std::string& next = "")
      : name_(echo_pipe_name(base, peer)) {
    platform::ProcessSpec invocation;
    invocation.program = platform::executable_path();
    if (peer == PeerKind::forwarding) {
      invocation.args = {kForwardingEchoOption, name_, next};
    } else {
      invocation.args = {peer == PeerKind::keeping ? kKeepingEchoOption : kEchoOption, name_};
    }
    invocation.null_stdio = true;
    if (!platform::start_process(invocation, &process_)) return;
    for (int i = 0; i < 5000; ++i) {
      if (platform::named_pipe_exists(name_)) {
        ready_ = true;
        break;
      }
      platform::sleep_ms(1);
    }
  }
  ~EchoPeer() {
    // Ended by force and reaped; neither outcome matters here.
    static_cast<void>(process_.kill());
    static_cast<void>(process_.wait());
  }
  EchoPeer(const EchoPeer&) = delete;
  EchoPeer& operator=(const EchoPeer&) = delete;

  bool ready() const { return ready_; }
  const std::string& name() const { return name_; }

 private:
  std::string name_;
  platform::Process process_;
  bool ready_ = false;
};

}  // namespace bench
