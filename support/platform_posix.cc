// The POSIX (Linux) implementation of the platform interface.
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
#include <mutex>
#include <new>
#include <utility>
#include <vector>

namespace platform {
namespace {

// ---------------------------------------------------------------------------
// Descriptors.

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

// The default time-out of a pipe, used when a wait asks for it (0), as the
// Windows pipes are created with.
constexpr unsigned kDefaultPipeWaitMs = 5000;
constexpr unsigned kWaitForever = 0xFFFFFFFFu;
// How long an accept that ran out of descriptors waits before it tries again.
constexpr unsigned kOutOfResourcesRetryMs = 10;
// How often an idle pipe of many instances checks that its name still leads
// to it.
constexpr unsigned kNameCheckMs = 1000;

// ---------------------------------------------------------------------------
// Process-wide pipe state.

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
  // Descriptors that hold pid-file locks for the process's life.
  std::vector<int> pid_file_locks;
  // Work directories opened and checked by make_private_dir, by path. Their
  // handles stay open for the process's life: files and sockets named
  // directly inside one are reached through its handle, never by the path
  // again, so that swapping the directory after the check changes nothing.
  std::mutex dirs_mutex;  // guards work_dirs alone
  std::map<std::string, int> work_dirs;
  bool cleanup_registered = false;
};

// Never destroyed: threads may still use it while the process exits.
PipeRegistry& registry() {
  static PipeRegistry* instance = new PipeRegistry;
  return *instance;
}

// Unlinks `file` when the path still names the socket this process bound.
void unlink_socket_file(const SocketFile& file) {
  if (file.owner != ::getpid()) return;
  struct stat st {};
  if (::fstatat(file.dir, file.at.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return;
  if (!S_ISSOCK(st.st_mode) || st.st_dev != file.dev || st.st_ino != file.ino) return;
  ::unlinkat(file.dir, file.at.c_str(), 0);
}

// Caller holds the mutex.
void remove_all_socket_files_locked(PipeRegistry& reg) {
  for (const SocketFile& file : reg.socket_files) unlink_socket_file(file);
  reg.socket_files.clear();
}

void remove_all_socket_files() {
  PipeRegistry& reg = registry();
  std::lock_guard<std::mutex> lock(reg.mutex);
  remove_all_socket_files_locked(reg);
}

void remove_all_socket_files_at_exit() { remove_all_socket_files(); }

// Records a socket file for removal at exit. Caller holds the mutex.
void remember_socket_file_locked(PipeRegistry& reg, SocketFile file) {
  if (!reg.cleanup_registered) {
    reg.cleanup_registered = std::atexit(remove_all_socket_files_at_exit) == 0;
  }
  reg.socket_files.push_back(std::move(file));
}

// Removes one socket file now and forgets it.
void forget_socket_file(const std::string& path) {
  PipeRegistry& reg = registry();
  std::lock_guard<std::mutex> lock(reg.mutex);
  for (auto it = reg.socket_files.begin(); it != reg.socket_files.end(); ++it) {
    if (it->path == path) {
      unlink_socket_file(*it);
      reg.socket_files.erase(it);
      return;
    }
  }
}

// ---------------------------------------------------------------------------
// Socket helpers.

// Where a path is reached: through the handle of the open work directory
// when it names an entry directly inside one, else as it stands.
struct Place {
  int dir = AT_FDCWD;  // not owned
  std::string at;      // relative to `dir`
};

Place place_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash != std::string::npos && slash + 1 < path.size()) {
    PipeRegistry& reg = registry();
    std::lock_guard<std::mutex> lock(reg.dirs_mutex);
    auto it = reg.work_dirs.find(path.substr(0, slash));
    if (it != reg.work_dirs.end()) return {it->second, path.substr(slash + 1)};
  }
  return {AT_FDCWD, path};
}

// A directory handle reached as a short path: /proc/self/fd/<fd>.
std::string handle_path(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

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

bool peer_is_same_user(int fd) {
  uid_t uid = 0;
  return peer_uid(fd, &uid) && uid == ::geteuid();
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

// True when a connection for `name` is stashed. A stashed connection whose
// server has since dropped it is kept too: the open takes it over and the
// exchange fails at once, as it does on Windows when the server disconnects
// a client between its wait and its read. Dropping it instead would send the
// client back to waiting for a pipe that may never come back.
bool have_stash(const std::string& name) {
  PipeRegistry& reg = registry();
  std::lock_guard<std::mutex> lock(reg.mutex);
  return reg.stashed_connections.count(name) != 0;
}

void stash_connection(const std::string& name, Fd fd) {
  PipeRegistry& reg = registry();
  std::lock_guard<std::mutex> lock(reg.mutex);
  // Another thread may have stashed one meanwhile; one is enough.
  if (reg.stashed_connections.count(name) == 0) reg.stashed_connections[name] = fd.release();
}

Fd take_stash(const std::string& name) {
  PipeRegistry& reg = registry();
  std::lock_guard<std::mutex> lock(reg.mutex);
  auto it = reg.stashed_connections.find(name);
  if (it == reg.stashed_connections.end()) return Fd();
  Fd fd(it->second);
  reg.stashed_connections.erase(it);
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

enum class Listening { no_entry, listening, unknown };

// Looks `name` up among the listening Unix stream sockets in
// /proc/net/unix ("Num RefCount Protocol Flags Type St Inode Path", the
// path last and as it was bound).
Listening listener_in_socket_table(const std::string& name) {
  std::FILE* table = std::fopen("/proc/net/unix", "re");
  if (table == nullptr) return Listening::unknown;
  constexpr unsigned long kAcceptingConnections = 0x10000;  // __SO_ACCEPTCON
  Listening result = Listening::no_entry;
  std::string line;
  char chunk[512];
  bool header = true;
  while (std::fgets(chunk, sizeof(chunk), table) != nullptr) {
    line += chunk;
    if (line.back() != '\n' && !std::feof(table)) continue;  // a long line goes on
    if (line.back() == '\n') line.pop_back();
    if (!header) {
      unsigned long flags = 0;
      unsigned type = 0;
      int path_at = -1;
      if (std::sscanf(line.c_str(), "%*s %*s %*s %lx %x %*s %*s %n", &flags, &type, &path_at) >=
              2 &&
          path_at > 0 && (flags & kAcceptingConnections) != 0 && type == SOCK_STREAM &&
          line.compare(static_cast<std::size_t>(path_at), std::string::npos, name) == 0) {
        result = Listening::listening;
        break;
      }
    }
    header = false;
    line.clear();
  }
  std::fclose(table);
  return result;
}

// Creates a listening socket bound at `name`, mode 0600. A socket file that
// nobody listens on is a leftover of a process that ended without cleaning
// up: it is removed and the bind tried again. When someone does listen there
// the creation fails. On failure errno says why.
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
    // Whether someone listens is asked of the kernel's socket table first: a
    // probing connection would land in that listener's backlog and could
    // take a one-instance pipe from the peer it was made for. Only when the
    // table shows no listener (it covers this network namespace alone, and
    // names a socket by the path it was bound with) does a connect attempt
    // confirm that the file is a leftover.
    if (listener_in_socket_table(name) != Listening::no_entry) {
      errno = EADDRINUSE;
      return Fd();
    }
    Fd probe = connect_to(name, 0, &error);
    if (probe.valid() || error != ECONNREFUSED) {  // someone listens (or worse)
      errno = EADDRINUSE;
      return Fd();
    }
    struct stat st {};
    if (::fstatat(place.dir, place.at.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISSOCK(st.st_mode)) {
      errno = EADDRINUSE;
      return Fd();
    }
    ::unlinkat(place.dir, place.at.c_str(), 0);
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

// True unless `name` is a socket file of this process that has been removed
// or replaced: looked up by path, as a client finds it.
bool name_still_leads_here(const std::string& name) {
  SocketFile file;
  {
    PipeRegistry& reg = registry();
    std::lock_guard<std::mutex> lock(reg.mutex);
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
  std::lock_guard<std::mutex> lock(reg.mutex);
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
  // `listener` is owned unless `shared`. `spare`, for a one-instance pipe,
  // is a descriptor held for the accept of its one peer.
  PosixServerPipe(std::string name, const PipeParams& params, int listener, bool shared,
                  Fd spare = Fd())
      : name_(std::move(name)),
        params_(params),
        listener_(listener),
        shared_(shared),
        spare_(std::move(spare)) {}

  ~PosixServerPipe() override {
    connection_.reset();
    close_own_listener();
  }

  ConnectResult connect() override {
    if (connection_.valid()) return ConnectResult::already_connected;
    for (;;) {
      if (listener_ < 0) return ConnectResult::failed;
      if (shared_) {
        // A pipe of many instances lives for long: while nobody comes, make
        // sure now and then that its name still leads to it (someone may
        // have cleared the directory), since clients would never find it
        // otherwise.
        pollfd waiting{listener_, POLLIN, 0};
        const int ready = ::poll(&waiting, 1, static_cast<int>(kNameCheckMs));
        if (ready < 0 && errno == EINTR) continue;
        if (ready == 0) {
          if (name_still_leads_here(name_)) continue;
          retire_shared_listener(name_);
          listener_ = -1;
          return ConnectResult::lost;
        }
      }
      if (spare_.valid()) {
        // The descriptor held since creation makes room for the peer's, once
        // a peer is there: a pipe made while descriptors were short can still
        // be connected, so the relay it belongs to can end and give its
        // descriptors back.
        pollfd waiting{listener_, POLLIN, 0};
        const int ready = ::poll(&waiting, 1, -1);
        if (ready < 0 && errno == EINTR) continue;
        spare_.reset();
      }
      Fd peer(::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC));
      if (!peer.valid()) {
        if (errno == EINTR || errno == ECONNABORTED) continue;
        if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
          // Out of descriptors or memory for now: the client stays queued
          // until relays in flight release theirs. Retrying at once would
          // spin; failing would drop a client that did nothing wrong.
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
    if (shared_ || listener_ < 0) return;
    ::close(listener_);
    listener_ = -1;
    forget_socket_file(name_);
  }

  std::string name_;
  PipeParams params_;
  int listener_;
  bool shared_;
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

// ---------------------------------------------------------------------------
// Processes.

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

constexpr int kOutputFileFlags = O_WRONLY | O_CREAT | O_TRUNC;

}  // namespace

// ---------------------------------------------------------------------------
// Pipes.

std::unique_ptr<ServerPipe> create_server_pipe(const std::string& name, const PipeParams& params,
                                               const void* /*security_attributes*/) {
  if (params.max_instances == 1) {
    Fd listener;
    {
      // Bound and recorded under the lock, so that a process that is ending
      // (exit_now, a termination signal) never leaves a socket file behind
      // that it made a moment before.
      PipeRegistry& reg = registry();
      std::lock_guard<std::mutex> lock(reg.mutex);
      SocketFile file;
      listener = bind_and_listen(name, 0, &file);
      if (!listener.valid()) return nullptr;
      if (!reachable_by_name(file)) {
        unlink_socket_file(file);
        errno = ENOENT;
        return nullptr;
      }
      remember_socket_file_locked(reg, std::move(file));
    }
    Fd spare(::fcntl(listener.get(), F_DUPFD_CLOEXEC, 0));
    if (!spare.valid()) {
      const int error = errno;
      listener.reset();
      forget_socket_file(name);
      errno = error;
      return nullptr;
    }
    auto pipe = std::unique_ptr<ServerPipe>(
        new (std::nothrow) PosixServerPipe(name, params, listener.get(), false, std::move(spare)));
    if (!pipe) {
      forget_socket_file(name);
      errno = ENOMEM;
      return nullptr;
    }
    listener.release();
    return pipe;
  }

  // More than one instance: every instance this process makes shares one
  // listening socket. The registry stays locked throughout so that two
  // threads creating instances of one name cannot both try to bind it.
  PipeRegistry& reg = registry();
  std::lock_guard<std::mutex> lock(reg.mutex);
  auto it = reg.shared_listeners.find(name);
  int listener = -1;
  if (it != reg.shared_listeners.end()) {
    listener = it->second;
  } else {
    const int backlog = params.max_instances >= 255 || params.max_instances == 0
                            ? SOMAXCONN
                            : static_cast<int>(params.max_instances) - 1;
    SocketFile file;
    Fd fd = bind_and_listen(name, backlog, &file);
    if (!fd.valid()) return nullptr;
    if (!reachable_by_name(file)) {
      unlink_socket_file(file);
      errno = ENOENT;
      return nullptr;
    }
    remember_socket_file_locked(reg, std::move(file));
    listener = fd.release();
    reg.shared_listeners[name] = listener;
  }
  return std::unique_ptr<ServerPipe>(new (std::nothrow)
                                         PosixServerPipe(name, params, listener, true));
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

OpenStatus open_client_pipe(const std::string& name, PipeAccess access, bool notice_stream,
                            std::unique_ptr<ClientPipe>* out) {
  Fd fd = take_stash(name);
  if (!fd.valid()) {
    int error = 0;
    fd = connect_to(name, 0, &error);
    if (!fd.valid()) {
      if (is_no_pipe_error(error)) return OpenStatus::not_found;
      if (error == EAGAIN) return OpenStatus::busy;
      return OpenStatus::failed;
    }
  }
  // Whoever serves a pipe in our private directory must be ourselves.
  if (!peer_is_same_user(fd.get())) return OpenStatus::failed;
  out->reset(new (std::nothrow) PosixClientPipe(std::move(fd), access, notice_stream));
  return *out ? OpenStatus::opened : OpenStatus::failed;
}

// ---------------------------------------------------------------------------
// Processes.

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

bool Process::kill() {
  if (!valid() || handle_ <= 0) return false;
  // Only while the child is still ours (running or not yet reaped): once it
  // has been waited for, its id may belong to someone else.
  siginfo_t info{};
  if (::waitid(P_PID, static_cast<id_t>(handle_), &info, WEXITED | WNOHANG | WNOWAIT) != 0) {
    return false;
  }
  return ::kill(static_cast<pid_t>(handle_), SIGKILL) == 0;
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

bool start_process(const ProcessSpec& invocation, Process* out) {
  if (invocation.program.empty()) return false;
  SpawnSetup setup;
  if (!setup.ok()) return false;

  // The file actions run in the child before the exec, after the change of
  // directory: a relative program path is made absolute here so that it
  // names the same file as in the caller.
  std::string program = invocation.program;
  if (program.front() != '/' && !invocation.working_dir.empty()) {
    const std::string cwd = current_dir();
    if (cwd.empty()) return false;
    program = cwd + "/" + program;
  }

  const bool redirect = !invocation.stdout_path.empty() || !invocation.stderr_path.empty();
  posix_spawn_file_actions_t* actions = setup.actions();
  // The child gets the three standard streams and nothing else the caller
  // had open: a long-lived child such as the service must not hold a
  // caller's pipe open (the caller's reader would wait for the service to end).
  if (::posix_spawn_file_actions_addclosefrom_np(actions, 3) != 0) return false;
  if (invocation.null_stdio || redirect) {
    if (::posix_spawn_file_actions_addopen(actions, 0, "/dev/null", O_RDONLY, 0) != 0) return false;
  }
  if (!invocation.stdout_path.empty()) {
    if (::posix_spawn_file_actions_addopen(actions, 1, invocation.stdout_path.c_str(),
                                           kOutputFileFlags, 0644) != 0) {
      return false;
    }
  } else if (invocation.null_stdio) {
    if (::posix_spawn_file_actions_addopen(actions, 1, "/dev/null", O_WRONLY, 0) != 0) return false;
  }
  if (!invocation.stderr_path.empty()) {
    if (::posix_spawn_file_actions_addopen(actions, 2, invocation.stderr_path.c_str(),
                                           kOutputFileFlags, 0644) != 0) {
      return false;
    }
  } else if (invocation.null_stdio) {
    if (::posix_spawn_file_actions_addopen(actions, 2, "/dev/null", O_WRONLY, 0) != 0) return false;
  }
  if (!invocation.working_dir.empty() &&
      ::posix_spawn_file_actions_addchdir_np(actions, invocation.working_dir.c_str()) != 0) {
    return false;
  }

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
  if (::posix_spawnattr_setflags(attr, flags) != 0 ||
      ::posix_spawnattr_setsigmask(attr, &empty_mask) != 0 ||
      ::posix_spawnattr_setsigdefault(attr, &defaults) != 0) {
    return false;
  }

  std::vector<char*> argv;
  argv.reserve(invocation.args.size() + 2);
  argv.push_back(const_cast<char*>(invocation.program.c_str()));
  for (const std::string& arg : invocation.args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);

  pid_t pid = 0;
  if (::posix_spawn(&pid, program.c_str(), actions, attr, argv.data(), environ) != 0) {
    return false;
  }
  out->handle_ = static_cast<std::intptr_t>(pid);
  out->pid_ = static_cast<std::uint32_t>(pid);
  return true;
}

std::string process_image_path(std::uint32_t pid) {
  if (pid == 0 || pid > static_cast<std::uint32_t>(INT_MAX)) return std::string();
  return read_link("/proc/" + std::to_string(pid) + "/exe");
}

bool kill_process(std::uint32_t pid) {
  // 0 and values beyond pid_t would address process groups.
  if (pid == 0 || pid > static_cast<std::uint32_t>(INT_MAX)) return false;
  return ::kill(static_cast<pid_t>(pid), SIGKILL) == 0;
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

bool start_detached_thread(void (*body)(void*), void* arg) {
  auto* start = new (std::nothrow) ThreadStart{body, arg};
  if (start == nullptr) return false;
  pthread_attr_t attr;
  if (::pthread_attr_init(&attr) != 0) {
    delete start;
    return false;
  }
  pthread_t thread;
  int rc = ::pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  if (rc == 0) rc = ::pthread_create(&thread, &attr, thread_trampoline, start);
  ::pthread_attr_destroy(&attr);
  if (rc != 0) {
    delete start;
    return false;
  }
  return true;
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

void termination_body(void* arg) {
  const sigset_t signals = *static_cast<sigset_t*>(arg);
  delete static_cast<sigset_t*>(arg);
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

bool remove_pipes_on_termination_signals() {
  auto* signals = new (std::nothrow) sigset_t;
  if (signals == nullptr) return false;
  sigemptyset(signals);
  for (const int signal_number : kTerminationSignals) sigaddset(signals, signal_number);
  // Blocked here, before any further thread starts, so that every thread
  // inherits the mask and only the waiting thread ever takes these signals.
  sigset_t previous;
  if (::pthread_sigmask(SIG_BLOCK, signals, &previous) != 0) {
    delete signals;
    return false;
  }
  if (!start_detached_thread(&termination_body, signals)) {
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    delete signals;
    return false;
  }
  return true;
}

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

bool set_current_dir(const std::string& path) { return ::chdir(path.c_str()) == 0; }

namespace {

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
  PipeRegistry& reg = registry();
  std::lock_guard<std::mutex> lock(reg.dirs_mutex);
  auto it = reg.work_dirs.find(path);
  if (it != reg.work_dirs.end()) {
    struct stat old_st {};
    struct stat new_st {};
    if (::fstat(it->second, &old_st) == 0 && ::fstat(fd.get(), &new_st) == 0 &&
        old_st.st_dev == new_st.st_dev && old_st.st_ino == new_st.st_ino) {
      return;  // the same directory: keep the handle sockets were made through
    }
    // Another directory under the same path: the old handle stays open, as
    // socket files made through it may still name it.
  }
  reg.work_dirs[path] = fd.release();
}

}  // namespace

int make_private_dir(const std::string& path) {
  bool made = false;
  if (::mkdir(path.c_str(), 0700) == 0) {
    made = true;
  } else if (errno != EEXIST) {
    return errno;
  }
  // Checked once, on the open directory, which is then used through its
  // handle alone: whatever is put at the path afterwards is never touched.
  Fd dir(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!dir.valid()) return made ? errno : EACCES;
  struct stat st {};
  if (::fstat(dir.get(), &st) != 0) return EACCES;
  // Only our own private directory may be used. Anything else (a plain file
  // or a link included) can hold neither the sockets nor the logs safely,
  // and accepting it would leave every client waiting for a service that
  // cannot start.
  if (!S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) return EACCES;
  if (made) {
    // mkdir's mode passes through the umask; set it exactly.
    if (::fchmod(dir.get(), 0700) != 0) return errno;
  } else if ((st.st_mode & 077) != 0) {
    return EACCES;
  }
  adopt_work_dir(path, std::move(dir));
  return made ? 0 : EEXIST;
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

bool write_pid_file(const std::string& path, std::uint32_t pid) {
  // No truncation before the lock: a live service's pid file must keep
  // naming it when a second service fails to take the lock.
  Fd fd = open_regular(path, O_WRONLY | O_CREAT);
  if (!fd.valid()) return false;
  int rc;
  do {
    rc = ::flock(fd.get(), LOCK_EX | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) return false;
  const std::string digits = std::to_string(pid);
  if (::ftruncate(fd.get(), 0) != 0) return false;
  std::size_t done = 0;
  while (done < digits.size()) {
    const ssize_t n = ::write(fd.get(), digits.data() + done, digits.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  // The open descriptor holds the lock for the rest of the process's life.
  PipeRegistry& reg = registry();
  std::lock_guard<std::mutex> lock(reg.mutex);
  reg.pid_file_locks.push_back(fd.release());
  return true;
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

void remove_stale_pipes(const std::string& base_name) {
  const std::size_t slash = base_name.rfind('/');
  if (slash == std::string::npos) return;
  const std::string dir_path = slash == 0 ? std::string("/") : base_name.substr(0, slash);
  const std::string prefix = base_name.substr(slash + 1);
  const Place place = place_of(base_name);
  if (place.dir == AT_FDCWD) return;  // only inside our own checked work directory
  // What this process made itself is never probed: a probe would take a
  // one-instance pipe from the peer it was made for.
  std::vector<std::pair<dev_t, ino_t>> own;
  {
    PipeRegistry& reg = registry();
    std::lock_guard<std::mutex> lock(reg.mutex);
    for (const SocketFile& file : reg.socket_files) own.emplace_back(file.dev, file.ino);
  }
  Fd listing(::openat(place.dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!listing.valid()) return;
  DIR* dir = ::fdopendir(listing.get());
  if (dir == nullptr) return;
  listing.release();
  std::vector<std::string> names;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string entry_name = entry->d_name;
    if (entry_name.compare(0, prefix.size(), prefix) == 0) names.push_back(entry_name);
  }
  ::closedir(dir);
  for (const std::string& entry_name : names) {
    struct stat st {};
    if (::fstatat(place.dir, entry_name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISSOCK(st.st_mode)) {
      continue;
    }
    if (std::find(own.begin(), own.end(), std::make_pair(st.st_dev, st.st_ino)) != own.end()) {
      continue;
    }
    // Stale only when proven: nobody listens there (connect refused).
    int error = 0;
    Fd probe = connect_to(dir_path + "/" + entry_name, 0, &error);
    if (probe.valid() || error != ECONNREFUSED) continue;
    struct stat again {};
    if (::fstatat(place.dir, entry_name.c_str(), &again, AT_SYMLINK_NOFOLLOW) == 0 &&
        again.st_dev == st.st_dev && again.st_ino == st.st_ino) {
      ::unlinkat(place.dir, entry_name.c_str(), 0);
    }
  }
}

const void* owner_security_attributes(unsigned long /*access*/, bool /*inherit*/) {
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

bool random_bytes(void* buffer, std::size_t size) {
  auto* out = static_cast<unsigned char*>(buffer);
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::getrandom(out + done, size - done, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno != ENOSYS) return false;
      break;  // a kernel without getrandom: read the device instead
    }
    done += static_cast<std::size_t>(n);
  }
  if (done == size) return true;
  Fd fd(::open("/dev/urandom", O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) return false;
  while (done < size) {
    const ssize_t n = ::read(fd.get(), out + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

std::string get_env(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  return value != nullptr ? std::string(value) : std::string();
}

bool set_env(const std::string& name, const std::string& value) {
  if (value.empty()) return ::unsetenv(name.c_str()) == 0;
  return ::setenv(name.c_str(), value.c_str(), 1) == 0;
}

}  // namespace platform
