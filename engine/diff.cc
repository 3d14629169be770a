#include "engine/diff.h"

#include <git2.h>
#include <git2/sys/alloc.h>
#include <string.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <regex>
#include <string_view>
#include <unordered_map>

#include "engine/inline_diff.h"

namespace marlow {
namespace {

std::atomic<bool> g_allocator_only{false};

void init_libgit2() {
  static std::once_flag once;
  std::call_once(once, [] {
    if (!g_allocator_only) git_libgit2_init();
  });
}

// The C library's allocator, in the shape libgit2 asks for.
git_allocator c_allocator() {
  git_allocator a{};
  a.gmalloc = [](std::size_t n, const char*, int) { return std::malloc(n); };
  a.gcalloc = [](std::size_t n, std::size_t size, const char*, int) {
    return std::calloc(n, size);
  };
  a.gstrdup = [](const char* str, const char*, int) { return ::strdup(str); };
  // strndup is POSIX only (the Windows C runtime lacks it).
  a.gstrndup = [](const char* str, std::size_t n, const char*, int) {
    const std::size_t length = ::strnlen(str, n);
    char* out = static_cast<char*>(std::malloc(length + 1));
    if (out != nullptr) {
      std::memcpy(out, str, length);
      out[length] = '\0';
    }
    return out;
  };
  a.gsubstrdup = [](const char* str, std::size_t n, const char*, int) {
    char* out = static_cast<char*>(std::malloc(n + 1));
    if (out != nullptr) {
      std::memcpy(out, str, n);
      out[n] = '\0';
    }
    return out;
  };
  a.grealloc = [](void* ptr, std::size_t size, const char*, int) {
    return std::realloc(ptr, size);
  };
  a.greallocarray = [](void* ptr, std::size_t n, std::size_t size, const char*, int) -> void* {
    std::size_t total = 0;
    if (__builtin_mul_overflow(n, size, &total)) return nullptr;
    return std::realloc(ptr, total);
  };
  a.gmallocarray = [](std::size_t n, std::size_t size, const char*, int) -> void* {
    std::size_t total = 0;
    if (__builtin_mul_overflow(n, size, &total)) return nullptr;
    return std::malloc(total);
  };
  a.gfree = [](void* ptr) { std::free(ptr); };
  return a;
}

int on_hunk(const git_diff_delta*, const git_diff_hunk* hunk, void* payload) {
  auto* hunks = static_cast<std::vector<Hunk>*>(payload);
  Hunk h;
  h.base_count = static_cast<std::size_t>(hunk->old_lines);
  h.other_count = static_cast<std::size_t>(hunk->new_lines);
  // Line numbers count from 1; an empty side names the line it follows.
  h.base_start =
      static_cast<std::size_t>(hunk->old_lines == 0 ? hunk->old_start : hunk->old_start - 1);
  h.other_start =
      static_cast<std::size_t>(hunk->new_lines == 0 ? hunk->new_start : hunk->new_start - 1);
  hunks->push_back(h);
  return 0;
}

// The lines of `side` over the base range [from, to). For a group of
// changes (`group`), the side's hunks that start within [from, to] belong to
// it; for an unchanged stretch between groups, none do, and a hunk that ends
// at `from` belongs to the group before.
std::vector<Line> side_lines(const std::vector<Line>& side, const std::vector<Hunk>& hunks,
                             std::size_t from, std::size_t to, bool group, std::size_t* start) {
  long long begin = static_cast<long long>(from);
  long long end = static_cast<long long>(to);
  for (const Hunk& h : hunks) {
    const long long delta =
        static_cast<long long>(h.other_count) - static_cast<long long>(h.base_count);
    const std::size_t h_end = h.base_start + h.base_count;
    const bool before = group ? h_end < from : h_end <= from;
    if (before) begin += delta;
    if (before || (group && h.base_start <= to)) end += delta;
  }
  *start = static_cast<std::size_t>(begin);
  return std::vector<Line>(side.begin() + begin, side.begin() + end);
}

// The bytes of `lines`, without a copy when they lie in one buffer; else
// joined into `*joined`.
std::string_view text_of(const std::vector<Line>& lines, std::string* joined) {
  if (lines.empty()) return std::string_view("", 0);  // a buffer, never null
  if (std::optional<std::string_view> bytes = contiguous_bytes(lines, 0, lines.size()))
    return *bytes;
  *joined = join_lines(lines);
  return *joined;
}

// Whether a line of `lines` ends in a lone CR, which the diff would not
// take for a line end.
bool has_cr_line_ends(const std::vector<Line>& lines) {
  return std::any_of(lines.begin(), lines.end(), [](const Line& l) { return l.eol == "\r"; });
}

// Both texts as one line per line for the diff, each line a number that
// stands for its text and line end: lines whose ends are CR then count one
// by one, and equal lines alike.
void number_lines(const std::vector<Line>& a, const std::vector<Line>& b, std::string* out_a,
                  std::string* out_b) {
  std::unordered_map<std::string, std::size_t> ids;
  const auto number = [&ids](const std::vector<Line>& lines, std::string* out) {
    for (const Line& line : lines) {
      // The line end's kind first, then the text: no two lines share a key.
      const std::string_view eol = line.eol.view();
      std::string key(1, eol.empty() ? '0' : eol == "\n" ? '1' : eol == "\r\n" ? '2' : '3');
      key += line.text.view();
      const auto [at, added] = ids.emplace(std::move(key), ids.size());
      *out += std::to_string(at->second);
      *out += '\n';
    }
  };
  number(a, out_a);
  number(b, out_b);
}

}  // namespace

std::string first_line_end(const std::vector<std::vector<Line>>& texts) {
  for (const std::vector<Line>& text : texts) {
    for (const Line& line : text) {
      if (!line.eol.empty()) return line.eol.str();
    }
  }
  return "\n";
}

bool start_diffs_without_runtime() {
  static git_allocator allocator = c_allocator();
  if (git_libgit2_opts(GIT_OPT_SET_ALLOCATOR, &allocator) != 0) return false;
  g_allocator_only = true;
  return true;
}

std::vector<Hunk> diff_lines(const std::vector<Line>& base, const std::vector<Line>& other) {
  init_libgit2();
  // Lines as decoded lie one after the other in their file's buffer: the
  // diff reads them there. Others (edited or cut from several texts) are
  // joined first.
  std::string joined_a;
  std::string joined_b;
  const bool numbered = has_cr_line_ends(base) || has_cr_line_ends(other);
  if (numbered) number_lines(base, other, &joined_a, &joined_b);
  const std::string_view a = numbered ? std::string_view(joined_a) : text_of(base, &joined_a);
  const std::string_view b = numbered ? std::string_view(joined_b) : text_of(other, &joined_b);
  std::vector<Hunk> hunks;
  git_diff_options options;
  git_diff_options_init(&options, GIT_DIFF_OPTIONS_VERSION);
  options.context_lines = 0;
  options.interhunk_lines = 0;
  options.flags = GIT_DIFF_FORCE_TEXT;
  const int rc = git_diff_buffers(a.data(), a.size(), nullptr, b.data(), b.size(), nullptr,
                                  &options, nullptr, nullptr, on_hunk, nullptr, &hunks);
  // Never report "equal" for texts the diff could not read (or took for
  // equal by their ids): one hunk replacing everything is always a true
  // answer.
  if (rc != 0 || (hunks.empty() && a != b)) {
    hunks.clear();
    if (base != other) hunks.push_back(Hunk{0, base.size(), 0, other.size()});
  }
  return hunks;
}

std::vector<Block> align(const std::vector<Line>& left, const std::vector<Line>& right) {
  std::vector<Block> blocks;
  std::size_t l = 0;
  std::size_t r = 0;
  const auto same_until = [&](std::size_t l_end) {
    if (l_end > l) {
      blocks.push_back(Block{BlockKind::same, l, l_end - l, r, l_end - l});
      r += l_end - l;
      l = l_end;
    }
  };
  for (const Hunk& h : diff_lines(left, right)) {
    same_until(h.base_start);
    BlockKind kind = BlockKind::changed;
    if (h.base_count == 0) kind = BlockKind::right_only;
    if (h.other_count == 0) kind = BlockKind::left_only;
    blocks.push_back(Block{kind, h.base_start, h.base_count, h.other_start, h.other_count});
    l = h.base_start + h.base_count;
    r = h.other_start + h.other_count;
  }
  same_until(left.size());
  return blocks;
}

namespace {

// Two contributors and no base: every difference between them is a choice.
void add_choices(const std::vector<std::vector<Line>>& contributors, MergePlan* plan) {
  for (const Block& b : align(contributors[0], contributors[1])) {
    Region region;
    region.kind = b.kind == BlockKind::same ? RegionKind::common : RegionKind::conflict;
    region.sides = {std::vector<Line>(contributors[0].begin() + b.left_start,
                                      contributors[0].begin() + b.left_start + b.left_count),
                    std::vector<Line>(contributors[1].begin() + b.right_start,
                                      contributors[1].begin() + b.right_start + b.right_count)};
    region.starts = {b.left_start, b.right_start};
    region.changed_by = {region.kind == RegionKind::conflict, region.kind == RegionKind::conflict};
    if (region.kind == RegionKind::common) region.result = region.sides[0];
    if (region.kind == RegionKind::conflict) ++plan->conflicts;
    plan->regions.push_back(std::move(region));
  }
}

// One contributor's change of the base.
struct Change {
  std::size_t side;
  Hunk hunk;
};

// Every contributor's differences with the base (`hunks`, by contributor),
// and all of them as changes in the order of the base lines they start at.
std::vector<Change> changes_of(const std::vector<std::vector<Line>>& contributors,
                               std::vector<std::vector<Hunk>>* hunks) {
  std::vector<Change> changes;
  hunks->assign(contributors.size(), {});
  for (std::size_t s = 1; s < contributors.size(); ++s) {
    (*hunks)[s] = diff_lines(contributors[0], contributors[s]);
    for (const Hunk& h : (*hunks)[s]) changes.push_back(Change{s, h});
  }
  std::stable_sort(changes.begin(), changes.end(), [](const Change& a, const Change& b) {
    return a.hunk.base_start < b.hunk.base_start;
  });
  return changes;
}

// The region over base lines [from, to): every contributor's lines there;
// for a group of changes (`group`), the lines its hunks made.
Region region_over(const std::vector<std::vector<Line>>& contributors,
                   const std::vector<std::vector<Hunk>>& hunks, std::size_t from, std::size_t to,
                   bool group) {
  const std::vector<Line>& base = contributors[0];
  Region region;
  for (std::size_t s = 0; s < contributors.size(); ++s) {
    std::size_t start = from;
    region.sides.push_back(s == 0 ? std::vector<Line>(base.begin() + from, base.begin() + to)
                                  : side_lines(contributors[s], hunks[s], from, to, group, &start));
    region.starts.push_back(start);
  }
  return region;
}

// A group's kind: changed when every contributor that changed it made the
// same lines (a contributor that changed nothing agrees with the base, which
// the changed ones left behind), else a conflict.
void decide(Region* region, const std::vector<bool>& changed, MergePlan* plan) {
  const std::vector<Line>* agreed = nullptr;
  bool conflict = false;
  for (std::size_t s = 1; s < changed.size(); ++s) {
    if (!changed[s]) continue;
    if (agreed == nullptr) {
      agreed = &region->sides[s];
    } else if (*agreed != region->sides[s]) {
      conflict = true;
    }
  }
  region->kind = conflict ? RegionKind::conflict : RegionKind::changed;
  if (!conflict) region->result = *agreed;
  if (conflict) ++plan->conflicts;
}

// The line-level merge: groups of changes that overlap or touch, as
// `git merge-file --diff3` finds them.
MergePlan group_changes(const std::vector<std::vector<Line>>& contributors) {
  MergePlan plan;
  plan.line_end = first_line_end(contributors);
  const std::size_t n = contributors.size();
  if (n < 2) return plan;
  if (n == 2) {
    add_choices(contributors, &plan);
    return plan;
  }
  plan.has_base = true;
  std::vector<std::vector<Hunk>> hunks;
  const std::vector<Change> changes = changes_of(contributors, &hunks);
  const auto add_common = [&](std::size_t from, std::size_t to) {
    if (to <= from) return;
    Region region = region_over(contributors, hunks, from, to, false);
    region.kind = RegionKind::common;
    region.changed_by.assign(n, false);
    region.result = region.sides[0];
    plan.regions.push_back(std::move(region));
  };
  std::size_t done = 0;  // base lines already covered by regions
  for (std::size_t i = 0; i < changes.size();) {
    // A group: changes that overlap or touch, taken transitively. Changes
    // that merely touch are grouped too, so that two contributors' edits of
    // neighbouring lines are never merged without a look.
    const std::size_t from = changes[i].hunk.base_start;
    std::size_t to = from + changes[i].hunk.base_count;
    std::vector<bool> changed(n, false);
    std::size_t j = i;
    while (j < changes.size() && changes[j].hunk.base_start <= to) {
      to = std::max(to, changes[j].hunk.base_start + changes[j].hunk.base_count);
      changed[changes[j].side] = true;
      ++j;
    }
    add_common(done, from);
    Region region = region_over(contributors, hunks, from, to, true);
    region.changed_by = changed;
    decide(&region, changed, &plan);
    plan.regions.push_back(std::move(region));
    done = to;
    i = j;
  }
  add_common(done, contributors[0].size());
  return plan;
}

// Common regions of at least this many lines part the neighbourhoods in
// which settlements are judged together: two sides that align a block
// differently do so between such anchors.
constexpr std::size_t kAnchorLines = 8;

// Whether the merged lines of regions [first, end) repeat some line with a
// letter or digit more often than either side has it there (separators,
// blank lines and braces repeat by themselves when both sides' lines stay).
// A conflict left open counts as empty; common regions add the same lines
// to all three and are left out.
bool repeats_lines(const std::vector<Region>& regions, std::size_t first, std::size_t end) {
  std::unordered_map<std::string_view, std::array<std::size_t, 3>> counts;
  const auto count = [&](const std::vector<Line>& lines, std::size_t which) {
    for (const Line& line : lines) {
      const std::string_view text = line.text.view();
      if (std::any_of(text.begin(), text.end(),
                      [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; })) {
        ++counts[text][which];
      }
    }
  };
  for (std::size_t r = first; r < end; ++r) {
    const Region& region = regions[r];
    if (region.kind == RegionKind::common) continue;
    count(region.sides[1], 1);
    count(region.sides[2], 2);
    count(region.result, 0);
  }
  return std::any_of(counts.begin(), counts.end(), [](const auto& entry) {
    const std::array<std::size_t, 3>& c = entry.second;
    return c[0] > 1 && c[0] > std::max(c[1], c[2]);
  });
}

// Settlements are judged with their neighbours: where the settled conflicts
// and the changes between them, taken together, hold some line more often
// than either side does, each settlement may be right alone but together
// they duplicate (two sides that placed one block in two neighbouring
// conflicts, each settlement keeping it). Every settlement of such a
// neighbourhood is undone.
void undo_repeating_settlements(MergePlan* plan) {
  std::vector<Region>& regions = plan->regions;
  std::size_t first = 0;
  while (first < regions.size()) {
    std::size_t end = first;
    bool settled = false;
    while (end < regions.size() && !(regions[end].kind == RegionKind::common &&
                                     regions[end].sides[0].size() >= kAnchorLines)) {
      settled = settled || (regions[end].kind == RegionKind::conflict &&
                            regions[end].settled_by != SettleRule::none);
      ++end;
    }
    if (settled && repeats_lines(regions, first, end)) {
      for (std::size_t r = first; r < end; ++r) {
        if (regions[r].kind != RegionKind::conflict || regions[r].settled_by == SettleRule::none)
          continue;
        regions[r].settled_by = SettleRule::none;
        regions[r].result.clear();
        --plan->settled;
      }
    }
    first = end + 1;
  }
}

// Settles what the rules can, and narrows the other conflicts.
void settle_and_narrow(MergePlan* plan, const SettleOptions& options) {
  static const std::vector<Line> kNothing;
  for (std::size_t r = 0; r < plan->regions.size(); ++r) {
    Region& region = plan->regions[r];
    if (region.kind != RegionKind::conflict || region.sides.size() != 3) continue;
    // The base lines of the region after it.
    const std::vector<Line>& following =
        r + 1 < plan->regions.size() ? plan->regions[r + 1].sides[0] : kNothing;
    if (std::optional<Settlement> s = settle_conflict(region.sides[0], region.sides[1],
                                                      region.sides[2], options, following)) {
      region.settled_by = s->rule;
      region.result = std::move(s->lines);
      ++plan->settled;
    }
  }
  if (plan->settled > 0) undo_repeating_settlements(plan);
  std::vector<Region> out;
  out.reserve(plan->regions.size());
  for (std::size_t r = 0; r < plan->regions.size(); ++r) {
    Region& region = plan->regions[r];
    if (region.kind != RegionKind::conflict || region.sides.size() != 3 ||
        region.settled_by != SettleRule::none) {
      out.push_back(std::move(region));
      continue;
    }
    const std::vector<Line>& one = region.sides[1];
    const std::vector<Line>& other = region.sides[2];
    const std::size_t shorter = std::min(one.size(), other.size());
    std::size_t head = 0;
    while (head < shorter && one[head] == other[head]) ++head;
    std::size_t tail = 0;
    while (tail < shorter - head && one[one.size() - 1 - tail] == other[other.size() - 1 - tail]) {
      ++tail;
    }
    const auto edge = [&](std::size_t base_at, std::size_t one_at, std::size_t other_at,
                          std::size_t from, std::size_t count) {
      Region e;
      e.kind = RegionKind::changed;
      e.conflict_edge = true;
      e.changed_by = {false, true, true};
      e.result = std::vector<Line>(one.begin() + static_cast<std::ptrdiff_t>(from),
                                   one.begin() + static_cast<std::ptrdiff_t>(from + count));
      e.sides = {{}, e.result, e.result};
      e.starts = {base_at, one_at, other_at};
      return e;
    };
    const std::size_t b0 = region.starts[0];
    const std::size_t s1 = region.starts[1];
    const std::size_t s2 = region.starts[2];
    if (head > 0) out.push_back(edge(b0, s1, s2, 0, head));
    Region after;
    if (tail > 0) {
      after = edge(b0 + region.sides[0].size(), s1 + one.size() - tail, s2 + other.size() - tail,
                   one.size() - tail, tail);
    }
    if (head > 0 || tail > 0) {
      for (std::size_t side = 1; side < 3; ++side) {
        std::vector<Line>& lines = region.sides[side];
        lines = std::vector<Line>(lines.begin() + static_cast<std::ptrdiff_t>(head),
                                  lines.end() - static_cast<std::ptrdiff_t>(tail));
        region.starts[side] += head;
      }
    }
    out.push_back(std::move(region));
    if (tail > 0) out.push_back(std::move(after));
  }
  plan->regions = std::move(out);
}

}  // namespace

MergePlan plan_merge(const std::vector<std::vector<Line>>& contributors,
                     const SettleOptions& settle) {
  MergePlan plan = group_changes(contributors);
  if (plan.has_base && contributors.size() == 3) settle_and_narrow(&plan, settle);
  return plan;
}

std::optional<std::vector<Line>> resolve_region(const MergePlan& plan, const Region& region,
                                                const Resolution& resolution) {
  if (region.kind != RegionKind::conflict) return region.result;
  switch (resolution.kind) {
    case Resolution::Kind::unresolved:
      return std::nullopt;
    case Resolution::Kind::take:
      if (resolution.side >= region.sides.size()) return std::nullopt;
      return region.sides[resolution.side];
    case Resolution::Kind::edited:
      return resolution.lines;
    case Resolution::Kind::automatic:
      if (region.settled_by == SettleRule::none) return std::nullopt;
      return region.result;
    case Resolution::Kind::take_all: {
      std::vector<Line> out;
      std::vector<std::size_t> chosen;
      for (std::size_t s = plan.has_base ? 1 : 0; s < region.sides.size(); ++s) {
        if (region.changed_by[s]) chosen.push_back(s);
      }
      for (std::size_t k = 0; k < chosen.size(); ++k) {
        const std::vector<Line>& part = region.sides[chosen[k]];
        for (std::size_t i = 0; i < part.size(); ++i) {
          const bool joins_next = i + 1 == part.size() && k + 1 < chosen.size();
          out.push_back(part[i]);
          if (joins_next && out.back().eol.empty()) out.back().eol = plan.line_end;
        }
      }
      return out;
    }
  }
  return std::nullopt;
}

std::optional<std::vector<Line>> merged_lines(const MergePlan& plan,
                                              const std::vector<Resolution>& resolutions) {
  std::vector<Line> out;
  std::size_t conflict = 0;
  for (const Region& region : plan.regions) {
    const Resolution none;
    const Resolution& r = region.kind == RegionKind::conflict && conflict < resolutions.size()
                              ? resolutions[conflict]
                              : none;
    if (region.kind == RegionKind::conflict) ++conflict;
    const std::optional<std::vector<Line>> lines = resolve_region(plan, region, r);
    if (!lines) return std::nullopt;
    out.insert(out.end(), lines->begin(), lines->end());
  }
  return out;
}

std::vector<Resolution> automatic_resolutions(const MergePlan& plan) {
  std::vector<Resolution> out;
  for (const Region& region : plan.regions) {
    if (region.kind != RegionKind::conflict) continue;
    Resolution r;
    if (region.settled_by != SettleRule::none) r.kind = Resolution::Kind::automatic;
    out.push_back(r);
  }
  return out;
}

std::optional<std::vector<Line>> automatic_merge(const MergePlan& plan) {
  if (plan.conflicts != plan.settled) return std::nullopt;
  return merged_lines(plan, automatic_resolutions(plan));
}

namespace {

// A stretch of the marked output: lines as merged, or a conflict to mark.
struct Piece {
  bool conflict = false;
  // Merged lines that git's merge counts as untouched between two
  // conflicts: common lines, and lines both sides changed identically.
  bool gap = false;
  std::vector<Line> lines;     // merged lines
  std::vector<Line> sides[3];  // a conflict's base and two sides
  std::size_t starts[3] = {0, 0, 0};
};

bool has_alnum(const std::vector<Line>& lines) {
  for (const Line& line : lines) {
    for (char c : line.text) {
      if (std::isalnum(static_cast<unsigned char>(c))) return true;
    }
  }
  return false;
}

void append_lines(std::vector<Line>* to, const std::vector<Line>& lines) {
  to->insert(to->end(), lines.begin(), lines.end());
}

// The plan as pieces: an unsettled conflict with the edges that were cut
// from it, as one conflict (unless `edges_apart`).
std::vector<Piece> pieces_of(const MergePlan& plan, bool edges_apart) {
  std::vector<Piece> out;
  const std::vector<Region>& regions = plan.regions;
  const auto open_conflict = [](const Region& r) {
    return r.kind == RegionKind::conflict && r.settled_by == SettleRule::none;
  };
  for (std::size_t r = 0; r < regions.size();) {
    const Region& region = regions[r];
    Piece piece;
    if ((!region.conflict_edge || edges_apart) && !open_conflict(region)) {
      piece.lines = region.result;
      piece.gap = region.kind == RegionKind::common ||
                  (region.kind == RegionKind::changed && region.changed_by.size() == 3 &&
                   region.changed_by[1] && region.changed_by[2]);
      out.push_back(std::move(piece));
      ++r;
      continue;
    }
    piece.conflict = true;
    for (std::size_t s = 0; s < 3; ++s) piece.starts[s] = region.starts[s];
    bool seen_conflict = false;
    for (; r < regions.size(); ++r) {
      const Region& part = regions[r];
      if (open_conflict(part) && !seen_conflict) {
        seen_conflict = true;
      } else if (!part.conflict_edge || edges_apart) {
        break;
      }
      for (std::size_t s = 0; s < 3; ++s) append_lines(&piece.sides[s], part.sides[s]);
    }
    out.push_back(std::move(piece));
  }
  return out;
}

// git's narrower conflicts: each conflict cut where its two sides have
// lines in common, then conflicts apart by at most three lines, or by lines
// without a letter or digit, joined again with the lines between them.
// `with_base`: each narrower conflict gets the base lines that stand against
// it (a diff more per conflict, which writing the markers does not need).
std::vector<Piece> merge_style_pieces(std::vector<Piece> pieces, bool with_base) {
  std::vector<Piece> cut;
  const auto add_gap = [&](std::vector<Line> lines) {
    if (lines.empty()) return;
    if (!cut.empty() && !cut.back().conflict && cut.back().gap) {
      append_lines(&cut.back().lines, lines);
      return;
    }
    Piece gap;
    gap.gap = true;
    gap.lines = std::move(lines);
    cut.push_back(std::move(gap));
  };
  for (Piece& piece : pieces) {
    if (!piece.conflict) {
      if (piece.gap) {
        add_gap(std::move(piece.lines));
      } else {
        cut.push_back(std::move(piece));
      }
      continue;
    }
    const std::vector<Line>& one = piece.sides[1];
    const std::vector<Line>& other = piece.sides[2];
    if (one.empty() || other.empty()) {
      cut.push_back(std::move(piece));
      continue;
    }
    // Where the lines of `one` stand in the base, for the base lines of
    // each narrower conflict.
    const std::vector<Hunk> to_base =
        with_base ? diff_lines(one, piece.sides[0]) : std::vector<Hunk>{};
    const auto base_at = [&](std::size_t pos, bool end) {
      long long delta = 0;
      for (const Hunk& b : to_base) {
        const std::size_t b_end = b.base_start + b.base_count;
        if (pos < b.base_start) break;
        if (!end && (pos < b_end || pos == b.base_start)) return b.other_start;
        if (end && pos == b.base_start && b.base_count > 0) break;
        if (end && pos <= b_end) return b.other_start + b.other_count;
        delta =
            static_cast<long long>(b.other_start + b.other_count) - static_cast<long long>(b_end);
      }
      return static_cast<std::size_t>(static_cast<long long>(pos) + delta);
    };
    std::size_t at = 0;  // next line of `one`
    for (const Hunk& h : diff_lines(one, other)) {
      add_gap(std::vector<Line>(one.begin() + static_cast<std::ptrdiff_t>(at),
                                one.begin() + static_cast<std::ptrdiff_t>(h.base_start)));
      Piece sub;
      sub.conflict = true;
      sub.sides[1].assign(one.begin() + static_cast<std::ptrdiff_t>(h.base_start),
                          one.begin() + static_cast<std::ptrdiff_t>(h.base_start + h.base_count));
      sub.sides[2].assign(
          other.begin() + static_cast<std::ptrdiff_t>(h.other_start),
          other.begin() + static_cast<std::ptrdiff_t>(h.other_start + h.other_count));
      sub.starts[1] = piece.starts[1] + h.base_start;
      sub.starts[2] = piece.starts[2] + h.other_start;
      const std::size_t base_from =
          !with_base ? piece.sides[0].size()
                     : std::min(base_at(h.base_start, false), piece.sides[0].size());
      const std::size_t base_to =
          std::clamp(base_at(h.base_start + h.base_count, true), base_from, piece.sides[0].size());
      sub.sides[0].assign(piece.sides[0].begin() + static_cast<std::ptrdiff_t>(base_from),
                          piece.sides[0].begin() + static_cast<std::ptrdiff_t>(base_to));
      cut.push_back(std::move(sub));
      at = h.base_start + h.base_count;
    }
    add_gap(std::vector<Line>(one.begin() + static_cast<std::ptrdiff_t>(at), one.end()));
  }
  std::vector<Piece> out;
  for (Piece& piece : cut) {
    const std::size_t n = out.size();
    if (piece.conflict && n >= 2 && out[n - 1].gap && out[n - 2].conflict &&
        (out[n - 1].lines.size() <= 3 || !has_alnum(out[n - 1].lines))) {
      Piece& joined = out[n - 2];
      for (std::size_t s = 0; s < 3; ++s) {
        append_lines(&joined.sides[s], out[n - 1].lines);
        append_lines(&joined.sides[s], piece.sides[s]);
      }
      out.pop_back();
      continue;
    }
    out.push_back(std::move(piece));
  }
  return out;
}

std::vector<Piece> marked_pieces(const MergePlan& plan, MarkerStyle style, bool with_base = false) {
  std::vector<Piece> pieces = pieces_of(plan, style == MarkerStyle::zdiff3);
  if (style == MarkerStyle::merge) pieces = merge_style_pieces(std::move(pieces), with_base);
  return pieces;
}

bool markable(const MergePlan& plan) {
  return plan.has_base &&
         std::all_of(plan.regions.begin(), plan.regions.end(),
                     [](const Region& region) { return region.sides.size() == 3; });
}

}  // namespace

std::size_t marked_conflicts(const MergePlan& plan, MarkerStyle style) {
  if (!markable(plan)) return 0;
  const std::vector<Piece> pieces = marked_pieces(plan, style);
  return static_cast<std::size_t>(
      std::count_if(pieces.begin(), pieces.end(), [](const Piece& p) { return p.conflict; }));
}

std::vector<MarkedConflict> marked_conflict_list(const MergePlan& plan, MarkerStyle style) {
  std::vector<MarkedConflict> out;
  if (!markable(plan)) return out;
  const std::vector<Piece> pieces = marked_pieces(plan, style, true);
  std::vector<Line> merged;  // merged lines since the last conflict
  for (const Piece& piece : pieces) {
    if (!piece.conflict) {
      append_lines(&merged, piece.lines);
      continue;
    }
    if (!out.empty()) out.back().after = merged;
    MarkedConflict c;
    c.base = piece.sides[0];
    c.current = piece.sides[1];
    c.other = piece.sides[2];
    c.before = std::move(merged);
    merged.clear();
    out.push_back(std::move(c));
  }
  if (!out.empty()) out.back().after = std::move(merged);
  return out;
}

std::string render_with_markers(const MergePlan& plan, const std::vector<std::string>& labels,
                                MarkerStyle style, std::size_t marker_size, std::size_t* written,
                                ConflictFill fill) {
  std::string out;
  if (written != nullptr) *written = 0;
  // Markers are drawn for a base and two sides only.
  if (labels.size() < 3 || !markable(plan)) return out;
  // The line ends of the contributors' whole texts, for the markers around
  // each conflict: 0 none, 1 LF, 2 CRLF.
  std::vector<std::vector<char>> texts(3);
  for (const Region& region : plan.regions) {
    for (std::size_t s = 0; s < texts.size() && s < region.sides.size(); ++s) {
      for (const Line& line : region.sides[s]) {
        texts[s].push_back(line.eol.empty() ? 0 : line.eol == "\r\n" ? 2 : 1);
      }
    }
  }
  // Whether line i of a text ends in CRLF: 1 yes, 0 no, -1 cannot tell (an
  // empty text, or a single line without a line end). A last line without
  // one takes the line end of the line before.
  const auto crlf_at = [](const std::vector<char>& text, std::size_t i) {
    if (text.empty()) return -1;
    if (text[i] != 0) return text[i] == 2 ? 1 : 0;
    if (i == 0) return -1;
    return text[i - 1] == 2 ? 1 : 0;
  };
  std::string eol = "\n";
  const auto append = [&](const std::vector<Line>& lines) {
    for (const Line& line : lines) {
      out += line.text.view();
      out += line.eol.view();
    }
  };
  const auto part = [&](const std::vector<Line>& lines) {
    const std::size_t before = out.size();
    append(lines);
    if (out.size() > before && out.back() != '\n') out += eol;
  };
  const auto label = [&](std::size_t i) { return i < labels.size() ? labels[i] : std::string(); };
  const std::vector<Piece> pieces = marked_pieces(plan, style);
  // The output in one allocation: the lines, and room for the markers.
  std::size_t size = 0;
  for (const Piece& piece : pieces) {
    for (const std::vector<Line>* lines :
         {&piece.lines, &piece.sides[0], &piece.sides[1], &piece.sides[2]}) {
      for (const Line& line : *lines) size += line.text.size() + 2;
    }
    if (piece.conflict)
      size += 4 * (marker_size + 3) + label(0).size() + label(1).size() + label(2).size();
  }
  out.reserve(size);
  for (const Piece& piece : pieces) {
    if (!piece.conflict) {
      append(piece.lines);
      continue;
    }
    // Markers end like the lines before the conflict in both changed texts
    // (or their first lines) and the base's first line when all that are
    // known end in CRLF, so that a CRLF file does not get mixed line ends.
    int crlf = crlf_at(texts[1], piece.starts[1] == 0 ? 0 : piece.starts[1] - 1);
    if (crlf != 0) crlf = crlf_at(texts[2], piece.starts[2] == 0 ? 0 : piece.starts[2] - 1);
    if (crlf != 0) crlf = crlf_at(texts[0], 0);
    eol = crlf > 0 ? "\r\n" : "\n";
    if (fill != ConflictFill::markers) {
      if (fill == ConflictFill::current) append(piece.sides[1]);
      if (fill == ConflictFill::both) part(piece.sides[1]);
      if (fill != ConflictFill::current) append(piece.sides[2]);
      continue;
    }
    if (written != nullptr) ++*written;
    out += std::string(marker_size, '<') + " " + label(1) + eol;
    part(piece.sides[1]);
    if (style != MarkerStyle::merge) {
      out += std::string(marker_size, '|') + " " + label(0) + eol;
      part(piece.sides[0]);
    }
    out += std::string(marker_size, '=') + eol;
    part(piece.sides[2]);
    out += std::string(marker_size, '>') + " " + label(2) + eol;
  }
  return out;
}

}  // namespace marlow

