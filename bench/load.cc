// Load benchmark of hollin_service (Linux), with its floors measured in the
// same run:
// - requests per second with 1, 8 and 64 concurrent clients, each client a
//   tarnwick process, over a fixed number of requests per level; beside it
//   the rate of do-nothing processes of ours and of direct pipe round trips
//   at the same concurrency;
// - the relay of large requests (about 0.4 KB, 64 KB, 256 KB, 1 MB, 4 MB):
//   a tarnwick command line cannot carry megabytes (Linux limits one
//   argument to 128 KB and a whole command line to a quarter of the stack
//   limit), so this benchmark drives the service's request pipe itself with
//   platform::open_client_pipe and writes the request as the client does;
//   beside it the same request sent straight to a second process;
// - the service's resident memory, threads and descriptors: idle, with 64
//   requests held by the stand-in ("slow" mode, released by a gate file),
//   and after 10,000 further requests.
//
// Usage: load [requests per level] [relay runs per size] [requests after]
//        (defaults 2000, 20 and 10000). Prints Markdown tables.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "bench/bench_common.h"
#include "tests/testlib/proc_usage.h"

namespace {

using bench::Samples;
namespace fs = bench::fs;

using Usage = testlib::ProcUsage;
using testlib::proc_usage;

// Polls until `done()` holds or `timeout_ms` has passed; false on time-out.
template <typename Done>
bool wait_until(Done done, int timeout_ms) {
  const bench::Clock::time_point start = bench::Clock::now();
  while (!done()) {
    if (bench::ms_since(start) > timeout_ms) return false;
    platform::sleep_ms(2);
  }
  return true;
}

// At rest the service runs its accept loop and the thread that watches the
// stand-in; each request in flight adds a relay thread.
constexpr int kRestingThreads = 2;

struct Context {
  fs::path root;
  fs::path base;
  platform::ProcessSpec client;
  platform::ProcessSpec noop;
};

bool throughput_and_relay(const Context& ctx, int per_level, int relay_runs) {
  const fs::path tmp = ctx.base / "load";
  fs::create_directories(tmp);
  bench::use_temp_dir(tmp);
  bench::EchoPeer peer(ctx.base);
  bench::EchoPeer keeping_peer(ctx.base, bench::PeerKind::keeping);
  bench::EchoPeer chain_peer(ctx.base, bench::PeerKind::forwarding, keeping_peer.name());
  // The first run starts the service and the stand-in.
  if (!peer.ready() || !keeping_peer.ready() || !chain_peer.ready() ||
      bench::timed_run(ctx.client, 0) < 0) {
    std::fprintf(stderr, "load: the floor peer or the first client run failed\n");
    bench::stop_service(bench::work_dir_in(tmp), fs::path());
    return false;
  }
  bool ok = true;
  const std::string small = bench::request_of_size(0);

  std::printf("### Requests per second\n\n");
  std::printf(
      "Each level runs %d requests, a tarnwick process per request, the given number at a "
      "time; requests/s is the count over the wall time. Floors at the same concurrency: "
      "do-nothing processes of ours, and direct round trips from as many threads to the "
      "single-threaded floor peer.\n\n",
      per_level);
  std::printf(
      "| Concurrent clients | Requests | Wall s | Requests/s | Failed | "
      "floor: do-nothing processes/s | floor: direct round trips/s |\n");
  std::printf("|---:|---:|---:|---:|---:|---:|---:|\n");
  for (const int level : {1, 8, 64}) {
    int failed = 0;
    int floor_failed = 0;
    int pipe_failed = 0;
    const double wall = bench::run_concurrently(ctx.client, 0, per_level, level, &failed);
    const double floor_wall = bench::run_concurrently(ctx.noop, 0, per_level, level, &floor_failed);
    const double pipe_wall =
        bench::round_trips_concurrently(peer.name(), small, per_level, level, &pipe_failed);
    std::printf("| %d | %d | %.2f | %.0f | %d | %.0f | %.0f |\n", level, per_level, wall / 1000,
                per_level * 1000.0 / wall, failed, per_level * 1000.0 / floor_wall,
                per_level * 1000.0 / pipe_wall);
    std::fflush(stdout);
    ok = ok && failed == 0 && floor_failed == 0 && pipe_failed == 0;
  }

  std::printf("\n### Relay of large requests\n\n");
  ok = bench::relay_table(bench::request_pipe_in(tmp), peer.name(), keeping_peer.name(),
                          chain_peer.name(), relay_runs,
                          {64u << 10, 256u << 10, 1u << 20, 4u << 20}) &&
       ok;
  std::fflush(stdout);
  bench::stop_service(bench::work_dir_in(tmp), fs::path());
  return ok;
}

bool memory(const Context& ctx, int pending, int after) {
  const fs::path tmp = ctx.base / "memory";
  fs::create_directories(tmp);
  bench::use_temp_dir(tmp);
  // The stand-in holds each reply until the gate file exists.
  const fs::path gate = ctx.base / "gate";
  bench::write_text(gate, "");
  // Valid names and values: setting them fails only without memory.
  static_cast<void>(platform::set_env("MARLOW_STANDIN_MODE", "slow"));
  static_cast<void>(platform::set_env("MARLOW_STANDIN_GATE", gate.string()));
  const bool started = bench::timed_run(ctx.client, 0) >= 0;
  // Valid names and values: setting them fails only without memory.
  static_cast<void>(platform::set_env("MARLOW_STANDIN_MODE", "ok"));
  const std::uint32_t service = bench::service_pid(bench::work_dir_in(tmp));
  const std::vector<std::uint32_t> children = bench::children_of(service);
  if (!started || service == 0 || children.size() != 1) {
    std::fprintf(stderr, "load: the service for the memory figures did not start\n");
    bench::stop_service(bench::work_dir_in(tmp), fs::path());
    return false;
  }
  const std::uint32_t stand_in = children.front();
  auto resting = [&] { return proc_usage(service).threads == kRestingThreads; };

  wait_until(resting, 2000);
  const Usage idle = proc_usage(service);

  // Requests held by the stand-in: each has a relay thread in the service
  // and a thread in the stand-in.
  std::error_code ec;
  fs::remove(gate, ec);
  std::atomic<int> held_failed{0};
  std::vector<std::thread> clients;
  for (int i = 0; i < pending; ++i) {
    clients.emplace_back([&] {
      if (bench::timed_run(ctx.client, 0) < 0) held_failed.fetch_add(1);
    });
  }
  const bool all_held = wait_until(
      [&] {
        return proc_usage(service).threads >= kRestingThreads + pending &&
               proc_usage(stand_in).threads >= 1 + pending;
      },
      30000);
  // Let the last requests travel from the service to the stand-in.
  platform::sleep_ms(300);
  const Usage held = proc_usage(service);
  bench::write_text(gate, "");
  for (std::thread& client : clients) client.join();

  int after_failed = 0;
  const double after_ms = bench::run_concurrently(ctx.client, 0, after, 8, &after_failed);
  wait_until(resting, 2000);
  const Usage later = proc_usage(service);
  bench::stop_service(bench::work_dir_in(tmp), fs::path());

  std::printf("\n### Service memory and threads\n\n");
  std::printf(
      "A service of its own, with the stand-in in its \"slow\" mode: it reads each request "
      "and holds the reply until a gate file exists. VmRSS from /proc/<pid>/status, threads "
      "from /proc/<pid>/task, descriptors from /proc/<pid>/fd. Held requests are counted "
      "once the service has a relay thread and the stand-in a serving thread for each.\n\n");
  std::printf("| Service state | VmRSS KiB | Threads | Descriptors |\n");
  std::printf("|---|---:|---:|---:|\n");
  std::printf("| idle, after its first request | %ld | %d | %d |\n", idle.rss_kib, idle.threads,
              idle.fds);
  std::printf("| %d requests held by the stand-in%s | %ld | %d | %d |\n", pending,
              all_held ? "" : " (not all arrived)", held.rss_kib, held.threads, held.fds);
  std::printf(
      "| after %d further requests (8 clients at a time, %.1f s), idle | %ld | %d | %d "
      "|\n",
      after, after_ms / 1000, later.rss_kib, later.threads, later.fds);
  if (held_failed.load() + after_failed > 0) {
    std::printf("\nFailed requests: %d held, %d after.\n", held_failed.load(), after_failed);
  }
  return all_held && held_failed.load() == 0 && after_failed == 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (const int peer = bench::serve_echo_if_asked(argc, argv); peer >= 0) return peer;
  const int per_level = argc > 1 ? std::atoi(argv[1]) : 2000;
  const int relay_runs = argc > 2 ? std::atoi(argv[2]) : 20;
  const int after = argc > 3 ? std::atoi(argv[3]) : 10000;
  if (per_level < 64 || relay_runs < 1 || after < 1) {
    std::fprintf(stderr, "usage: load [requests per level >= 64] [relay runs] [requests after]\n");
    return 2;
  }

  Context ctx;
  ctx.root = bench::build_root();
  ctx.base = fs::path(platform::temp_dir()) / ("twl" + std::to_string(platform::current_pid()));
  std::error_code ec;
  fs::remove_all(ctx.base, ec);
  fs::create_directories(ctx.base);
  bench::write_text(ctx.base / "a.txt", "one\n");
  bench::write_text(ctx.base / "b.txt", "two\n");
  // Valid names and values: setting them fails only without memory.
  static_cast<void>(platform::set_env("MARLOW_STANDIN_MODE", "ok"));

  ctx.client.program = bench::program(ctx.root, "bin", "tarnwick");
  ctx.client.args = {(ctx.base / "a.txt").string(), (ctx.base / "b.txt").string()};
  ctx.client.working_dir = ctx.base.string();
  ctx.client.null_stdio = true;
  ctx.noop.program = bench::program(ctx.root, "bin", "fernask");
  ctx.noop.null_stdio = true;

  bool ok = throughput_and_relay(ctx, per_level, relay_runs);
  ok = memory(ctx, 64, after) && ok;
  fs::remove_all(ctx.base, ec);
  return ok ? 0 : 1;
}
