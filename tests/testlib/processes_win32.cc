// Process ownership on Windows: a job object that this program and, through
// inheritance, everything it starts belong to. Wine implements both the
// job's process list and KILL_ON_JOB_CLOSE (also when the program's own
// process is killed from Linux). Without the job (a system that refuses it),
// the process tree is followed through parent ids from a snapshot.
#include "tests/testlib/processes.h"

#include <windows.h>
#include <tlhelp32.h>

#include <chrono>
#include <map>
#include <set>

namespace testlib {

namespace {

using Clock = std::chrono::steady_clock;

HANDLE g_job = nullptr;

DWORD remaining_ms(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() > 0 ? static_cast<DWORD>(left.count()) : 0;
}

std::vector<std::uint32_t> job_members() {
  // Room for far more processes than a test starts; asked again if short.
  std::vector<unsigned char> storage(sizeof(JOBOBJECT_BASIC_PROCESS_ID_LIST) +
                                     1024 * sizeof(ULONG_PTR));
  auto* list = reinterpret_cast<JOBOBJECT_BASIC_PROCESS_ID_LIST*>(storage.data());
  std::vector<std::uint32_t> pids;
  if (!QueryInformationJobObject(g_job, JobObjectBasicProcessIdList, list,
                                 static_cast<DWORD>(storage.size()), nullptr) &&
      GetLastError() != ERROR_MORE_DATA) {
    return pids;
  }
  // Read through a pointer: the declared array has one element.
  const ULONG_PTR* ids = list->ProcessIdList;
  for (DWORD i = 0; i < list->NumberOfProcessIdsInList; ++i) {
    pids.push_back(static_cast<std::uint32_t>(ids[i]));
  }
  return pids;
}

std::vector<std::uint32_t> tree_members() {
  std::map<std::uint32_t, std::vector<std::uint32_t>> children;
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return {};
  PROCESSENTRY32 entry;
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
    if (entry.th32ProcessID != entry.th32ParentProcessID) {
      children[entry.th32ParentProcessID].push_back(entry.th32ProcessID);
    }
  }
  CloseHandle(snapshot);
  std::vector<std::uint32_t> found;
  std::set<std::uint32_t> visited;
  std::vector<std::uint32_t> pending = {platform::current_pid()};
  while (!pending.empty()) {
    const std::uint32_t parent = pending.back();
    pending.pop_back();
    for (const std::uint32_t child : children[parent]) {
      if (visited.insert(child).second) {
        found.push_back(child);
        pending.push_back(child);
      }
    }
  }
  return found;
}

bool wait_handle(HANDLE process, Clock::time_point deadline) {
  return WaitForSingleObject(process, remaining_ms(deadline)) == WAIT_OBJECT_0;
}

}  // namespace

bool own_descendants() {
  if (g_job != nullptr) return true;
  const HANDLE job = CreateJobObjectA(nullptr, nullptr);
  if (job == nullptr) return false;
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits;
  ZeroMemory(&limits, sizeof limits);
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (!SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits) ||
      !AssignProcessToJobObject(job, GetCurrentProcess())) {
    CloseHandle(job);
    return false;
  }
  // Held until the program ends: closing it ends every member.
  g_job = job;
  return true;
}

std::vector<std::uint32_t> descendants() {
  std::vector<std::uint32_t> pids = g_job != nullptr ? job_members() : tree_members();
  const std::uint32_t self = platform::current_pid();
  std::erase(pids, self);
  return pids;
}

std::vector<std::string> end_descendants(int seconds, bool /*reap*/) {
  const auto deadline = Clock::now() + std::chrono::seconds(seconds);
  std::vector<std::string> ended;
  std::set<std::uint32_t> seen;
  for (;;) {
    const std::vector<std::uint32_t> pids = descendants();
    std::vector<HANDLE> handles;
    for (const std::uint32_t pid : pids) {
      const HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
      if (process == nullptr) continue;
      if (WaitForSingleObject(process, 0) == WAIT_OBJECT_0) {  // already ended
        CloseHandle(process);
        continue;
      }
      if (seen.insert(pid).second)
        ended.push_back(std::to_string(pid) + " " + describe_process(pid));
      TerminateProcess(process, 1);
      handles.push_back(process);
    }
    if (handles.empty()) break;
    for (const HANDLE process : handles) {
      wait_handle(process, deadline);
      CloseHandle(process);
    }
    if (remaining_ms(deadline) == 0) {
      ended.push_back("(some did not end within " + std::to_string(seconds) + " s)");
      break;
    }
  }
  return ended;
}

bool wait_for_exit(std::uint32_t pid, int seconds) {
  if (pid == 0) return true;
  const HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
  if (process == nullptr) return GetLastError() == ERROR_INVALID_PARAMETER;  // no such process
  const bool ended = wait_handle(process, Clock::now() + std::chrono::seconds(seconds));
  CloseHandle(process);
  return ended;
}

bool end_process(std::uint32_t pid, int seconds) {
  if (pid == 0) return true;
  const HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
  if (process == nullptr) return GetLastError() == ERROR_INVALID_PARAMETER;
  TerminateProcess(process, 1);
  const bool ended = wait_handle(process, Clock::now() + std::chrono::seconds(seconds));
  CloseHandle(process);
  return ended;
}

std::optional<int> wait_or_end(platform::Process& process, int seconds) {
  if (!process.valid()) return process.wait();
  // The Process object holds a handle, so its id cannot be reused meanwhile.
  if (wait_for_exit(process.pid(), seconds)) return process.wait();
  // Ended by force and reaped; neither outcome matters here.
  static_cast<void>(process.kill());
  static_cast<void>(process.wait());
  return std::nullopt;
}

std::vector<std::string> end_strays_of_dead_tests(const std::string& /*build_dir*/) { return {}; }

std::vector<std::uint32_t> processes_running(const std::string& image) {
  std::vector<std::uint32_t> pids;
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return pids;
  PROCESSENTRY32 entry;
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
    const std::string path = platform::process_image_path(entry.th32ProcessID).value();
    if (!path.empty() && platform::paths_equal_ignoring_case(path, image)) {
      pids.push_back(entry.th32ProcessID);
    }
  }
  CloseHandle(snapshot);
  return pids;
}

std::string last_error_text() {
  const DWORD code = GetLastError();
  char text[512] = {};
  FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text,
                 sizeof text - 1, nullptr);
  std::string message(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) message.pop_back();
  return ": " + message + " (" + std::to_string(code) + ")";
}

std::string describe_process(std::uint32_t pid) {
  const std::string image = platform::process_image_path(pid).value();
  return image.empty() ? std::string("?") : image;
}

}  // namespace testlib
