// The Win32 files, directories and users, the pid file's lock, and time,
// entropy and the environment of the platform layer (MinGW-w64, also run
// under Wine).
#include <windows.h>
// windows.h first: these rely on its types.
#include <direct.h>
#include <ntsecapi.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "support/platform.h"
#include "support/platform_win32_internal.h"

namespace platform {

using win32::UniqueHandle;

std::FILE* open_regular_file(const std::string& path, const char* mode) {
  return std::fopen(path.c_str(), mode);
}

// ---------------------------------------------------------------------------
// Files, directories, users.

std::string executable_path() {
  std::vector<char> buffer(MAX_PATH);
  for (;;) {
    const DWORD length =
        GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return std::string();
    if (length < buffer.size()) return std::string(buffer.data(), length);
    if (buffer.size() >= 32768) return std::string();
    buffer.resize(buffer.size() * 2);
  }
}

std::string login_name() {
  char name[257];  // UNLEN + 1
  DWORD size = sizeof name;
  if (!GetUserNameA(name, &size)) return std::string();
  return std::string(name);
}

std::string temp_dir() {
  char path[MAX_PATH + 1];
  const DWORD length = GetTempPathA(sizeof path, path);
  if (length == 0 || length >= sizeof path) return std::string();
  std::string result(path, length);
  if (!result.empty() && result.back() == '\\') result.pop_back();
  return result;
}

std::string current_dir() {
  // Any length: without a buffer the runtime allocates one as large as the
  // directory needs.
  char* path = _getcwd(nullptr, 0);
  if (path == nullptr) return std::string();
  std::string result(path);
  std::free(path);
  return result;
}

Status set_current_dir(const std::string& path) {
  if (_chdir(path.c_str()) != 0) return Status::posix("_chdir", errno);
  return Status();
}

Status make_private_dir(const std::string& path) {
  // The runtime reports EEXIST for any existing entry, a plain file included.
  if (_mkdir(path.c_str()) != 0) return Status::posix("_mkdir", errno);
  return Status();
}

namespace {

// The name of the mutex that stands for the lock on the pid file at `path`:
// per login, in the session's local namespace, and per file (a hash of the
// path folded to lower case, as the file system folds it), so that two work
// directories never share one lock.
std::string pid_lock_name(const std::string& path) {
  std::uint64_t hash = 14695981039346656037ull;  // FNV-1a
  for (const char c : path) {
    const unsigned char byte = static_cast<unsigned char>(c);
    hash ^= (byte >= 'A' && byte <= 'Z') ? byte - 'A' + 'a' : byte;
    hash *= 1099511628211ull;
  }
  char digits[17];
  std::snprintf(digits, sizeof digits, "%016llx", static_cast<unsigned long long>(hash));
  std::string login = login_name();
  // A mutex name may hold no backslash after its namespace.
  for (char& c : login) {
    if (c == '\\') c = '_';
  }
  return "Local\\hollin_service_lock_" + login + "_" + digits;
}

struct PidLocks {
  std::mutex mutex;
  // The name and handle of every lock this process holds; kept for its life.
  std::vector<std::pair<std::string, HANDLE>> held;
};

PidLocks& pid_locks() {
  static PidLocks* locks = new PidLocks;  // never destroyed: held until exit
  return *locks;
}

}  // namespace

Status write_pid_file(const std::string& path, std::uint32_t pid) {
  const std::string name = pid_lock_name(path);
  PidLocks& locks = pid_locks();
  const std::lock_guard<std::mutex> guard(locks.mutex);
  // Held elsewhere: EWOULDBLOCK says so, as flock's refusal does on POSIX.
  for (const auto& lock : locks.held) {
    if (lock.first == name) return Status::posix("WaitForSingleObject", EWOULDBLOCK);
  }
  // Ownership, not existence, is the lock: another process may hold a handle
  // to the mutex for a moment without owning it. An abandoned mutex (its
  // owner ended without releasing it) is ours as well.
  UniqueHandle mutex(CreateMutexA(nullptr, FALSE, name.c_str()));
  if (!mutex.valid()) return Status::win32("CreateMutexA", static_cast<int>(GetLastError()));
  // A client that looks at the lock owns the mutex for a moment.
  constexpr DWORD kLookMs = 20;
  const DWORD taken = WaitForSingleObject(mutex.get(), kLookMs);
  if (taken == WAIT_TIMEOUT) return Status::posix("WaitForSingleObject", EWOULDBLOCK);
  if (taken != WAIT_OBJECT_0 && taken != WAIT_ABANDONED) {
    return Status::win32("WaitForSingleObject", static_cast<int>(GetLastError()));
  }
  UniqueHandle file(CreateFileA(path.c_str(), GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  const std::string digits = std::to_string(pid);
  DWORD written = 0;
  Status outcome;
  if (!file.valid()) {
    outcome = Status::win32("CreateFileA", static_cast<int>(GetLastError()));
  } else if (!WriteFile(file.get(), digits.data(), static_cast<DWORD>(digits.size()), &written,
                        nullptr)) {
    outcome = Status::win32("WriteFile", static_cast<int>(GetLastError()));
  } else if (written != digits.size()) {
    outcome = Status::win32("WriteFile", ERROR_WRITE_FAULT);
  }
  if (!outcome.ok()) {
    ReleaseMutex(mutex.get());
    return outcome;
  }
  locks.held.emplace_back(name, mutex.get());
  mutex.release();
  return Status();
}

Status keep_pid_file(const std::string& /*path*/, std::uint32_t /*pid*/, bool* remade) {
  *remade = false;
  return Status();
}

PidLock pid_file_lock(const std::string& path) {
  const std::string name = pid_lock_name(path);
  {
    // This process's own lock: a wait would take it again, recursively.
    PidLocks& locks = pid_locks();
    const std::lock_guard<std::mutex> guard(locks.mutex);
    for (const auto& lock : locks.held) {
      if (lock.first == name) return PidLock::held;
    }
  }
  UniqueHandle mutex(OpenMutexA(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, name.c_str()));
  if (!mutex.valid()) {
    return GetLastError() == ERROR_FILE_NOT_FOUND ? PidLock::free : PidLock::unknown;
  }
  const DWORD taken = WaitForSingleObject(mutex.get(), 0);
  if (taken == WAIT_TIMEOUT) return PidLock::held;
  if (taken != WAIT_OBJECT_0 && taken != WAIT_ABANDONED) return PidLock::unknown;
  // Owned only for this look.
  ReleaseMutex(mutex.get());
  return PidLock::free;
}

bool paths_equal_ignoring_case(const std::string& a, const std::string& b) {
  return _stricmp(a.c_str(), b.c_str()) == 0;
}

// ---------------------------------------------------------------------------
// Time, entropy, environment.

std::int64_t now_seconds() { return static_cast<std::int64_t>(std::time(nullptr)); }

void sleep_ms(unsigned milliseconds) { Sleep(milliseconds); }

Status random_bytes(void* buffer, std::size_t size) {
  auto* bytes = static_cast<unsigned char*>(buffer);
  while (size > 0) {
    const ULONG chunk = size > ULONG_MAX ? ULONG_MAX : static_cast<ULONG>(size);
    if (!RtlGenRandom(bytes, chunk))
      return Status::win32("RtlGenRandom", static_cast<int>(GetLastError()));
    bytes += chunk;
    size -= chunk;
  }
  return Status();
}

std::string get_env(const std::string& name) {
  std::vector<char> value(256);
  for (;;) {
    const DWORD length =
        GetEnvironmentVariableA(name.c_str(), value.data(), static_cast<DWORD>(value.size()));
    if (length == 0) return std::string();
    if (length < value.size()) return std::string(value.data(), length);
    value.resize(length);  // the size needed, terminating zero included
  }
}

Status set_env(const std::string& name, const std::string& value) {
  if (name.empty() || name.find('=') != std::string::npos) {
    return Status::win32("SetEnvironmentVariableA", ERROR_INVALID_PARAMETER);
  }
  // The process environment (seen by children and the system) and the C
  // runtime's copy (seen by getenv) are kept in step; an empty value unsets.
  if (value.empty()) {
    // Both fail harmlessly when the variable is unset; what counts is that it is gone.
    SetEnvironmentVariableA(name.c_str(), nullptr);
    static_cast<void>(_putenv_s(name.c_str(), ""));
    if (!get_env(name).empty())
      return Status::win32("SetEnvironmentVariableA", ERROR_ACCESS_DENIED);
    return Status();
  }
  if (!SetEnvironmentVariableA(name.c_str(), value.c_str())) {
    return Status::win32("SetEnvironmentVariableA", static_cast<int>(GetLastError()));
  }
  const int error = _putenv_s(name.c_str(), value.c_str());
  if (error != 0) return Status::posix("_putenv_s", error);
  return Status();
}

}  // namespace platform
