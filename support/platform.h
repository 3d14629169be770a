// The one interface between the portable core and the operating system.
//
// Everything that touches pipes, processes, files with owners, the current
// directory, time, sleep, entropy or threads goes through here. Only the
// files that implement it include OS headers: platform_posix_*.cc (pipes,
// their sockets and registry, stale socket files, processes, files) with
// platform_posix_internal.h, and platform_win32_*.cc (pipes, processes,
// files) with platform_win32_internal.h. Elsewhere, only the few files
// named *_posix.cc or *_win32.cc (saving a file in one step, a binary
// standard output) include them, each for what this interface does not
// offer. Each group below says which of its calls may run on several threads
// at once.
//
// Pipe ends are abstract classes so that the relay and the client channel can
// be driven by fakes in tests.
//
// A call that can fail for a reason of the system returns a Status (or a
// Result with its value) carrying the failed call and its error code; the
// other results are answers (true or false, an enum of outcomes).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "support/status.h"

namespace platform {

using support::Result;
using support::Status;

#ifdef _WIN32
inline constexpr bool kWindows = true;
inline constexpr char kPathSeparator = '\\';
inline constexpr const char* kExeSuffix = ".exe";
#else
inline constexpr bool kWindows = false;
inline constexpr char kPathSeparator = '/';
inline constexpr const char* kExeSuffix = "";
#endif

// ---------------------------------------------------------------------------
// Pipes, server end. Threads: every call below may be made from any thread;
// one ServerPipe is used by one thread at a time.

enum class PipeDirection { duplex, outbound, inbound };

struct PipeParams {
  PipeDirection direction = PipeDirection::duplex;
  // 255 stands for the platform's "unlimited".
  unsigned max_instances = 1;
  // True for the wrapper pipe: it carries a sequence of self-delimited
  // notices and its writer never ends "the message". On POSIX every other
  // pipe carries one message per direction, ended by shutting down the
  // sending side after the write.
  bool notice_stream = false;
  // Windows: creation fails when an instance of the name exists already
  // (ignored on POSIX, where a name that someone listens on can never be
  // bound twice).
  bool first_instance = false;
  // POSIX, a pipe of many instances: connect returns `idle` when nobody has
  // come for about a second, so that the caller can look after itself.
  bool report_idle = false;
};

enum class ConnectResult {
  connected,          // a peer connected during the wait
  already_connected,  // the peer connected before the wait began
  failed,
  // POSIX, a pipe of many instances: its name no longer leads to it (the
  // socket file was removed or replaced), so no client can reach it. Its
  // listening socket is closed; the next instance of the name binds afresh.
  lost,
  // POSIX, a pipe of many instances: a peer is waiting but no descriptor is
  // left to accept it with. The peer stays queued; connect may be called
  // again once descriptors have been given back.
  out_of_descriptors,
  // POSIX, a pipe made with `report_idle`: nobody came for about a second.
  // connect may be called again.
  idle,
};

enum class ReadStatus {
  complete,   // the read ended the message (or took all of it)
  more_data,  // the buffer is full and the message goes on
  failed,     // error, or end of message with nothing read
};

struct ReadResult {
  ReadStatus status = ReadStatus::failed;
  std::size_t bytes = 0;
  // With more_data: how many bytes of the message are still to come, when
  // the platform can tell (Windows can); 0 when it cannot. A hint
  // for the size of the next read, never a promise.
  std::size_t left_in_message = 0;
};

class ServerPipe {
 public:
  virtual ~ServerPipe() = default;  // closes the pipe end
  ServerPipe() = default;
  ServerPipe(const ServerPipe&) = delete;
  ServerPipe& operator=(const ServerPipe&) = delete;

