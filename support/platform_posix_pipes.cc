// The POSIX pipes: server and client ends and the calls that find, wait for
// and clean up pipes by name.
//
// Pipes are AF_UNIX stream sockets: a pipe's name is the path of its socket
// file. A server end binds and listens at once, so the name exists as soon as
// the pipe is created; each accepted connection is one instance. Since a
// stream has no message boundaries, a message is everything the writer sends
// before it shuts down its sending side (or closes); the wrapper pipe, a
// stream of self-delimited notices, is never shut down by a write.
//
// Every descriptor is close-on-exec, so that no child (the graphical client
// in particular) inherits a listening socket, a connection or the pid-file
// lock.
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
#include <new>
#include <utility>
#include <vector>

#include "support/platform_posix_internal.h"

namespace platform {

using posix::connect_to;
using posix::Fd;
using posix::forget_socket_file;
using posix::have_stash;
using posix::is_no_pipe_error;
using posix::peer_is_same_user;
using posix::PipeRegistry;
using posix::Place;
using posix::place_of;
using posix::receive_some;
using posix::receive_until_end;
using posix::registry;
using posix::remember_socket_file_locked;
using posix::send_all;
using posix::socket_address;
using posix::SocketFile;
using posix::stash_connection;
using posix::take_stash;
using posix::unlink_socket_file;

namespace {

// The default time-out of a pipe, used when a wait asks for it (0), as the
// Windows pipes are created with.
constexpr unsigned kDefaultPipeWaitMs = 5000;
// How long an accept that ran out of descriptors waits before it tries again.
constexpr unsigned kOutOfResourcesRetryMs = 10;
// How often an idle pipe of many instances checks that its name still leads
// to it.
constexpr unsigned kNameCheckMs = 1000;

// Creates a listening socket bound at `name`, mode 0600. A socket file that
// no live socket is bound to is a leftover of a process that ended without
// cleaning up: it is removed and the bind tried again. When it is not
// proven stale the creation fails. On failure errno says why.
Fd bind_and_listen(const std::string& name, int backlog, SocketFile* file) {
  sockaddr_un addr{};
  Fd dir_holder;
  int error = 0;
  if (!socket_address(name, &addr, &dir_holder, &error)) {
    errno = error;
    return Fd();
  }
  const Place place = place_of(name);
  for (int attempt = 0; attempt < 2; ++attempt) {
    Fd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd.valid()) return Fd();
    if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) == 0) {
      // Not listening yet, so nobody can connect while the mode is set; the
      // explicit chmod makes the mode independent of the umask.
      struct stat st {};
      if (::fchmodat(place.dir, place.at.c_str(), 0600, 0) != 0 ||
          ::fstatat(place.dir, place.at.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
          ::listen(fd.get(), backlog) != 0) {
        error = errno;
        ::unlinkat(place.dir, place.at.c_str(), 0);
        errno = error;
        return Fd();
      }
      file->path = name;
      file->dir = place.dir;
      file->at = place.at;
      file->dev = st.st_dev;
      file->ino = st.st_ino;
      file->owner = ::getpid();
      return fd;
    }
    if (errno != EADDRINUSE || attempt > 0) return Fd();
    // Never a probing connection: it would land in a live listener's queue
    // and could take a one-instance pipe from the peer it was made for.
    if (!posix::remove_if_stale(place.dir, place.at)) break;
  }
  errno = EADDRINUSE;
  return Fd();
}

// True when the path of `file` leads to it, as a peer that looks it up by
// path finds it (or the path is too long to look up). A socket made through
// the work directory's handle after the directory was moved away is not.
bool reachable_by_name(const SocketFile& file) {
  struct stat st {};
  if (::lstat(file.path.c_str(), &st) != 0) return errno == ENAMETOOLONG;
  return S_ISSOCK(st.st_mode) && st.st_dev == file.dev && st.st_ino == file.ino;
}

// Binds a listening socket at `name` and records its socket file for
// removal; the caller holds the registry's lock. No socket, with errno set,
// when the bind fails or the name does not lead to the new socket (ENOENT:
// the directory was moved away after its check).
Fd bind_and_record_locked(PipeRegistry& reg, const std::string& name, int backlog)
    TW_REQUIRES(reg.mutex) {
  SocketFile file;
  Fd fd = bind_and_listen(name, backlog, &file);
  if (!fd.valid()) return Fd();
  if (!reachable_by_name(file)) {
    unlink_socket_file(file);
    errno = ENOENT;
    return Fd();
  }
  remember_socket_file_locked(reg, std::move(file));
  return fd;
}

