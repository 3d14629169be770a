// The POSIX socket helpers that the pipes are built from: socket addresses
// (reached through a directory's handle when the path is too long),
// connecting, peer credentials, and sending and receiving whole messages.
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "support/platform_posix_internal.h"

namespace platform {
namespace posix {

namespace {

// Whether handles can be reached that way (not without /proc).
bool handle_paths_work() {
  static const bool work = ::access("/proc/self/fd", X_OK) == 0;
  return work;
}

bool fill_address(const std::string& path, sockaddr_un* addr) {
  if (path.empty() || path.size() >= sizeof(addr->sun_path) ||
      path.find('\0') != std::string::npos) {
    return false;
  }
  std::memcpy(addr->sun_path, path.data(), path.size());
  return true;
}

// The user id of the process at the other end of a connected socket.
bool peer_uid(int fd, uid_t* uid) {
  ucred cred{};
  socklen_t len = sizeof(cred);
  if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0 || len != sizeof(cred)) {
    return false;
  }
  *uid = cred.uid;
  return true;
}

bool set_blocking(int fd) {
  const int flags = ::fcntl(fd, F_GETFL);
  return flags >= 0 && ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0;
}

bool set_send_timeout(int fd, unsigned timeout_ms) {
  timeval tv{};
  tv.tv_sec = static_cast<time_t>(timeout_ms / 1000);
  tv.tv_usec = static_cast<suseconds_t>((timeout_ms % 1000) * 1000);
  return ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof(tv)) == 0;
}

}  // namespace

bool peer_is_same_user(int fd) {
  uid_t uid = 0;
  return peer_uid(fd, &uid) && uid == ::geteuid();
}

// The address at which the pipe `name` is bound or connected. A socket
// address holds at most 107 bytes of path, so a socket inside the work
// directory is always addressed through the directory's open handle
// (/proc/self/fd/<fd>/<file name>), and any other name that is too long
// through a handle of its directory opened for the purpose and kept in
// `*holder`. False with `*error` set when even that cannot be done.
bool socket_address(const std::string& name, sockaddr_un* addr, Fd* holder, int* error) {
  std::memset(addr, 0, sizeof(*addr));
  addr->sun_family = AF_UNIX;
  *error = ENAMETOOLONG;
  if (name.empty() || name.find('\0') != std::string::npos) {
    *error = EINVAL;
    return false;
  }
  const Place place = place_of(name);
  if (!handle_paths_work()) return fill_address(name, addr);
  if (place.dir != AT_FDCWD) return fill_address(handle_path(place.dir) + "/" + place.at, addr);
  if (fill_address(name, addr)) return true;
  const std::size_t slash = name.rfind('/');
  if (slash == std::string::npos || slash + 1 == name.size()) return false;
  const std::string parent = slash == 0 ? std::string("/") : name.substr(0, slash);
  holder->reset(::open(parent.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (!holder->valid()) {
    *error = errno;
    return false;
  }
  return fill_address(handle_path(holder->get()) + "/" + name.substr(slash + 1), addr);
}

// Connects to the pipe `name`. With `timeout_ms` 0 the attempt never waits
// (a full backlog gives EAGAIN at once); otherwise it waits that long for
// room in the backlog (kWaitForever: without limit). The connection is
// returned blocking and without a send time-out. On failure `*error` holds
// the errno value.
Fd connect_to(const std::string& name, unsigned timeout_ms, int* error) {
  sockaddr_un addr{};
  Fd dir_holder;
  if (!socket_address(name, &addr, &dir_holder, error)) return Fd();
  const bool quick = timeout_ms == 0;
  Fd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | (quick ? SOCK_NONBLOCK : 0), 0));
  if (!fd.valid()) {
    *error = errno;
    return Fd();
  }
  if (!quick && timeout_ms != kWaitForever && !set_send_timeout(fd.get(), timeout_ms)) {
    *error = errno;
    return Fd();
  }
  // An interrupted connect of a Unix socket leaves it unconnected, so it may
  // simply be tried again.
  int rc;
  do {
    rc = ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof(addr));
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    *error = errno;
    return Fd();
  }
  // Writes of the message must never time out or fail with EAGAIN.
  if ((quick && !set_blocking(fd.get())) ||
      (!quick && timeout_ms != kWaitForever && !set_send_timeout(fd.get(), 0))) {
    *error = errno;
    return Fd();
  }
  *error = 0;
  return fd;
}

bool is_no_pipe_error(int error) {
  return error == ENOENT || error == ECONNREFUSED || error == ENOTDIR;
}

// Sends all of `data`; false on any failure (including a peer that is gone:
// MSG_NOSIGNAL turns SIGPIPE into EPIPE).
bool send_all(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// Receives until `size` bytes or the end of the message. An error ends the
// receive like the end of the message: what came before it is kept.
std::size_t receive_until_end(int fd, char* buffer, std::size_t size) {
  std::size_t got = 0;
  while (got < size) {
    const ssize_t n = ::recv(fd, buffer + got, size - got, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  return got;
}

// One receive of whatever has arrived (at least one byte, or the end).
ssize_t receive_some(int fd, char* buffer, std::size_t size) {
  ssize_t n;
  do {
    n = ::recv(fd, buffer, size, 0);
  } while (n < 0 && errno == EINTR);
  return n;
}

}  // namespace posix
}  // namespace platform