namespace marlow {
namespace {

// How much two lines have in common: twice the characters a diff keeps,
// over the characters of both (1 for equal texts, 0 for nothing shared).
double likeness(const std::string& a, const std::string& b) {
  const std::size_t total = a.size() + b.size();
  if (total == 0) return 1;
  // Lines of very different lengths cannot be much alike.
  if (std::min(a.size(), b.size()) * 3 < std::max(a.size(), b.size())) return 0;
  const auto characters = [](const std::string& text) {
    std::vector<Line> out;
    std::size_t at = 0;
    for (std::size_t len : code_point_lengths(text)) {
      out.push_back(Line{text.substr(at, len), "\n"});
      at += len;
    }
    return out;
  };
  const std::vector<Line> ca = characters(a);
  const std::vector<Line> cb = characters(b);
  std::size_t changed = 0;
  for (const Hunk& h : diff_lines(ca, cb)) changed += h.base_count + h.other_count;
  return 1.0 - static_cast<double>(changed) / static_cast<double>(ca.size() + cb.size());
}

// Pairs (i, j), increasing in both, of lines base[b + i] and other[os + j]
// that are at least half alike, chosen to be as alike as possible in all.
// Only for small changes: every pair of lines is compared.
std::vector<std::pair<std::size_t, std::size_t>> similar_pairs(const std::vector<Line>& base,
                                                               std::size_t b, std::size_t k,
                                                               const std::vector<Line>& other,
                                                               std::size_t os, std::size_t m) {
  std::vector<std::pair<std::size_t, std::size_t>> pairs;
  if (k == 0 || m == 0 || (k == 1 && m == 1) || k * m > 400) return pairs;
  std::vector<double> like(k * m);
  for (std::size_t i = 0; i < k; ++i) {
    for (std::size_t j = 0; j < m; ++j) {
      const double l = likeness(base[b + i].text.str(), other[os + j].text.str());
      like[i * m + j] = l >= 0.5 ? l : 0;
    }
  }
  // best[i][j]: the best total for the first i and j lines.
  std::vector<double> best((k + 1) * (m + 1), 0);
  const auto at = [&](std::size_t i, std::size_t j) -> double& { return best[i * (m + 1) + j]; };
  for (std::size_t i = 1; i <= k; ++i) {
    for (std::size_t j = 1; j <= m; ++j) {
      at(i, j) =
          std::max({at(i - 1, j), at(i, j - 1), at(i - 1, j - 1) + like[(i - 1) * m + j - 1]});
    }
  }
  for (std::size_t i = k, j = m; i > 0 && j > 0;) {
    const double l = like[(i - 1) * m + j - 1];
    if (l > 0 && at(i, j) == at(i - 1, j - 1) + l) {
      pairs.emplace_back(i - 1, j - 1);
      --i;
      --j;
    } else if (at(i, j) == at(i - 1, j)) {
      --i;
    } else {
      --j;
    }
  }
  std::reverse(pairs.begin(), pairs.end());
  return pairs;
}

// One other text's rows against text 0: the line standing against each line
// of text 0 (and whether it is part of a change), and the lines inserted at
// each gap (gap g lies before line g of text 0; gap base_size after the last).
struct SideRows {
  std::vector<std::size_t> at;
  std::vector<bool> changed;
  std::vector<std::size_t> extra_start;
  std::vector<std::size_t> extra_count;
};

// Places the lines of `other` against those of `base`, hunk by hunk; raises
// `gap_rows[g]` to the extra rows this text needs at gap g.
class SidePlacer {
 public:
  SidePlacer(const std::vector<Line>& base, const std::vector<Line>& other,
             std::vector<std::size_t>* gap_rows)
      : base_(base), other_(other), gap_rows_(*gap_rows) {
    side_.at.assign(base.size(), kNoLine);
    side_.changed.assign(base.size(), false);
    side_.extra_start.assign(base.size() + 1, 0);
    side_.extra_count.assign(base.size() + 1, 0);
  }