// True unless `name` is a socket file of this process that has been removed
// or replaced: looked up by path, as a client finds it.
bool name_still_leads_here(const std::string& name) {
  SocketFile file;
  {
    PipeRegistry& reg = registry();
    const support::MutexLock lock(reg.mutex);
    auto it = std::find_if(reg.socket_files.begin(), reg.socket_files.end(),
                           [&](const SocketFile& f) { return f.path == name; });
    if (it == reg.socket_files.end()) return true;
    file = *it;
  }
  return reachable_by_name(file);
}

// Closes the shared listening socket of `name` and forgets it, so that the
// next instance of that name binds afresh.
void retire_shared_listener(const std::string& name) {
  PipeRegistry& reg = registry();
  const support::MutexLock lock(reg.mutex);
  auto it = reg.shared_listeners.find(name);
  if (it != reg.shared_listeners.end()) {
    ::close(it->second);
    reg.shared_listeners.erase(it);
  }
  for (auto f = reg.socket_files.begin(); f != reg.socket_files.end(); ++f) {
    if (f->path == name) {
      unlink_socket_file(*f);  // only if it is still ours, which it is not
      reg.socket_files.erase(f);
      break;
    }
  }
}

// ---------------------------------------------------------------------------
// Server end.

class PosixServerPipe final : public ServerPipe {
 public:
  // A one-instance pipe: it owns its listening socket, and `spare`, a
  // descriptor held for the accept of its one peer.
  PosixServerPipe(std::string name, const PipeParams& params, Fd listener, Fd spare)
      : name_(std::move(name)),
        params_(params),
        own_listener_(std::move(listener)),
        spare_(std::move(spare)) {}
  // One instance of a pipe of many: `shared_listener` serves every instance
  // of the name and belongs to the registry.
  PosixServerPipe(std::string name, const PipeParams& params, int shared_listener)
      : name_(std::move(name)), params_(params), shared_listener_(shared_listener) {}

  ~PosixServerPipe() override {
    connection_.reset();
    close_own_listener();
  }

