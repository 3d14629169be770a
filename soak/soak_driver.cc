// Soak driver (POSIX): many tarnwick clients against one hollin_service and
// one marlow stand-in, in phases that each steer the stand-in to one kind of
// reply, with clients killed at random points in between. It checks that no
// request is lost (every client that was not killed ends with the status the
// stand-in's reply calls for, and every notice the service sent reached the
// stand-in) and that the service's descriptors, threads and resident memory
// come back to where they were after the warm-up.
//
// The service runs under a low open-file limit (set for the first client,
// which starts it and hands the limit on), so that a descriptor leak makes
// requests fail within a few dozen requests instead of going unnoticed. Both
// the soft and the hard limit are set: the service raises its soft limit
// towards the hard one at start.
//
// Usage: soak_driver [--requests N] [--concurrency C] [--fd-limit L]
//                    [--seed S] [--keep] [--only PHASE]
// Exit status 0 when every check held, 1 otherwise, 2 on bad usage.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <sstream>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "support/platform.h"
#include "tests/testlib/proc_usage.h"
#include "tests/testlib/processes.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kKilledStatus = 128 + 9;  // SIGKILL
constexpr int kFailedStatus = 255;      // tarnwick's -1
// At rest the service runs its accept loop, the thread that takes the
// termination signals and the thread that watches the graphical client;
// relay workers come and go with requests.
constexpr int kRestingThreads = 3;
// Resident memory may grow a little once (allocator arenas of the relay
// threads, pages touched by the first requests); more is a leak.
constexpr long kRssToleranceKb = 1024;

struct Options {
  int requests = 10000;
  int concurrency = 8;
  int fd_limit = 0;  // 0: 64, or more when the concurrency needs it
  unsigned seed = 0;
  bool keep = false;
  std::string only;  // run phases of this kind alone (to reproduce a fault)
};

bool parse_options(int argc, char** argv, Options* options) {
  options->seed = std::random_device{}();
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool has_value = i + 1 < argc;
    if (arg == "--keep") {
      options->keep = true;
    } else if (arg == "--requests" && has_value) {
      options->requests = std::atoi(argv[++i]);
    } else if (arg == "--concurrency" && has_value) {
      options->concurrency = std::atoi(argv[++i]);
    } else if (arg == "--fd-limit" && has_value) {
      options->fd_limit = std::atoi(argv[++i]);
    } else if (arg == "--only" && has_value) {
      options->only = argv[++i];
    } else if (arg == "--seed" && has_value) {
      options->seed = static_cast<unsigned>(std::strtoul(argv[++i], nullptr, 10));
    } else {
      return false;
    }
  }
  // Up to the concurrency (and one) of requests in the service, each with
  // three or four descriptors, and a few of its own.
  if (options->fd_limit == 0) options->fd_limit = std::max(64, 16 + 5 * options->concurrency);
  return options->requests >= 50 && options->concurrency >= 1 && options->concurrency <= 64 &&
         options->fd_limit >= 32;
}