  SideRows place_all() && {
    for (const Hunk& h : diff_lines(base_, other_)) {
      unchanged_until(h.base_start);
      if (h.base_count == 0 || h.other_count == 0) {
        place(h.base_start, h.base_count, h.other_start, h.other_count);
      } else {
        place_change(h);
      }
      p_ = h.base_start + h.base_count;
      o_ = h.other_start + h.other_count;
    }
    unchanged_until(base_.size());
    return std::move(side_);
  }

 private:
  void unchanged_until(std::size_t end) {
    for (; p_ < end && p_ < base_.size(); ++p_, ++o_) side_.at[p_] = o_;
  }

  // k lines of text 0 from b became m lines of the other from os: the first
  // lines of each side stand against each other, the rest are fillers or
  // extra rows after the k lines.
  void place_top(std::size_t b, std::size_t k, std::size_t os, std::size_t m) {
    const std::size_t paired = std::min(k, m);
    for (std::size_t i = 0; i < k; ++i) {
      side_.at[b + i] = i < paired ? os + i : kNoLine;
      side_.changed[b + i] = true;
    }
    if (m > k) {
      const std::size_t gap = b + k;
      if (side_.extra_count[gap] == 0) side_.extra_start[gap] = os + k;
      side_.extra_count[gap] += m - k;
      gap_rows_[gap] = std::max(gap_rows_[gap], side_.extra_count[gap]);
    }
  }

