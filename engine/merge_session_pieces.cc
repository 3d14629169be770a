// A merge session's conflicts settled piece by piece: lines picked one by
// one from any side, and blocks (where the two changed sides differ) taken
// from either side.
#include <algorithm>
#include <cerrno>
#include <utility>

#include "engine/merge_session.h"

namespace marlow {
namespace {

// Two bits per block in a block-wise resolution's `side`: which of the two
// changed sides a block takes (0: not chosen yet).
constexpr std::size_t kMaxBlocks = sizeof(std::size_t) * 4;

std::size_t block_choice(std::size_t mask, std::size_t block) { return (mask >> (2 * block)) & 3U; }

std::size_t with_choice(std::size_t mask, std::size_t block, std::size_t choice) {
  return (mask & ~(std::size_t{3} << (2 * block))) | (choice << (2 * block));
}

std::size_t changed_blocks(const std::vector<Block>& blocks) {
  return static_cast<std::size_t>(std::count_if(
      blocks.begin(), blocks.end(), [](const Block& b) { return b.kind != BlockKind::same; }));
}

// A request the session cannot carry out: what is wrong, and the errno
// value a front end tells the kinds apart by.
support::Status refused(const char* why, int code) { return support::Status::failure(why, code); }

}  // namespace

// ---------------------------------------------------------------------------
// Lines picked one by one.

std::vector<Line> MergeSession::lines_of_picks(std::size_t conflict,
                                               const std::vector<LinePick>& picks) const {
  const Region& region = plan_.regions[conflict_regions_[conflict]];
  std::vector<Line> lines;
  for (const LinePick& pick : picks) lines.push_back(region.sides[pick.side][pick.line]);
  // Every line but the text's last ends in a line end: a side's last line
  // without one may come before another.
  for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
    if (lines[i].eol.empty()) lines[i].eol = plan_.line_end;
  }
  return lines;
}

std::vector<LinePick> MergeSession::line_picks(std::size_t conflict) const {
  if (conflict >= line_picks_.size() || line_picks_[conflict].empty()) return {};
  // Only while the conflict still holds the lines they make.
  const Resolution& now = resolutions_[conflict];
  if (now.kind != Resolution::Kind::edited ||
      now.lines != lines_of_picks(conflict, line_picks_[conflict])) {
    return {};
  }
  return line_picks_[conflict];
}

std::vector<int> MergeSession::picked_lines(std::size_t conflict, std::size_t side) const {
  const std::vector<LinePick> picks = line_picks(conflict);
  if (picks.empty()) return {};
  const Region& region = plan_.regions[conflict_regions_[conflict]];
  if (side >= region.sides.size()) return {};
  std::vector<int> marks(region.sides[side].size(), 0);
  for (const LinePick& pick : picks) {
    if (pick.side == side) marks[pick.line] = 1;
  }
  return marks;
}

support::Status MergeSession::pick_lines(std::size_t side, std::size_t first, std::size_t count,
                                         bool picked) {
  if (conflict_regions_.empty()) return refused("there is no conflict to take lines into", EINVAL);
  const Region& region = plan_.regions[conflict_regions_[current_]];
  if (side >= region.sides.size() || count == 0 || first + count > region.sides[side].size()) {
    return refused("those lines are not in this conflict", EINVAL);
  }
  std::vector<LinePick> picks = line_picks(current_);
  for (std::size_t i = first; i < first + count; ++i) {
    const LinePick pick{side, i};
    const auto at = std::lower_bound(picks.begin(), picks.end(), pick);
    const bool there = at != picks.end() && *at == pick;
    if (picked && !there) picks.insert(at, pick);
    if (!picked && there) picks.erase(at);
  }
  Resolution resolution =
      picks.empty() ? Resolution{}
                    : Resolution{Resolution::Kind::edited, 0, lines_of_picks(current_, picks)};
  settle({Settle{conflict_regions_[current_], std::move(resolution), {}, std::move(picks)}}, false);
  return {};
}

// ---------------------------------------------------------------------------
// Blocks of a conflict.

std::vector<Block> MergeSession::conflict_alignment(std::size_t conflict) const {
  const std::size_t first = first_changed_side();
  if (conflict >= conflict_regions_.size()) return {};
  const Region& region = plan_.regions[conflict_regions_[conflict]];
  if (region.sides.size() != first + 2) return {};
  return align(region.sides[first], region.sides[first + 1]);
}

std::size_t MergeSession::block_count(std::size_t conflict) const {
  return changed_blocks(conflict_alignment(conflict));
}

