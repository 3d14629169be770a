// Relay benchmark of large calls, built natively and for Windows (run under
// Wine): a service of its own with the stand-in answering at once, and the
// floor peer beside it (bench_common.h, relay_table). The same table is part
// of the load benchmark on Linux; this program exists so that the Windows
// build's named pipes are measured too.
//
// Usage: relay [rounds]   (default 20). Prints a Markdown table.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/bench_common.h"

namespace {

namespace fs = bench::fs;

int run(int rounds) {
  const fs::path root = bench::build_root();
  const fs::path base = bench::make_sandbox("twr");
  const fs::path tmp = base / "tmp";
  std::error_code ec;
  // Elsewhere than Linux the stand-in records its id so that it can be ended.
  fs::path record;
  if constexpr (platform::kWindows) {
    record = tmp / "record";
    fs::create_directories(record);
    // Valid names and values: setting them fails only without memory.
    static_cast<void>(platform::set_env("MARLOW_STANDIN_RECORD", record.string()));
  }

  platform::ProcessSpec client;
  client.program = bench::program(root, "bin", "tarnwick");
  client.args = {(base / "a.txt").string(), (base / "b.txt").string()};
  client.working_dir = base.string();
  client.null_stdio = true;

  bool ok = false;
  {
    bench::EchoPeer peer(base);
    bench::EchoPeer keeping_peer(base, bench::PeerKind::keeping);
    bench::EchoPeer chain_peer(base, bench::PeerKind::forwarding, keeping_peer.name());
    // The first run starts the service and the stand-in.
    if (!peer.ready() || !keeping_peer.ready() || !chain_peer.ready() ||
        bench::timed_run(client, 0) < 0) {
      std::fprintf(stderr, "relay: the floor peer or the first client run failed\n");
    } else {
      ok = bench::relay_table(bench::request_pipe_in(tmp), peer.name(), keeping_peer.name(),
                              chain_peer.name(), rounds,
                              {64u << 10, 256u << 10, 1u << 20, 4u << 20, 16u << 20});
    }
    bench::stop_service(bench::work_dir_in(tmp), record);
  }
  fs::remove_all(base, ec);
  return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (const int peer = bench::serve_echo_if_asked(argc, argv); peer >= 0) return peer;
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 20;
  if (rounds < 1) {
    std::fprintf(stderr, "usage: relay [rounds]\n");
    return 2;
  }
  return run(rounds);
}