std::string read_text(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void write_atomically(const fs::path& path, const std::string& content) {
  const fs::path temp = path.string() + ".tmp";
  std::ofstream(temp, std::ios::binary | std::ios::trunc) << content;
  std::error_code ec;
  fs::rename(temp, path, ec);
}

// ---------------------------------------------------------------------------
// What /proc tells about the service.

using Usage = testlib::ProcUsage;
using testlib::proc_usage;

std::string describe(const Usage& usage) {
  return "fds " + std::to_string(usage.fds) + ", threads " + std::to_string(usage.threads) +
         ", rss " + std::to_string(usage.rss_kib) + " kB";
}

long open_file_limit(std::uint32_t pid) {
  std::istringstream limits(read_text("/proc/" + std::to_string(pid) + "/limits"));
  for (std::string line; std::getline(limits, line);) {
    if (line.compare(0, 14, "Max open files") == 0) return std::atol(line.c_str() + 26);
  }
  return -1;
}

// Polls `ready` for at most `seconds`: the service and the stand-in are not
// our children, and their clean-up after a request offers nothing to wait on.
bool settle(const std::function<bool()>& ready, int seconds) {
  const auto deadline = Clock::now() + std::chrono::seconds(seconds);
  while (!ready()) {
    if (Clock::now() > deadline) return false;
    platform::sleep_ms(5);
  }
  return true;
}

// ---------------------------------------------------------------------------
// The stand-in's reports: "connected <pid>", "request <n>", "replied <n>".
// They are read all the time, since the stand-in blocks when they pile up.

class Events {
 public:
  struct Counts {
    long requests = 0;
    long replied = 0;
    long highest_notice = 0;
    std::uint32_t gui_pid = 0;
    bool gone = false;
  };

  bool create(const std::string& name) {
    platform::PipeParams params;
    params.direction = platform::PipeDirection::inbound;
    params.max_instances = 1;
    params.notice_stream = true;
    pipe_ = platform::create_server_pipe(name, params, nullptr).value();
    if (!pipe_) return false;
    reader_ = std::thread([this] { read_all(); });
    return true;
  }

  // The reader thread ends when the stand-in goes; the driver ends with
  // platform::exit_now, never waiting for it.
  ~Events() {
    if (reader_.joinable()) reader_.detach();
  }

  Counts counts() {
    const std::lock_guard<std::mutex> lock(mutex_);
    return counts_;
  }

  // Waits until `ready(counts)` holds or the stand-in has gone.
  bool wait_until(const std::function<bool(const Counts&)>& ready, int seconds) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(seconds), [&] {
      return ready(counts_) || counts_.gone;
    }) && ready(counts_);
  }

 private:
  void read_all() {
    if (pipe_->connect() == platform::ConnectResult::failed) return finish();
    std::string pending;
    char buffer[4096];
    for (;;) {
      const platform::ReadResult result = pipe_->read(buffer, sizeof buffer);
      if (result.status == platform::ReadStatus::failed || result.bytes == 0) return finish();
      pending.append(buffer, result.bytes);
      std::size_t end;
      while ((end = pending.find('\n')) != std::string::npos) {
        note(pending.substr(0, end));
        pending.erase(0, end + 1);
      }
    }
  }

  void note(const std::string& line) {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      const std::size_t blank = line.find(' ');
      const std::string word = line.substr(0, blank);
      const long number = blank == std::string::npos ? 0 : std::atol(line.c_str() + blank + 1);
      if (word == "connected") {
        counts_.gui_pid = static_cast<std::uint32_t>(number);
      } else if (word == "request") {
        ++counts_.requests;
        counts_.highest_notice = std::max(counts_.highest_notice, number);
      } else if (word == "replied") {
        ++counts_.replied;
      }
    }
    changed_.notify_all();
  }

  void finish() {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      counts_.gone = true;
    }
    changed_.notify_all();
  }

  std::unique_ptr<platform::ServerPipe> pipe_;
  std::thread reader_;
  std::mutex mutex_;
  std::condition_variable changed_;
  Counts counts_;
};

// ---------------------------------------------------------------------------
// The soak.

enum class Kind { ok, fail, empty, big, response_first, held_and_killed, killed_at_random };

struct KindInfo {
  const char* name;
  const char* mode;  // the stand-in's reply mode
  int status;        // what a client that is not killed ends with
};

KindInfo info(Kind kind) {
  switch (kind) {
    case Kind::ok:
      return {"ok", "ok", 0};
    case Kind::fail:
      return {"fail", "fail", kFailedStatus};
    case Kind::empty:
      return {"empty", "empty", kFailedStatus};
    case Kind::big:
      return {"big", "big", 0};
    case Kind::response_first:
      return {"response_first", "response_first", 0};
    case Kind::held_and_killed:
      return {"slow+killed", "slow", 0};
    case Kind::killed_at_random:
      return {"killed", "ok", 0};
  }
  return {"?", "ok", 0};
}

