// The Win32 implementation of the platform layer (MinGW-w64, also run under
// Wine). This file and the platform_posix_* files are the only ones of the
// programs that include OS headers.
#include "support/platform.h"

#include <windows.h>
// windows.h first: these rely on its types.
#include <direct.h>
#include <ntsecapi.h>
#include <process.h>
#include <psapi.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <list>
#include <mutex>
#include <new>
#include <utility>

#include "support/command_line.h"

namespace platform {

// The attributes record a pipe is created with, as its only member: its
// address is the record's.
struct PipeSecurity {
  SECURITY_ATTRIBUTES attributes;
};
namespace {

// The largest count a single ReadFile/WriteFile call takes.
DWORD clamp_count(std::size_t size) {
  return size > MAXDWORD ? MAXDWORD : static_cast<DWORD>(size);
}

// A kernel handle closed when the owner goes.
class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(HANDLE handle) : handle_(handle) {}
  ~UniqueHandle() { reset(); }
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;

  HANDLE get() const { return handle_; }
  bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
  void reset(HANDLE handle = nullptr) {
    if (valid()) CloseHandle(handle_);
    handle_ = handle;
  }
  // Gives up ownership without closing.
  HANDLE release() {
    const HANDLE handle = handle_;
    handle_ = nullptr;
    return handle;
  }

 private:
  HANDLE handle_ = nullptr;
};

// ---------------------------------------------------------------------------
// Pipes.

class Win32ServerPipe final : public ServerPipe {
 public:
  explicit Win32ServerPipe(UniqueHandle handle) : handle_(std::move(handle)) {}

  ConnectResult connect() override {
    if (ConnectNamedPipe(handle_.get(), nullptr)) return ConnectResult::connected;
    // The peer came before the wait: the connection is there all the same.
    if (GetLastError() == ERROR_PIPE_CONNECTED) return ConnectResult::already_connected;
    return ConnectResult::failed;
  }

  ReadResult read(char* buffer, std::size_t size) override {
    DWORD got = 0;
    ReadResult result;
    if (ReadFile(handle_.get(), buffer, clamp_count(size), &got, nullptr)) {
      result.status = ReadStatus::complete;
    } else if (GetLastError() == ERROR_MORE_DATA) {
      result.status = ReadStatus::more_data;
      // The rest of the message's size, so that the reader can take it in
      // one read instead of growing its buffer step by step.
      DWORD left = 0;
      if (PeekNamedPipe(handle_.get(), nullptr, 0, nullptr, nullptr, &left)) {
        result.left_in_message = left;
      }
    } else {
      result.status = ReadStatus::failed;
    }
    result.bytes = got;
    return result;
  }

  bool write(const char* data, std::size_t size) override {
    if (size > MAXDWORD) return false;
    DWORD written = 0;
    return WriteFile(handle_.get(), data, static_cast<DWORD>(size), &written, nullptr) &&
           written == size;
  }

  bool flush() override { return FlushFileBuffers(handle_.get()) != 0; }

  void disconnect() override { DisconnectNamedPipe(handle_.get()); }

 private:
  UniqueHandle handle_;
};

class Win32ClientPipe final : public ClientPipe {
 public:
  explicit Win32ClientPipe(UniqueHandle handle) : handle_(std::move(handle)) {}

  bool write(const char* data, std::size_t size) override {
    if (size > MAXDWORD) return false;
    DWORD written = 0;
    return WriteFile(handle_.get(), data, static_cast<DWORD>(size), &written, nullptr) != 0;
  }

  bool read(char* buffer, std::size_t size, std::size_t* bytes) override {
    // The handle stays in the byte read mode it was opened in; a message
    // longer than the buffer still counts as a successful read of its start.
    DWORD got = 0;
    const bool ok = ReadFile(handle_.get(), buffer, clamp_count(size), &got, nullptr) ||
                    GetLastError() == ERROR_MORE_DATA;
    *bytes = got;
    return ok;
  }

