// The registry of the pipes this POSIX process serves: the socket files it
// bound (removed when their pipe is used up, at exit and on a termination
// signal), the listening sockets shared by the instances of one name, and
// the connections that a wait for a pipe made for the next open to take.
#include <sys/stat.h>

#include <cstdlib>

#include "support/platform_posix_internal.h"

namespace platform {
namespace posix {

PipeRegistry& registry() {
  static PipeRegistry* instance = new PipeRegistry;
  return *instance;
}

void unlink_socket_file(const SocketFile& file) {
  if (file.owner != ::getpid()) return;
  struct stat st {};
  if (::fstatat(file.dir, file.at.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return;
  if (!S_ISSOCK(st.st_mode) || st.st_dev != file.dev || st.st_ino != file.ino) return;
  ::unlinkat(file.dir, file.at.c_str(), 0);
}

void remove_all_socket_files_locked(PipeRegistry& reg) {
  for (const SocketFile& file : reg.socket_files) unlink_socket_file(file);
  reg.socket_files.clear();
}

namespace {

void remove_all_socket_files() {
  PipeRegistry& reg = registry();
  const support::MutexLock lock(reg.mutex);
  remove_all_socket_files_locked(reg);
}

void remove_all_socket_files_at_exit() { remove_all_socket_files(); }

}  // namespace

void remember_socket_file_locked(PipeRegistry& reg, SocketFile file) {
  if (!reg.cleanup_registered) {
    reg.cleanup_registered = std::atexit(remove_all_socket_files_at_exit) == 0;
  }
  reg.socket_files.push_back(std::move(file));
}

void forget_socket_file(const std::string& path) {
  PipeRegistry& reg = registry();
  const support::MutexLock lock(reg.mutex);
  for (auto it = reg.socket_files.begin(); it != reg.socket_files.end(); ++it) {
    if (it->path == path) {
      unlink_socket_file(*it);
      reg.socket_files.erase(it);
      return;
    }
  }
}

// True when a connection for `name` is stashed. A stashed connection whose
// server has since dropped it is kept too: the open takes it over and the
// exchange fails at once, as it does on Windows when the server disconnects
// a client between its wait and its read. Dropping it instead would send the
// client back to waiting for a pipe that may never come back.
bool have_stash(const std::string& name) {
  PipeRegistry& reg = registry();
  const support::MutexLock lock(reg.mutex);
  return reg.stashed_connections.count(name) != 0;
}

void stash_connection(const std::string& name, Fd fd) {
  PipeRegistry& reg = registry();
  const support::MutexLock lock(reg.mutex);
  // Another thread may have stashed one meanwhile; one is enough.
  if (reg.stashed_connections.count(name) == 0) reg.stashed_connections[name] = fd.release();
}

Fd take_stash(const std::string& name) {
  PipeRegistry& reg = registry();
  const support::MutexLock lock(reg.mutex);
  auto it = reg.stashed_connections.find(name);
  if (it == reg.stashed_connections.end()) return Fd();
  Fd fd(it->second);
  reg.stashed_connections.erase(it);
  return fd;
}

}  // namespace posix
}  // namespace platform
