// libgit2 names both buffers of every diff by their object ids, a SHA-1
// each, which it uses only to tell equal buffers at once. For a program
// that only diffs texts in memory that hashing costs about a tenth of a
// merge, so the link (-Wl,--wrap=git_odb_hash) sends libgit2's calls here:
// a fast 160-bit hash of the bytes and their length. Equal texts still get
// equal ids; two different texts with equal ids would read as "no
// difference", which marlow::diff_lines checks for and answers with one
// change over everything.
#include <git2.h>

#include <cstdint>
#include <cstring>
#include <type_traits>

extern "C" int __wrap_git_odb_hash(git_oid* out, const void* data, size_t len,
                                   git_object_t type);

static_assert(std::is_same_v<decltype(&git_odb_hash), decltype(&__wrap_git_odb_hash)>,
              "git_odb_hash changed its signature: update or drop this replacement");
static_assert(sizeof(git_oid) >= 20, "a git_oid holds 20 bytes");

namespace {

std::uint64_t mix(std::uint64_t h) {
  h ^= h >> 33;
  h *= 0xff51afd7ed558ccdULL;
  h ^= h >> 33;
  h *= 0xc4ceb9fe1a85ec53ULL;
  h ^= h >> 33;
  return h;
}

}  // namespace

extern "C" int __wrap_git_odb_hash(git_oid* out, const void* data, size_t len,
                                   git_object_t type) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  std::uint64_t a = 0x9e3779b97f4a7c15ULL ^ static_cast<std::uint64_t>(type);
  std::uint64_t b = 0x6a09e667f3bcc909ULL + len;
  std::size_t i = 0;
  for (; i + 8 <= len; i += 8) {
    std::uint64_t word = 0;
    std::memcpy(&word, bytes + i, 8);
    a = (a ^ word) * 0x100000001b3ULL;
    a = (a << 31) | (a >> 33);
    b = (b + word) * 0xc2b2ae3d27d4eb4fULL;
    b ^= b >> 29;
  }
  std::uint64_t tail = 0;
  std::memcpy(&tail, bytes + i, len - i);
  a = mix(a ^ tail ^ len);
  b = mix(b + tail + (a << 1));
  const std::uint32_t n = static_cast<std::uint32_t>(len ^ (len >> 32));
  unsigned char id[20];
  std::memcpy(id, &a, 8);
  std::memcpy(id + 8, &b, 8);
  std::memcpy(id + 16, &n, 4);
  std::memcpy(out, id, 20);
  return 0;
}
