// What /proc tells about a running process (Linux): its open descriptors, its
// threads and its memory. Shared by the soak driver and the benchmarks, which
// watch the service (or themselves) with it.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>

namespace testlib {

// -1 in a field that could not be read.
struct ProcUsage {
  int fds = -1;
  int threads = -1;
  long rss_kib = -1;
};

// The number of entries in `dir`, -1 when it cannot be listed.
inline int count_entries(const std::filesystem::path& dir) {
  std::error_code ec;
  int count = 0;
  for (std::filesystem::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    ++count;
  }
  return ec ? -1 : count;
}

// The figure `field` ("VmRSS", "VmHWM", ...) of /proc/<process>/status in
// KiB (`process` "self" for this one), -1 when it cannot be read.
inline long status_kib(const std::string& process, const std::string& field) {
  std::ifstream status("/proc/" + process + "/status");
  const std::string key = field + ":";
  for (std::string line; std::getline(status, line);) {
    if (line.compare(0, key.size(), key) == 0) return std::atol(line.c_str() + key.size());
  }
  return -1;
}

inline ProcUsage proc_usage(std::uint32_t pid) {
  const std::filesystem::path proc = "/proc/" + std::to_string(pid);
  ProcUsage usage;
  usage.fds = count_entries(proc / "fd");
  usage.threads = count_entries(proc / "task");
  usage.rss_kib = status_kib(std::to_string(pid), "VmRSS");
  return usage;
}

}  // namespace testlib
