// What the POSIX files of the platform layer share among themselves, and
// nothing else includes: the descriptor owner, the work directories' handles
// (platform_posix_files.cc) and the registry of this process's pipes
// (platform_posix_pipe_registry.cc).
#pragma once

#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>

#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

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
  std::mutex mutex;
  std::vector<SocketFile> socket_files;
  // The listening socket of every pipe of more than one instance that this
  // process serves, by name; kept for the process's life, so that further
  // instances share it and a client never finds the name gone between them.
  std::map<std::string, int> shared_listeners;
  // Connections made by wait_named_pipe / named_pipe_exists, by name, for the
  // next open_client_pipe of that name to take over.
  std::map<std::string, int> stashed_connections;
  bool cleanup_registered = false;
};

// The one registry; never destroyed, since threads may still use it while the
// process exits.
PipeRegistry& registry();
// Unlinks `file` when the path still names the socket this process bound.
void unlink_socket_file(const SocketFile& file);
void remove_all_socket_files_locked(PipeRegistry& reg);
// Records a socket file for removal at exit.
void remember_socket_file_locked(PipeRegistry& reg, SocketFile file);
// Removes one socket file now and forgets it.
void forget_socket_file(const std::string& path);
// Connections made by a wait for a pipe, kept for the next open of its name.
bool have_stash(const std::string& name);
void stash_connection(const std::string& name, Fd fd);
Fd take_stash(const std::string& name);

}  // namespace posix
}  // namespace platform
