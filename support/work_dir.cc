#include "support/work_dir.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "support/platform.h"
#include "support/runtime_services.h"

namespace support {

namespace {

constexpr std::size_t kPathBufferSize = 4096;

// Written during start-up on the main thread only, read afterwards.
std::string work_dir_path;
std::string log_file_path;

// Serialises the log lines of one process's threads; lines of different
// processes never interleave either, since each is one append-mode write.
std::mutex log_mutex;

std::string separator() { return std::string(1, platform::kPathSeparator); }

// The line end that a text-mode stream writes on this platform; the log is
// written in binary mode so that the message and its line end go out in one
// write call.
constexpr const char* kLineEnd = platform::kWindows ? "\r\n" : "\n";

}  // namespace

bool init_work_dir(Status* cause) {
  Status failure;
  char buffer[kPathBufferSize] = {};
  get_tmpdir(0, buffer, sizeof buffer, 0);
  work_dir_path = buffer;
  const std::string login = my_login_name();
  if (work_dir_path.empty()) {
    failure = Status::posix("get_tmpdir", ENOENT);
  } else {
    work_dir_path += separator() + login + support::kWorkDirSuffix;
    // An existing directory of our own is the usual case, not a failure.
    if (compat_mkdir(work_dir_path.c_str(), 0) != 0 && errno != EEXIST) {
      failure = Status::posix("compat_mkdir", errno);
    }
  }
  if (cause != nullptr) *cause = failure;
  return failure.ok();
}

std::string work_dir() { return work_dir_path; }

std::string prompt_tool_path() { return support::program_path(support::kPromptToolProgram); }

void init_log(const std::string& log_name) {
  open_log(log_name);
  empty_log();
}

void open_log(const std::string& log_name) {
  log_file_path = work_dir_path + separator() + log_name;
}

void empty_log() {
  if (log_file_path.empty()) return;
  const std::lock_guard<std::mutex> lock(log_mutex);
  // Never through a link, and never into a FIFO or device put in its place.
  if (std::FILE* file = platform::open_regular_file(log_file_path, "w")) std::fclose(file);
}

void log_line(const std::string& message) {
  const std::lock_guard<std::mutex> lock(log_mutex);
  std::FILE* file =
      log_file_path.empty() ? nullptr : platform::open_regular_file(log_file_path, "ab");
  if (file == nullptr) {
    const std::string line = message + "\n";
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
    return;
  }
  // The bytes a text-mode stream would store: every line feed of the
  // message, and the line end, as kLineEnd.
  std::string line;
  line.reserve(message.size() + 8);
  for (const char c : message) {
    if (c == '\n') {
      line += kLineEnd;
    } else {
      line += c;
    }
  }
  line += kLineEnd;
  // A buffer larger than the line: fclose hands the whole line to the system
  // in one append-mode write.
  std::setvbuf(file, nullptr, _IOFBF, line.size() + 16);
  std::fwrite(line.data(), 1, line.size(), file);
  std::fclose(file);
}

std::string prompt_command_line(const std::string& tool_path, const std::string& message) {
  std::string line = "\"" + tool_path + "\"";
  line += " proceed -mask p -type \"error\" -prompt ";
  line += "\"" + message + "\"";
  line += " -prefer_gui";
  // The command interpreter strips the outer pair of quotes.
  return "\"" + line + "\"";
}

std::vector<std::string> prompt_arguments(const std::string& message) {
  return {"proceed", "-mask", "p", "-type", "error", "-prompt", message, "-prefer_gui"};
}

void show_error(const std::string& message) {
  if constexpr (platform::kWindows) {
    // The status of the prompt tool is of no interest.
    [[maybe_unused]] const int status =
        std::system(prompt_command_line(prompt_tool_path(), message).c_str());
  } else {
    // No shell: the message is handed over as one argument, whatever it holds.
    platform::ProcessSpec invocation;
    invocation.program = prompt_tool_path();
    invocation.args = prompt_arguments(message);
    platform::Process tool;
    // Only that the tool has ended counts, not how: its status is dropped.
    if (platform::start_process(invocation, &tool).ok()) static_cast<void>(tool.wait());
  }
}

}  // namespace support
