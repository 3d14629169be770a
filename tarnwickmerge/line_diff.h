// The line diff git's merge uses (Myers' algorithm with git's heuristics:
// lines that match nothing set aside first, a cost limit on the middle
// snake search, changes slid to line up with the other file's), done here so
// that a merge program started once per file need not load libgit2 and its
// libraries. It gives the changes libgit2's diff of buffers gives with no
// context lines and no options, which the engine's merge relies on to agree
// with `git merge-file`.
#pragma once

#include <string_view>
#include <vector>

namespace tarnwickmerge {

// One change: `old_count` lines of the old text from `old_start` replaced by
// `new_count` lines of the new text from `new_start` (counted from 0; an
// empty side starts where the other side's lines go).
struct LineChange {
  long old_start = 0;
  long old_count = 0;
  long new_start = 0;
  long new_count = 0;

  bool operator==(const LineChange&) const = default;
};

// The changes from `old_text` to `new_text`, in order. Lines end after each
// '\n' (a last line may have none), as for git.
std::vector<LineChange> diff_line_records(std::string_view old_text, std::string_view new_text);

}  // namespace tarnwickmerge
