// The POSIX socket files that a process which ended left behind: proving
// that a socket file is stale, removing the stale ones of a work directory,
// and telling whether a pipe's name is served by a live process.
//
// A socket file is proven stale when no live socket is bound to it: the
// kernel lists every Unix socket of this network namespace with the device
// and inode of the file it is bound to (sock_diag, UDIAG_SHOW_VFS). Nothing
// connects to a socket file to find out: a probing connection would land in
// a live listener's queue, taking a one-instance pipe from the peer it was
// made for, or reaching a service as an empty request. When the kernel
// cannot list its sockets nothing is proven, and no file is removed.
#include <dirent.h>
#include <fcntl.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <linux/sock_diag.h>
#include <linux/unix_diag.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "support/platform.h"
#include "support/platform_posix_internal.h"

namespace platform {
namespace posix {

namespace {

// A socket file as the kernel's socket list names it: the device (as stat
// gives it) and the low 32 bits of the inode number.
using BoundFile = std::pair<dev_t, std::uint32_t>;

BoundFile bound_file_of(const struct stat& st) {
  return {st.st_dev, static_cast<std::uint32_t>(st.st_ino)};
}

// The files that the live Unix sockets of this network namespace are bound
// to; nothing when the kernel cannot say.
std::optional<std::set<BoundFile>> bound_socket_files() {
  Fd fd(::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG));
  if (!fd.valid()) return std::nullopt;
  struct {
    nlmsghdr header;
    unix_diag_req request;
  } query{};
  query.header.nlmsg_len = sizeof(query);
  query.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
  query.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
  query.request.sdiag_family = AF_UNIX;
  query.request.udiag_states = ~0U;
  query.request.udiag_show = UDIAG_SHOW_VFS;
  ssize_t sent;
  do {
    sent = ::send(fd.get(), &query, sizeof(query), 0);
  } while (sent < 0 && errno == EINTR);
  if (sent != static_cast<ssize_t>(sizeof(query))) return std::nullopt;

  std::set<BoundFile> bound;
  std::vector<char> buffer(32768);
  for (;;) {
    ssize_t got;
    do {
      got = ::recv(fd.get(), buffer.data(), buffer.size(), 0);
    } while (got < 0 && errno == EINTR);
    if (got <= 0) return std::nullopt;
    // Headers are copied out of the buffer rather than cast in place: the
    // buffer's type promises no alignment for them.
    const std::size_t total = static_cast<std::size_t>(got);
    std::size_t offset = 0;
    while (total - offset >= sizeof(nlmsghdr)) {
      nlmsghdr message{};
      std::memcpy(&message, buffer.data() + offset, sizeof(message));
      if (message.nlmsg_len < sizeof(nlmsghdr) || message.nlmsg_len > total - offset) break;
      const std::size_t message_start = offset;
      const std::size_t message_end = offset + message.nlmsg_len;
      offset = std::min<std::size_t>(total, offset + NLMSG_ALIGN(message.nlmsg_len));
      if (message.nlmsg_type == NLMSG_DONE) return bound;
      if (message.nlmsg_type == NLMSG_ERROR) return std::nullopt;
      if (message.nlmsg_type != SOCK_DIAG_BY_FAMILY) continue;
      // The attributes follow the socket's record.
      std::size_t attribute_at = message_start + NLMSG_LENGTH(sizeof(unix_diag_msg));
      while (attribute_at <= message_end && message_end - attribute_at >= sizeof(rtattr)) {
        rtattr attribute{};
        std::memcpy(&attribute, buffer.data() + attribute_at, sizeof(attribute));
        if (attribute.rta_len < sizeof(rtattr) || attribute.rta_len > message_end - attribute_at) {
          break;
        }
        const std::size_t payload = attribute.rta_len - RTA_LENGTH(0);
        const std::size_t payload_at = attribute_at + RTA_LENGTH(0);
        attribute_at += RTA_ALIGN(attribute.rta_len);
        if (attribute.rta_type != UNIX_DIAG_VFS || payload < sizeof(unix_diag_vfs)) continue;
        unix_diag_vfs vfs{};
        std::memcpy(&vfs, buffer.data() + payload_at, sizeof(vfs));
        // The kernel's own device number: the major above the low 20 bits.
        const dev_t dev = makedev(vfs.udiag_vfs_dev >> 20, vfs.udiag_vfs_dev & 0xFFFFF);
        bound.emplace(dev, vfs.udiag_vfs_ino);
      }
    }
  }
}

}  // namespace

SocketFileState socket_file_state(int dir, const std::string& at, struct stat* st) {
  if (::fstatat(dir, at.c_str(), st, AT_SYMLINK_NOFOLLOW) != 0) {
    return errno == ENOENT ? SocketFileState::absent : SocketFileState::unknown;
  }
  if (!S_ISSOCK(st->st_mode)) return SocketFileState::unknown;
  // Looked at after the file was: a socket bound to it then and alive now
  // is in the list. (Binding creates the file, so there is no moment when
  // the file exists and its socket is not yet bound.)
  const std::optional<std::set<BoundFile>> bound = bound_socket_files();
  if (!bound) return SocketFileState::unknown;
  return bound->count(bound_file_of(*st)) != 0 ? SocketFileState::live : SocketFileState::stale;
}

bool remove_if_stale(int dir, const std::string& at) {
  struct stat st {};
  if (socket_file_state(dir, at, &st) != SocketFileState::stale) return false;
  // Only the file that was proven stale, not one put there since.
  struct stat again {};
  if (::fstatat(dir, at.c_str(), &again, AT_SYMLINK_NOFOLLOW) != 0 || again.st_dev != st.st_dev ||
      again.st_ino != st.st_ino) {
    return false;
  }
  return ::unlinkat(dir, at.c_str(), 0) == 0;
}

}  // namespace posix

using posix::Fd;
using posix::PipeRegistry;
using posix::Place;
using posix::place_of;
using posix::registry;
using posix::SocketFile;

void remove_stale_pipes(const std::string& base_name) {
  const std::size_t slash = base_name.rfind('/');
  if (slash == std::string::npos) return;
  const std::string prefix = base_name.substr(slash + 1);
  const Place place = place_of(base_name);
  if (place.dir == AT_FDCWD) return;  // only inside our own checked work directory
  // What this process made itself is never removed.
  std::vector<std::pair<dev_t, ino_t>> own;
  {
    PipeRegistry& reg = registry();
    const support::MutexLock lock(reg.mutex);
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
        !S_ISSOCK(st.st_mode) ||
        std::find(own.begin(), own.end(), std::make_pair(st.st_dev, st.st_ino)) != own.end()) {
      continue;
    }
    static_cast<void>(posix::remove_if_stale(place.dir, entry_name));  // a live one stays
  }
}

bool pipe_served_elsewhere(const std::string& name) {
  const Place place = place_of(name);
  struct stat st {};
  if (posix::socket_file_state(place.dir, place.at, &st) != posix::SocketFileState::live) {
    return false;
  }
  // This process's own pipes are not another's.
  PipeRegistry& reg = registry();
  const support::MutexLock lock(reg.mutex);
  return std::none_of(reg.socket_files.begin(), reg.socket_files.end(), [&](const SocketFile& f) {
    return f.dev == st.st_dev && f.ino == st.st_ino;
  });
}

}  // namespace platform