 private:
  UniqueHandle handle_;
};

}  // namespace

Result<std::unique_ptr<ServerPipe>> create_server_pipe(const std::string& name,
                                                       const PipeParams& params,
                                                       const PipeSecurity* security) {
  DWORD open_mode = PIPE_ACCESS_DUPLEX;
  if (params.direction == PipeDirection::outbound) open_mode = PIPE_ACCESS_OUTBOUND;
  if (params.direction == PipeDirection::inbound) open_mode = PIPE_ACCESS_INBOUND;
  if (params.first_instance) open_mode |= FILE_FLAG_FIRST_PIPE_INSTANCE;
  const DWORD instances = params.max_instances >= PIPE_UNLIMITED_INSTANCES
                              ? PIPE_UNLIMITED_INSTANCES
                              : params.max_instances;
  // The descriptor is only read by the system; the API merely lacks const.
  auto* attributes =
      security != nullptr ? const_cast<LPSECURITY_ATTRIBUTES>(&security->attributes) : nullptr;
  UniqueHandle handle(CreateNamedPipeA(
      name.c_str(), open_mode,
      PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, instances,
      4096, 4096, 5000, attributes));
  if (!handle.valid()) return Status::win32("CreateNamedPipeA", static_cast<int>(GetLastError()));
  // Without memory for the object the handle is closed here, as on POSIX.
  auto pipe = std::unique_ptr<ServerPipe>(new (std::nothrow) Win32ServerPipe(std::move(handle)));
  if (!pipe) return Status::win32("new", ERROR_NOT_ENOUGH_MEMORY);
  return pipe;
}

bool wait_named_pipe(const std::string& name, unsigned timeout_ms) {
  return WaitNamedPipeA(name.c_str(), timeout_ms) != 0;
}

bool named_pipe_exists(const std::string& name) {
  // With no pipe of that name the wait fails at once; with every instance
  // busy it runs out after 1 ms.
  if (WaitNamedPipeA(name.c_str(), 1)) return true;
  switch (GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_BAD_PATHNAME:
    case ERROR_INVALID_NAME:
      return false;
    default:
      return true;
  }
}

OpenResult open_client_pipe(const std::string& name, PipeAccess access, bool /*notice_stream*/,
                            std::unique_ptr<ClientPipe>* out) {
  DWORD desired = GENERIC_READ | GENERIC_WRITE;
  if (access == PipeAccess::read) desired = GENERIC_READ;
  if (access == PipeAccess::write) desired = GENERIC_WRITE;
  // Identification level only: whoever serves the pipe cannot act as us.
  UniqueHandle handle(CreateFileA(name.c_str(), desired, 0, nullptr, OPEN_EXISTING,
                                  SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr));
  if (!handle.valid()) {
    const DWORD error = GetLastError();
    const Status failed = Status::win32("CreateFileA", static_cast<int>(error));
    switch (error) {
      case ERROR_PIPE_BUSY:
        return {OpenStatus::busy, failed};
      case ERROR_FILE_NOT_FOUND:
        return {OpenStatus::not_found, failed};
      default:
        return {OpenStatus::failed, failed};
    }
  }
  out->reset(new (std::nothrow) Win32ClientPipe(std::move(handle)));
  if (!*out) return {OpenStatus::failed, Status::win32("new", ERROR_NOT_ENOUGH_MEMORY)};
  return {OpenStatus::opened, Status()};
}

// ---------------------------------------------------------------------------
// Processes.

