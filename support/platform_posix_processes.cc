// The POSIX processes and threads: starting, waiting for and ending
// processes (posix_spawn), detached threads, and the end of this process,
// which takes its socket files with it.
#include "support/platform.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <strings.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

#include "support/platform_posix_internal.h"

namespace platform {

using posix::PipeRegistry;
using posix::read_link;
using posix::registry;
using posix::remove_all_socket_files_locked;

namespace {

struct ThreadStart {
  void (*body)(void*);
  void* arg;
};

void* thread_trampoline(void* raw) {
  ThreadStart start = *static_cast<ThreadStart*>(raw);
  delete static_cast<ThreadStart*>(raw);
  start.body(start.arg);
  return nullptr;
}

// Owns the posix_spawn attribute and file-action records.
class SpawnSetup {
 public:
  SpawnSetup() {
    actions_ok_ = ::posix_spawn_file_actions_init(&actions_) == 0;
    attr_ok_ = ::posix_spawnattr_init(&attr_) == 0;
  }
  ~SpawnSetup() {
    if (actions_ok_) ::posix_spawn_file_actions_destroy(&actions_);
    if (attr_ok_) ::posix_spawnattr_destroy(&attr_);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;

  bool ok() const { return actions_ok_ && attr_ok_; }
  posix_spawn_file_actions_t* actions() { return &actions_; }
  posix_spawnattr_t* attr() { return &attr_; }

 private:
  posix_spawn_file_actions_t actions_{};
  posix_spawnattr_t attr_{};
  bool actions_ok_ = false;
  bool attr_ok_ = false;
};

// Opens the child's output stream `fd` on `path` (created or truncated), or
// on the null device when `path` is empty and `null_stdio`; else leaves it
// the caller's. The posix_spawn calls' error number when the action cannot
// be recorded, else 0.
int add_output(posix_spawn_file_actions_t* actions, int fd, const std::string& path,
               bool null_stdio) {
  if (!path.empty()) {
    return ::posix_spawn_file_actions_addopen(actions, fd, path.c_str(),
                                              O_WRONLY | O_CREAT | O_TRUNC, 0644);
  }
  if (null_stdio) return ::posix_spawn_file_actions_addopen(actions, fd, "/dev/null", O_WRONLY, 0);
  return 0;
}

}  // namespace

Process::~Process() = default;

Process::Process(Process&& other) noexcept
    : handle_(std::exchange(other.handle_, kNoHandle)), pid_(std::exchange(other.pid_, 0)) {}

Process& Process::operator=(Process&& other) noexcept {
  if (this != &other) {
    handle_ = std::exchange(other.handle_, kNoHandle);
    pid_ = std::exchange(other.pid_, 0);
  }
  return *this;
}

int Process::wait() {
  if (!valid()) return -1;
  int status = 0;
  pid_t r;
  do {
    r = ::waitpid(static_cast<pid_t>(handle_), &status, 0);
  } while (r < 0 && errno == EINTR);
  if (r < 0) return -1;
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

Status Process::kill() {
  if (!valid() || handle_ <= 0) return Status::posix("kill", ESRCH);
  // Only while the child is still ours (running or not yet reaped): once it
  // has been waited for, its id may belong to someone else.
  siginfo_t info{};
  if (::waitid(P_PID, static_cast<id_t>(handle_), &info, WEXITED | WNOHANG | WNOWAIT) != 0) {
    return Status::posix("waitid", errno);
  }
  if (::kill(static_cast<pid_t>(handle_), SIGKILL) != 0) return Status::posix("kill", errno);
  return Status();
}

bool Process::running() {
  if (!valid() || handle_ <= 0) return false;
  // Looks without reaping, so that wait() still gives the status.
  siginfo_t info{};
  int rc;
  do {
    rc = ::waitid(P_PID, static_cast<id_t>(handle_), &info, WEXITED | WNOHANG | WNOWAIT);
  } while (rc != 0 && errno == EINTR);
  return rc == 0 && info.si_pid == 0;
}

Status start_process(const ProcessSpec& invocation, Process* out) {
  if (invocation.program.empty()) return Status::posix("posix_spawn", ENOENT);
  SpawnSetup setup;
  if (!setup.ok()) return Status::posix("posix_spawn_file_actions_init", ENOMEM);

  // The file actions run in the child before the exec, after the change of
  // directory: a relative program path is made absolute here so that it
  // names the same file as in the caller.
  std::string program = invocation.program;
  if (program.front() != '/' && !invocation.working_dir.empty()) {
    const std::string cwd = current_dir();
    if (cwd.empty()) return Status::posix("getcwd", errno);
    program = cwd + "/" + program;
  }

  const bool redirect = !invocation.stdout_path.empty() || !invocation.stderr_path.empty();
  posix_spawn_file_actions_t* actions = setup.actions();
  // The child gets the three standard streams and nothing else the caller
  // had open: a long-lived child such as the service must not hold a
  // caller's pipe open (the caller's reader would wait for the service to end).
  int error = ::posix_spawn_file_actions_addclosefrom_np(actions, 3);
  if (error == 0 && (invocation.null_stdio || redirect)) {
    error = ::posix_spawn_file_actions_addopen(actions, 0, "/dev/null", O_RDONLY, 0);
  }
  if (error == 0) error = add_output(actions, 1, invocation.stdout_path, invocation.null_stdio);
  if (error == 0) error = add_output(actions, 2, invocation.stderr_path, invocation.null_stdio);
  if (error == 0 && !invocation.working_dir.empty()) {
    error = ::posix_spawn_file_actions_addchdir_np(actions, invocation.working_dir.c_str());
  }
  if (error != 0) return Status::posix("posix_spawn_file_actions", error);

  // The child starts with no blocked signals and SIGPIPE and SIGCHLD at their
  // defaults (an ignored SIGCHLD would keep it from waiting for its children),
  // whatever the calling thread has.
  posix_spawnattr_t* attr = setup.attr();
  short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
  if (invocation.new_session) flags |= POSIX_SPAWN_SETSID;
  sigset_t empty_mask;
  sigset_t defaults;
  sigemptyset(&empty_mask);
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  sigaddset(&defaults, SIGCHLD);
  error = ::posix_spawnattr_setflags(attr, flags);
  if (error == 0) error = ::posix_spawnattr_setsigmask(attr, &empty_mask);
  if (error == 0) error = ::posix_spawnattr_setsigdefault(attr, &defaults);
  if (error != 0) return Status::posix("posix_spawnattr", error);

  std::vector<char*> argv;
  argv.reserve(invocation.args.size() + 2);
  argv.push_back(const_cast<char*>(invocation.program.c_str()));
  for (const std::string& arg : invocation.args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);

  pid_t pid = 0;
  error = ::posix_spawn(&pid, program.c_str(), actions, attr, argv.data(), environ);
  if (error != 0) return Status::posix("posix_spawn", error);
  out->handle_ = static_cast<std::intptr_t>(pid);
  out->pid_ = static_cast<std::uint32_t>(pid);
  return Status();
}

Result<std::string> process_image_path(std::uint32_t pid) {
  if (pid == 0 || pid > static_cast<std::uint32_t>(INT_MAX))
    return Status::posix("readlink", ESRCH);
  errno = 0;
  std::string path = read_link("/proc/" + std::to_string(pid) + "/exe");
  if (path.empty()) return Status::posix("readlink", errno != 0 ? errno : ENOENT);
  return path;
}

Status kill_process(std::uint32_t pid) {
  // 0 and values beyond pid_t would address process groups.
  if (pid == 0 || pid > static_cast<std::uint32_t>(INT_MAX)) return Status::posix("kill", ESRCH);
  if (::kill(static_cast<pid_t>(pid), SIGKILL) != 0) return Status::posix("kill", errno);
  return Status();
}

std::vector<std::uint32_t> all_process_ids() {
  std::vector<std::uint32_t> ids;
  DIR* proc = ::opendir("/proc");
  if (proc == nullptr) return ids;
  while (const dirent* entry = ::readdir(proc)) {
    char* end = nullptr;
    const unsigned long id = std::strtoul(entry->d_name, &end, 10);
    if (end != entry->d_name && *end == '\0') ids.push_back(static_cast<std::uint32_t>(id));
  }
  ::closedir(proc);
  return ids;
}

std::uint32_t current_pid() { return static_cast<std::uint32_t>(::getpid()); }

Status start_detached_thread(void (*body)(void*), void* arg) {
  auto* start = new (std::nothrow) ThreadStart{body, arg};
  if (start == nullptr) return Status::posix("pthread_create", ENOMEM);
  pthread_attr_t attr;
  int rc = ::pthread_attr_init(&attr);
  if (rc != 0) {
    delete start;
    return Status::posix("pthread_attr_init", rc);
  }
  pthread_t thread;
  rc = ::pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  if (rc == 0) rc = ::pthread_create(&thread, &attr, thread_trampoline, start);
  ::pthread_attr_destroy(&attr);
  if (rc != 0) {
    delete start;
    return Status::posix("pthread_create", rc);
  }
  return Status();
}

std::uint64_t raise_descriptor_limit(std::uint64_t wanted) {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0;
  if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < wanted) {
    const rlim_t raised =
        limit.rlim_max == RLIM_INFINITY || limit.rlim_max > wanted ? wanted : limit.rlim_max;
    if (raised > limit.rlim_cur) {
      rlimit changed = limit;
      changed.rlim_cur = raised;
      if (::setrlimit(RLIMIT_NOFILE, &changed) == 0) limit = changed;
    }
  }
  return limit.rlim_cur == RLIM_INFINITY ? UINT64_MAX : static_cast<std::uint64_t>(limit.rlim_cur);
}

void exit_now(int status) {
  // The lock stays held until the end: no other thread binds anything more.
  PipeRegistry& reg = registry();
  reg.mutex.lock();
  remove_all_socket_files_locked(reg);
  ::_exit(status);
}

namespace {

constexpr int kTerminationSignals[] = {SIGTERM, SIGINT, SIGHUP};

void termination_body(std::unique_ptr<sigset_t> owned) {
  const sigset_t signals = *owned;
  owned.reset();
  int signal_number = 0;
  while (::sigwait(&signals, &signal_number) != 0) {
  }
  // Remove what we made, then end by the signal itself, as its default
  // action would, so that whoever waits for us sees how we ended. The lock
  // stays held: no other thread binds anything more.
  PipeRegistry& reg = registry();
  reg.mutex.lock();
  remove_all_socket_files_locked(reg);
  ::signal(signal_number, SIG_DFL);
  sigset_t one;
  sigemptyset(&one);
  sigaddset(&one, signal_number);
  ::pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
  ::raise(signal_number);
  ::_exit(128 + signal_number);
}

}  // namespace

Status remove_pipes_on_termination_signals() {
  std::unique_ptr<sigset_t> signals(new (std::nothrow) sigset_t);
  if (!signals) return Status::posix("sigaddset", ENOMEM);
  sigemptyset(signals.get());
  for (const int signal_number : kTerminationSignals) sigaddset(signals.get(), signal_number);
  // Blocked here, before any further thread starts, so that every thread
  // inherits the mask and only the waiting thread ever takes these signals.
  sigset_t previous;
  const int rc = ::pthread_sigmask(SIG_BLOCK, signals.get(), &previous);
  if (rc != 0) return Status::posix("pthread_sigmask", rc);
  const Status started = start_owning_thread<&termination_body>(signals);
  if (!started) ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  return started;
}

}  // namespace platform