  // The same, but lines much alike stand against each other first, so that
  // an edited line stays beside its original when lines around it were
  // deleted or inserted.
  void place(std::size_t b, std::size_t k, std::size_t os, std::size_t m) {
    std::size_t done_b = 0;
    std::size_t done_o = 0;
    for (const auto& [i, j] : similar_pairs(base_, b, k, other_, os, m)) {
      place_top(b + done_b, i - done_b, os + done_o, j - done_o);
      side_.at[b + i] = os + j;
      side_.changed[b + i] = true;
      done_b = i + 1;
      done_o = j + 1;
    }
    place_top(b + done_b, k - done_b, os + done_o, m - done_o);
  }

  // Within a change, lines that differ only in their line ends stand
  // against each other (a file saved with other line ends is one change from
  // top to bottom, but its lines still pair up).
  void place_change(const Hunk& h) {
    std::vector<Line> a;
    std::vector<Line> b;
    for (std::size_t i = 0; i < h.base_count; ++i)
      a.push_back(Line{base_[h.base_start + i].text, "\n"});
    for (std::size_t i = 0; i < h.other_count; ++i)
      b.push_back(Line{other_[h.other_start + i].text, "\n"});
    std::size_t pa = 0;
    std::size_t pb = 0;
    const auto same_text_until = [&](std::size_t end) {
      for (; pa < end; ++pa, ++pb) {
        side_.at[h.base_start + pa] = h.other_start + pb;
        side_.changed[h.base_start + pa] = true;
      }
    };
    for (const Hunk& inner : diff_lines(a, b)) {
      same_text_until(inner.base_start);
      place(h.base_start + inner.base_start, inner.base_count, h.other_start + inner.other_start,
            inner.other_count);
      pa = inner.base_start + inner.base_count;
      pb = inner.other_start + inner.other_count;
    }
    same_text_until(h.base_count);
  }

