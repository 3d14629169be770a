// The POSIX files, directories and users, the work directories' handles,
// and time, entropy and the environment.
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
#include <mutex>
#include <new>
#include <utility>
#include <vector>

#include "support/platform_posix_internal.h"

namespace platform {
namespace posix {

namespace {

// Work directories opened and checked by make_private_dir, by path. Their
// handles stay open for the process's life: files and sockets named directly
// inside one are reached through its handle, never by the path again, so
// that swapping the directory after the check changes nothing.
struct WorkDirs {
  support::Mutex mutex;
  std::map<std::string, int> by_path TW_GUARDED_BY(mutex);
};

// Never destroyed: threads may still use it while the process exits.
WorkDirs& work_dirs() {
  static WorkDirs* instance = new WorkDirs;
  return *instance;
}

}  // namespace

Place place_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash != std::string::npos && slash + 1 < path.size()) {
    WorkDirs& dirs = work_dirs();
    const support::MutexLock lock(dirs.mutex);
    auto it = dirs.by_path.find(path.substr(0, slash));
    if (it != dirs.by_path.end()) return {it->second, path.substr(slash + 1)};
  }
  return {AT_FDCWD, path};
}

// A directory handle reached as a short path: /proc/self/fd/<fd>.
std::string handle_path(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

std::string read_link(const std::string& path) {
  std::vector<char> buffer(1024);
  for (;;) {
    const ssize_t n = ::readlink(path.c_str(), buffer.data(), buffer.size());
    if (n < 0) return std::string();
    if (static_cast<std::size_t>(n) < buffer.size()) {
      return std::string(buffer.data(), static_cast<std::size_t>(n));
    }
    if (buffer.size() >= 65536) return std::string();
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace posix

using posix::Fd;
using posix::Place;
using posix::place_of;
using posix::read_link;
using posix::work_dirs;
using posix::WorkDirs;

namespace {

// Descriptors that hold pid-file locks for the process's life.
struct PidFileLocks {
  std::mutex mutex;
  std::vector<std::pair<std::string, int>> held;  // path, descriptor
};

PidFileLocks& pid_file_locks() {
  static PidFileLocks* instance = new PidFileLocks;
  return *instance;
}

// Opens `path` (relative to the work directory's handle when it names an
// entry directly inside it) without following a symbolic link and without
// blocking, and accepts only a regular file. The descriptor is returned
// blocking again. On failure errno says why (EINVAL: not a regular file).
Fd open_regular(const std::string& path, int flags) {
  const Place place = place_of(path);
  Fd fd(::openat(place.dir, place.at.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600));
  if (!fd.valid()) {
    // A FIFO without a reader or a socket, opened for writing.
    if (errno == ENXIO) errno = EINVAL;
    return Fd();
  }
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) return Fd();
  if (!S_ISREG(st.st_mode)) {
    errno = EINVAL;
    return Fd();
  }
  const int status = ::fcntl(fd.get(), F_GETFL);
  if (status < 0 || ::fcntl(fd.get(), F_SETFL, status & ~O_NONBLOCK) != 0) return Fd();
  return fd;
}

// Keeps `fd`, the open and checked directory `path`, as a work directory.
void adopt_work_dir(const std::string& path, Fd fd) {
  WorkDirs& dirs = work_dirs();
  const support::MutexLock lock(dirs.mutex);
  auto it = dirs.by_path.find(path);
  if (it != dirs.by_path.end()) {
    struct stat old_st {};
    struct stat new_st {};
    if (::fstat(it->second, &old_st) == 0 && ::fstat(fd.get(), &new_st) == 0 &&
        old_st.st_dev == new_st.st_dev && old_st.st_ino == new_st.st_ino) {
      return;  // the same directory: keep the handle sockets were made through
    }
    // Another directory under the same path: the old handle stays open, as
    // socket files made through it may still name it.
  }
  dirs.by_path[path] = fd.release();
}

}  // namespace

// ---------------------------------------------------------------------------
// Files, directories, users.

std::string executable_path() { return read_link("/proc/self/exe"); }

std::string login_name() {
  const uid_t uid = ::geteuid();
  long suggested = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(suggested > 0 ? static_cast<std::size_t>(suggested) : 16384);
  for (;;) {
    passwd entry{};
    passwd* found = nullptr;
    const int rc = ::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found);
    if (rc == ERANGE && buffer.size() < (1u << 20)) {
      buffer.resize(buffer.size() * 2);
      continue;
    }
    if (rc == 0 && found != nullptr && found->pw_name != nullptr && found->pw_name[0] != '\0') {
      return found->pw_name;
    }
    return std::to_string(uid);
  }
}

std::string temp_dir() {
  const char* dir = std::getenv("TMPDIR");
  if (dir == nullptr || dir[0] == '\0') return "/tmp";
  if (dir[0] == '/') return dir;
  // A relative directory is made absolute once, against the current
  // directory, and put back into the environment: this process and every
  // process it starts (the service, which starts the graphical client in
  // another directory) then name the same directory.
  const std::string cwd = current_dir();
  if (cwd.empty()) return std::string();
  const std::string absolute = (cwd == "/" ? cwd : cwd + "/") + dir;
  ::setenv("TMPDIR", absolute.c_str(), 1);
  return absolute;
}

std::string current_dir() {
  // Any length: the buffer grows while getcwd says it is too small (the C
  // library walks up the tree itself where the kernel's call stops at a
  // page).
  std::vector<char> buffer(4096);
  while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE || buffer.size() >= (std::size_t{1} << 30)) return std::string();
    buffer.resize(buffer.size() * 2);
  }
  return buffer.data();
}