support::Status MergeSession::take_block(std::size_t block, std::size_t side) {
  if (conflict_regions_.empty()) return refused("there is no such block in this conflict", EINVAL);
  const std::size_t first = first_changed_side();
  const std::vector<Block> blocks = conflict_alignment(current_);
  const std::size_t count = changed_blocks(blocks);
  if (side < first || side > first + 1 || block >= count)
    return refused("there is no such block in this conflict", EINVAL);
  if (count > kMaxBlocks)
    return refused("this conflict has too many blocks to take one by one", E2BIG);
  // The choices so far: a side taken whole counts for every block.
  const Resolution& now = resolutions_[current_];
  std::size_t mask = 0;
  if (now.kind == Resolution::Kind::take && (now.side == first || now.side == first + 1)) {
    for (std::size_t k = 0; k < count; ++k) mask = with_choice(mask, k, now.side - first + 1);
  } else if (now.kind == Resolution::Kind::unresolved || now.kind == Resolution::Kind::edited) {
    mask = now.side;
  }
  mask = with_choice(mask, block, side - first + 1);
  const Region& region = plan_.regions[conflict_regions_[current_]];
  std::vector<Line> lines;
  bool complete = true;
  std::size_t k = 0;
  for (const Block& b : blocks) {
    std::size_t from = first;
    if (b.kind != BlockKind::same) {
      const std::size_t chosen = block_choice(mask, k++);
      complete = complete && chosen != 0;
      from = chosen == 2 ? first + 1 : first;
    }
    const std::vector<Line>& lines_of = region.sides[from];
    const std::size_t start = from == first ? b.left_start : b.right_start;
    const std::size_t n = from == first ? b.left_count : b.right_count;
    lines.insert(lines.end(), lines_of.begin() + static_cast<std::ptrdiff_t>(start),
                 lines_of.begin() + static_cast<std::ptrdiff_t>(start + n));
  }
  // Until every block is chosen the conflict stays unsettled, its choices
  // kept; then it holds the lines the blocks make.
  for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
    if (lines[i].eol.empty()) lines[i].eol = plan_.line_end;
  }
  return settle_current(complete ? Resolution{Resolution::Kind::edited, mask, std::move(lines)}
                                 : Resolution{Resolution::Kind::unresolved, mask, {}});
}

std::size_t MergeSession::blocks_chosen(std::size_t conflict) const {
  if (conflict >= resolutions_.size()) return 0;
  const Resolution& r = resolutions_[conflict];
  if (r.kind != Resolution::Kind::unresolved && r.kind != Resolution::Kind::edited) return 0;
  std::size_t n = 0;
  for (std::size_t k = 0; k < kMaxBlocks; ++k) n += block_choice(r.side, k) != 0 ? 1 : 0;
  return n;
}

std::size_t MergeSession::block_at_line(std::size_t conflict, std::size_t side,
                                        std::size_t line) const {
  const std::size_t first = first_changed_side();
  if (side < first || side > first + 1) return kNone;
  const std::vector<Block> blocks = conflict_alignment(conflict);
  const std::size_t count = changed_blocks(blocks);
  if (count == 0) return kNone;
  const bool right = side == first + 1;
  std::size_t k = 0;
  for (const Block& b : blocks) {
    if (b.kind == BlockKind::same) continue;
    const std::size_t start = right ? b.right_start : b.left_start;
    const std::size_t n = right ? b.right_count : b.left_count;
    if (line < start + std::max<std::size_t>(n, 1)) return k;
    ++k;
  }
  return count - 1;
}

std::size_t MergeSession::first_open_block(std::size_t conflict) const {
  const std::size_t count = block_count(conflict);
  if (count == 0) return kNone;
  const Resolution& r = resolutions_.at(conflict);
  const std::size_t mask = r.kind == Resolution::Kind::unresolved ? r.side : 0;
  std::size_t block = 0;
  while (block + 1 < count && block_choice(mask, block) != 0) ++block;
  return block;
}

std::vector<int> MergeSession::block_lines_taken(std::size_t conflict, std::size_t side) const {
  const std::size_t first = first_changed_side();
  if (blocks_chosen(conflict) == 0 || side < first || side > first + 1) return {};
  const Region& region = plan_.regions[conflict_regions_[conflict]];
  std::vector<int> marks(region.sides[side].size(), -1);
  std::size_t k = 0;
  for (const Block& b : conflict_alignment(conflict)) {
    if (b.kind == BlockKind::same) continue;
    const std::size_t chosen = block_choice(resolutions_[conflict].side, k++);
    if (chosen == 0) continue;
    const std::size_t start = side == first ? b.left_start : b.right_start;
    const std::size_t n = side == first ? b.left_count : b.right_count;
    for (std::size_t i = start; i < start + n && i < marks.size(); ++i) {
      marks[i] = chosen == side - first + 1 ? 1 : 0;
    }
  }
  return marks;
}

}  // namespace marlow