  const std::vector<Line>& base_;
  const std::vector<Line>& other_;
  std::vector<std::size_t>& gap_rows_;
  SideRows side_;
  std::size_t p_ = 0;  // next line of text 0
  std::size_t o_ = 0;  // next line of the other text
};

// The rows: each gap's extra rows, then the row of each line of text 0,
// with the differences as runs of rows where some cell is not `same`.
RowAlignment rows_of(const std::vector<SideRows>& sides, const std::vector<std::size_t>& gap_rows) {
  RowAlignment out;
  const std::size_t n = sides.size();
  const std::size_t base_size = gap_rows.size() - 1;
  out.rows = base_size;
  for (std::size_t g : gap_rows) out.rows += g;
  out.line.assign(n, std::vector<std::size_t>(out.rows, kNoLine));
  out.kind.assign(n, std::vector<CellKind>(out.rows, CellKind::filler));
  std::size_t row = 0;
  bool in_difference = false;
  const auto mark = [&](bool differs) {
    if (differs && !in_difference) out.differences.emplace_back(row, row + 1);
    if (differs) out.differences.back().second = row + 1;
    in_difference = differs;
  };
  for (std::size_t g = 0; g <= base_size; ++g) {
    for (std::size_t r = 0; r < gap_rows[g]; ++r, ++row) {
      for (std::size_t s = 1; s < n; ++s) {
        if (r >= sides[s].extra_count[g]) continue;
        out.line[s][row] = sides[s].extra_start[g] + r;
        out.kind[s][row] = CellKind::added;
      }
      mark(true);
    }
    if (g == base_size) break;
    bool any_change = false;
    bool any_line = false;
    for (std::size_t s = 1; s < n; ++s) {
      const SideRows& side = sides[s];
      out.line[s][row] = side.at[g];
      if (side.changed[g]) {
        any_change = true;
        any_line = any_line || side.at[g] != kNoLine;
        out.kind[s][row] = side.at[g] == kNoLine ? CellKind::filler : CellKind::changed;
      } else {
        out.kind[s][row] = CellKind::same;
      }
    }
    out.line[0][row] = g;
    out.kind[0][row] = !any_change ? CellKind::same
                       : any_line  ? CellKind::changed
                                   : CellKind::removed;
    mark(any_change);
    ++row;
  }
  return out;
}

}  // namespace

RowAlignment align_rows(const std::vector<std::vector<Line>>& texts) {
  if (texts.empty()) return RowAlignment{};
  std::vector<SideRows> sides(texts.size());
  std::vector<std::size_t> gap_rows(texts[0].size() + 1, 0);
  for (std::size_t s = 1; s < texts.size(); ++s)
    sides[s] = SidePlacer(texts[0], texts[s], &gap_rows).place_all();
  return rows_of(sides, gap_rows);
}

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }

bool blank_only(std::string_view text) { return std::all_of(text.begin(), text.end(), is_blank); }

// The lines of each text that `options` leave out of the comparison, or
// an empty vector when none are.
std::vector<std::vector<bool>> left_out_lines(const std::vector<std::vector<Line>>& texts,
                                              const IgnoreOptions& options) {
  std::optional<std::regex> filter;
  if (!options.line_filter.empty() && valid_line_filter(options.line_filter)) {
    filter.emplace(options.line_filter, std::regex::ECMAScript | std::regex::optimize);
  }
  if (!filter && !options.ignore_blank_lines) return {};
  std::vector<std::vector<bool>> out(texts.size());
  bool any = false;
  for (std::size_t s = 0; s < texts.size(); ++s) {
    out[s].resize(texts[s].size(), false);
    for (std::size_t i = 0; i < texts[s].size(); ++i) {
      const std::string_view text = texts[s][i].text;
      const bool left_out = (options.ignore_blank_lines && blank_only(text)) ||
                            (filter && std::regex_search(text.begin(), text.end(), *filter));
      out[s][i] = left_out;
      any = any || left_out;
    }
  }
  if (!any) return {};
  return out;
}

// The rows of `inner` (an alignment of the compared lines only) with the
// lines left out put back: each in a row of its own before the row of the
// next compared line of its text (or at the end), beside fillers.
RowAlignment with_left_out_lines(const RowAlignment& inner,
                                 const std::vector<std::vector<std::size_t>>& original,
                                 const std::vector<std::size_t>& sizes) {
  const std::size_t n = sizes.size();
  RowAlignment out;
  out.line.assign(n, {});
  out.kind.assign(n, {});
  std::vector<bool> left_out_row;
  std::vector<std::size_t> next(n, 0);  // the next line of each text to show
  const auto flush = [&](const std::vector<std::size_t>& until) {
    std::size_t rows = 0;
    for (std::size_t s = 0; s < n; ++s) rows = std::max(rows, until[s] - next[s]);
    for (std::size_t r = 0; r < rows; ++r) {
      for (std::size_t s = 0; s < n; ++s) {
        const bool has = next[s] < until[s];
        out.line[s].push_back(has ? next[s] : kNoLine);
        out.kind[s].push_back(has ? CellKind::same : CellKind::filler);
        if (has) ++next[s];
      }
      left_out_row.push_back(true);
    }
  };
  std::vector<std::size_t> until(n);
  for (std::size_t row = 0; row < inner.rows; ++row) {
    for (std::size_t s = 0; s < n; ++s) {
      const std::size_t line = inner.line[s][row];
      until[s] = line == kNoLine ? next[s] : original[s][line];
    }
    flush(until);
    for (std::size_t s = 0; s < n; ++s) {
      const std::size_t line = inner.line[s][row];
      out.line[s].push_back(line == kNoLine ? kNoLine : original[s][line]);
      out.kind[s].push_back(inner.kind[s][row]);
      if (line != kNoLine) next[s] = original[s][line] + 1;
    }
    left_out_row.push_back(false);
  }
  flush(sizes);
  out.rows = left_out_row.size();
  // A difference: rows where some cell is not `same`, running on across
  // rows of lines left out.
  bool open = false;  // in a run, from `first`
  std::size_t first = 0;
  std::size_t last_differing = 0;
  for (std::size_t row = 0; row < out.rows; ++row) {
    if (left_out_row[row]) continue;
    bool differs = false;
    for (std::size_t s = 0; s < n && !differs; ++s) differs = out.kind[s][row] != CellKind::same;
    if (differs) {
      if (!open) first = row;
      open = true;
      last_differing = row;
    } else if (open) {
      out.differences.emplace_back(first, last_differing + 1);
      open = false;
    }
  }
  if (open) out.differences.emplace_back(first, last_differing + 1);
  return out;
}

}  // namespace