  // Blocks until a peer has connected. On POSIX the peer's user id is
  // checked and a peer of another user is dropped silently while the wait
  // goes on.
  [[nodiscard]] virtual ConnectResult connect() = 0;
  // One read of at most `size` bytes of the current message.
  [[nodiscard]] virtual ReadResult read(char* buffer, std::size_t size) = 0;
  // Writes one whole message (one write call on Windows).
  [[nodiscard]] virtual bool write(const char* data, std::size_t size) = 0;
  // Waits until the peer has taken what was written.
  [[nodiscard]] virtual bool flush() = 0;
  virtual void disconnect() = 0;
};

// Who may use a pipe: made by owner_pipe_security and defined by the
// platform file (Windows: a security descriptor; POSIX needs none).
struct PipeSecurity;

// Creates a server end (one instance) of the named pipe, with `security`
// from owner_pipe_security (null: the platform's default). The failed call
// and its error code when the pipe cannot be created.
[[nodiscard]] Result<std::unique_ptr<ServerPipe>> create_server_pipe(const std::string& name,
                                                                     const PipeParams& params,
                                                                     const PipeSecurity* security);

// Empty text when a pipe of that name can be made and reached; otherwise a
// line that says why not (POSIX: a socket address holds at most 107 bytes;
// inside a work directory opened by make_private_dir every name is reached
// through the directory's handle and fits, elsewhere a long name is reached
// through a handle of its directory). Always empty on Windows.
[[nodiscard]] std::string pipe_name_problem(const std::string& name);

// POSIX: removes the socket files in the directory of `base_name` whose names
// begin with its last component and that are proven stale (no live socket
// is bound to them; nothing ever connects to find out), other than this
// process's own. Only inside a work directory opened by make_private_dir.
// Nothing on Windows, where pipes go with their process.
void remove_stale_pipes(const std::string& base_name);

// POSIX: true when a live socket of another process is bound to the socket
// file `name` (looked up without connecting), so that another process
// serves that pipe. False when it cannot be told, and always on Windows.
[[nodiscard]] bool pipe_served_elsewhere(const std::string& name);

// ---------------------------------------------------------------------------
// Pipes, client end. Threads: every call below may be made from any thread;
// one ClientPipe is used by one thread at a time.

enum class PipeAccess { read_write, read, write };

enum class OpenStatus {
  opened,
  busy,       // the pipe exists but every instance is taken
  not_found,  // no pipe of that name
  failed,     // anything else, including a server of another user (POSIX)
};

class ClientPipe {
 public:
  virtual ~ClientPipe() = default;  // closes the pipe end
  ClientPipe() = default;
  ClientPipe(const ClientPipe&) = delete;
  ClientPipe& operator=(const ClientPipe&) = delete;

  // Writes one whole message; on POSIX, for a message pipe, the sending side
  // is then shut down so the peer sees the end of the message.
  [[nodiscard]] virtual bool write(const char* data, std::size_t size) = 0;
  // One read of at most `size` bytes (POSIX: reads until `size` bytes or the
  // end of the message). False on error, or at end of message with nothing
  // read. `*bytes` receives the count.
  [[nodiscard]] virtual bool read(char* buffer, std::size_t size, std::size_t* bytes) = 0;
};

// True when an instance is free to be opened within
// `timeout_ms`; false at once when no pipe of that name exists. On POSIX the
// wait is a connect attempt whose connection the next open of that name in
// this process takes over.
[[nodiscard]] bool wait_named_pipe(const std::string& name, unsigned timeout_ms);
// True when a pipe of that name exists (free or busy). Cheap; never waits
// longer than a few milliseconds.
[[nodiscard]] bool named_pipe_exists(const std::string& name);
// How an open of a client end went: its kind, and beside it the failed call
// and its error code (ok() when opened).
struct [[nodiscard]] OpenResult {
  OpenStatus kind = OpenStatus::failed;
  Status status;
};
// Opens the client end into `out`. `notice_stream` as in PipeParams (POSIX
// only).
[[nodiscard]] OpenResult open_client_pipe(const std::string& name, PipeAccess access,
                                          bool notice_stream, std::unique_ptr<ClientPipe>* out);

// ---------------------------------------------------------------------------
// Processes and threads. Threads: every call below may be made from any
// thread, except remove_pipes_on_termination_signals (see there); one
// Process object is used by one thread at a time.

struct ProcessSpec {
  // The program to run, as a path.
  std::string program;
  // Arguments after the program name (POSIX argv[1..]; on Windows quoted by
  // the C runtime's rules unless `command_line` is given).
  std::vector<std::string> args;
  // Windows: when not empty, the command line exactly as it stands, with no
  // separate program path (the first token names the program).
  std::string command_line;
  // Working directory of the child; empty inherits the caller's.
  std::string working_dir;
  // Windows: the child's window is hidden and it gets no console window.
  bool hidden = false;
  // POSIX: start the child in a new session.
  bool new_session = false;
  // Standard streams on the null device.
  bool null_stdio = false;
  // Windows: the child gets this process's own standard streams even when
  // they are redirected files or pipes (a console child otherwise loses
  // them). POSIX children always inherit them.
  bool inherit_stdio = false;
  // When not empty, standard output / error go to these files (created or
  // truncated) and standard input comes from the null device. For tests.
  std::string stdout_path;
  std::string stderr_path;
};

class Process {
 public:
  Process() = default;
  ~Process();  // releases the handle; never kills or waits
  Process(Process&& other) noexcept;
  Process& operator=(Process&& other) noexcept;
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  [[nodiscard]] bool valid() const { return handle_ != kNoHandle; }
  [[nodiscard]] std::uint32_t pid() const { return pid_; }
  // Waits for the process to end and returns its exit status: the full
  // 32-bit code on Windows (-1 for 0xFFFFFFFF); 0..255 on POSIX, or 128 plus
  // the signal number when a signal ended it. -1 when waiting fails.
  [[nodiscard]] int wait();
  // Ends the process at once, without letting it clean up.
  [[nodiscard]] Status kill();
  // True while the process has not ended; never blocks, and leaves the exit
  // status to wait().
  [[nodiscard]] bool running();

