// Process ownership on Linux: a child subreaper, /proc for the process tree,
// pidfds to wait on processes that are not children.
#include "tests/testlib/processes.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>

namespace testlib {
namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

struct Entry {
  std::uint32_t parent = 0;
  char state = '?';
};

// Read with plain system calls: the file of a process that is ending fails
// with ESRCH, which a file stream would throw.
std::string read_proc_file(const std::string& path) {
  std::string text;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return text;
  char buffer[1024];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got > 0) {
      text.append(buffer, static_cast<std::size_t>(got));
    } else if (got < 0 && errno == EINTR) {
      continue;
    } else {
      break;
    }
  }
  ::close(fd);
  return text;
}

// /proc/<pid>/stat: "pid (comm) state ppid ..."; the name may hold blanks and
// parentheses, so the fields are read after the last ')'.
bool read_stat(std::uint32_t pid, Entry* entry) {
  const std::string stat = read_proc_file("/proc/" + std::to_string(pid) + "/stat");
  const std::size_t close = stat.rfind(')');
  if (close == std::string::npos) return false;
  std::istringstream fields(stat.substr(close + 1));
  unsigned long parent = 0;
  if (!(fields >> entry->state >> parent)) return false;
  entry->parent = static_cast<std::uint32_t>(parent);
  return true;
}

// Helpers that the sanitizer runtimes start for themselves (symbolizers).
bool is_runtime_helper(std::uint32_t pid) {
  std::error_code ec;
  const std::string name =
      fs::read_symlink("/proc/" + std::to_string(pid) + "/exe", ec).filename().string();
  return name.find("symbolizer") != std::string::npos ||
         name.find("addr2line") != std::string::npos;
}

int remaining_ms(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

bool wait_until(std::uint32_t pid, Clock::time_point deadline) {
  const int fd = static_cast<int>(::syscall(SYS_pidfd_open, static_cast<pid_t>(pid), 0));
  if (fd < 0) return errno == ESRCH;  // no such process: it has gone
  pollfd watch{fd, POLLIN, 0};
  int ready;
  do {
    ready = ::poll(&watch, 1, remaining_ms(deadline));
  } while (ready < 0 && errno == EINTR);
  ::close(fd);
  return ready > 0;
}

}  // namespace

bool own_descendants() { return ::prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0) == 0; }

std::vector<std::uint32_t> descendants() {
  std::map<std::uint32_t, std::vector<std::uint32_t>> children;
  std::set<std::uint32_t> exited;
  std::error_code ec;
  for (fs::directory_iterator it("/proc", ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
    const auto pid = static_cast<std::uint32_t>(std::strtoul(name.c_str(), nullptr, 10));
    Entry entry;
    if (!read_stat(pid, &entry)) continue;  // gone meanwhile
    children[entry.parent].push_back(pid);
    // A zombie has ended; only its parent's wait is still due.
    if (entry.state == 'Z' || entry.state == 'X') exited.insert(pid);
  }
  std::vector<std::uint32_t> found;
  std::vector<std::uint32_t> pending = {platform::current_pid()};
  while (!pending.empty()) {
    const std::uint32_t parent = pending.back();
    pending.pop_back();
    for (const std::uint32_t child : children[parent]) {
      pending.push_back(child);
      if (exited.count(child) == 0 && !is_runtime_helper(child)) found.push_back(child);
    }
  }
  return found;
}

std::vector<std::string> end_descendants(int seconds, bool reap) {
  const auto deadline = Clock::now() + std::chrono::seconds(seconds);
  std::vector<std::string> ended;
  std::set<std::uint32_t> seen;
  for (;;) {
    const std::vector<std::uint32_t> pids = descendants();
    if (pids.empty()) break;
    for (const std::uint32_t pid : pids) {
      if (seen.insert(pid).second)
        ended.push_back(std::to_string(pid) + " " + describe_process(pid));
      ::kill(static_cast<pid_t>(pid), SIGKILL);
    }
    for (const std::uint32_t pid : pids) wait_until(pid, deadline);
    if (remaining_ms(deadline) == 0) {
      ended.push_back("(some did not end within " + std::to_string(seconds) + " s)");
      break;
    }
  }
  if (reap) {
    // Children of ours, started by the tests or adopted, that have ended.
    while (::waitpid(-1, nullptr, WNOHANG) > 0) {
    }
  }
  return ended;
}

bool wait_for_exit(std::uint32_t pid, int seconds) {
  if (pid == 0) return true;
  return wait_until(pid, Clock::now() + std::chrono::seconds(seconds));
}

bool end_process(std::uint32_t pid, int seconds) {
  if (pid == 0) return true;
  ::kill(static_cast<pid_t>(pid), SIGKILL);
  return wait_for_exit(pid, seconds);
}

std::optional<int> wait_or_end(platform::Process& process, int seconds) {
  if (!process.valid()) return process.wait();
  if (wait_for_exit(process.pid(), seconds)) return process.wait();
  // Ended by force: whether the kill worked shows in the wait, whose status
  // is of no interest then.
  static_cast<void>(process.kill());
  static_cast<void>(process.wait());
  return std::nullopt;
}

std::vector<std::string> end_strays_of_dead_tests(const std::string& build_dir) {
  std::vector<std::string> ended;
  if (build_dir.empty()) return ended;
  const std::string inside = build_dir + "/";
  const std::string marker = "TMPDIR=/tmp/twt";
  std::error_code ec;
  for (fs::directory_iterator it("/proc", ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::error_code link_ec;
    const std::string exe = fs::read_symlink(it->path() / "exe", link_ec).string();
    if (link_ec || exe.compare(0, inside.size(), inside) != 0) continue;
    const std::string environment = read_proc_file(it->path().string() + "/environ");
    std::size_t at = environment.find(marker);
    while (at != std::string::npos && at != 0 && environment[at - 1] != '\0') {
      at = environment.find(marker, at + 1);
    }
    if (at == std::string::npos) continue;
    const auto owner =
        static_cast<pid_t>(std::strtol(environment.c_str() + at + marker.size(), nullptr, 10));
    if (owner <= 0 || ::kill(owner, 0) == 0 || errno != ESRCH) continue;
    const auto pid = static_cast<std::uint32_t>(std::strtoul(name.c_str(), nullptr, 10));
    if (end_process(pid, 30)) ended.push_back(std::to_string(pid) + " " + exe);
  }
  return ended;
}

std::vector<std::uint32_t> processes_running(const std::string& image) {
  std::vector<std::uint32_t> pids;
  std::error_code ec;
  for (fs::directory_iterator it("/proc", ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::error_code link_ec;
    const fs::path exe = fs::read_symlink(it->path() / "exe", link_ec);
    if (!link_ec && platform::paths_equal_ignoring_case(exe.string(), image)) {
      pids.push_back(static_cast<std::uint32_t>(std::strtoul(name.c_str(), nullptr, 10)));
    }
  }
  return pids;
}

std::string last_error_text() {
  const int code = errno;
  return ": " + std::string(std::strerror(code)) + " (" + std::to_string(code) + ")";
}

std::string describe_process(std::uint32_t pid) {
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/" + std::to_string(pid) + "/exe", ec);
  return ec ? std::string("?") : exe.string();
}

}  // namespace testlib
