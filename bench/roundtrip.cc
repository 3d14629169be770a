// Round-trip benchmark of the whole chain, with its floors measured in the
// same run:
// - warm: one tarnwick run through a running hollin_service to the marlow
//   stand-in, which answers at once;
// - cold: the same with no service running (the client starts the service,
//   the service starts the stand-in); its slowest run shows whether any
//   start waits for seconds;
// - floor 1: the start and end of a process of ours that does nothing
//   (fernask without arguments);
// - floor 2: a direct round trip between two processes on a pipe of the
//   kind the client and the service use (a Unix socket on POSIX, a named
//   pipe on Windows): connect, a request of the client's size, a reply of
//   the stand-in's size.
// The warm run and both floors are interleaved, one of each per round, so
// that a change of load on the machine touches all three alike.
//
// Usage: roundtrip [warm runs] [cold runs]   (defaults 300 and 30)
// Prints a Markdown table and a few derived lines. Built natively and for
// Windows (run under Wine); it finds the programs in <build>/root.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/bench_common.h"

namespace {

using bench::Samples;
namespace fs = bench::fs;

int run(int warm_runs, int cold_runs) {
  const fs::path root = bench::build_root();
  const fs::path base =
      fs::path(platform::temp_dir()) / ("twb" + std::to_string(platform::current_pid()));
  std::error_code ec;
  fs::remove_all(base, ec);
  fs::create_directories(base);
  bench::write_text(base / "a.txt", "one\n");
  bench::write_text(base / "b.txt", "two\n");
  // Valid names and values: setting them fails only without memory.
  static_cast<void>(platform::set_env("MARLOW_STANDIN_MODE", "ok"));

  // The stand-in records nothing on Linux (the benchmark finds it as the
  // service's child); elsewhere it records its id so that it can be ended.
  auto use_record_dir = [](const fs::path& dir) {
    if constexpr (platform::kWindows) {
      fs::create_directories(dir);
      // Valid names and values: setting them fails only without memory.
      static_cast<void>(platform::set_env("MARLOW_STANDIN_RECORD", dir.string()));
      return dir;
    } else {
      (void)dir;
      return fs::path();
    }
  };

  platform::ProcessSpec client;
  client.program = bench::program(root, "bin", "tarnwick");
  client.args = {(base / "a.txt").string(), (base / "b.txt").string()};
  client.working_dir = base.string();
  client.null_stdio = true;

  platform::ProcessSpec noop;
  noop.program = bench::program(root, "bin", "fernask");
  noop.null_stdio = true;

  // The goal's floor: a statically linked program that does nothing, built
  // beside this benchmark.
  platform::ProcessSpec static_noop;
  static_noop.program = (fs::path(platform::executable_path()).parent_path() /
                         ("noop_static" + std::string(platform::kExeSuffix)))
                            .string();
  static_noop.null_stdio = true;

  Samples warm;
  Samples spawn_floor;
  Samples static_floor;
  Samples pipe_floor;
  const std::string small_request = bench::request_of_size(0);
  {
    bench::EchoPeer peer(base);
    const fs::path warm_tmp = base / "warm";
    fs::create_directories(warm_tmp);
    bench::use_temp_dir(warm_tmp);
    const fs::path record = use_record_dir(warm_tmp / "record");
    // The first run starts the service and is not counted.
    if (!peer.ready() || bench::timed_run(client, 0) < 0) {
      std::fprintf(stderr, "roundtrip: the floor peer or the first client run failed\n");
      bench::stop_service(bench::work_dir_in(warm_tmp), record);
      return 1;
    }
    bench::pipe_round_trip(peer.name(), small_request);
    for (int i = 0; i < warm_runs; ++i) {
      spawn_floor.add(bench::timed_run(noop, 0));
      static_floor.add(bench::timed_run(static_noop, 0));
      const bench::Clock::time_point start = bench::Clock::now();
      pipe_floor.add(bench::pipe_round_trip(peer.name(), small_request) ? bench::ms_since(start)
                                                                        : -1);
      warm.add(bench::timed_run(client, 0));
    }
    bench::stop_service(bench::work_dir_in(warm_tmp), record);
  }

  // Cold: a fresh temporary directory each time, so no service runs.
  Samples cold;
  for (int i = 0; i < cold_runs; ++i) {
    const fs::path tmp = base / ("cold" + std::to_string(i));
    fs::create_directories(tmp);
    bench::use_temp_dir(tmp);
    const fs::path record = use_record_dir(tmp / "record");
    cold.add(bench::timed_run(client, 0));
    bench::stop_service(bench::work_dir_in(tmp), record);
  }

  const char* pipe_kind = platform::kWindows ? "named pipe" : "Unix socket";
  bench::print_row_header();
  bench::print_row("Warm round trip: one tarnwick run through a running service to the stand-in",
                   warm);
  bench::print_row("&nbsp;&nbsp;floor: start and end of a do-nothing process of ours (fernask)",
                   spawn_floor);
  bench::print_row(
      "&nbsp;&nbsp;floor: start and end of a statically linked do-nothing program "
      "(`int main(){return 0;}`, -O2 -static)",
      static_floor);
  bench::print_row(std::string("&nbsp;&nbsp;floor: direct ") + pipe_kind +
                       " round trip between two processes (" +
                       std::to_string(small_request.size()) + "-byte request, " +
                       std::to_string(bench::ok_reply().size()) + "-byte reply)",
                   pipe_floor);
  bench::print_row(
      "Cold start: no service; tarnwick starts the service, which starts the "
      "stand-in",
      cold);
  bench::print_row("&nbsp;&nbsp;floor: start and end of a do-nothing process of ours (fernask)",
                   spawn_floor);
  std::printf("\n");
  std::printf(
      "- Warm round trip above its two floors (median minus both floor medians): "
      "%.2f ms.\n",
      bench::median(warm) - bench::median(spawn_floor) - bench::median(pipe_floor));
  std::printf(
      "- Warm round trip over the statically linked do-nothing program (medians, runs "
      "interleaved): %.2f×; our do-nothing process over it: %.2f×.\n",
      bench::median(warm) / bench::median(static_floor),
      bench::median(spawn_floor) / bench::median(static_floor));
  std::printf(
      "- Cold start above the warm round trip (medians): %.2f ms; slowest cold start "
      "%.2f ms.\n",
      bench::median(cold) - bench::median(warm), bench::max_of(cold));

  fs::remove_all(base, ec);
  const bool failed = warm.failures + cold.failures + spawn_floor.failures + static_floor.failures +
                          pipe_floor.failures >
                      0;
  return failed ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (const int peer = bench::serve_echo_if_asked(argc, argv); peer >= 0) return peer;
  const int warm_runs = argc > 1 ? std::atoi(argv[1]) : 300;
  const int cold_runs = argc > 2 ? std::atoi(argv[2]) : 30;
  if (warm_runs < 1 || cold_runs < 1) {
    std::fprintf(stderr, "usage: roundtrip [warm runs] [cold runs]\n");
    return 2;
  }
  return run(warm_runs, cold_runs);
}