Process::~Process() {
  if (handle_ != kNoHandle) CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

Process::Process(Process&& other) noexcept : handle_(other.handle_), pid_(other.pid_) {
  other.handle_ = kNoHandle;
  other.pid_ = 0;
}

Process& Process::operator=(Process&& other) noexcept {
  if (this != &other) {
    if (handle_ != kNoHandle) CloseHandle(reinterpret_cast<HANDLE>(handle_));
    handle_ = other.handle_;
    pid_ = other.pid_;
    other.handle_ = kNoHandle;
    other.pid_ = 0;
  }
  return *this;
}

int Process::wait() {
  if (handle_ == kNoHandle) return -1;
  const HANDLE handle = reinterpret_cast<HANDLE>(handle_);
  if (WaitForSingleObject(handle, INFINITE) != WAIT_OBJECT_0) return -1;
  DWORD code = 0;
  if (!GetExitCodeProcess(handle, &code)) return -1;
  // The full 32-bit code; 0xFFFFFFFF, a program's -1, comes back as -1.
  return static_cast<int>(code);
}

Status Process::kill() {
  if (handle_ == kNoHandle) return Status::win32("TerminateProcess", ERROR_INVALID_HANDLE);
  if (!TerminateProcess(reinterpret_cast<HANDLE>(handle_), 1)) {
    return Status::win32("TerminateProcess", static_cast<int>(GetLastError()));
  }
  return Status();
}

bool Process::running() {
  if (handle_ == kNoHandle) return false;
  return WaitForSingleObject(reinterpret_cast<HANDLE>(handle_), 0) == WAIT_TIMEOUT;
}

namespace {

// Standard handles for a child whose streams are redirected. Every handle is
// inheritable and closed when the object goes (the child has its own copies
// by then).
struct ChildStdio {
  UniqueHandle in;
  UniqueHandle out;
  UniqueHandle err;

  static HANDLE open_null(DWORD access) {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    return CreateFileA("NUL", access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
  }

  static HANDLE create_file(const std::string& path) {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    return CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                       CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  }

  // A console handle as Windows 7 and earlier make them: a pseudo-handle of
  // the console (its two low bits set, as the system's own test has it), not
  // a kernel object. Such a handle
  // cannot be duplicated as a kernel handle, and CreateProcess rejects it in
  // a PROC_THREAD_ATTRIBUTE_HANDLE_LIST; a child attached to the same
  // console inherits it through the console itself when handles are
  // inherited at all. From Windows 8 on, console handles are kernel handles.
  static bool is_console_pseudo_handle(HANDLE handle) {
    return (reinterpret_cast<std::uintptr_t>(handle) & 0x10000003) == 3;
  }

  // An inheritable copy of this process's own standard handle, or the null
  // device when there is none. A console pseudo-handle is passed on as it
  // is, and `*borrowed` is set: it is not ours to close and is left out of
  // the handle list.
  static HANDLE inherit_own(DWORD which, DWORD access, bool* borrowed) {
    const HANDLE own = GetStdHandle(which);
    if (own != nullptr && own != INVALID_HANDLE_VALUE && is_console_pseudo_handle(own)) {
      *borrowed = true;
      return own;
    }
    HANDLE copy = nullptr;
    if (own != nullptr && own != INVALID_HANDLE_VALUE &&
        DuplicateHandle(GetCurrentProcess(), own, GetCurrentProcess(), &copy, 0, TRUE,
                        DUPLICATE_SAME_ACCESS)) {
      return copy;
    }
    return open_null(access);
  }

  bool open(const ProcessSpec& invocation) {
    in.reset(invocation.inherit_stdio ? inherit_own(STD_INPUT_HANDLE, GENERIC_READ, &in_borrowed)
                                      : open_null(GENERIC_READ));
    if (!invocation.stdout_path.empty()) {
      out.reset(create_file(invocation.stdout_path));
    } else if (invocation.null_stdio) {
      out.reset(open_null(GENERIC_WRITE));
    } else {
      out.reset(inherit_own(STD_OUTPUT_HANDLE, GENERIC_WRITE, &out_borrowed));
    }
    if (!invocation.stderr_path.empty()) {
      err.reset(create_file(invocation.stderr_path));
    } else if (invocation.null_stdio) {
      err.reset(open_null(GENERIC_WRITE));
    } else {
      err.reset(inherit_own(STD_ERROR_HANDLE, GENERIC_WRITE, &err_borrowed));
    }
    return in.valid() && out.valid() && err.valid();
  }

  // The handles that must be named for inheritance: every one but the
  // borrowed console pseudo-handles.
  std::vector<HANDLE> kernel_handles() const {
    std::vector<HANDLE> handles;
    if (!in_borrowed) handles.push_back(in.get());
    if (!out_borrowed) handles.push_back(out.get());
    if (!err_borrowed) handles.push_back(err.get());
    return handles;
  }

  ~ChildStdio() {
    // A borrowed handle is this process's own standard handle: keep it open.
    if (in_borrowed) in.release();
    if (out_borrowed) out.release();
    if (err_borrowed) err.release();
  }

  ChildStdio() = default;
  ChildStdio(const ChildStdio&) = delete;
  ChildStdio& operator=(const ChildStdio&) = delete;

  bool in_borrowed = false;
  bool out_borrowed = false;
  bool err_borrowed = false;
};

}  // namespace

Status start_process(const ProcessSpec& invocation, Process* out) {
  // CreateProcessA may write into the command line, so it gets a writable,
  // zero-filled copy one byte longer than the text.
  const std::string line = invocation.command_line.empty()
                               ? support::windows_command_line(invocation.program, invocation.args)
                               : invocation.command_line;
  std::vector<char> buffer(line.size() + 1, '\0');
  std::memcpy(buffer.data(), line.data(), line.size());
  const char* application = invocation.command_line.empty() ? invocation.program.c_str() : nullptr;

  STARTUPINFOA startup;
  std::memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  DWORD creation_flags = 0;
  if (invocation.hidden) {
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    creation_flags = CREATE_NO_WINDOW;
  }

  // Handles are inherited only when the child's streams are redirected, and
  // then only the three standard ones are named for it.
  const bool redirect = invocation.null_stdio || invocation.inherit_stdio ||
                        !invocation.stdout_path.empty() || !invocation.stderr_path.empty();
  ChildStdio stdio;
  std::vector<char> attribute_storage;
  STARTUPINFOEXA extended;
  std::memset(&extended, 0, sizeof extended);
  HANDLE inherited[3] = {};
  LPSTARTUPINFOA startup_arg = &startup;
  if (redirect) {
    if (!stdio.open(invocation))
      return Status::win32("CreateFileA", static_cast<int>(GetLastError()));
    startup.dwFlags |= STARTF_USESTDHANDLES;
    startup.hStdInput = stdio.in.get();
    startup.hStdOutput = stdio.out.get();
    startup.hStdError = stdio.err.get();
    // Restrict inheritance to these handles, so that other inheritable
    // handles of this process (pipes made with an inheritable descriptor) do
    // not leak into the child. Console pseudo-handles (Windows 7) cannot be
    // listed: they reach the child through the console, and when all three
    // are such handles there is no list, since an empty one is invalid.
    const std::vector<HANDLE> listed = stdio.kernel_handles();
    std::copy(listed.begin(), listed.end(), inherited);
    const SIZE_T listed_bytes = listed.size() * sizeof(HANDLE);
    SIZE_T attribute_size = 0;
    if (!listed.empty()) InitializeProcThreadAttributeList(nullptr, 1, 0, &attribute_size);
    attribute_storage.assign(attribute_size, '\0');
    auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attribute_storage.data());
    if (attribute_size != 0 && InitializeProcThreadAttributeList(list, 1, 0, &attribute_size)) {
      if (UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited,
                                    listed_bytes, nullptr, nullptr)) {
        extended.StartupInfo = startup;
        extended.StartupInfo.cb = sizeof extended;
        extended.lpAttributeList = list;
        startup_arg = &extended.StartupInfo;
        creation_flags |= EXTENDED_STARTUPINFO_PRESENT;
      } else {
        DeleteProcThreadAttributeList(list);
      }
    }
  }

  PROCESS_INFORMATION info;
  std::memset(&info, 0, sizeof info);
  const BOOL created = CreateProcessA(
      application, buffer.data(), nullptr, nullptr, redirect ? TRUE : FALSE, creation_flags,
      nullptr, invocation.working_dir.empty() ? nullptr : invocation.working_dir.c_str(),
      startup_arg, &info);
  const int error = created ? 0 : static_cast<int>(GetLastError());
  if (extended.lpAttributeList != nullptr) DeleteProcThreadAttributeList(extended.lpAttributeList);
  if (!created) return Status::win32("CreateProcessA", error);
  const UniqueHandle thread(info.hThread);  // not needed: closed at once
  Process started;
  started.handle_ = reinterpret_cast<std::intptr_t>(info.hProcess);
  started.pid_ = info.dwProcessId;
  *out = std::move(started);
  return Status();
}