struct Tally {
  long requests = 0;
  long succeeded = 0;
  long failed = 0;
  long killed = 0;
  long mismatches = 0;
  double seconds = 0;
};

class Soak {
 public:
  explicit Soak(const Options& options) : options_(options), random_(options.seed) {}

  int run();

 private:
  bool set_up();
  void tear_down(bool passed);
  platform::Process start_client(bool with_limit) const;
  void set_mode(const std::string& mode) const { write_atomically(record_ / "mode", mode); }
  // Runs a phase of `count` requests of one kind.
  void run_phase(Kind kind, int count);
  // Runs `count` clients of one kind, `concurrency` at a time.
  void run_clients(Kind kind, int count, Tally* tally);
  void run_held_batch(int count, Tally* tally);
  // Records one client's end against what was expected of it.
  void judge(Kind kind, int status, bool killed, Tally* tally);
  // Every notice sent so far has reached the stand-in, and every request it
  // read was answered, apart from those it was told to leave empty.
  bool quiet(int seconds);
  bool fail(const std::string& what) {
    std::printf("soak: FAIL: %s\n", what.c_str());
    failed_ = true;
    return false;
  }

  Options options_;
  std::mt19937 random_;
  std::mutex random_mutex_;
  fs::path dir_;
  fs::path record_;
  fs::path gate_;
  std::string tarnwick_;
  std::vector<std::string> contributors_;
  Events events_;
  std::uint32_t service_ = 0;
  long empty_requests_ = 0;
  int done_ = 0;
  std::atomic<bool> failed_{false};
  std::map<std::string, Tally> tallies_;
  std::vector<std::string> order_;
};

bool Soak::set_up() {
  const fs::path exe = platform::executable_path();
  const fs::path root = exe.parent_path().parent_path() / "root";
  tarnwick_ = (root / "bin" / "tarnwick").string();
  if (!fs::exists(tarnwick_)) return fail("no tarnwick at " + tarnwick_);
  // A short path: socket names are limited to 107 bytes.
  dir_ = "/tmp/tws" + std::to_string(platform::current_pid());
  std::error_code ec;
  fs::remove_all(dir_, ec);
  if (!fs::create_directory(dir_, ec)) return fail("cannot create " + dir_.string());
  record_ = dir_ / "record";
  gate_ = dir_ / "gate";
  fs::create_directory(record_, ec);
  for (const char* name : {"a.txt", "b.txt"}) {
    std::ofstream(dir_ / name) << "text of " << name << "\n";
    contributors_.push_back((dir_ / name).string());
  }
  // The children (and through the first client the service and the
  // stand-in) take their settings from our environment.
  static_cast<void>(platform::set_env("TMPDIR", dir_.string()));
  static_cast<void>(platform::set_env("MARLOW_STANDIN_RECORD", record_.string()));
  static_cast<void>(platform::set_env("MARLOW_STANDIN_GATE", gate_.string()));
  static_cast<void>(platform::set_env("MARLOW_STANDIN_MODE", ""));
  const std::string events = (dir_ / "events").string();
  // Valid names and values: setting them fails only without memory.
  static_cast<void>(platform::set_env("MARLOW_STANDIN_EVENTS", events));
  if (!events_.create(events)) return fail("cannot create the report pipe " + events);
  set_mode("ok");
  return true;
}

platform::Process Soak::start_client(bool with_limit) const {
  platform::ProcessSpec invocation;
  if (with_limit) {
    // The first client starts the service, which inherits the limit.
    invocation.program = "/bin/sh";
    invocation.args = {"-c",
                       "ulimit -n " + std::to_string(options_.fd_limit) + " && exec \"$0\" \"$@\"",
                       tarnwick_};
  } else {
    invocation.program = tarnwick_;
  }
  invocation.args.insert(invocation.args.end(), contributors_.begin(), contributors_.end());
  invocation.working_dir = dir_.string();
  invocation.null_stdio = true;
  platform::Process process;
  // A client that could not start is an invalid process, which the caller counts.
  static_cast<void>(platform::start_process(invocation, &process));
  return process;
}

