#include "line_diff.h"

#include <algorithm>
#include <limits>
#include <string_view>
#include <unordered_map>

namespace tarnwickmerge {
namespace {

// git's constants: how many lines make a "good" snake, the edit cost above
// which the heuristics start, the factor of an interesting diagonal, the
// floor of the cost limit, the cap of matches for a "common" line, and the
// window and ratio of the scan that sets common lines aside.
constexpr long kSnakeCount = 20;
constexpr long kHeuristicMinCost = 256;
constexpr long kHeuristicFactor = 4;
constexpr long kMaxCostMin = 256;
constexpr long kMaxEqualLimit = 1024;
constexpr long kSimilarScanWindow = 100;
constexpr long kKeepRun = 4;
constexpr long kLineMax = std::numeric_limits<long>::max();

// About the square root of n, as a power of two.
long rough_sqrt(long n) {
  long i = 1;
  for (; n > 0; n >>= 2) i <<= 1;
  return i;
}

struct Records {
  std::vector<long> line_class;  // per line: its class (equal lines, equal classes)
  std::vector<char> changed_storage;
  char* changed = nullptr;  // per line, with a 0 before the first and after the last
  std::vector<long> kept_class;  // the lines the search compares, by class
  std::vector<long> kept_index;  // and their line numbers
  long start = 0;  // first and last line after the common ends are cut
  long end = -1;

  long count() const { return static_cast<long>(line_class.size()); }
};

class Classes {
 public:
  void add(std::string_view text, int file, Records* records) {
    std::size_t at = 0;
    while (at < text.size()) {
      std::size_t next = text.find('\n', at);
      next = next == std::string_view::npos ? text.size() : next + 1;
      auto [it, added] = ids_.try_emplace(text.substr(at, next - at), counts_[0].size());
      if (added) {
        counts_[0].push_back(0);
        counts_[1].push_back(0);
      }
      ++counts_[file][it->second];
      records->line_class.push_back(static_cast<long>(it->second));
      at = next;
    }
    records->changed_storage.assign(records->line_class.size() + 2, 0);
    records->changed = records->changed_storage.data() + 1;
  }
  // How many lines of `file` are of class `c`.
  long count(int file, long c) const {
    return counts_[file][static_cast<std::size_t>(c)];
  }

