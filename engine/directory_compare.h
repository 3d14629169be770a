// The comparison of two directories: every file under either, side by side
// by its path relative to its directory, marked as only on one side,
// identical or different, with its size and modification time on each side.
// On top of the flat list: the patterns that leave names out, the tree of
// folders a window shows (with the states it hides), and copying a file from
// one side to the other. Paths are UTF-8 on every platform.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "support/status.h"

namespace marlow {

// What one side holds under an entry's path.
struct FileFacts {
  bool present = false;
  std::uint64_t size = 0;
  // The last modification, in nanoseconds since 1970-01-01 UTC.
  std::int64_t modified_ns = 0;
  bool operator==(const FileFacts&) const = default;
};

struct DirectoryEntry {
  enum class State { only_left, only_right, identical, different };
  static constexpr std::size_t kStates = 4;
  std::string path;  // relative, with '/' between its parts
  State state = State::identical;
  FileFacts left;
  FileFacts right;
};

// Patterns that leave files and folders out of a comparison, separated by
// ';' ("*.o; build/"). '*' stands for any run of characters within one
// part of a path, '?' for one character, '**' for any run across parts.
// A pattern that ends in '/' names folders only, any other files and
// folders. A pattern without '/' (other than a trailing one) is matched
// against the last part of the path, at any depth; one with '/' against the
// whole path from the compared directory ("/" at its start is dropped).
// Letters are compared as they are, case counts.
class NameFilter {
 public:
  NameFilter() = default;
  explicit NameFilter(std::string_view patterns);

  bool empty() const { return patterns_.empty(); }
  // `path` relative, with '/' between its parts.
  bool excludes_file(std::string_view path) const;
  bool excludes_folder(std::string_view path) const;

 private:
  struct Pattern {
    std::string glob;
    bool folders_only = false;
    bool whole_path = false;
  };
  bool excludes(std::string_view path, bool folder) const;
  std::vector<Pattern> patterns_;
};

// Whether a glob of NameFilter's kind matches all of `text`.
bool glob_matches(std::string_view glob, std::string_view text);

// Every file (and symbolic link to one) under `left` and `right`, by
// relative path in byte order. Files are compared byte for byte. Names the
// filter excludes are not looked at, nor anything in an excluded folder.
std::vector<DirectoryEntry> compare_directories(const std::string& left, const std::string& right,
                                                const NameFilter& filter = NameFilter());

// Whether `path` names a directory (or a link to one).
bool is_directory(const std::string& path);

// Which states are shown.
struct StateFilter {
  std::array<bool, DirectoryEntry::kStates> shown{true, true, true, true};
  bool shows(DirectoryEntry::State state) const { return shown[static_cast<std::size_t>(state)]; }
  void set(DirectoryEntry::State state, bool show) {
    shown[static_cast<std::size_t>(state)] = show;
  }
};

// A folder with what is under it, or a file. A folder's state sums up the
// files under it: identical when all are, only on one side when all are
// there, different otherwise (so a folder that holds any difference is
// marked as changed).
struct DirectoryNode {
  static constexpr std::size_t kNoEntry = static_cast<std::size_t>(-1);
  std::string name;  // the last part of the path; empty for the root
  std::string path;  // relative, '/' between parts; empty for the root
  bool folder = false;
  DirectoryEntry::State state = DirectoryEntry::State::identical;
  std::size_t entry = kNoEntry;  // a file's index among the entries
  // The files under a folder (or the file itself) per state, shown or not.
  std::array<std::size_t, DirectoryEntry::kStates> counts{};
  // Folders first, then files, each in byte order of their names. Only
  // what the filter shows: a folder with nothing shown under it is left out.
  std::vector<DirectoryNode> children;

  std::size_t count(DirectoryEntry::State of) const { return counts[static_cast<std::size_t>(of)]; }
};

// The root folder of the entries, as the filter shows them. The root's
// counts are of all entries.
DirectoryNode directory_tree(const std::vector<DirectoryEntry>& entries, const StateFilter& filter);

// Copying files between the two sides.
enum class CopyDirection { left_to_right, right_to_left };

// What a copy of the chosen entries would do: files only on the side copied
// from are created on the other side, files that differ are replaced there;
// the rest (identical, or absent on the side copied from) are left alone.
struct CopyPlan {
  std::vector<std::size_t> create;
  std::vector<std::size_t> replace;
  std::vector<std::size_t> skip;
  bool empty() const { return create.empty() && replace.empty(); }
};
CopyPlan plan_copy(const std::vector<DirectoryEntry>& entries,
                   const std::vector<std::size_t>& chosen, CopyDirection direction);

// Saves `bytes` as the file `path` whole or not at all (a temporary file
// beside it, put in its place in one step); a failure's text is a sentence
// that names the file and the reason.
using ReplaceFile =
    std::function<support::Status(const std::string& path, const std::string& bytes)>;

// Copies the file of `*entry` from one root to the other through `replace`
// (folders it needs are made), then reads both sides again into `*entry`.
// Refused, with nothing written: a file absent on the side copied from, a
// target that is read-only, or a target that is no longer what the entry
// says (it appeared, went or changed since the comparison: replacing it
// would lose what the user has not seen). An identical entry is left alone.
// A failure's message is a sentence that names the file.
support::Status copy_entry(const std::string& left_root, const std::string& right_root,
                           DirectoryEntry* entry, CopyDirection direction,
                           const ReplaceFile& replace);

}  // namespace marlow
