// This process's memory figures from /proc/self/status, for the benchmarks.
#pragma once

#include <cstdlib>
#include <fstream>
#include <string>

// The figure `field` ("VmRSS", "VmHWM", ...) in KiB, or -1.
inline long status_kib(const std::string& field) {
  std::ifstream status("/proc/self/status");
  const std::string key = field + ":";
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(key, 0) == 0) return std::strtol(line.c_str() + key.size(), nullptr, 10);
  }
  return -1;
}
