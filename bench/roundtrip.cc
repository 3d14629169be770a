// Round-trip benchmark of the whole chain: one tarnwick run through a running
// hollin_service to the marlow stand-in, which answers at once; the same with
// no service running (the client starts it, the service starts the stand-in);
// and, as the floor, the start and end of a process of ours that does nothing
// (fernask without arguments). Prints a Markdown table.
//
// Usage: roundtrip [warm runs] [cold runs]   (defaults 200 and 30)
// Run from the build tree: the programs are found in <build>/root.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "support/platform.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

fs::path g_root;

std::string program(const std::string& dir, const std::string& name) {
  return (g_root / dir / (name + platform::kExeSuffix)).string();
}

std::string read_text(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Runs `spec` to its end; the time in milliseconds, or a negative value when
// it failed.
double timed_run(const platform::ProcessSpec& spec, int expected_status) {
  const Clock::time_point start = Clock::now();
  platform::Process process;
  if (!platform::start_process(spec, &process)) return -1;
  const int status = process.wait();
  const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  return status == expected_status ? ms : -1;
}

struct Row {
  std::string what;
  std::vector<double> ms;
  int failures = 0;
};

double percentile(std::vector<double> values, double p) {
  std::sort(values.begin(), values.end());
  const double index = p * static_cast<double>(values.size() - 1);
  const auto low = static_cast<std::size_t>(index);
  const std::size_t high = std::min(low + 1, values.size() - 1);
  return values[low] + (values[high] - values[low]) * (index - static_cast<double>(low));
}

void print(const std::vector<Row>& rows) {
  std::printf("| Case | Runs | Median ms | p10 ms | p90 ms | Min ms | Max ms | Failed |\n");
  std::printf("|---|---:|---:|---:|---:|---:|---:|---:|\n");
  for (const Row& row : rows) {
    if (row.ms.empty()) {
      std::printf("| %s | 0 | - | - | - | - | - | %d |\n", row.what.c_str(), row.failures);
      continue;
    }
    std::printf("| %s | %zu | %.2f | %.2f | %.2f | %.2f | %.2f | %d |\n", row.what.c_str(),
                row.ms.size(), percentile(row.ms, 0.5), percentile(row.ms, 0.1),
                percentile(row.ms, 0.9), *std::min_element(row.ms.begin(), row.ms.end()),
                *std::max_element(row.ms.begin(), row.ms.end()), row.failures);
  }
}

void add(Row* row, double ms) {
  if (ms < 0) {
    ++row->failures;
  } else {
    row->ms.push_back(ms);
  }
}

// Ends the service named by the pid file in `work_dir` and every stand-in
// recorded in `record_dir`, and waits until they are gone.
void stop_processes(const fs::path& work_dir, const fs::path& record_dir) {
  std::vector<std::uint32_t> pids;
  const std::string service = read_text(work_dir / "hollin_service.pid");
  if (!service.empty()) pids.push_back(static_cast<std::uint32_t>(std::stoul(service)));
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(record_dir, ec)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("marlow-", 0) == 0) {
      pids.push_back(static_cast<std::uint32_t>(std::stoul(read_text(entry.path()))));
    }
  }
  for (const std::uint32_t pid : pids) platform::kill_process(pid);
  for (const std::uint32_t pid : pids) {
    for (int i = 0; i < 5000 && !platform::process_image_path(pid).empty(); ++i) {
      platform::sleep_ms(1);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  const int warm_runs = argc > 1 ? std::atoi(argv[1]) : 200;
  const int cold_runs = argc > 2 ? std::atoi(argv[2]) : 30;
  g_root = fs::path(platform::executable_path()).parent_path().parent_path() / "root";

  const fs::path base = fs::path("/tmp") / ("twb" + std::to_string(platform::current_pid()));
  fs::create_directories(base);
  const fs::path record = base / "record";
  fs::create_directories(record);
  const fs::path a = base / "a.txt";
  const fs::path b = base / "b.txt";
  std::ofstream(a) << "one\n";
  std::ofstream(b) << "two\n";
  platform::set_env("MARLOW_STANDIN_RECORD", record.string());
  platform::set_env("MARLOW_STANDIN_MODE", "ok");

  platform::ProcessSpec client;
  client.program = program("bin", "tarnwick");
  client.args = {a.string(), b.string()};
  client.working_dir = base.string();
  client.null_stdio = true;

  std::vector<Row> rows;

  // Floor: a process of ours that does nothing.
  Row floor{"process start and end (floor: fernask, no arguments)", {}, 0};
  platform::ProcessSpec noop;
  noop.program = program("bin", "fernask");
  noop.null_stdio = true;
  for (int i = 0; i < warm_runs; ++i) add(&floor, timed_run(noop, 0));

  // Warm: one service for all runs, started by a first run that is not
  // counted.
  const fs::path warm_tmp = base / "warm";
  fs::create_directories(warm_tmp);
  platform::set_env("TMPDIR", warm_tmp.string());
  platform::set_env("TMP", warm_tmp.string());
  platform::set_env("TEMP", warm_tmp.string());
  Row warm{"warm round trip (service running)", {}, 0};
  if (timed_run(client, 0) >= 0) {
    for (int i = 0; i < warm_runs; ++i) add(&warm, timed_run(client, 0));
  } else {
    warm.failures = 1;
  }
  const fs::path warm_work = warm_tmp / (platform::login_name() + ".tarnwick");
  stop_processes(warm_work, record);

  // Cold: a fresh work directory each time, so no service runs.
  Row cold{"cold round trip (client starts service and stand-in)", {}, 0};
  for (int i = 0; i < cold_runs; ++i) {
    const fs::path tmp = base / ("cold" + std::to_string(i));
    const fs::path cold_record = tmp / "record";
    fs::create_directories(cold_record);
    platform::set_env("TMPDIR", tmp.string());
    platform::set_env("TMP", tmp.string());
    platform::set_env("TEMP", tmp.string());
    platform::set_env("MARLOW_STANDIN_RECORD", cold_record.string());
    add(&cold, timed_run(client, 0));
    stop_processes(tmp / (platform::login_name() + ".tarnwick"), cold_record);
  }
  rows.push_back(std::move(warm));
  rows.push_back(std::move(cold));
  rows.push_back(std::move(floor));
  print(rows);

  std::error_code ec;
  fs::remove_all(base, ec);
  const bool failed =
      std::any_of(rows.begin(), rows.end(), [](const Row& row) { return row.failures > 0; });
  return failed ? 1 : 0;
}