Status set_current_dir(const std::string& path) {
  if (::chdir(path.c_str()) != 0) return Status::posix("chdir", errno);
  return Status();
}

Status make_private_dir(const std::string& path) {
  bool made = false;
  if (::mkdir(path.c_str(), 0700) == 0) {
    made = true;
  } else if (errno != EEXIST) {
    return Status::posix("mkdir", errno);
  }
  // Checked once, on the open directory, which is then used through its
  // handle alone: whatever is put at the path afterwards is never touched.
  Fd dir(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!dir.valid()) return Status::posix("open", made ? errno : EACCES);
  struct stat st {};
  if (::fstat(dir.get(), &st) != 0) return Status::posix("fstat", EACCES);
  // Only our own private directory may be used. Anything else (a plain file
  // or a link included) can hold neither the sockets nor the logs safely,
  // and accepting it would leave every client waiting for a service that
  // cannot start.
  if (!S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) return Status::posix("fstat", EACCES);
  if (made) {
    // mkdir's mode passes through the umask; set it exactly.
    if (::fchmod(dir.get(), 0700) != 0) return Status::posix("fchmod", errno);
  } else if ((st.st_mode & 077) != 0) {
    return Status::posix("fstat", EACCES);
  }
  adopt_work_dir(path, std::move(dir));
  return made ? Status() : Status::posix("mkdir", EEXIST);
}

std::FILE* open_regular_file(const std::string& path, const char* mode) {
  int flags = O_RDONLY;
  if (mode[0] == 'w') flags = O_WRONLY | O_CREAT | O_TRUNC;
  if (mode[0] == 'a') flags = O_WRONLY | O_CREAT | O_APPEND;
  Fd fd = open_regular(path, flags);
  if (!fd.valid()) return nullptr;
  std::FILE* file = ::fdopen(fd.get(), mode);
  if (file != nullptr) fd.release();
  return file;
}