void Soak::judge(Kind kind, int status, bool killed, Tally* tally) {
  static std::mutex mutex;
  const std::lock_guard<std::mutex> lock(mutex);
  ++tally->requests;
  const int expected = info(kind).status;
  bool matches;
  if (killed && status == kKilledStatus) {
    ++tally->killed;
    matches = true;
  } else {
    // Not killed, or the kill came after the end: the reply decides.
    matches = status == expected;
    ++(status == 0 ? tally->succeeded : tally->failed);
  }
  if (!matches) {
    ++tally->mismatches;
    if (tally->mismatches <= 5) {
      std::printf("soak: %s client ended with %d, expected %d%s\n", info(kind).name, status,
                  expected, killed ? " or killed" : "");
    }
  }
}

void Soak::run_phase(Kind kind, int count) {
  const KindInfo kind_info = info(kind);
  Tally& tally = tallies_[kind_info.name];
  if (std::find(order_.begin(), order_.end(), kind_info.name) == order_.end()) {
    order_.push_back(kind_info.name);
  }
  const auto start = Clock::now();
  set_mode(kind_info.mode);
  if (kind == Kind::held_and_killed) {
    const int batch = std::min(options_.concurrency, 12);
    for (int done = 0; done < count; done += batch) {
      run_held_batch(std::min(batch, count - done), &tally);
    }
  } else if (kind == Kind::killed_at_random) {
    // A killed client does not wait for its request to be relayed, so on a
    // busy machine such requests could pile up in the service (a thread and
    // three or four descriptors each) until the open-file limit drops
    // requests. Each batch therefore ends with a client that is served:
    // connections are accepted in the order they came, so by then every
    // killed client's request has been handed to the stand-in, under this
    // phase's mode, and the batch is relayed before the next one starts.
    for (int left = count; left > 0 && !failed_;) {
      const int batch = std::min(options_.concurrency, left - 1);
      run_clients(kind, batch, &tally);
      platform::Process sentinel = start_client(false);
      judge(Kind::ok, sentinel.wait(), false, &tally);
      left -= batch + 1;
      if (!quiet(30)) fail("the stand-in did not catch up after killed clients");
    }
  } else {
    run_clients(kind, count, &tally);
    if (kind == Kind::empty) empty_requests_ += count;
  }
  if (!quiet(30))
    fail(std::string("the stand-in did not catch up after a ") + kind_info.name + " phase");
  tally.seconds += std::chrono::duration<double>(Clock::now() - start).count();
  done_ += count;
}

void Soak::run_clients(Kind kind, int count, Tally* tally) {
  std::atomic<int> next{0};
  std::vector<std::thread> workers;
  for (int w = 0; w < std::min(options_.concurrency, count); ++w) {
    workers.emplace_back([&] {
      while (next++ < count) {
        platform::Process client = start_client(false);
        if (!client.valid()) {
          fail("cannot start tarnwick");
          return;
        }
        bool killed = false;
        if (kind == Kind::killed_at_random) {
          // Anywhere from before the client has connected to after its
          // reply: a whole run takes a few milliseconds.
          unsigned delay_us;
          {
            const std::lock_guard<std::mutex> lock(random_mutex_);
            delay_us = std::uniform_int_distribution<unsigned>(0, 6000)(random_);
          }
          std::this_thread::sleep_for(std::chrono::microseconds(delay_us));
          killed = client.kill().ok();
        }
        judge(kind, client.wait(), killed, tally);
      }
    });
  }
  for (std::thread& worker : workers) worker.join();
}

