#include "engine/settle.h"

#include <algorithm>
#include <cctype>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "engine/diff.h"
#include "engine/inline_diff.h"

namespace marlow {
namespace {

enum class Grain { words, characters };

bool is_word_byte(unsigned char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' ||
         c >= 0x80;
}

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\f' || c == '\v'; }

// The text cut into tokens whose concatenation is the text. Line ends
// ("\n", "\r\n") are tokens of their own, so that a change of lines is a
// change of tokens too. Words: runs of letters, digits, '_' and non-ASCII
// bytes; runs of blanks; any other byte alone. Characters: every UTF-8
// character alone.
std::vector<std::string_view> tokens(std::string_view text, Grain grain) {
  std::vector<std::string_view> out;
  std::size_t i = 0;
  while (i < text.size()) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    std::size_t end = i + 1;
    if (c == '\r' && end < text.size() && text[end] == '\n') {
      end = i + 2;
    } else if (grain == Grain::words && is_word_byte(c)) {
      while (end < text.size() && is_word_byte(static_cast<unsigned char>(text[end]))) ++end;
    } else if (grain == Grain::words && is_blank(static_cast<char>(c))) {
      while (end < text.size() && is_blank(text[end])) ++end;
    } else if (grain == Grain::characters && c >= 0xC0) {
      while (end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80 &&
             end - i < 4) {
        ++end;
      }
    }
    out.push_back(text.substr(i, end - i));
    i = end;
  }
  return out;
}

// Each token as a line naming its number, so that the line diff compares
// tokens; equal tokens get equal numbers across the three texts.
class TokenTable {
 public:
  std::vector<Line> lines(const std::vector<std::string_view>& toks) {
    std::vector<Line> out;
    out.reserve(toks.size());
    for (std::string_view t : toks) {
      auto [it, added] = ids_.try_emplace(t, ids_.size());
      out.push_back(Line{std::to_string(it->second), "\n"});
    }
    return out;
  }