Status write_pid_file(const std::string& path, std::uint32_t pid) {
  // No truncation before the lock: a live service's pid file must keep
  // naming it when a second service fails to take the lock.
  Fd fd = open_regular(path, O_WRONLY | O_CREAT);
  if (!fd.valid()) return Status::posix("open", errno);
  // A client that looks at the lock holds it shared for a moment: a lock
  // held for longer than these tries is a live service's.
  constexpr int kLockTries = 20;
  constexpr unsigned kLockRetryMs = 1;
  int rc = -1;
  for (int attempt = 0; attempt < kLockTries; ++attempt) {
    do {
      rc = ::flock(fd.get(), LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc == 0 || errno != EWOULDBLOCK) break;
    sleep_ms(kLockRetryMs);
  }
  if (rc != 0) return Status::posix("flock", errno);
  const std::string digits = std::to_string(pid);
  if (::ftruncate(fd.get(), 0) != 0) return Status::posix("ftruncate", errno);
  std::size_t done = 0;
  while (done < digits.size()) {
    const ssize_t n = ::write(fd.get(), digits.data() + done, digits.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return Status::posix("write", errno);
    }
    done += static_cast<std::size_t>(n);
  }
  // The open descriptor holds the lock for the rest of the process's life.
  PidFileLocks& locks = pid_file_locks();
  std::lock_guard<std::mutex> lock(locks.mutex);
  locks.held.emplace_back(path, fd.release());
  return Status();
}

Status keep_pid_file(const std::string& path, std::uint32_t pid, bool* remade) {
  *remade = false;
  {
    PidFileLocks& locks = pid_file_locks();
    std::lock_guard<std::mutex> lock(locks.mutex);
    const Place place = place_of(path);
    struct stat named {};
    const bool found = ::fstatat(place.dir, place.at.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0;
    if (!found && errno != ENOENT) return Status::posix("fstatat", errno);
    for (const auto& [held_path, fd] : locks.held) {
      struct stat held {};
      if (held_path == path && found && ::fstat(fd, &held) == 0 && held.st_dev == named.st_dev &&
          held.st_ino == named.st_ino) {
        return Status();
      }
    }
  }
  // Removed (or replaced): made again and locked, unless another process
  // holds the file now at that path.
  const Status written = write_pid_file(path, pid);
  *remade = written.ok();
  return written;
}

PidLock pid_file_lock(const std::string& path) {
  Fd fd = open_regular(path, O_RDONLY);
  if (!fd.valid()) return errno == ENOENT ? PidLock::free : PidLock::unknown;
  int rc;
  do {
    rc = ::flock(fd.get(), LOCK_SH | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) return errno == EWOULDBLOCK ? PidLock::held : PidLock::unknown;
  // Closing the descriptor gives the shared lock back at once.
  return PidLock::free;
}

const PipeSecurity* owner_pipe_security(unsigned long /*access*/, bool /*inherit*/) {
  return nullptr;
}

bool paths_equal_ignoring_case(const std::string& a, const std::string& b) {
  return ::strcasecmp(a.c_str(), b.c_str()) == 0;
}

// ---------------------------------------------------------------------------
// Time, entropy, environment.

std::int64_t now_seconds() { return static_cast<std::int64_t>(std::time(nullptr)); }

void sleep_ms(unsigned milliseconds) {
  timespec left{};
  left.tv_sec = static_cast<time_t>(milliseconds / 1000);
  left.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
  while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

Status random_bytes(void* buffer, std::size_t size) {
  auto* out = static_cast<unsigned char*>(buffer);
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::getrandom(out + done, size - done, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno != ENOSYS) return Status::posix("getrandom", errno);
      break;  // a kernel without getrandom: read the device instead
    }
    done += static_cast<std::size_t>(n);
  }
  if (done == size) return Status();
  Fd fd(::open("/dev/urandom", O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) return Status::posix("open", errno);
  while (done < size) {
    const ssize_t n = ::read(fd.get(), out + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Status::posix("read", errno);
    if (n == 0) return Status::posix("read", EIO);
    done += static_cast<std::size_t>(n);
  }
  return Status();
}

std::string get_env(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  return value != nullptr ? std::string(value) : std::string();
}

Status set_env(const std::string& name, const std::string& value) {
  if (value.empty()) {
    if (::unsetenv(name.c_str()) != 0) return Status::posix("unsetenv", errno);
  } else if (::setenv(name.c_str(), value.c_str(), 1) != 0) {
    return Status::posix("setenv", errno);
  }
  return Status();
}

}  // namespace platform