 private:
  std::unordered_map<std::string_view, std::size_t> ids_;
  std::vector<long> counts_[2];
};

// Lines equal at both ends are out of the search.
void cut_common_ends(Records* a, Records* b) {
  const long limit = std::min(a->count(), b->count());
  long i = 0;
  while (i < limit && a->line_class[static_cast<std::size_t>(i)] ==
                          b->line_class[static_cast<std::size_t>(i)]) {
    ++i;
  }
  a->start = b->start = i;
  long k = 0;
  while (k < limit - i && a->line_class[static_cast<std::size_t>(a->count() - 1 - k)] ==
                              b->line_class[static_cast<std::size_t>(b->count() - 1 - k)]) {
    ++k;
  }
  a->end = a->count() - k - 1;
  b->end = b->count() - k - 1;
}

// Whether a line with many matches sits in a run of lines without a match
// (or with many) long enough that it is better set aside too.
bool set_aside_common(const std::vector<char>& dis, long i, long s, long e) {
  if (i - s > kSimilarScanWindow) s = i - kSimilarScanWindow;
  if (e - i > kSimilarScanWindow) e = i + kSimilarScanWindow;
  long r = 1;
  long none_before = 0;
  long many_before = 1;
  for (; i - r >= s; ++r) {
    const char d = dis[static_cast<std::size_t>(i - r)];
    if (d == 0) {
      ++none_before;
    } else if (d == 2) {
      ++many_before;
    } else {
      break;
    }
  }
  if (none_before == 0) return false;
  long none_after = 0;
  long many_after = 1;
  for (r = 1; i + r <= e; ++r) {
    const char d = dis[static_cast<std::size_t>(i + r)];
    if (d == 0) {
      ++none_after;
    } else if (d == 2) {
      ++many_after;
    } else {
      break;
    }
  }
  if (none_after == 0) return false;
  none_after += none_before;
  many_after += many_before;
  return many_after * kKeepRun < many_after + none_after;
}

// Lines that match nothing in the other file are changed at once; the
// others go to the search.
void set_aside(const Classes& classes, Records* a, int other_file) {
  long limit = rough_sqrt(a->count());
  if (limit > kMaxEqualLimit) limit = kMaxEqualLimit;
  std::vector<char> dis(static_cast<std::size_t>(a->count()) + 1, 0);
  for (long i = a->start; i <= a->end; ++i) {
    const long matches = classes.count(other_file, a->line_class[static_cast<std::size_t>(i)]);
    dis[static_cast<std::size_t>(i)] = matches == 0 ? 0 : matches >= limit ? 2 : 1;
  }
  for (long i = a->start; i <= a->end; ++i) {
    const char d = dis[static_cast<std::size_t>(i)];
    if (d == 1 || (d == 2 && !set_aside_common(dis, i, a->start, a->end))) {
      a->kept_index.push_back(i);
      a->kept_class.push_back(a->line_class[static_cast<std::size_t>(i)]);
    } else {
      a->changed[i] = 1;
    }
  }
}

struct Split {
  long i1 = 0;
  long i2 = 0;
  bool min_low = false;
  bool min_high = false;
};

struct Search {
  const long* h1;
  const long* h2;
  long* kf;  // furthest forward path per diagonal
  long* kb;  // furthest backward path per diagonal
  long max_cost;
};

// The middle snake of the box [off1, lim1) x [off2, lim2), or a good
// enough split when the search costs too much.
Split split_box(const Search& s, long off1, long lim1, long off2, long lim2, bool need_min) {
  const long* h1 = s.h1;
  const long* h2 = s.h2;
  long* kf = s.kf;
  long* kb = s.kb;
  const long dmin = off1 - lim2;
  const long dmax = lim1 - off2;
  const long fmid = off1 - off2;
  const long bmid = lim1 - lim2;
  const bool odd = ((fmid - bmid) & 1) != 0;
  long fmin = fmid, fmax = fmid, bmin = bmid, bmax = bmid;
  Split split;
  kf[fmid] = off1;
  kb[bmid] = lim1;
  for (long ec = 1;; ++ec) {
    bool got_snake = false;
    if (fmin > dmin) {
      kf[--fmin - 1] = -1;
    } else {
      ++fmin;
    }
    if (fmax < dmax) {
      kf[++fmax + 1] = -1;
    } else {
      --fmax;
    }
    for (long d = fmax; d >= fmin; d -= 2) {
      long i1 = kf[d - 1] >= kf[d + 1] ? kf[d - 1] + 1 : kf[d + 1];
      const long prev = i1;
      long i2 = i1 - d;
      while (i1 < lim1 && i2 < lim2 && h1[i1] == h2[i2]) {
        ++i1;
        ++i2;
      }
      if (i1 - prev > kSnakeCount) got_snake = true;
      kf[d] = i1;
      if (odd && bmin <= d && d <= bmax && kb[d] <= i1) {
        return Split{i1, i2, true, true};
      }
    }
    if (bmin > dmin) {
      kb[--bmin - 1] = kLineMax;
    } else {
      ++bmin;
    }
    if (bmax < dmax) {
      kb[++bmax + 1] = kLineMax;
    } else {
      --bmax;
    }
    for (long d = bmax; d >= bmin; d -= 2) {
      long i1 = kb[d - 1] < kb[d + 1] ? kb[d - 1] : kb[d + 1] - 1;
      const long prev = i1;
      long i2 = i1 - d;
      while (i1 > off1 && i2 > off2 && h1[i1 - 1] == h2[i2 - 1]) {
        --i1;
        --i2;
      }
      if (prev - i1 > kSnakeCount) got_snake = true;
      kb[d] = i1;
      if (!odd && fmin <= d && d <= fmax && i1 <= kf[d]) {
        return Split{i1, i2, true, true};
      }
    }
    if (need_min) continue;

    // Past the heuristic's cost, a diagonal far along with a good snake
    // behind (or ahead of) it is split on.
    if (got_snake && ec > kHeuristicMinCost) {
      long best = 0;
      for (long d = fmax; d >= fmin; d -= 2) {
        const long dd = d > fmid ? d - fmid : fmid - d;
        const long i1 = kf[d];
        const long i2 = i1 - d;
        const long v = (i1 - off1) + (i2 - off2) - dd;
        if (v > kHeuristicFactor * ec && v > best && off1 + kSnakeCount <= i1 && i1 < lim1 &&
            off2 + kSnakeCount <= i2 && i2 < lim2) {
          for (long k = 1; h1[i1 - k] == h2[i2 - k]; ++k) {
            if (k == kSnakeCount) {
              best = v;
              split.i1 = i1;
              split.i2 = i2;
              break;
            }
          }
        }
      }
      if (best > 0) {
        split.min_low = true;
        split.min_high = false;
        return split;
      }
      for (long d = bmax; d >= bmin; d -= 2) {
        const long dd = d > bmid ? d - bmid : bmid - d;
        const long i1 = kb[d];
        const long i2 = i1 - d;
        const long v = (lim1 - i1) + (lim2 - i2) - dd;
        if (v > kHeuristicFactor * ec && v > best && off1 < i1 && i1 <= lim1 - kSnakeCount &&
            off2 < i2 && i2 <= lim2 - kSnakeCount) {
          for (long k = 0; h1[i1 + k] == h2[i2 + k]; ++k) {
            if (k == kSnakeCount - 1) {
              best = v;
              split.i1 = i1;
              split.i2 = i2;
              break;
            }
          }
        }
      }
      if (best > 0) {
        split.min_low = false;
        split.min_high = true;
        return split;
      }
    }

    // Enough: the furthest-reaching path of either direction.
    if (ec >= s.max_cost) {
      long fbest = -1, fbest1 = -1;
      for (long d = fmax; d >= fmin; d -= 2) {
        long i1 = std::min(kf[d], lim1);
        long i2 = i1 - d;
        if (lim2 < i2) {
          i1 = lim2 + d;
          i2 = lim2;
        }
        if (fbest < i1 + i2) {
          fbest = i1 + i2;
          fbest1 = i1;
        }
      }
      long bbest = kLineMax, bbest1 = kLineMax;
      for (long d = bmax; d >= bmin; d -= 2) {
        long i1 = std::max(off1, kb[d]);
        long i2 = i1 - d;
        if (i2 < off2) {
          i1 = off2 + d;
          i2 = off2;
        }
        if (i1 + i2 < bbest) {
          bbest = i1 + i2;
          bbest1 = i1;
        }
      }
      if ((lim1 + lim2) - bbest < fbest - (off1 + off2)) {
        return Split{fbest1, fbest - fbest1, true, false};
      }
      return Split{bbest1, bbest - bbest1, false, true};
    }
  }
}

void compare_box(const Search& s, Records* a, long off1, long lim1, Records* b, long off2,
                 long lim2, bool need_min) {
  const long* h1 = s.h1;
  const long* h2 = s.h2;
  while (off1 < lim1 && off2 < lim2 && h1[off1] == h2[off2]) {
    ++off1;
    ++off2;
  }
  while (off1 < lim1 && off2 < lim2 && h1[lim1 - 1] == h2[lim2 - 1]) {
    --lim1;
    --lim2;
  }
  if (off1 == lim1) {
    for (; off2 < lim2; ++off2) b->changed[b->kept_index[static_cast<std::size_t>(off2)]] = 1;
  } else if (off2 == lim2) {
    for (; off1 < lim1; ++off1) a->changed[a->kept_index[static_cast<std::size_t>(off1)]] = 1;
  } else {
    const Split split = split_box(s, off1, lim1, off2, lim2, need_min);
    compare_box(s, a, off1, split.i1, b, off2, split.i2, split.min_low);
    compare_box(s, a, split.i1, lim1, b, split.i2, lim2, split.min_high);
  }
}

// A run of changed lines [start, end) of one file.
struct Group {
  long start = 0;
  long end = 0;
};

class Groups {
 public:
  explicit Groups(Records* r) : r_(r) {}
  Group first() const {
    Group g;
    while (r_->changed[g.end]) ++g.end;
    return g;
  }
  bool next(Group* g) const {
    if (g->end == r_->count()) return false;
    g->start = g->end + 1;
    for (g->end = g->start; r_->changed[g->end]; ++g->end) {
    }
    return true;
  }
  bool previous(Group* g) const {
    if (g->start == 0) return false;
    g->end = g->start - 1;
    for (g->start = g->end; r_->changed[g->start - 1]; --g->start) {
    }
    return true;
  }
  bool slide_down(Group* g) const {
    if (g->end < r_->count() && same(g->start, g->end)) {
      r_->changed[g->start++] = 0;
      r_->changed[g->end++] = 1;
      while (r_->changed[g->end]) ++g->end;
      return true;
    }
    return false;
  }
  bool slide_up(Group* g) const {
    if (g->start > 0 && same(g->start - 1, g->end - 1)) {
      r_->changed[--g->start] = 1;
      r_->changed[--g->end] = 0;
      while (r_->changed[g->start - 1]) --g->start;
      return true;
    }
    return false;
  }