void Soak::run_held_batch(int count, Tally* tally) {
  // The stand-in reads every request and holds its reply until the gate
  // opens; a third of the clients are killed while they wait for it.
  const long base = events_.counts().requests;
  std::vector<platform::Process> clients;
  for (int i = 0; i < count; ++i) {
    clients.push_back(start_client(false));
    if (!clients.back().valid()) {
      fail("cannot start tarnwick");
      return;
    }
  }
  if (!events_.wait_until([&](const Events::Counts& c) { return c.requests >= base + count; },
                          60)) {
    fail("held requests did not all reach the stand-in");
  }
  for (int i = 0; i < count; i += 3) {
    const bool killed = clients[i].kill().ok();
    judge(Kind::held_and_killed, clients[i].wait(), killed, tally);
  }
  std::ofstream(gate_) << "open\n";
  for (int i = 0; i < count; ++i) {
    if (i % 3 != 0) judge(Kind::held_and_killed, clients[i].wait(), false, tally);
  }
  if (!quiet(30)) fail("held replies did not all go out");
  std::error_code ec;
  fs::remove(gate_, ec);
}

bool Soak::quiet(int seconds) {
  return events_.wait_until(
      [&](const Events::Counts& c) {
        return c.requests == c.highest_notice && c.requests - c.replied == empty_requests_;
      },
      seconds);
}

void Soak::tear_down(bool passed) {
  // Every process the soak started, directly or through the clients (the
  // service, the stand-in, clients still running after a failure), ended by
  // id and waited for.
  const std::vector<std::string> ended = testlib::end_descendants(30, true);
  if (!passed) {
    for (const std::string& line : ended) std::printf("soak: ended %s\n", line.c_str());
  }
  if (passed && !options_.keep) {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  } else {
    std::printf("soak: the sandbox stays in %s\n", dir_.string().c_str());
  }
}

