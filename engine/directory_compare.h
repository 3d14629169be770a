// The comparison of two or three directories: every file under any of
// them, side by side by its path relative to its directory, marked by which
// sides hold the same bytes, with its size, modification time and kind
// (text or binary, where its bytes were read) on each side. Of three
// directories the first is the base the other two (A and B) were changed
// from.
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

// What one side's bytes are, as far as they were read: a file whose size
// already tells it apart from every other side is not read at all.
enum class Content : char { unread, text, binary };

// What one side holds under an entry's path.
struct FileFacts {
  bool present = false;
  std::uint64_t size = 0;
  // The last modification, in nanoseconds since 1970-01-01 UTC.
  std::int64_t modified_ns = 0;
  // Not part of what makes two facts equal: it says what was read, not
  // what the file is.
  Content content = Content::unread;
  bool operator==(const FileFacts& other) const {
    return present == other.present && size == other.size && modified_ns == other.modified_ns;
  }
};

struct DirectoryEntry {
  // Two sides: only_left, only_right, identical, different. Three sides
  // (base, A, B): identical when all three hold the same bytes, otherwise
  // which of them differs from the other two, a side without the file
  // counting as one more content ("absent"): a file deleted in A alone is
  // second_differs, as is one added in A alone; a file added in both alike
  // is first_differs; deleted in A and changed in B is all_differ.
  enum class State {
    only_left,
    only_right,
    identical,
    different,
    first_differs,   // A and B alike, the base not: the same change in both
    second_differs,  // only A changed
    third_differs,   // only B changed
    all_differ,      // A and B changed, each differently
  };
  static constexpr std::size_t kStates = 8;
  static constexpr std::size_t kMaxSides = 3;
  std::string path;  // relative, with '/' between its parts
  State state = State::identical;
  FileFacts left;   // the first side (the base of three)
  FileFacts right;  // the second side (A of three)
  FileFacts third;  // B, in a comparison of three
  std::size_t sides = 2;

  const FileFacts& side(std::size_t i) const { return i == 0 ? left : i == 1 ? right : third; }
  FileFacts& side(std::size_t i) { return i == 0 ? left : i == 1 ? right : third; }
};

// Whether `state` is one of a comparison of three.
bool is_three_way(DirectoryEntry::State state);

// The state as the user reads it: "only left", "identical", ... for two
// sides; for three the change it stands for, with what the sides hold
// ("changed in A", "deleted in A", "added in both", "same change in both",
// "changed in both (differently)", "deleted in A, changed in B", ...).
std::string state_name(const DirectoryEntry& entry);
// A folder's state, by what is under it ("changed in A" when every change
// under it is A's; "changed in both" for a mixture).
std::string folder_state_name(DirectoryEntry::State state);

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
// The same for two or three roots (more are not compared: none are
// returned). Files are read only where sizes leave the question open: a
// file is read once, beside those of the same size, and no further than
// until they differ.
std::vector<DirectoryEntry> compare_directories(const std::vector<std::string>& roots,
                                                const NameFilter& filter = NameFilter());

// Whether `path` names a directory (or a link to one).
bool is_directory(const std::string& path);

// Which states are shown.
struct StateFilter {
  std::array<bool, DirectoryEntry::kStates> shown{true, true, true, true, true, true, true, true};
  bool shows(DirectoryEntry::State state) const { return shown[static_cast<std::size_t>(state)]; }
  void set(DirectoryEntry::State state, bool show) {
    shown[static_cast<std::size_t>(state)] = show;
  }
};

// A folder with what is under it, or a file. A folder's state sums up the
// files under it: identical when all are, only on one side when all are
// there, different otherwise (so a folder that holds any difference is
// marked as changed). Of three sides: identical when all are, the one
// state of every file under it that is not identical, all_differ for a
// mixture.
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

// Copying files between the two sides of a comparison of two.
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
// A failure's message is a sentence that names the file. An entry of three
// sides is refused.
support::Status copy_entry(const std::string& left_root, const std::string& right_root,
                           DirectoryEntry* entry, CopyDirection direction,
                           const ReplaceFile& replace);

}  // namespace marlow