std::string folded_case(std::string_view text) {
  std::string out(text);
  for (std::size_t i = 0; i < out.size(); ++i) {
    const auto c = static_cast<unsigned char>(out[i]);
    if (c >= 'A' && c <= 'Z') {
      out[i] = static_cast<char>(c + 32);
    } else if (c >= 0xC3 && c <= 0xD0 && i + 1 < out.size()) {
      // Two-byte letters whose lower case is two bytes too.
      const auto d = static_cast<unsigned char>(out[i + 1]);
      const unsigned cp = ((c & 0x1Fu) << 6) | (d & 0x3Fu);
      unsigned lower = cp;
      if ((cp >= 0xC0 && cp <= 0xDE && cp != 0xD7) || (cp >= 0x391 && cp <= 0x3AB && cp != 0x3A2) ||
          (cp >= 0x410 && cp <= 0x42F)) {
        lower = cp + 0x20;
      } else if (cp >= 0x400 && cp <= 0x40F) {
        lower = cp + 0x50;
      }
      if (lower != cp && (d & 0xC0) == 0x80) {
        out[i] = static_cast<char>(0xC0 | (lower >> 6));
        out[i + 1] = static_cast<char>(0x80 | (lower & 0x3F));
      }
      ++i;
    }
  }
  return out;
}

