// What /proc tells about a running process (Linux): its open descriptors, its
// threads and its resident memory. Shared by the soak driver and the load
// benchmark, which watch the service with it.
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

inline ProcUsage proc_usage(std::uint32_t pid) {
  const std::filesystem::path proc = "/proc/" + std::to_string(pid);
  ProcUsage usage;
  usage.fds = count_entries(proc / "fd");
  usage.threads = count_entries(proc / "task");
  std::ifstream status(proc / "status");
  for (std::string line; std::getline(status, line);) {
    if (line.compare(0, 6, "VmRSS:") == 0) usage.rss_kib = std::atol(line.c_str() + 6);
  }
  return usage;
}

}  // namespace testlib