Result<std::string> process_image_path(std::uint32_t pid) {
  const UniqueHandle process(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid));
  if (!process.valid()) return Status::win32("OpenProcess", static_cast<int>(GetLastError()));
  char path[1024];
  std::memset(path, 0, sizeof path);
  if (GetModuleFileNameExA(process.get(), nullptr, path, sizeof path) == 0) {
    return Status::win32("GetModuleFileNameExA", static_cast<int>(GetLastError()));
  }
  path[sizeof path - 1] = '\0';
  return std::string(path);
}

Status kill_process(std::uint32_t pid) {
  const UniqueHandle process(OpenProcess(PROCESS_TERMINATE, FALSE, pid));
  if (!process.valid()) return Status::win32("OpenProcess", static_cast<int>(GetLastError()));
  if (!TerminateProcess(process.get(), 1))
    return Status::win32("TerminateProcess", static_cast<int>(GetLastError()));
  return Status();
}

std::vector<std::uint32_t> all_process_ids() {
  std::vector<DWORD> ids(1024);
  for (;;) {
    DWORD bytes = 0;
    const DWORD capacity = static_cast<DWORD>(ids.size() * sizeof(DWORD));
    if (!EnumProcesses(ids.data(), capacity, &bytes)) return {};
    // A full buffer may have cut the list short.
    if (bytes < capacity) {
      ids.resize(bytes / sizeof(DWORD));
      return std::vector<std::uint32_t>(ids.begin(), ids.end());
    }
    ids.resize(ids.size() * 2);
  }
}