bool valid_line_filter(const std::string& pattern) {
  try {
    const std::regex compiled(pattern, std::regex::ECMAScript);
    return true;
  } catch (const std::regex_error&) {
    return false;
  }
}

Line line_as_compared(const Line& line, const IgnoreOptions& options) {
  Line out = line;
  const bool has_blank =
      line.text.find(' ') != std::string::npos || line.text.find('\t') != std::string::npos;
  if (options.ignore_whitespace && has_blank) {
    std::string text = line.text.str();
    std::erase_if(text, is_blank);
    out.text = LineText(std::move(text));
  } else if (options.ignore_whitespace_amount && has_blank) {
    std::string text;
    text.reserve(line.text.size());
    for (const char c : line.text.view()) {
      if (!is_blank(c)) {
        text += c;
      } else if (text.empty() || text.back() != ' ') {
        text += ' ';
      }
    }
    if (!text.empty() && text.back() == ' ') text.pop_back();
    out.text = LineText(std::move(text));
  }
  if (options.ignore_case) out.text = LineText(folded_case(out.text));
  // Every line gets the same line end (none would join lines in the diff).
  if (options.ignore_line_ends) out.eol = LineEnd("\n");
  return out;
}

RowAlignment align_rows(const std::vector<std::vector<Line>>& texts, const IgnoreOptions& options) {
  if (options == IgnoreOptions{}) return align_rows(texts);
  const std::vector<std::vector<bool>> left_out = left_out_lines(texts, options);
  // The number of lines, and so every line index of the result, stays as
  // it was: the rows index the texts as given.
  std::vector<std::vector<Line>> compared(texts.size());
  std::vector<std::vector<std::size_t>> original(texts.size());
  std::vector<std::size_t> sizes(texts.size());
  for (std::size_t s = 0; s < texts.size(); ++s) {
    sizes[s] = texts[s].size();
    compared[s].reserve(texts[s].size());
    for (std::size_t i = 0; i < texts[s].size(); ++i) {
      if (!left_out.empty() && left_out[s][i]) continue;
      compared[s].push_back(line_as_compared(texts[s][i], options));
      original[s].push_back(i);
    }
  }
  if (left_out.empty()) return align_rows(compared);
  return with_left_out_lines(align_rows(compared), original, sizes);
}

}  // namespace marlow
