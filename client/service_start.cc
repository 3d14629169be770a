#include "client/service_start.h"

#include <climits>
#include <cstdio>

#include "support/layout.h"
#include "support/runtime_services.h"
#include "support/work_dir.h"

namespace tarnwick {

namespace {

// The whole content of a small text file, or nothing when it cannot be
// opened. A pid file is a few bytes; more than a page is never looked at.
std::optional<std::string> read_small_file(const std::string& path) {
  // A FIFO or a link in the pid file's place must not hang or mislead us.
  std::FILE* file = platform::open_regular_file(path, "r");
  if (file == nullptr) return std::nullopt;
  char buffer[4096];
  const std::size_t bytes = std::fread(buffer, 1, sizeof buffer, file);
  support::compat_fclose(file);
  return std::string(buffer, bytes);
}

}  // namespace

std::optional<int> parse_pid_text(const std::string& text) {
  // Read as formatted stream input reads an int (white space, an optional
  // sign, decimal digits, anything after them ignored, a value beyond int a
  // failure), but by hand: a string stream would set up the C++ locale
  // machinery, about a tenth of the client's instructions on every run.
  std::size_t at = 0;
  while (at < text.size() && (text[at] == ' ' || (text[at] >= '\t' && text[at] <= '\r'))) ++at;
  bool negative = false;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) negative = text[at++] == '-';
  const long long limit = negative ? -static_cast<long long>(INT_MIN) : INT_MAX;
  long long value = 0;
  const std::size_t digits_from = at;
  for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
    value = value * 10 + (text[at] - '0');
    if (value > limit) return std::nullopt;
  }
  if (at == digits_from) return std::nullopt;
  return static_cast<int>(negative ? -value : value);
}

platform::ProcessSpec windows_service_spec(const std::string& exe_path,
                                           const std::string& gui_dir) {
  platform::ProcessSpec invocation;
  invocation.command_line = "\"" + exe_path + "\" \"" + gui_dir + "\"";
  invocation.hidden = true;
  return invocation;
}

platform::ProcessSpec posix_service_spec(const std::string& exe_path, const std::string& gui_dir) {
  platform::ProcessSpec invocation;
  invocation.program = exe_path;
  invocation.args = {gui_dir};
  invocation.new_session = true;
  invocation.null_stdio = true;
  return invocation;
}

std::string service_exe_path() { return support::program_path(support::kServiceProgram); }

bool is_service_process(std::uint32_t pid) {
  const platform::Result<std::string> image = platform::process_image_path(pid);
  // A process that cannot be looked at is not taken for ours.
  if (!image.ok()) return false;
  return platform::paths_equal_ignoring_case(image.value(), service_exe_path());
}

bool service_running() {
  const std::string path = support::work_dir() + platform::kPathSeparator + support::kPidFileName;
  // The running service holds its pid file's lock for its whole life: a
  // process that merely has the recorded id (an id reused after a crash, a
  // service of another work directory) holds none.
  switch (platform::pid_file_lock(path)) {
    case platform::PidLock::held:
      return true;
    case platform::PidLock::free:
      return false;
    case platform::PidLock::unknown:
      break;
  }
  // The lock cannot be looked at: the recorded process decides.
  const std::optional<std::string> text = read_small_file(path);
  if (!text) return false;
  const std::optional<int> pid = parse_pid_text(*text);
  // No process of ours has an id of zero or below.
  if (!pid || *pid <= 0) return false;
  return is_service_process(static_cast<std::uint32_t>(*pid));
}

platform::Status start_service(platform::Process* started) {
  const std::string exe = service_exe_path();
  const std::string gui_dir = support::gui_dir_in(support::installation_dir());
  platform::ProcessSpec invocation;
  if constexpr (platform::kWindows) {
    invocation = windows_service_spec(exe, gui_dir);
  } else {
    invocation = posix_service_spec(exe, gui_dir);
  }
  // The service outlives us: the handle is only looked at, never waited on.
  // A process start can fail for a moment on a loaded machine (seen under
  // Wine); a second or third try costs nothing when the first succeeds, and
  // a service started twice still leaves one, since the pid file is a lock.
  platform::Process process;
  platform::Status created = platform::start_process(invocation, &process);
  for (int attempt = 1; attempt < kServiceStartAttempts && !created.ok(); ++attempt) {
    created = platform::start_process(invocation, &process);
  }
  if (created.ok() && started != nullptr) *started = std::move(process);
  return created;
}

bool RunningServiceWatch::alive() { return started_.running() || service_running(); }

}  // namespace tarnwick