std::uint32_t current_pid() { return GetCurrentProcessId(); }

namespace {

struct ThreadStart {
  void (*body)(void*);
  void* arg;
};

unsigned __stdcall thread_trampoline(void* raw) {
  const ThreadStart start = *static_cast<ThreadStart*>(raw);
  delete static_cast<ThreadStart*>(raw);
  start.body(start.arg);
  return 0;
}

}  // namespace

Status start_detached_thread(void (*body)(void*), void* arg) {
  auto* start = new (std::nothrow) ThreadStart{body, arg};
  if (start == nullptr) return Status::posix("_beginthreadex", ENOMEM);
  // Detached: the thread's handle is closed at once.
  const UniqueHandle thread(
      reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, thread_trampoline, start, 0, nullptr)));
  if (!thread.valid()) {
    const int error = errno;
    delete start;
    return Status::posix("_beginthreadex", error);
  }
  return Status();
}

void exit_now(int status) {
  // TerminateProcess rather than ExitProcess: ExitProcess ends the other
  // threads wherever they are and then runs the DLL detach code, which takes
  // runtime locks (the C runtime flushes its streams) that a worker ended in
  // the middle of a log write may still hold, so the exit could hang.
  // Terminating runs no code of ours or the runtime's and ends every thread,
  // also one blocked in ConnectNamedPipe.
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(status));
  ExitProcess(static_cast<UINT>(status));
}