  ConnectResult connect() override {
    if (connection_.valid()) return ConnectResult::already_connected;
    for (;;) {
      const int listener = own_listener_.valid() ? own_listener_.get() : shared_listener_;
      if (listener < 0) return ConnectResult::failed;
      if (shared_listener_ >= 0) {
        // A pipe of many instances lives for long: while nobody comes, make
        // sure now and then that its name still leads to it (someone may
        // have cleared the directory), since clients would never find it
        // otherwise.
        pollfd waiting{listener, POLLIN, 0};
        const int ready = ::poll(&waiting, 1, static_cast<int>(kNameCheckMs));
        if (ready < 0 && errno == EINTR) continue;
        if (ready == 0) {
          if (name_still_leads_here(name_)) {
            if (params_.report_idle) return ConnectResult::idle;
            continue;
          }
          retire_shared_listener(name_);
          shared_listener_ = -1;
          return ConnectResult::lost;
        }
      }
      if (spare_.valid()) {
        // The descriptor held since creation makes room for the peer's, once
        // a peer is there: a pipe made while descriptors were short can still
        // be connected, so the relay it belongs to can end and give its
        // descriptors back.
        pollfd waiting{listener, POLLIN, 0};
        const int ready = ::poll(&waiting, 1, -1);
        if (ready < 0 && errno == EINTR) continue;
        spare_.reset();
      }
      Fd peer(::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC));
      if (!peer.valid()) {
        if (errno == EINTR || errno == ECONNABORTED) continue;
        if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
          // Out of descriptors or memory: the client stays queued. The
          // caller of a pipe of many instances decides whether anything
          // will give descriptors back; a one-instance pipe's spare was just
          // given up, so only another thread's open can have taken it, and
          // that one is given back soon.
          if (shared_listener_ >= 0) return ConnectResult::out_of_descriptors;
          sleep_ms(kOutOfResourcesRetryMs);
          continue;
        }
        return ConnectResult::failed;
      }
      // A peer of another user is dropped without a word.
      if (!peer_is_same_user(peer.get())) continue;
      connection_ = std::move(peer);
      // A one-instance pipe is used up: its name goes at once, so that
      // per-request socket files never pile up.
      close_own_listener();
      return ConnectResult::connected;
    }
  }

  ReadResult read(char* buffer, std::size_t size) override {
    ReadResult result;
    if (!connection_.valid() || params_.direction == PipeDirection::outbound) return result;
    if (params_.notice_stream) {
      const ssize_t n = size > 0 ? receive_some(connection_.get(), buffer, size) : 0;
      if (n > 0) {
        result.status = ReadStatus::complete;
        result.bytes = static_cast<std::size_t>(n);
      }
      return result;
    }
    result.bytes = receive_until_end(connection_.get(), buffer, size);
    if (result.bytes < size) {
      // The message (or the connection) ended inside the buffer.
      if (result.bytes > 0) result.status = ReadStatus::complete;
      return result;
    }
    // The buffer is full: the message goes on when a further byte comes
    // before its end. This peek blocks, as a read of the rest would.
    char next = 0;
    ssize_t n;
    do {
      n = ::recv(connection_.get(), &next, 1, MSG_PEEK);
    } while (n < 0 && errno == EINTR);
    if (n > 0) {
      result.status = ReadStatus::more_data;
    } else if (result.bytes > 0) {
      result.status = ReadStatus::complete;
    }
    return result;
  }

  bool write(const char* data, std::size_t size) override {
    if (!connection_.valid() || params_.direction == PipeDirection::inbound) return false;
    if (!send_all(connection_.get(), data, size)) return false;
    if (params_.notice_stream) return true;
    return ::shutdown(connection_.get(), SHUT_WR) == 0;
  }

  // Everything written is already in the peer's receive queue (a Unix socket
  // has no buffer on the sending side) and survives this end's shutdown and
  // close, so there is nothing to wait for.
  bool flush() override { return connection_.valid(); }

  void disconnect() override {
    if (!connection_.valid()) return;
    ::shutdown(connection_.get(), SHUT_RDWR);
    connection_.reset();
  }

 private:
  void close_own_listener() {
    if (!own_listener_.valid()) return;
    own_listener_.reset();
    forget_socket_file(name_);
  }

  std::string name_;
  PipeParams params_;
  Fd own_listener_;           // a one-instance pipe's
  int shared_listener_ = -1;  // a pipe of many instances': the registry's
  Fd spare_;
  Fd connection_;
};

// ---------------------------------------------------------------------------
// Client end.

class PosixClientPipe final : public ClientPipe {
 public:
  PosixClientPipe(Fd fd, PipeAccess access, bool notice_stream)
      : fd_(std::move(fd)), access_(access), notice_stream_(notice_stream) {}

  bool write(const char* data, std::size_t size) override {
    if (access_ == PipeAccess::read) return false;
    if (!send_all(fd_.get(), data, size)) return false;
    if (notice_stream_) return true;
    return ::shutdown(fd_.get(), SHUT_WR) == 0;
  }

  bool read(char* buffer, std::size_t size, std::size_t* bytes) override {
    *bytes = 0;
    if (access_ == PipeAccess::write) return false;
    if (notice_stream_) {
      // Notices carry their own delimiters and the stream has no end while
      // the service runs: hand over whatever has arrived.
      const ssize_t n = size > 0 ? receive_some(fd_.get(), buffer, size) : 0;
      if (n <= 0) return false;
      *bytes = static_cast<std::size_t>(n);
      return true;
    }
    *bytes = receive_until_end(fd_.get(), buffer, size);
    return *bytes > 0;
  }

 private:
  Fd fd_;
  PipeAccess access_;
  bool notice_stream_;
};

}  // namespace

// ---------------------------------------------------------------------------
// Pipes.

