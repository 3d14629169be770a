// Writing the output file. The graphical client builds on Linux only; this is
// the one file of the serving layer that calls the system directly, since a
// safe temporary file needs descriptors.
//
// A regular file (or a new one) is replaced through a temporary file beside
// it. A FIFO or a character device is written into, as a shell redirect
// would: replacing it would put a regular file where a device or a pipe
// was (as root, `-out /dev/null` would replace the system's /dev/null).
//
// Symbolic links are followed here, one by one, under the rule the kernel
// applies when it may (fs.protected_symlinks): a link in a folder that
// everyone may write and that has the sticky bit is followed only when it
// belongs to the user saving or to the folder's owner. Otherwise anyone
// could plant a link under an output's name in /tmp and have the merge
// replace a file of the user's that the link names.
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <string>
#include <system_error>
#include <utility>

#include "serve/serve.h"
#include "support/platform.h"

namespace marlow {
namespace {

namespace fs = std::filesystem;

// One open descriptor, closed once.
class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  Descriptor(Descriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Descriptor& operator=(Descriptor&& other) noexcept {
    if (this != &other) {
      if (fd_ >= 0) ::close(fd_);
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }

  bool valid() const { return fd_ >= 0; }
  int get() const { return fd_; }
  // Closes now; false when the close reports an error (a delayed write).
  bool close() {
    const int fd = std::exchange(fd_, -1);
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

std::string errno_text(int code) { return std::generic_category().message(code); }

// The most links followed from one output name, as the kernel allows.
constexpr int kMaxLinks = 40;

// True when `entry` lies in a folder everyone may write that has the sticky
// bit, and belongs neither to the user saving nor to the folder's owner:
// then someone else may have put it there under the name the user gave.
bool foreign_in_shared_folder(const struct stat& entry, const struct stat& folder) {
  return (folder.st_mode & S_ISVTX) != 0 && (folder.st_mode & S_IWOTH) != 0 &&
         entry.st_uid != ::geteuid() && entry.st_uid != folder.st_uid;
}

// Where the output is, once its own links are followed: the folder (open,
// so that everything below happens in that one folder, by name within it),
// the name in it, and what that name is now, when it exists.
struct Destination {
  Descriptor folder;
  std::string name;
  fs::path shown;  // the path for messages
  bool exists = false;
  struct stat status {};
};

// A failure: the path it concerns, the system's reason and what we add.
struct Failure {
  const char* what = "cannot write ";
  int code = 0;
  const char* why = nullptr;
};

bool plain_name(const std::string& name) { return !name.empty() && name != "." && name != ".."; }

// Follows the links that `path` names (a chain of them, even a dangling one:
// renaming over a link would replace the link). The folders on the way are
// the kernel's to follow, with its own rules.
bool locate(const std::string& path, Destination* out, Failure* failure) {
  out->shown = fs::path(path);
  out->name = out->shown.filename().string();
  if (!plain_name(out->name)) {
    failure->code = EISDIR;
    return false;
  }
  const fs::path parent = out->shown.has_parent_path() ? out->shown.parent_path() : fs::path(".");
  out->folder = Descriptor(::open(parent.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (!out->folder.valid()) {
    failure->code = errno;
    return false;
  }
  for (int links = 0;; ++links) {
    if (::fstatat(out->folder.get(), out->name.c_str(), &out->status, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno != ENOENT) {
        failure->code = errno;
        return false;
      }
      out->exists = false;
      return true;
    }
    out->exists = true;
    if (!S_ISLNK(out->status.st_mode)) return true;
    if (links == kMaxLinks) {
      failure->code = ELOOP;
      return false;
    }
    struct stat folder {};
    if (::fstat(out->folder.get(), &folder) != 0) {
      failure->code = errno;
      return false;
    }
    if (foreign_in_shared_folder(out->status, folder)) {
      failure->code = EACCES;
      failure->why = "another user's link in a folder everyone may write is not followed";
      return false;
    }
    std::string target(static_cast<std::size_t>(out->status.st_size) + 1, '\0');
    for (;;) {
      const ssize_t length =
          ::readlinkat(out->folder.get(), out->name.c_str(), target.data(), target.size());
      if (length < 0) {
        failure->code = errno;
        return false;
      }
      if (static_cast<std::size_t>(length) < target.size()) {
        target.resize(static_cast<std::size_t>(length));
        break;
      }
      target.resize(target.size() * 2);  // the link grew since it was looked at
    }
    const fs::path link(target);
    out->shown = link.is_absolute() ? link : out->shown.parent_path() / link;
    out->name = link.filename().string();
    if (!plain_name(out->name)) {
      failure->code = EISDIR;
      return false;
    }
    if (link.has_parent_path()) {
      const int from = link.is_absolute() ? AT_FDCWD : out->folder.get();
      Descriptor next(::openat(from, link.parent_path().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
      if (!next.valid()) {
        failure->code = errno;
        return false;
      }
      out->folder = std::move(next);
    }
  }
}

// A name beside `name` that no one else can guess, within the length a
// directory entry may have.
bool temp_name_for(const std::string& name, std::string* out) {
  std::uint8_t bytes[12];
  if (!platform::random_bytes(bytes, sizeof bytes)) return false;
  std::string suffix = ".marlow-";
  for (const std::uint8_t byte : bytes) {
    suffix += "0123456789abcdef"[byte >> 4];
    suffix += "0123456789abcdef"[byte & 15];
  }
  suffix += ".tmp";
  constexpr std::size_t kNameMax = 255;
  *out = name.substr(0, kNameMax - suffix.size()) + suffix;
  return true;
}

bool write_all(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t wrote = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return false;
    done += static_cast<std::size_t>(wrote);
  }
  return true;
}

// SIGPIPE held back on this thread while it writes into a pipe: a reader
// that goes away makes the write fail with EPIPE instead of ending the
// program. One raised meanwhile is taken off again.
class PipeSignalHeld {
 public:
  PipeSignalHeld() {
    sigemptyset(&pipe_);
    sigaddset(&pipe_, SIGPIPE);
    ::pthread_sigmask(SIG_BLOCK, &pipe_, &before_);
    sigset_t pending;
    was_pending_ = ::sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
  }
  ~PipeSignalHeld() {
    sigset_t pending;
    if (!was_pending_ && ::sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1) {
      const timespec now{0, 0};
      static_cast<void>(::sigtimedwait(&pipe_, nullptr, &now));
    }
    ::pthread_sigmask(SIG_SETMASK, &before_, nullptr);
  }
  PipeSignalHeld(const PipeSignalHeld&) = delete;
  PipeSignalHeld& operator=(const PipeSignalHeld&) = delete;

 private:
  sigset_t pipe_{};
  sigset_t before_{};
  bool was_pending_ = false;
};

// Writes into a FIFO or a device opened without blocking. Waits while it
// cannot take more, but no longer than `stalled_ms` without any progress:
// a reader that keeps a FIFO open and never reads must not hold the save
// (and the window that saves) for ever.
bool write_without_stalling(int fd, const std::string& bytes, int stalled_ms, Failure* failure) {
  const PipeSignalHeld held;
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t wrote = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (wrote > 0) {
      done += static_cast<std::size_t>(wrote);
      continue;
    }
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      pollfd ready{fd, POLLOUT, 0};
      const int polled = ::poll(&ready, 1, stalled_ms);
      if (polled < 0 && errno == EINTR) continue;
      if (polled == 0) {
        failure->code = ETIMEDOUT;
        failure->why = "its reader stopped reading";
        return false;
      }
      if (polled < 0) {
        failure->code = errno;
        return false;
      }
      continue;  // a reader that went away shows as EPIPE on the next write
    }
    failure->code = wrote < 0 ? errno : EIO;
    return false;
  }
  return true;
}

// The output is a FIFO or a character device: the text goes into it.
bool write_into(const Destination& to, const std::string& bytes, int stalled_ms, Failure* failure) {
  // Without blocking: a FIFO that no one reads refuses at once (ENXIO)
  // rather than waiting for a reader that may never come.
  Descriptor file(::openat(to.folder.get(), to.name.c_str(),
                           O_WRONLY | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
  if (!file.valid()) {
    failure->code = errno;
    if (errno == ENXIO && S_ISFIFO(to.status.st_mode)) failure->why = "no process reads the FIFO";
    return false;
  }
  // Still what was looked at, not a file put there since.
  struct stat opened {};
  if (::fstat(file.get(), &opened) != 0) {
    failure->code = errno;
    return false;
  }
  if (opened.st_dev != to.status.st_dev || opened.st_ino != to.status.st_ino) {
    failure->code = EAGAIN;
    failure->why = "it was replaced while being saved";
    return false;
  }
  if (!write_without_stalling(file.get(), bytes, stalled_ms, failure)) return false;
  if (!file.close()) {
    failure->code = errno;
    return false;
  }
  return true;
}

// The output is a regular file or does not exist yet: a temporary file in
// the same folder replaces it whole, so that a failed write leaves the old
// file as it was.
bool replace(const Destination& to, const std::string& bytes, Failure* failure) {
  const int dir = to.folder.get();
  const bool replacing = to.exists;
  const struct stat& old_status = to.status;
  // Made by this call and no one else's: a new name that no one can guess,
  // created exclusively (never an existing file, never through a link). It
  // stays private while the text goes in. A new output gets the usual bits
  // (the umask's), the same as the file itself would.
  std::string temp;
  int fd = -1;
  for (int attempt = 0; fd < 0 && attempt < 16; ++attempt) {
    if (!temp_name_for(to.name, &temp)) {
      failure->code = EAGAIN;
      return false;
    }
    fd = ::openat(dir, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                  replacing ? 0600 : 0666);
    if (fd < 0 && errno != EEXIST) {
      failure->code = errno;
      return false;
    }
  }
  if (fd < 0) {
    failure->code = EEXIST;
    return false;
  }
  Descriptor file(fd);
  auto discard = [&](const char* what, int code) {
    ::unlinkat(dir, temp.c_str(), 0);
    failure->what = what;
    failure->code = code;
    return false;
  };

  errno = 0;
  if (!write_all(file.get(), bytes)) return discard("cannot write ", errno != 0 ? errno : EIO);
  if (replacing) {
    // The replaced file's owner and group where this user may give them (as
    // root, a user's file stays theirs), then its permission bits (a merged
    // script stays executable). Bits of a group the file could not keep are
    // left off, so the text is never open to more people than before; when
    // not all can be set (a set-id bit, say) the file stays private.
    if (::fchown(file.get(), old_status.st_uid, old_status.st_gid) != 0) {
      static_cast<void>(::fchown(file.get(), static_cast<uid_t>(-1), old_status.st_gid));
    }
    mode_t mode = old_status.st_mode & 07777;
    struct stat now {};
    if (::fstat(file.get(), &now) != 0 || now.st_gid != old_status.st_gid) {
      mode &= ~static_cast<mode_t>(S_IRWXG | S_ISGID);
    }
    static_cast<void>(::fchmod(file.get(), mode));
  }
  // The text is on the disk before the name points at it: after a crash the
  // file is then either the old one or the new one whole, never empty.
  if (::fsync(file.get()) != 0) return discard("cannot write ", errno);
  if (!file.close()) return discard("cannot write ", errno);
  if (::renameat(dir, temp.c_str(), dir, to.name.c_str()) != 0) {
    return discard("cannot replace ", errno);
  }
  // The new name on the disk too. The file is replaced by now whatever this
  // says: a directory that cannot be synced (some file systems cannot) keeps
  // the name until the system writes it back in its own time.
  const Descriptor listing(::openat(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (listing.valid()) static_cast<void>(::fsync(listing.get()));
  return true;
}

bool save(const std::string& path, const std::string& bytes, int stalled_ms, Destination* to,
          Failure* failure) {
  if (!locate(path, to, failure)) return false;
  if (!to->exists) return replace(*to, bytes, failure);
  const mode_t type = to->status.st_mode & S_IFMT;
  if (type == S_IFREG || type == S_IFIFO) {
    // As the kernel does for a file opened to be written (fs.protected_regular
    // and fs.protected_fifos): in a shared sticky folder, someone else's file
    // under the output's name may have been put there to catch the text.
    struct stat folder {};
    if (::fstat(to->folder.get(), &folder) != 0) {
      failure->code = errno;
      return false;
    }
    if (foreign_in_shared_folder(to->status, folder)) {
      failure->code = EACCES;
      failure->why = "it belongs to another user, in a folder everyone may write";
      return false;
    }
  }
  switch (type) {
    case S_IFREG:
      return replace(*to, bytes, failure);
    case S_IFIFO:
    case S_IFCHR:
      return write_into(*to, bytes, stalled_ms, failure);
    case S_IFDIR:
      failure->code = EISDIR;
      return false;
    default:
      // A block device holds a file system that the text would overwrite;
      // a socket cannot be opened as a file.
      failure->code = EINVAL;
      failure->why = "it is neither a file, a FIFO nor a character device";
      return false;
  }
}

}  // namespace

support::Result<std::string> read_file_whole(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return support::Status::posix("open", errno);
  std::string out;
  support::Status failed;
  struct stat facts {};
  if (::fstat(fd, &facts) != 0) {
    failed = support::Status::posix("fstat", errno);
  } else if (S_ISDIR(facts.st_mode)) {
    failed = support::Status::posix("read", EISDIR);
  } else {
    char buffer[65536];
    for (;;) {
      const ssize_t got = ::read(fd, buffer, sizeof buffer);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) failed = support::Status::posix("read", errno);
      if (got <= 0) break;
      out.append(buffer, static_cast<std::size_t>(got));
    }
  }
  ::close(fd);
  if (!failed) return failed;
  return out;
}

support::Status write_file_replacing(const std::string& path, const std::string& bytes,
                                     int stalled_write_ms) {
  Destination to;
  Failure failure;
  if (save(path, bytes, stalled_write_ms, &to, &failure)) return {};
  std::string error = failure.what + to.shown.string() + ": " + errno_text(failure.code);
  if (failure.why != nullptr) error += std::string(" (") + failure.why + ")";
  return support::Status::failure(std::move(error));
}

}  // namespace marlow
