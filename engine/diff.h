// Line differences (computed by libgit2's buffer diff), turned into the
// aligned blocks of a side-by-side comparison and the regions of a merge.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "engine/ignore_options.h"
#include "engine/settle.h"
#include "engine/text_codec.h"

namespace marlow {

// One difference: `base_count` lines of the old text from `base_start`
// (0-based) became `other_count` lines of the new text from `other_start`.
// A pure insertion has base_count 0 and base_start at the line it precedes.
struct Hunk {
  std::size_t base_start = 0;
  std::size_t base_count = 0;
  std::size_t other_start = 0;
  std::size_t other_count = 0;
  bool operator==(const Hunk&) const = default;
};

// For short-lived programs that only diff: gives libgit2 the C allocator
// and leaves out its runtime start (threads, TLS streams, settings), which
// costs more than a small merge. Call before any diff; false if refused.
bool start_diffs_without_runtime();

// The differences between two texts, in order, without context. Two lines are
// equal when their text and line end are equal. Empty when they are equal.
std::vector<Hunk> diff_lines(const std::vector<Line>& base, const std::vector<Line>& other);

// ---------------------------------------------------------------------------
// Two-way comparison.

enum class BlockKind { same, changed, left_only, right_only };

// Consecutive blocks cover both texts completely, in order.
struct Block {
  BlockKind kind = BlockKind::same;
  std::size_t left_start = 0;
  std::size_t left_count = 0;
  std::size_t right_start = 0;
  std::size_t right_count = 0;
  bool operator==(const Block&) const = default;
};

std::vector<Block> align(const std::vector<Line>& left, const std::vector<Line>& right);

// ---------------------------------------------------------------------------
// Side-by-side rows for any number of texts, aligned against text 0.
//
// Every line of text 0 has a row of its own. A text whose difference with
// text 0 replaces k lines of it by m lines puts its first min(k, m) lines in
// the rows of those k lines; when m > k the other lines go into extra rows
// right after them (a pure insertion thus gets rows of its own before the
// line it precedes), and when k > m the remaining rows are fillers. Extra
// rows at one place take as many rows as the text with the most lines there
// needs; shorter texts and text 0 get fillers.

inline constexpr std::size_t kNoLine = static_cast<std::size_t>(-1);

enum class CellKind {
  same,     // a line equal to the line of text 0 in its row (or of text 0, unchanged)
  changed,  // a line that stands against a different line of text 0 (for text 0:
            // a line that some text changed)
  added,    // a line with no line of text 0 in its row
  removed,  // text 0 only: a line that every text that changed it deleted
  filler,   // no line in this row
};

struct RowAlignment {
  std::size_t rows = 0;
  // [text][row]: the 0-based line of that text shown in the row, or kNoLine.
  std::vector<std::vector<std::size_t>> line;
  std::vector<std::vector<CellKind>> kind;
  // The differences: maximal runs [first, end) of rows where some cell is
  // not `same`, in order.
  std::vector<std::pair<std::size_t, std::size_t>> differences;
};

RowAlignment align_rows(const std::vector<std::vector<Line>>& texts);

// A line as `options` compares it: without its spaces and tabs when
// whitespace is ignored (runs of them as one space, none at the end, when
// only their amount is), its letters in lower case when case is ignored,
// with "\n" as its end when line ends are.
Line line_as_compared(const Line& line, const IgnoreOptions& options);

// UTF-8 text with its upper case letters (ASCII, Latin-1, Greek, Cyrillic)
// in lower case; every character keeps its byte length, so byte offsets
// into the result are offsets into `text`.
std::string folded_case(std::string_view text);

// Whether `pattern` is a line filter that can be used (an ECMAScript
// regular expression); an invalid one filters nothing.
bool valid_line_filter(const std::string& pattern);

// align_rows with options; the rows still index the texts as given. Lines
// that the options leave out of the comparison (blank lines, the filter's)
// take rows of their own, as `same` beside fillers, before the next line of
// their text that is compared; such rows are never a difference alone, and
// a difference runs on across them.
RowAlignment align_rows(const std::vector<std::vector<Line>>& texts, const IgnoreOptions& options);

// ---------------------------------------------------------------------------
// Merge.
//
// With three or more contributors the first is the base and every other is
// compared with it: a region that no one changed is `common`; one that one
// or more contributors changed in the same way is `changed`; changes that
// overlap or touch and differ are a `conflict`. With two contributors there
// is no base and every difference is a `conflict` to choose from.

enum class RegionKind { common, changed, conflict };

struct Region {
  RegionKind kind = RegionKind::common;
  // The lines each contributor has in this region (index = contributor;
  // index 0 is the base in a merge with a base).
  std::vector<std::vector<Line>> sides;
  // Where each contributor's lines of the region start in its text.
  std::vector<std::size_t> starts;
  // Which contributors changed this region (never the base).
  std::vector<bool> changed_by;
  // The merged lines of a common or changed region, and of a conflict that
  // the engine settled; empty for a conflict left to the user.
  std::vector<Line> result;
  // For a conflict: what settled it, or `none`.
  SettleRule settled_by = SettleRule::none;
  // A changed region cut from the edge of a conflict: lines that both sides
  // changed in the same way, next to lines they changed differently. Its
  // base side is empty; the conflict keeps every base line.
  bool conflict_edge = false;
};

struct MergePlan {
  bool has_base = false;
  std::vector<Region> regions;
  std::size_t conflicts = 0;
  // Conflicts that the engine settled (three contributors only).
  std::size_t settled = 0;
  // The line end that `take_all` gives a line that has none: the first line
  // end of the contributors, in their order.
  std::string line_end = "\n";
};

// The first line end of `texts`, in their order ("\n" when none has one):
// what a plan gives a line that has none.
std::string first_line_end(const std::vector<std::vector<Line>>& texts);

// The regions of a merge of `contributors` (the base first when there are
// three or more), in order: every contributor's changes against the base
// (with two contributors, their differences) cut into common, changed and
// conflict regions, which together hold every line of every contributor.
//
// With a base and two sides, every conflict is then narrowed: lines that
// both sides changed identically at its edges become changed regions of
// their own. Before that, the rules `settle` allows try to settle it; a
// settled conflict stays a conflict region, with the rule in `settled_by`
// and the merged lines in `result`.
MergePlan plan_merge(const std::vector<std::vector<Line>>& contributors,
                     const SettleOptions& settle = {});

// How the user settled one conflict.
struct Resolution {
  // `automatic`: the engine's settlement (unresolved for a conflict it did
  // not settle).
  enum class Kind { unresolved, take, take_all, edited, automatic };
  Kind kind = Kind::unresolved;
  std::size_t side = 0;     // for `take`: the contributor whose lines are kept
  std::vector<Line> lines;  // for `edited`
};

// The lines a resolution gives a conflict region; nullopt while unresolved.
// `take_all` keeps the changed contributors' lines one after the other
// (both contributors' when there is no base), each ending in a line end;
// lines both sides changed identically at the edges are kept once.
std::optional<std::vector<Line>> resolve_region(const MergePlan& plan, const Region& region,
                                                const Resolution& resolution);

// The merged text: `resolutions` holds one entry per conflict, in order.
// nullopt while any conflict is unresolved.
std::optional<std::vector<Line>> merged_lines(const MergePlan& plan,
                                              const std::vector<Resolution>& resolutions);

// One resolution per conflict: `automatic` for those the engine settled,
// `unresolved` for the others.
std::vector<Resolution> automatic_resolutions(const MergePlan& plan);

// The merged text when every conflict is settled by the engine, else nullopt.
std::optional<std::vector<Line>> automatic_merge(const MergePlan& plan);

enum class MarkerStyle {
  // "<<<<<<< L1", side 1, "||||||| L0", base, "=======", side 2,
  // ">>>>>>> L2": a conflict as it was found, with its edges.
  diff3,
  // "<<<<<<< L1", side 1, "=======", side 2, ">>>>>>> L2", as git merges:
  // each conflict is cut where the two sides have lines in common, and
  // conflicts apart by at most three lines, or by lines without a letter or
  // digit, are joined.
  merge,
  // As diff3, but lines both sides changed in the same way at a conflict's
  // edges stand outside its markers (the base part still holds every base
  // line), as git's zdiff3.
  zdiff3,
};

// What takes the place of a conflict that is written out: markers around
// its parts, or the lines of one side, or of both, the current side's
// first (as git's --ours, --theirs and --union).
enum class ConflictFill { markers, current, other, both };

// The merge with the conflicts that the engine did not settle written out
// between markers (labels by contributor). A conflict side that ends without
// a line end gets one before the next marker. For three contributors (a base
// and two sides); empty for any other plan.
// `written`, when given, receives the number of conflicts written out
// between markers (none when `fill` takes sides). A side taken with the
// other after it gets a line end when it ends without one.
std::string render_with_markers(const MergePlan& plan, const std::vector<std::string>& labels,
                                MarkerStyle style = MarkerStyle::diff3, std::size_t marker_size = 7,
                                std::size_t* written = nullptr,
                                ConflictFill fill = ConflictFill::markers);
// The conflicts that render_with_markers writes out.
std::size_t marked_conflicts(const MergePlan& plan, MarkerStyle style);

// One conflict as render_with_markers writes it: the lines between its
// markers, the base lines it replaces (for a conflict cut narrower, the base
// lines that stand against it), and the merged lines around it.
struct MarkedConflict {
  std::vector<Line> base;
  std::vector<Line> current;
  std::vector<Line> other;
  std::vector<Line> before;  // merged lines before it, up to the previous conflict
  std::vector<Line> after;   // merged lines after it, up to the next conflict
};

// The conflicts render_with_markers writes out, in order.
std::vector<MarkedConflict> marked_conflict_list(const MergePlan& plan, MarkerStyle style);

}  // namespace marlow
