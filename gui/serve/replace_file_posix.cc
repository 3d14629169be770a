// Replacing a file through a temporary one beside it. The graphical client
// builds on Linux only; this is the one file of the serving layer that calls
// the system directly, since a safe temporary file needs descriptors.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <string>
#include <system_error>

#include "serve/serve.h"
#include "support/platform.h"

namespace marlow {
namespace {

namespace fs = std::filesystem;

// One open descriptor, closed once.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;

  bool valid() const { return fd_ >= 0; }
  int get() const { return fd_; }
  // Closes now; false when the close reports an error (a delayed write).
  bool close() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

std::string errno_text(int code) { return std::generic_category().message(code); }

// The file `path` names once its own symbolic links are followed (a chain of
// them, even a dangling one): renaming over a link would replace the link.
fs::path resolve_links(const std::string& path) {
  fs::path target(path);
  for (int hops = 0; hops < 40; ++hops) {
    std::error_code ec;
    if (!fs::is_symlink(target, ec)) break;
    const fs::path link = fs::read_symlink(target, ec);
    if (ec) break;
    target = link.is_absolute() ? link : target.parent_path() / link;
  }
  return target;
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

}  // namespace

bool write_file_replacing(const std::string& path, const std::string& bytes, std::string* error) {
  const fs::path target = resolve_links(path);
  const std::string name = target.filename().string();
  auto fail = [&](const char* what, int code) {
    *error = std::string(what) + target.string() + ": " + errno_text(code);
    return false;
  };
  if (name.empty() || name == "." || name == "..") return fail("cannot write ", EISDIR);

  // Everything below happens in this one directory, by name within it: the
  // temporary file is created there and renamed there.
  const fs::path parent = target.has_parent_path() ? target.parent_path() : fs::path(".");
  const Descriptor dir(::open(parent.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (!dir.valid()) return fail("cannot write ", errno);

  struct stat old_status {};
  const bool replacing =
      ::fstatat(dir.get(), name.c_str(), &old_status, AT_SYMLINK_NOFOLLOW) == 0 &&
      S_ISREG(old_status.st_mode);

  // Made by this call and no one else's: a new name that no one can guess,
  // created exclusively (never an existing file, never through a link). It
  // stays private while the text goes in. A new output gets the usual bits
  // (the umask's), the same as the file itself would.
  std::string temp;
  int fd = -1;
  for (int attempt = 0; fd < 0 && attempt < 16; ++attempt) {
    if (!temp_name_for(name, &temp)) return fail("cannot write ", EAGAIN);
    fd = ::openat(dir.get(), temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                  replacing ? 0600 : 0666);
    if (fd < 0 && errno != EEXIST) return fail("cannot write ", errno);
  }
  if (fd < 0) return fail("cannot write ", EEXIST);
  Descriptor file(fd);
  auto discard = [&](const char* what, int code) {
    ::unlinkat(dir.get(), temp.c_str(), 0);
    return fail(what, code);
  };

  errno = 0;
  if (!write_all(file.get(), bytes)) return discard("cannot write ", errno != 0 ? errno : EIO);
  // The replaced file's permission bits (a merged script stays executable);
  // when they cannot all be set (a set-id bit, say) the file stays private.
  if (replacing) ::fchmod(file.get(), old_status.st_mode & 07777);
  // The text is on the disk before the name points at it: after a crash the
  // file is then either the old one or the new one whole, never empty.
  if (::fsync(file.get()) != 0) return discard("cannot write ", errno);
  if (!file.close()) return discard("cannot write ", errno);
  if (::renameat(dir.get(), temp.c_str(), dir.get(), name.c_str()) != 0) {
    return discard("cannot replace ", errno);
  }
  // The new name on the disk too. The file is replaced by now whatever this
  // says: a directory that cannot be synced (some file systems cannot) keeps
  // the name until the system writes it back in its own time.
  const Descriptor listing(::openat(dir.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (listing.valid()) static_cast<void>(::fsync(listing.get()));
  return true;
}

}  // namespace marlow