Result<std::unique_ptr<ServerPipe>> create_server_pipe(const std::string& name,
                                                       const PipeParams& params,
                                                       const PipeSecurity* /*security*/) {
  if (params.max_instances == 1) {
    Fd listener;
    {
      // Bound and recorded under the lock, so that a process that is ending
      // (exit_now, a termination signal) never leaves a socket file behind
      // that it made a moment before.
      PipeRegistry& reg = registry();
      const support::MutexLock lock(reg.mutex);
      listener = bind_and_record_locked(reg, name, 0);
      if (!listener.valid()) return Status::posix("bind", errno);
    }
    Fd spare(::fcntl(listener.get(), F_DUPFD_CLOEXEC, 0));
    if (!spare.valid()) {
      const Status failed = Status::posix("fcntl", errno);
      listener.reset();
      forget_socket_file(name);
      return failed;
    }
    // Without memory for the object `listener` stays here and is closed.
    auto pipe = std::unique_ptr<ServerPipe>(
        new (std::nothrow) PosixServerPipe(name, params, std::move(listener), std::move(spare)));
    if (!pipe) {
      forget_socket_file(name);
      return Status::posix("new", ENOMEM);
    }
    return pipe;
  }

  // More than one instance: every instance this process makes shares one
  // listening socket. The registry stays locked throughout so that two
  // threads creating instances of one name cannot both try to bind it.
  PipeRegistry& reg = registry();
  const support::MutexLock lock(reg.mutex);
  auto it = reg.shared_listeners.find(name);
  int listener = -1;
  if (it != reg.shared_listeners.end()) {
    listener = it->second;
  } else {
    const int backlog = params.max_instances >= 255 || params.max_instances == 0
                            ? SOMAXCONN
                            : static_cast<int>(params.max_instances) - 1;
    Fd fd = bind_and_record_locked(reg, name, backlog);
    if (!fd.valid()) return Status::posix("bind", errno);
    listener = fd.release();
    reg.shared_listeners[name] = listener;
  }
  auto pipe =
      std::unique_ptr<ServerPipe>(new (std::nothrow) PosixServerPipe(name, params, listener));
  if (!pipe) return Status::posix("new", ENOMEM);
  return pipe;
}

bool wait_named_pipe(const std::string& name, unsigned timeout_ms) {
  if (have_stash(name)) return true;
  // The connect waits only while the backlog is full; no socket file, or one
  // that nobody listens on, fails at once.
  int error = 0;
  Fd fd = connect_to(name, timeout_ms == 0 ? kDefaultPipeWaitMs : timeout_ms, &error);
  if (!fd.valid()) return false;
  stash_connection(name, std::move(fd));
  return true;
}

bool named_pipe_exists(const std::string& name) {
  if (have_stash(name)) return true;
  int error = 0;
  Fd fd = connect_to(name, 0, &error);
  if (fd.valid()) {
    stash_connection(name, std::move(fd));
    return true;
  }
  return error == EAGAIN;  // every instance taken: the pipe exists
}

OpenResult open_client_pipe(const std::string& name, PipeAccess access, bool notice_stream,
                            std::unique_ptr<ClientPipe>* out) {
  Fd fd = take_stash(name);
  if (!fd.valid()) {
    int error = 0;
    fd = connect_to(name, 0, &error);
    if (!fd.valid()) {
      const Status failed = Status::posix("connect", error);
      if (is_no_pipe_error(error)) return {OpenStatus::not_found, failed};
      if (error == EAGAIN) return {OpenStatus::busy, failed};
      return {OpenStatus::failed, failed};
    }
  }
  // Whoever serves a pipe in our private directory must be ourselves.
  if (!peer_is_same_user(fd.get()))
    return {OpenStatus::failed, Status::posix("SO_PEERCRED", EACCES)};
  out->reset(new (std::nothrow) PosixClientPipe(std::move(fd), access, notice_stream));
  if (!*out) return {OpenStatus::failed, Status::posix("new", ENOMEM)};
  return {OpenStatus::opened, Status()};
}

std::string pipe_name_problem(const std::string& name) {
  sockaddr_un addr{};
  Fd dir_holder;
  int error = 0;
  if (socket_address(name, &addr, &dir_holder, &error)) return std::string();
  if (error == ENAMETOOLONG) {
    return "The pipe name " + name + " cannot be used: its socket address would exceed the " +
           std::to_string(sizeof(addr.sun_path) - 1) + " bytes a socket address holds";
  }
  return "The pipe name " + name + " cannot be used: " + std::strerror(error);
}

}  // namespace platform