// Pipes go with their process here, and pipe names have no length limit of
// their own that a work directory could push them over.
Status remove_pipes_on_termination_signals() { return Status(); }
// Handles have no per-process limit that a caller could have lowered.
std::uint64_t raise_descriptor_limit(std::uint64_t /*wanted*/) { return 0; }
std::string pipe_name_problem(const std::string& /*name*/) { return std::string(); }
void remove_stale_pipes(const std::string& /*base_name*/) {}
// The pid file's mutex tells whether another service runs.
bool pipe_served_elsewhere(const std::string& /*name*/) { return false; }
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

namespace {

// One security-attributes record and the descriptor, list and SID it points
// into. Absolute-format descriptor, so every part lives here.
struct OwnerSecurity {
  unsigned long access = 0;
  bool inherit = false;
  PipeSecurity security{};
  SECURITY_DESCRIPTOR descriptor{};
  std::vector<unsigned char> sid;
  std::vector<unsigned char> acl;
};

// The SID of the user the process token belongs to.
bool token_user_sid(std::vector<unsigned char>* sid) {
  HANDLE raw = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) return false;
  UniqueHandle token(raw);
  DWORD size = 0;
  GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
  if (size == 0) return false;
  // TOKEN_USER holds pointers: keep the buffer pointer-aligned.
  std::vector<std::uintptr_t> info((size + sizeof(std::uintptr_t) - 1) / sizeof(std::uintptr_t));
  if (!GetTokenInformation(token.get(), TokenUser, info.data(), size, &size)) return false;
  const PSID user = reinterpret_cast<TOKEN_USER*>(info.data())->User.Sid;
  if (!IsValidSid(user)) return false;
  const DWORD length = GetLengthSid(user);
  sid->assign(length, 0);
  return CopySid(length, sid->data(), user) != 0;
}

bool build(OwnerSecurity* record) {
  if (!token_user_sid(&record->sid)) return false;
  const DWORD acl_size = sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) +
                         static_cast<DWORD>(record->sid.size());
  // ACL and ACE fields are DWORD-aligned.
  record->acl.assign((acl_size + 3) & ~3u, 0);
  auto* acl = reinterpret_cast<PACL>(record->acl.data());
  if (!InitializeAcl(acl, static_cast<DWORD>(record->acl.size()), ACL_REVISION)) return false;
  if (!AddAccessAllowedAce(acl, ACL_REVISION, record->access, record->sid.data())) return false;
  if (!InitializeSecurityDescriptor(&record->descriptor, SECURITY_DESCRIPTOR_REVISION))
    return false;
  if (!SetSecurityDescriptorDacl(&record->descriptor, TRUE, acl, FALSE)) return false;
  // Protected: no entries are inherited from a parent object.
  if (!SetSecurityDescriptorControl(&record->descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED)) {
    return false;
  }
  record->security.attributes.nLength = sizeof(SECURITY_ATTRIBUTES);
  record->security.attributes.lpSecurityDescriptor = &record->descriptor;
  record->security.attributes.bInheritHandle = record->inherit ? TRUE : FALSE;
  return true;
}

}  // namespace

const PipeSecurity* owner_pipe_security(unsigned long access, bool inherit) {
  // Built once for each (access, inherit) and kept for the life of the
  // process; callers pass the pointer on to every pipe they create.
  static std::mutex lock;
  static std::list<OwnerSecurity> records;
  const std::lock_guard<std::mutex> guard(lock);
  for (const OwnerSecurity& record : records) {
    if (record.access == access && record.inherit == inherit) return &record.security;
  }
  OwnerSecurity& record = records.emplace_back();
  record.access = access;
  record.inherit = inherit;
  if (!build(&record)) {
    records.pop_back();
    return nullptr;
  }
  return &record.security;
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