 private:
  bool same(long i, long j) const {
    return r_->line_class[static_cast<std::size_t>(i)] ==
           r_->line_class[static_cast<std::size_t>(j)];
  }
  Records* r_;
};

// Slides each group of changes of `a` as far down as it goes, merging
// groups it meets, and back up to line up with a change of `b` where one
// can (git's compaction, without its indent heuristic).
void compact(Records* a, Records* b) {
  const Groups ga(a);
  const Groups gb(b);
  Group g = ga.first();
  Group go = gb.first();
  while (true) {
    if (g.end != g.start) {
      long earliest_end = 0;
      long end_matching_other = -1;
      long size = 0;
      do {
        size = g.end - g.start;
        end_matching_other = -1;
        while (ga.slide_up(&g)) gb.previous(&go);
        earliest_end = g.end;
        if (go.end > go.start) end_matching_other = g.end;
        while (ga.slide_down(&g)) {
          gb.next(&go);
          if (go.end > go.start) end_matching_other = g.end;
        }
      } while (size != g.end - g.start);
      if (g.end != earliest_end && end_matching_other != -1) {
        while (go.end == go.start) {
          ga.slide_up(&g);
          gb.previous(&go);
        }
      }
    }
    if (!ga.next(&g)) break;
    gb.next(&go);
  }
}

}  // namespace

std::vector<LineChange> diff_line_records(std::string_view old_text, std::string_view new_text) {
  Classes classes;
  Records a, b;
  classes.add(old_text, 0, &a);
  classes.add(new_text, 1, &b);
  cut_common_ends(&a, &b);
  set_aside(classes, &a, 1);
  set_aside(classes, &b, 0);

  const long n1 = static_cast<long>(a.kept_class.size());
  const long n2 = static_cast<long>(b.kept_class.size());
  const long diagonals = n1 + n2 + 3;
  std::vector<long> k(static_cast<std::size_t>(2 * diagonals + 2));
  long max_cost = rough_sqrt(diagonals);
  if (max_cost < kMaxCostMin) max_cost = kMaxCostMin;
  const Search search{a.kept_class.data(), b.kept_class.data(), k.data() + n2 + 1,
                      k.data() + diagonals + n2 + 1, max_cost};
  compare_box(search, &a, 0, n1, &b, 0, n2, false);
  compact(&a, &b);
  compact(&b, &a);

  std::vector<LineChange> changes;
  for (long i1 = a.count(), i2 = b.count(); i1 >= 0 || i2 >= 0; --i1, --i2) {
    if (a.changed[i1 - 1] || b.changed[i2 - 1]) {
      const long l1 = i1;
      const long l2 = i2;
      while (a.changed[i1 - 1]) --i1;
      while (b.changed[i2 - 1]) --i2;
      changes.push_back(LineChange{i1, l1 - i1, i2, l2 - i2});
    }
  }
  std::reverse(changes.begin(), changes.end());
  return changes;
}

}  // namespace tarnwickmerge
