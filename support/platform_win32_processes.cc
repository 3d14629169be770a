// The Win32 processes and threads of the platform layer (MinGW-w64, also
// run under Wine).
#include <windows.h>
// windows.h first: these rely on its types.
#include <process.h>
#include <psapi.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "support/command_line.h"
#include "support/platform.h"
#include "support/platform_win32_internal.h"

namespace platform {

using win32::UniqueHandle;

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

}  // namespace platform
