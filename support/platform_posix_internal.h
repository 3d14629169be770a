// What the POSIX files of the platform layer share among themselves, and
// nothing else includes: the descriptor owner, the work directories' handles
// (platform_posix_files.cc), the socket helpers (platform_posix_sockets.cc),
// the proof of stale socket files (platform_posix_stale_sockets.cc) and the
// registry of this process's pipes (platform_posix_pipe_registry.cc).
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/un.h>
#include <unistd.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "support/mutex.h"
#include "support/thread_annotations.h"

namespace platform {
namespace posix {

// Owns one file descriptor.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() { reset(); }
  Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) {
      reset();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  int release() { return std::exchange(fd_, -1); }
  void reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }

 private:
  int fd_ = -1;
};

// ---------------------------------------------------------------------------
// Work directories (platform_posix_files.cc). Thread-safe.

// Where a path is reached: through the handle of the open work directory
// when it names an entry directly inside one, else as it stands.
struct Place {
  int dir = AT_FDCWD;  // not owned
  std::string at;      // relative to `dir`
};

// Where `path` is reached: through a work directory's handle when it names
// an entry directly inside one that make_private_dir opened.
Place place_of(const std::string& path);
// A directory handle reached as a short path: /proc/self/fd/<fd>.
std::string handle_path(int fd);
// The target of a symbolic link, at any length; empty text when it cannot be
// read.
std::string read_link(const std::string& path);

// ---------------------------------------------------------------------------
// Socket helpers (platform_posix_sockets.cc). Thread-safe.

// A connect time-out without limit.
inline constexpr unsigned kWaitForever = 0xFFFFFFFFu;

// The address at which the pipe `name` is bound or connected; a too long
// name inside no work directory is reached through a handle of its
// directory kept in `*holder`. False with `*error` set when it cannot be.
bool socket_address(const std::string& name, sockaddr_un* addr, Fd* holder, int* error);
// True when the peer of the connected socket `fd` runs as our effective user.
bool peer_is_same_user(int fd);
// Connects to the pipe `name`: with `timeout_ms` 0 without waiting, else
// waiting that long for room in the backlog. Returned blocking; on failure
// `*error` holds the errno value.
Fd connect_to(const std::string& name, unsigned timeout_ms, int* error);
// True for the errors that mean no pipe of that name exists.
bool is_no_pipe_error(int error);
// Sends all of `data`; false on any failure (a peer that is gone included).
bool send_all(int fd, const char* data, std::size_t size);
// Receives until `size` bytes or the end of the message.
std::size_t receive_until_end(int fd, char* buffer, std::size_t size);
// One receive of whatever has arrived (at least one byte, or the end).
ssize_t receive_some(int fd, char* buffer, std::size_t size);

// ---------------------------------------------------------------------------
// Socket files left behind (platform_posix_stale_sockets.cc). Thread-safe.

enum class SocketFileState {
  absent,   // no entry of that name
  live,     // a socket file that a live socket is bound to
  stale,    // a socket file that no live socket is bound to: proven
  unknown,  // not a socket file, or the kernel cannot tell
};

// What `at` (relative to `dir`) is; `*st` receives its status when there is
// an entry.
SocketFileState socket_file_state(int dir, const std::string& at, struct stat* st);
// Removes `at` (relative to `dir`) when it is proven stale; true when it was.
bool remove_if_stale(int dir, const std::string& at);

// ---------------------------------------------------------------------------
// The registry of this process's pipes (platform_posix_pipe_registry.cc).
// Its members are guarded by its mutex; the functions named *_locked expect
// the caller to hold it, every other one takes it.

// A socket file this process bound; removed when its one-instance pipe has
// been connected or closed, and at exit. The inode is remembered so that a
// file someone else put at the same path later is never removed.
struct SocketFile {
  std::string path;    // the name as given
  int dir = AT_FDCWD;  // `at` is relative to this (a work directory's handle, never closed)
  std::string at;
  dev_t dev = 0;
  ino_t ino = 0;
  pid_t owner = 0;  // a forked child that exits must not remove its parent's files
};

struct PipeRegistry {
  support::Mutex mutex;
  std::vector<SocketFile> socket_files TW_GUARDED_BY(mutex);
  // The listening socket of every pipe of more than one instance that this
  // process serves, by name; kept for the process's life, so that further
  // instances share it and a client never finds the name gone between them.
  std::map<std::string, int> shared_listeners TW_GUARDED_BY(mutex);
  // Connections made by wait_named_pipe / named_pipe_exists, by name, for the
  // next open_client_pipe of that name to take over.
  std::map<std::string, int> stashed_connections TW_GUARDED_BY(mutex);
  bool cleanup_registered TW_GUARDED_BY(mutex) = false;
};

// The one registry; never destroyed, since threads may still use it while the
// process exits.
PipeRegistry& registry();
// Unlinks `file` when the path still names the socket this process bound.
void unlink_socket_file(const SocketFile& file);
void remove_all_socket_files_locked(PipeRegistry& reg) TW_REQUIRES(reg.mutex);
// Records a socket file for removal at exit.
void remember_socket_file_locked(PipeRegistry& reg, SocketFile file) TW_REQUIRES(reg.mutex);
// Removes one socket file now and forgets it.
void forget_socket_file(const std::string& path);
// Connections made by a wait for a pipe, kept for the next open of its name.
bool have_stash(const std::string& name);
void stash_connection(const std::string& name, Fd fd);
Fd take_stash(const std::string& name);

}  // namespace posix
}  // namespace platform