 private:
  std::unordered_map<std::string_view, std::size_t> ids_;
};

// A three-way merge of token sequences. Changes of the two sides that
// overlap in the base conflict unless they are the same; changes that only
// meet (one ends where the other starts) conflict unless `touching`, and
// two insertions at one place always do, since nothing tells their order.
// With `separate_lines`, no line of the base may hold changes of both sides.
std::optional<std::string> merge_tokens(const std::string& base_text, const std::string& one_text,
                                        const std::string& other_text, Grain grain, bool touching,
                                        bool separate_lines) {
  const std::vector<std::string_view> base = tokens(base_text, grain);
  const std::vector<std::string_view> sides[2] = {tokens(one_text, grain),
                                                  tokens(other_text, grain)};
  TokenTable table;
  const std::vector<Line> base_lines = table.lines(base);
  struct Change {
    int side;
    Hunk hunk;
  };
  std::vector<Change> changes;
  for (int s = 0; s < 2; ++s) {
    for (const Hunk& h : diff_lines(base_lines, table.lines(sides[s]))) changes.push_back({s, h});
  }
  std::stable_sort(changes.begin(), changes.end(), [](const Change& a, const Change& b) {
    return a.hunk.base_start < b.hunk.base_start;
  });

  if (separate_lines) {
    // line[k]: the base line of token k (a line end belongs to its line).
    std::vector<std::size_t> line(base.size() + 1, 0);
    for (std::size_t k = 0; k < base.size(); ++k) {
      const bool ends = base[k] == "\n" || base[k] == "\r\n";
      line[k + 1] = line[k] + (ends ? 1 : 0);
    }
    std::vector<std::vector<bool>> touched(2, std::vector<bool>(line.back() + 2, false));
    for (const Change& c : changes) {
      const Hunk& h = c.hunk;
      std::size_t first = line[h.base_start];
      std::size_t last = h.base_count > 0 ? line[h.base_start + h.base_count - 1] : first;
      // An insertion after a line's text (not after its line end) is in that line.
      if (h.base_count == 0 && h.base_start > 0 && line[h.base_start - 1] == first) {
        first = line[h.base_start - 1];
      }
      for (std::size_t l = first; l <= last; ++l)
        touched[static_cast<std::size_t>(c.side)][l] = true;
    }
    for (std::size_t l = 0; l < touched[0].size(); ++l) {
      if (touched[0][l] && touched[1][l]) return std::nullopt;
    }
  }

  std::string out;
  std::size_t pos = 0;
  long long delta[2] = {0, 0};  // how far each side has moved against the base
  const auto append = [&](const std::vector<std::string_view>& toks, std::size_t from,
                          std::size_t to) {
    for (std::size_t k = from; k < to; ++k) out.append(toks[k]);
  };
  for (std::size_t i = 0; i < changes.size();) {
    const std::size_t from = changes[i].hunk.base_start;
    std::size_t to = from + changes[i].hunk.base_count;
    bool insertion_at_end = false;  // some change of the group inserts at `to`
    bool changed[2] = {false, false};
    long long group_delta[2] = {0, 0};
    std::size_t j = i;
    for (; j < changes.size(); ++j) {
      const Hunk& h = changes[j].hunk;
      const bool joins =
          h.base_start < to ||
          (h.base_start == to && (!touching || insertion_at_end || h.base_count == 0));
      if (j > i && !joins) break;
      const std::size_t end = h.base_start + h.base_count;
      if (j == i || end > to) {
        insertion_at_end = h.base_count == 0;
      } else if (end == to && h.base_count == 0) {
        insertion_at_end = true;
      }
      to = std::max(to, end);
      changed[changes[j].side] = true;
      group_delta[changes[j].side] +=
          static_cast<long long>(h.other_count) - static_cast<long long>(h.base_count);
    }
    append(base, pos, from);
    std::string versions[2];
    for (int s = 0; s < 2; ++s) {
      if (!changed[s]) continue;
      const long long begin = static_cast<long long>(from) + delta[s];
      const long long finish = static_cast<long long>(to) + delta[s] + group_delta[s];
      for (long long k = begin; k < finish; ++k)
        versions[s].append(sides[s][static_cast<std::size_t>(k)]);
    }
    if (changed[0] && changed[1] && versions[0] != versions[1]) return std::nullopt;
    out += changed[0] ? versions[0] : versions[1];
    for (int s = 0; s < 2; ++s) delta[s] += group_delta[s];
    pos = to;
    i = j;
  }
  append(base, pos, base.size());
  return out;
}

// The text without blanks and line ends.
std::string without_space(const std::vector<Line>& lines) {
  std::string out;
  for (const Line& line : lines) {
    for (char c : line.text) {
      if (!is_blank(c) && c != '\r') out += c;
    }
  }
  return out;
}

// `one` changed only spaces and line ends, `other` changed the content:
// the content change wins. When `one` changed nothing but line ends, all to
// one kind, the result takes that kind.
// With `line_for_line`, `one` must keep every line, changing only its blanks
// (text rewrapped to other lines is not a change of blanks alone).
std::optional<std::vector<Line>> content_over_space(const std::vector<Line>& base,
                                                    const std::vector<Line>& one,
                                                    const std::vector<Line>& other,
                                                    bool line_for_line) {
  const std::string bare = without_space(base);
  if (without_space(one) != bare || without_space(other) == bare) return std::nullopt;
  if (line_for_line) {
    if (one.size() != base.size()) return std::nullopt;
    for (std::size_t i = 0; i < one.size(); ++i) {
      if (without_space({one[i]}) != without_space({base[i]})) return std::nullopt;
    }
  }
  std::vector<Line> out = other;
  const bool same_texts = one.size() == base.size() &&
                          std::equal(one.begin(), one.end(), base.begin(),
                                     [](const Line& a, const Line& b) { return a.text == b.text; });
  if (!same_texts) return out;
  std::string eol;
  for (const Line& line : one) {
    if (line.eol.empty()) continue;
    if (!eol.empty() && eol != line.eol) return std::nullopt;
    eol = line.eol;
  }
  for (Line& line : out) {
    if (!line.eol.empty() && !eol.empty()) line.eol = eol;
  }
  return out;
}

bool has_alnum(const std::string& text) {
  return std::any_of(text.begin(), text.end(),
                     [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; });
}

// The text without blanks at its ends.
std::string trimmed(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return std::string();
  return std::string(text.substr(first, text.find_last_not_of(" \t\r") - first + 1));
}

// Whether the change from `base` to `changed` is already in `target`: some
// line it adds has a letter or digit, every line it adds is a line of
// `target`, and no line it removes is (lines compared without their
// surrounding blanks; a last line without a line end differs from one with).
bool change_is_in(const std::vector<Line>& base, const std::vector<Line>& changed,
                  const std::vector<Line>& target) {
  std::unordered_set<std::string> lines;
  for (const Line& line : target) lines.insert(trimmed(line.text) + (line.eol.empty() ? "\n" : ""));
  bool adds_something = false;
  for (const Hunk& h : diff_lines(base, changed)) {
    for (std::size_t k = 0; k < h.other_count; ++k) {
      const Line& line = changed[h.other_start + k];
      const std::string t = trimmed(line.text);
      if (!lines.count(t + (line.eol.empty() ? "\n" : ""))) return false;
      adds_something = adds_something || has_alnum(t);
    }
    for (std::size_t k = 0; k < h.base_count; ++k) {
      const std::string t = trimmed(base[h.base_start + k].text);
      if (has_alnum(t) && lines.count(t)) return false;
    }
  }
  return adds_something;
}

// A version number in a text: "1.2", "v0.22.7", "11.x-dev", "0.11.4.dev".
struct Version {
  std::vector<long long> parts;  // "x" counts as above any number
  bool pre_release = false;      // a suffix: "-dev", ".rc1", "b2", "-rc.1"
  std::string text;              // as written
};

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// The text with every version number replaced by a NUL byte, and the
// version numbers in order.
std::string mask_versions(std::string_view text, std::vector<Version>* versions) {
  std::string out;
  std::size_t i = 0;
  while (i < text.size()) {
    std::size_t at = i;
    const bool word_before = i > 0 && is_word_byte(static_cast<unsigned char>(text[i - 1]));
    if (!word_before && (text[at] == 'v' || text[at] == 'V') && at + 1 < text.size() &&
        is_digit(text[at + 1])) {
      ++at;
    }
    if (word_before || at >= text.size() || !is_digit(text[at])) {
      out += text[i++];
      continue;
    }
    Version v;
    std::size_t end = at;
    while (true) {
      if (end < text.size() && is_digit(text[end])) {
        long long n = 0;
        while (end < text.size() && is_digit(text[end])) {
          n = std::min<long long>(n * 10 + (text[end] - '0'), 1LL << 40);
          ++end;
        }
        v.parts.push_back(n);
      } else if (end < text.size() && text[end] == 'x' && !v.parts.empty()) {
        v.parts.push_back(1LL << 50);
        ++end;
      } else {
        break;
      }
      if (end + 1 < text.size() && text[end] == '.' &&
          (is_digit(text[end + 1]) || text[end + 1] == 'x')) {
        ++end;
      } else {
        break;
      }
    }
    if (v.parts.size() < 2) {
      out.append(text, i, end - i);
      i = end;
      continue;
    }
    // A pre-release suffix: [-.]letters[digits...], or letters right after.
    std::size_t suffix = end;
    if (suffix < text.size() && (text[suffix] == '-' || text[suffix] == '.')) ++suffix;
    if (suffix < text.size() && is_letter(text[suffix])) {
      while (suffix < text.size() && (is_letter(text[suffix]) || is_digit(text[suffix]))) ++suffix;
      // Its number after a dot: "-rc.1", "-beta.0".
      while (suffix + 1 < text.size() && text[suffix] == '.' && is_digit(text[suffix + 1])) {
        ++suffix;
        while (suffix < text.size() && is_digit(text[suffix])) ++suffix;
      }
      v.pre_release = true;
      end = suffix;
    }
    if (end < text.size() && is_word_byte(static_cast<unsigned char>(text[end]))) {
      out.append(text, i, end - i);  // part of a longer word
      i = end;
      continue;
    }
    v.text = text.substr(at, end - at);
    versions->push_back(v);
    out += '\0';
    i = end;
  }
  return out;
}

// -1, 0 or 1 as a is below, the same as or above b.
int compare_versions(const Version& a, const Version& b) {
  const std::size_t n = std::max(a.parts.size(), b.parts.size());
  for (std::size_t k = 0; k < n; ++k) {
    const long long x = k < a.parts.size() ? a.parts[k] : 0;
    const long long y = k < b.parts.size() ? b.parts[k] : 0;
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.pre_release != b.pre_release) return a.pre_release ? -1 : 1;
  return 0;
}

// Both sides changed the same version numbers and nothing else, line for
// line: each line keeps its higher versions. In a line, every version both
// sides moved away from the base must be higher on the same side, and no
// line may change other text. (Merging other changes around such lines, too, settles more
// conflicts but about as many wrongly: changelogs, whose release headings
// both sides rewrite.)
std::optional<std::vector<Line>> higher_versions(const std::vector<Line>& base,
                                                 const std::vector<Line>& one,
                                                 const std::vector<Line>& other) {
  if (one.size() != other.size() || one.size() != base.size()) return std::nullopt;
  std::vector<Line> out;
  bool any = false;
  for (std::size_t i = 0; i < one.size(); ++i) {
    if (one[i].eol != other[i].eol) return std::nullopt;
    if (one[i].text == other[i].text) {
      out.push_back(one[i]);
      continue;
    }
    std::vector<Version> vb, v1, v2;
    const std::string mb = mask_versions(base[i].text, &vb);
    const std::string m1 = mask_versions(one[i].text, &v1);
    const std::string m2 = mask_versions(other[i].text, &v2);
    if (m1 != m2 || m1 != mb || v1.size() != v2.size()) return std::nullopt;
    int direction = 0;
    for (std::size_t k = 0; k < v1.size(); ++k) {
      const int c = compare_versions(v1[k], v2[k]);
      if (c == 0 && v1[k].text != v2[k].text)
        return std::nullopt;  // two pre-releases of one version
      if (c == 0) continue;
      // Each side moved this version away from the base.
      if (compare_versions(v1[k], vb[k]) == 0 || compare_versions(v2[k], vb[k]) == 0) {
        return std::nullopt;
      }
      if (direction != 0 && c != direction) return std::nullopt;
      direction = c;
    }
    if (direction == 0) return std::nullopt;
    out.push_back(direction > 0 ? one[i] : other[i]);
    any = true;
  }
  if (!any) return std::nullopt;
  return out;
}

// The lines of a list of versioned things (dependencies, say): merged
// with their version numbers left out, which must be clean and where every
// line added or removed names a version; lines both sides changed keep the
// higher versions. (Without the last condition, changelogs, whose release
// headings both sides rewrite, settle wrongly about as often as right.)
std::optional<std::vector<Line>> higher_versions_in_lists(const std::vector<Line>& base,
                                                          const std::vector<Line>& one,
                                                          const std::vector<Line>& other) {
  std::vector<Line> masked[3];
  const std::vector<Line>* texts[3] = {&base, &one, &other};
  for (std::size_t t = 0; t < 3; ++t) {
    for (const Line& line : *texts[t]) {
      std::vector<Version> versions;
      masked[t].push_back(Line{mask_versions(line.text, &versions), line.eol});
    }
  }
  const MergePlan plan = plan_merge({masked[0], masked[1], masked[2]}, SettleOptions::none());
  if (plan.conflicts != 0) return std::nullopt;
  const auto versioned = [](const std::vector<Line>& lines) {
    return std::all_of(lines.begin(), lines.end(),
                       [](const Line& line) { return line.text.find('\0') != std::string::npos; });
  };
  std::vector<Line> out;
  bool raised = false;
  for (const Region& region : plan.regions) {
    if (region.kind == RegionKind::common) {
      for (std::size_t k = 0; k < region.sides[0].size(); ++k) {
        const Line& b = base[region.starts[0] + k];
        const Line& o1 = one[region.starts[1] + k];
        const Line& o2 = other[region.starts[2] + k];
        if (o1 == o2 || o2 == b) {
          out.push_back(o1);
          continue;
        }
        if (o1 == b) {
          out.push_back(o2);
          continue;
        }
        std::optional<std::vector<Line>> line = higher_versions({b}, {o1}, {o2});
        if (!line) return std::nullopt;
        out.push_back(line->front());
        raised = true;
      }
      continue;
    }
    for (std::size_t t = 0; t < 3; ++t) {
      if (!versioned(region.sides[t])) return std::nullopt;
    }
    // A change of one side: the other left those lines exactly as they were.
    const std::size_t changer = region.changed_by[1] ? 1 : 2;
    const std::size_t still = 3 - changer;
    const auto lines_of = [&](std::size_t t) {
      const auto from = texts[t]->begin() + static_cast<std::ptrdiff_t>(region.starts[t]);
      return std::vector<Line>(from, from + static_cast<std::ptrdiff_t>(region.sides[t].size()));
    };
    const std::vector<Line> changed = lines_of(changer);
    if (region.changed_by[still] ? lines_of(still) != changed : lines_of(still) != lines_of(0)) {
      return std::nullopt;
    }
    out.insert(out.end(), changed.begin(), changed.end());
  }
  if (!raised) return std::nullopt;
  return out;
}

// The first version number of a line and the text before it with digits
// made '0' (so that "## 2.1 / 2024-05-03" and "## 2.2 / 2024-06-11" have
// one shape); nullopt for a line without a version.
struct Heading {
  std::string shape;
  Version version;
};

std::optional<Heading> heading_of(const Line& line) {
  std::vector<Version> versions;
  const std::string masked = mask_versions(line.text, &versions);
  if (versions.empty()) return std::nullopt;
  Heading h{masked.substr(0, masked.find('\0')), versions.front()};
  for (char& c : h.shape) {
    if (is_digit(c)) c = '0';
  }
  return h;
}

bool is_blank_line(const Line& line) {
  return std::all_of(line.text.begin(), line.text.end(),
                     [](char c) { return is_blank(c) || c == '\r'; });
}

// Blank lines at the start and at the end of an added block.
std::pair<std::size_t, std::size_t> blank_edges(const std::vector<Line>& lines) {
  std::size_t head = 0;
  while (head < lines.size() && is_blank_line(lines[head])) ++head;
  std::size_t tail = 0;
  while (tail < lines.size() - head && is_blank_line(lines[lines.size() - 1 - tail])) ++tail;
  return {head, tail};
}

// Both sides added a block at one place of a list of releases (a changelog's
// sections, its version links), each block starting with a line that names
// its version: both blocks stay, the newer release first, as the list
// already runs. Only where the first versioned line after the place has the
// same shape and an older version than both (the list runs newest first),
// the two blocks share no line with a letter or digit (they are not two
// drafts of one section) and have as many blank lines at their edges (the
// separators stay as they were).
std::optional<std::vector<Line>> both_releases(const std::vector<Line>& base,
                                               const std::vector<Line>& one,
                                               const std::vector<Line>& other,
                                               const std::vector<Line>& after) {
  if (!base.empty() || one.empty() || other.empty()) return std::nullopt;
  const std::optional<Heading> h1 = heading_of(one.front());
  const std::optional<Heading> h2 = heading_of(other.front());
  if (!h1 || !h2 || h1->shape != h2->shape) return std::nullopt;
  const int order = compare_versions(h1->version, h2->version);
  if (order == 0) return std::nullopt;
  std::optional<Heading> older;
  for (const Line& line : after) {
    if ((older = heading_of(line))) break;
  }
  if (!older || older->shape != h1->shape || compare_versions(older->version, h1->version) >= 0 ||
      compare_versions(older->version, h2->version) >= 0) {
    return std::nullopt;
  }
  if (blank_edges(one) != blank_edges(other)) return std::nullopt;
  std::unordered_set<std::string> lines_of_one;
  for (const Line& line : one) lines_of_one.insert(trimmed(line.text));
  for (const Line& line : other) {
    const std::string t = trimmed(line.text);
    if (has_alnum(t) && lines_of_one.count(t)) return std::nullopt;
  }
  std::vector<Line> out = order > 0 ? one : other;
  const std::vector<Line>& older_block = order > 0 ? other : one;
  out.insert(out.end(), older_block.begin(), older_block.end());
  return out;
}

// Whether `changed` differs from `base` only in version numbers, line for
// line (and in at least one).
bool only_versions_changed(const std::vector<Line>& base, const std::vector<Line>& changed) {
  if (base.size() != changed.size() || base == changed) return false;
  for (std::size_t i = 0; i < base.size(); ++i) {
    if (base[i] == changed[i]) continue;
    if (base[i].eol != changed[i].eol) return false;
    std::vector<Version> vb, vc;
    if (mask_versions(base[i].text, &vb) != mask_versions(changed[i].text, &vc)) return false;
  }
  return true;
}

}  // namespace