int Soak::run() {
  std::printf("soak: %d requests, concurrency %d, service open-file limit %d, seed %u\n",
              options_.requests, options_.concurrency, options_.fd_limit, options_.seed);
  const auto start = Clock::now();
  if (!set_up()) {
    tear_down(false);
    return 1;
  }

  // The first client starts the service under the low limit.
  {
    platform::Process first = start_client(true);
    const int status = first.wait();
    done_ = 1;
    if (status != 0) fail("the first client ended with " + std::to_string(status));
  }
  const std::string pid_text =
      read_text(dir_ / (platform::login_name() + ".tarnwick") / "hollin_service.pid");
  service_ = static_cast<std::uint32_t>(std::strtoul(pid_text.c_str(), nullptr, 10));
  if (service_ == 0 || failed_) {
    tear_down(false);
    return 1;
  }
  const long limit = open_file_limit(service_);
  if (limit != options_.fd_limit) {
    fail("the service's open-file limit is " + std::to_string(limit));
  }

  // Warm-up, then the resting state that everything must come back to.
  run_phase(Kind::ok, 4 * options_.concurrency);
  if (!settle([&] { return proc_usage(service_).threads == kRestingThreads; }, 20)) {
    fail("the service did not come to rest after the warm-up: " + describe(proc_usage(service_)));
  }
  const Usage before = proc_usage(service_);
  std::printf("soak: service %u at rest after %d requests: %s\n", service_, done_,
              describe(before).c_str());

  const std::vector<Kind> cycle = {Kind::ok,
                                   Kind::fail,
                                   Kind::empty,
                                   Kind::big,
                                   Kind::held_and_killed,
                                   Kind::response_first,
                                   Kind::killed_at_random};
  const int phase_size = std::max(20, std::min(250, options_.requests / 40));
  std::vector<Kind> chosen;
  for (const Kind kind : cycle) {
    if (options_.only.empty() || options_.only == info(kind).name) chosen.push_back(kind);
  }
  if (chosen.empty()) fail("no phase is called " + options_.only);
  for (std::size_t i = 0; !failed_ && done_ < options_.requests; ++i) {
    const Kind kind = chosen[i % chosen.size()];
    run_phase(kind, std::min(phase_size, options_.requests - done_));
  }

  if (!settle([&] { return proc_usage(service_).threads == kRestingThreads; }, 20)) {
    fail("the service's relay threads did not all end");
  }
  const Usage after = proc_usage(service_);
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();

  std::printf("\n%-16s %8s %8s %8s %8s %10s %8s\n", "phase", "requests", "status0", "status-1",
              "killed", "mismatches", "seconds");
  long total = 1;
  long mismatches = 0;
  for (const std::string& name : order_) {
    const Tally& t = tallies_[name];
    std::printf("%-16s %8ld %8ld %8ld %8ld %10ld %8.1f\n", name.c_str(), t.requests, t.succeeded,
                t.failed, t.killed, t.mismatches, t.seconds);
    total += t.requests;
    mismatches += t.mismatches;
  }
  const Events::Counts counts = events_.counts();
  std::printf("\nsoak: %ld requests in %.1f s (%.0f per second)\n", total, seconds,
              total / seconds);
  std::printf("soak: the stand-in read %ld requests (notices up to %ld) and replied to %ld\n",
              counts.requests, counts.highest_notice, counts.replied);
  std::printf("soak: service before: %s\n", describe(before).c_str());
  std::printf("soak: service after:  %s\n", describe(after).c_str());

  if (mismatches > 0) fail(std::to_string(mismatches) + " clients ended otherwise than expected");
  if (total != options_.requests) fail("ran " + std::to_string(total) + " requests");
  if (after.fds != before.fds)
    fail("open descriptors went from " + std::to_string(before.fds) + " to " +
         std::to_string(after.fds));
  if (after.threads != before.threads) fail("threads did not come back");
  if (after.rss_kib > before.rss_kib + kRssToleranceKb) {
    fail("resident memory grew by " + std::to_string(after.rss_kib - before.rss_kib) + " kB");
  }
  // Still the one service and the one graphical client of the start.
  const std::string now_pid =
      read_text(dir_ / (platform::login_name() + ".tarnwick") / "hollin_service.pid");
  if (std::strtoul(now_pid.c_str(), nullptr, 10) != service_ ||
      !platform::process_image_path(service_).ok()) {
    fail("the service did not live through the soak");
  }
  if (counts.gone) fail("the stand-in ended during the soak");
  // Per-request socket files go with their connections.
  long sockets = 0;
  std::error_code ec;
  for (const auto& entry :
       fs::directory_iterator(dir_ / (platform::login_name() + ".tarnwick"), ec)) {
    std::error_code type_ec;
    if (entry.symlink_status(type_ec).type() == fs::file_type::socket) ++sockets;
  }
  if (sockets != 1)
    fail(std::to_string(sockets) + " socket files left, expected the request pipe's");
  // The service's log: the stand-in's command line, then one line for every
  // empty reply and nothing else.
  std::istringstream log(
      read_text(dir_ / (platform::login_name() + ".tarnwick") / "hollin_service.log"));
  long empty_lines = 0;
  long other_lines = 0;
  std::string line;
  for (bool first = true; std::getline(log, line); first = false) {
    if (line == "Got an empty response") {
      ++empty_lines;
    } else if (!first) {
      if (++other_lines <= 5) std::printf("soak: service log: %s\n", line.c_str());
    }
  }
  if (empty_lines != empty_requests_ || other_lines != 0) {
    fail("the service log has " + std::to_string(empty_lines) + " empty-reply lines (expected " +
         std::to_string(empty_requests_) + ") and " + std::to_string(other_lines) + " others");
  }

  std::printf("soak: %s\n", failed_ ? "FAILED" : "PASSED");
  tear_down(!failed_);
  return failed_ ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  // Line by line, so that failures and the table keep their order in a log.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  Options options;
  if (!parse_options(argc, argv, &options)) {
    std::fprintf(stderr,
                 "usage: %s [--requests N>=50] [--concurrency 1..64] [--fd-limit L>=32] "
                 "[--seed S] [--keep] [--only PHASE]\n",
                 argv[0]);
    return 2;
  }
  // Processes whose parent ends (the service, once its first client has
  // gone) stay ours, so that tear_down finds and ends them.
  testlib::own_descendants();
  Soak soak(options);
  const int status = soak.run();
  // Ends without destructors: the report reader may still be blocked on
  // its pipe.
  std::fflush(nullptr);
  platform::exit_now(status);
}