 private:
  friend Status start_process(const ProcessSpec& invocation, Process* out);
  static constexpr std::intptr_t kNoHandle = -1;
  std::intptr_t handle_ = kNoHandle;
  std::uint32_t pid_ = 0;
};

// Starts a process as `invocation` says; the failure says which call of
// the creation failed.
[[nodiscard]] Status start_process(const ProcessSpec& invocation, Process* out);

// The full path of the main module of process `pid`; a failure when the
// process cannot be opened or queried (Windows: at most 1023 characters).
[[nodiscard]] Result<std::string> process_image_path(std::uint32_t pid);

// Sends the end signal to a process by id (tests and tools only).
[[nodiscard]] Status kill_process(std::uint32_t pid);

// The ids of every process this user can see (tests and tools only).
[[nodiscard]] std::vector<std::uint32_t> all_process_ids();

[[nodiscard]] std::uint32_t current_pid();

// Starts `body(arg)` on a new detached thread with the default stack size.
// A failure when the thread cannot be started (the caller still owns `arg`).
// Hands nothing over: a thread that owns what it works on starts through
// start_owning_thread.
[[nodiscard]] Status start_detached_thread(void (*body)(void*), void* arg);

// Starts `Body(std::move(owned))` on a new detached thread, which then owns
// the object: `owned` is released only when the thread has started, and on
// a failure the caller still owns it.
template <auto Body, typename T>
[[nodiscard]] Status start_owning_thread(std::unique_ptr<T>& owned) {
  void (*trampoline)(void*) = [](void* raw) { Body(std::unique_ptr<T>(static_cast<T*>(raw))); };
  const Status started = start_detached_thread(trampoline, owned.get());
  if (!started) return started;
  // The thread owns it now (and may already have freed it): only let go.
  static_cast<void>(owned.release());
  return started;
}

// POSIX: raises the soft limit on open descriptors to `wanted`, or to the
// hard limit when that is lower; a higher soft limit is left as it is. The
// limit in force afterwards (0 when it cannot be read). Windows: nothing to
// raise; 0.
std::uint64_t raise_descriptor_limit(std::uint64_t wanted);

// Ends the process at once with `status`, from any thread. On POSIX the
// socket files this process made are removed first.
[[noreturn]] void exit_now(int status);

// POSIX: from now on SIGTERM, SIGINT and SIGHUP remove the socket files this
// process made and then end it by that signal. Call before any other thread
// starts (the signals are blocked in the calling thread and taken by a
// thread of their own). Windows: nothing to do (pipes go with the process).
[[nodiscard]] Status remove_pipes_on_termination_signals();

// ---------------------------------------------------------------------------
// Files, directories, users. Threads: every call below may be made from any
// thread, except set_current_dir and the first temp_dir, which change the
// whole process (call them while it has one thread).

// The full path of the running executable.
[[nodiscard]] std::string executable_path();
// The current user's login name (POSIX: of the effective user id).
[[nodiscard]] std::string login_name();
// Windows: the user's temporary directory without a trailing separator. POSIX: $TMPDIR when
// set and not empty, else /tmp; a relative $TMPDIR is made absolute against
// the current directory and written back to the environment, so that later
// reads and child processes see the same absolute directory (call it while
// the process has a single thread). Empty when that cannot be done.
[[nodiscard]] std::string temp_dir();
// The current directory, at any length, or empty text when it cannot be
// read.
[[nodiscard]] std::string current_dir();
[[nodiscard]] Status set_current_dir(const std::string& path);

// Creates a directory that only the current user may use. Success when it
// was made; otherwise the code is an errno value: EEXIST when the entry exists and is the user's
// own (Windows: any existing entry; POSIX: a directory owned by the effective user without group or
// other permission bits), EACCES when it exists but may not be used (POSIX: someone else's, a
// symbolic link, a directory open to others, or anything that is not a directory). POSIX: the check
// is made on the directory opened without following links, and that handle is kept for the
// process's life as a work directory: every file (open_regular_file, write_pid_file) and socket
// named directly inside the path is then reached through the handle, never by the path again.
[[nodiscard]] Status make_private_dir(const std::string& path);

// fopen for the files of a work directory (logs, pid file): mode "r", "w" or
// "a" (a "b" is allowed). POSIX: the last component is never followed as a
// symbolic link, the open never blocks (a FIFO in the file's place cannot
// hang the caller), and only a regular file is accepted.
[[nodiscard]] std::FILE* open_regular_file(const std::string& path, const char* mode);

// Writes `pid` in decimal into the pid file, holding a lock on it for the
// rest of the process's life; a failure with code EWOULDBLOCK when another
// live process (or an earlier call in this one) holds the lock, and the file
// is then left as it was. POSIX: the file is opened without truncation, locked exclusively
// (flock) and only then truncated and written; it must be a regular file
// and is never opened through a link. Windows: the lock is a named
// mutex of the session's local namespace, named after the login and the
// file's path and owned by the calling thread (call it from a thread that
// lives as long as the process); once it is owned the file is created or
// truncated, with no sharing restriction, and written.
// A lock held for a moment by a look (pid_file_lock) is waited for, a few
// milliseconds at most.
[[nodiscard]] Status write_pid_file(const std::string& path, std::uint32_t pid);

// Makes sure the pid file at `path`, written and locked by write_pid_file,
// still has its name: one that was removed (a temporary-file cleaner) is
// made again, with the id, and locked. `*remade` says whether it was. A
// failure when it cannot be made, or another process holds the file now at
// that path. Windows: nothing to do (the lock is the mutex).
[[nodiscard]] Status keep_pid_file(const std::string& path, std::uint32_t pid, bool* remade);

// Whether the lock that write_pid_file takes on `path` is held.
enum class PidLock {
  held,     // by a live process
  free,     // nobody holds it (or there is no pid file)
  unknown,  // the file or lock could not be looked at
};
// Looks at the lock of the pid file at `path` from another process than its
// holder, taking it for a moment when it is free (POSIX: a shared flock;
// Windows: the named mutex, opened, never created).
[[nodiscard]] PidLock pid_file_lock(const std::string& path);

// Windows: security that grants `access` (an access mask) to the current
// user alone, with handles inherited by children when `inherit`; built once
// for each pair and kept for the process's life, null when it cannot be
// built. POSIX: null (pipes are protected by the private work directory,
// socket file modes and peer credential checks).
[[nodiscard]] const PipeSecurity* owner_pipe_security(unsigned long access, bool inherit);

// Case-insensitive equality of two paths.
[[nodiscard]] bool paths_equal_ignoring_case(const std::string& a, const std::string& b);

// ---------------------------------------------------------------------------
// Time, entropy, environment. Threads: every call below may be made from any
// thread, except set_env, which must not run while another thread reads the
// environment.

[[nodiscard]] std::int64_t now_seconds();
void sleep_ms(unsigned milliseconds);
// Fills `size` bytes from the system's strong entropy source.
[[nodiscard]] Status random_bytes(void* buffer, std::size_t size);

// Empty text when the variable is unset.
[[nodiscard]] std::string get_env(const std::string& name);
[[nodiscard]] Status set_env(const std::string& name, const std::string& value);

}  // namespace platform