std::optional<Settlement> settle_conflict(const std::vector<Line>& base,
                                          const std::vector<Line>& one,
                                          const std::vector<Line>& other,
                                          const SettleOptions& options,
                                          const std::vector<Line>& after) {
  if (options.releases) {
    if (auto lines = both_releases(base, one, other, after)) {
      return Settlement{SettleRule::releases, std::move(*lines)};
    }
  }
  if (options.whitespace) {
    if (auto lines = content_over_space(base, one, other, options.whitespace_lines)) {
      return Settlement{SettleRule::whitespace, std::move(*lines)};
    }
    if (auto lines = content_over_space(base, other, one, options.whitespace_lines)) {
      return Settlement{SettleRule::whitespace, std::move(*lines)};
    }
  }
  if (options.versions) {
    if (auto lines = higher_versions(base, one, other)) {
      return Settlement{SettleRule::versions, std::move(*lines)};
    }
    if (options.version_lists) {
      if (auto lines = higher_versions_in_lists(base, one, other)) {
        return Settlement{SettleRule::versions, std::move(*lines)};
      }
    }
  }
  if (options.bump) {
    const bool one_bumps = only_versions_changed(base, one);
    const bool other_bumps = only_versions_changed(base, other);
    if (one_bumps != other_bumps) return Settlement{SettleRule::bump, one_bumps ? other : one};
  }
  if (options.deletion && one.empty() != other.empty() && !base.empty()) {
    return Settlement{SettleRule::deletion, {}};
  }
  if (options.contained) {
    const bool one_has_other = change_is_in(base, other, one);
    const bool other_has_one = change_is_in(base, one, other);
    if (one_has_other != other_has_one) {
      return Settlement{SettleRule::contained, one_has_other ? one : other};
    }
  }
  if (!options.words && !options.touching && !options.characters) return std::nullopt;
  const std::string b = join_lines(base);
  const std::string o1 = join_lines(one);
  const std::string o2 = join_lines(other);
  const auto attempt = [&](Grain grain, bool touching) -> std::optional<std::vector<Line>> {
    std::optional<std::string> merged =
        merge_tokens(b, o1, o2, grain, touching, options.separate_lines);
    if (!merged) return std::nullopt;
    return split_lines(*merged);
  };
  if (options.words) {
    if (auto lines = attempt(Grain::words, false)) return Settlement{SettleRule::words, *lines};
  }
  if (options.touching) {
    if (auto lines = attempt(Grain::words, true)) return Settlement{SettleRule::touching, *lines};
  }
  if (options.characters) {
    if (auto lines = attempt(Grain::characters, options.touching)) {
      return Settlement{SettleRule::characters, *lines};
    }
  }
  return std::nullopt;
}

}  // namespace marlow
