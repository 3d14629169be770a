#include "engine/directory_compare.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <system_error>

#include "engine/file_kind.h"
#include "engine/utf8_path.h"

namespace marlow {
namespace fs = std::filesystem;
namespace {

// What `path` holds now, following links: absent unless a regular file.
FileFacts facts_of(const fs::path& path) {
  FileFacts facts;
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) return facts;
  facts.present = true;
  facts.size = fs::file_size(path, ec);
  if (ec) facts.size = 0;
  const fs::file_time_type written = fs::last_write_time(path, ec);
  if (!ec) {
    const auto since_epoch = std::chrono::file_clock::to_sys(written).time_since_epoch();
    facts.modified_ns = std::chrono::duration_cast<std::chrono::nanoseconds>(since_epoch).count();
  }
  return facts;
}

// Relative path -> full path of every regular file under `root`, and of
// every symbolic link to one. The relative path is the entry's own, taken
// apart lexically: resolving links would name a linked file by where its
// target lies (git difftool -d links to the working tree's files).
std::map<std::string, fs::path> files_under(const std::string& root, const NameFilter& filter) {
  std::map<std::string, fs::path> files;
  std::error_code ec;
  const fs::path top = utf8_path(root).lexically_normal();
  fs::recursive_directory_iterator it(top, fs::directory_options::skip_permission_denied, ec);
  for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    std::error_code type_ec;
    const std::string relative = utf8_name(it->path().lexically_relative(top));
    if (it->is_directory(type_ec)) {
      // An excluded folder is not read at all: a build folder may hold many
      // large files that no one wants compared.
      if (filter.excludes_folder(relative)) it.disable_recursion_pending();
      continue;
    }
    if (!it->is_regular_file(type_ec) || filter.excludes_file(relative)) continue;
    files.emplace(relative, it->path());
  }
  return files;
}

// Which sides hold the same bytes, with absence as one more content: two
// sides without the file are alike. Only files that share their size with
// another side are read, each once, all of them together block by block,
// until no pair is left open; what was read of a file says whether it is
// text or binary.
using Sameness = std::array<std::array<bool, DirectoryEntry::kMaxSides>, DirectoryEntry::kMaxSides>;

Sameness compare_sides(const fs::path* paths, FileFacts* facts, const bool* gone,
                       std::size_t sides) {
  Sameness alike{};
  // open[i][j]: sides i and j may still hold the same bytes.
  Sameness open{};
  for (std::size_t i = 0; i < sides; ++i) {
    alike[i][i] = true;
    // An empty file is text without a read.
    if (facts[i].present && facts[i].size == 0) facts[i].content = Content::text;
    for (std::size_t j = i + 1; j < sides; ++j) {
      if (!facts[i].present || !facts[j].present) {
        alike[i][j] = !facts[i].present && !facts[j].present;
      } else if (facts[i].size == facts[j].size && !gone[i] && !gone[j]) {
        alike[i][j] = facts[i].size == 0;
        open[i][j] = facts[i].size != 0;
      }
    }
  }
  std::array<std::ifstream, DirectoryEntry::kMaxSides> in;
  std::array<std::vector<char>, DirectoryEntry::kMaxSides> buffer;
  std::array<std::streamsize, DirectoryEntry::kMaxSides> got{};
  const auto wanted = [&](std::size_t i) {
    for (std::size_t j = 0; j < sides; ++j) {
      if (open[std::min(i, j)][std::max(i, j)]) return true;
    }
    return false;
  };
  const auto close_pairs = [&](std::size_t i) {
    for (std::size_t j = 0; j < sides; ++j) open[std::min(i, j)][std::max(i, j)] = false;
  };
  for (std::size_t i = 0; i < sides; ++i) {
    if (!wanted(i)) continue;
    in[i].open(paths[i], std::ios::binary);
    // A file that cannot be read is like no other.
    if (!in[i]) close_pairs(i);
    buffer[i].resize(1 << 16);
  }
  bool first = true;
  for (;;) {
    bool any = false;
    for (std::size_t i = 0; i < sides; ++i) {
      got[i] = 0;
      if (!wanted(i)) continue;
      any = true;
      in[i].read(buffer[i].data(), static_cast<std::streamsize>(buffer[i].size()));
      got[i] = in[i].gcount();
      if (in[i].bad()) close_pairs(i);
      if (first) {
        facts[i].content =
            is_binary(std::string_view(buffer[i].data(), static_cast<std::size_t>(got[i])))
                ? Content::binary
                : Content::text;
      }
    }
    first = false;
    if (!any) break;
    bool more = false;
    for (std::size_t i = 0; i < sides; ++i) {
      for (std::size_t j = i + 1; j < sides; ++j) {
        if (!open[i][j]) continue;
        if (got[i] == 0 && got[j] == 0 && in[i].eof() && in[j].eof()) {
          alike[i][j] = true;  // both ended together, every block equal
          open[i][j] = false;
        } else if (got[i] != got[j] ||
                   !std::equal(buffer[i].begin(), buffer[i].begin() + got[i], buffer[j].begin())) {
          open[i][j] = false;
        } else {
          more = true;
        }
      }
    }
    if (!more) break;
  }
  return alike;
}

// The state of the sides' facts, reading the bytes where sizes leave it open.
DirectoryEntry::State state_of(const fs::path* paths, FileFacts* facts, const bool* gone,
                               std::size_t sides) {
  using State = DirectoryEntry::State;
  const Sameness alike = compare_sides(paths, facts, gone, sides);
  if (sides == 2) {
    if (!facts[1].present) return State::only_left;
    if (!facts[0].present) return State::only_right;
    return alike[0][1] ? State::identical : State::different;
  }
  if (alike[0][1] && alike[0][2]) return State::identical;
  if (alike[1][2]) return State::first_differs;
  if (alike[0][2]) return State::second_differs;
  if (alike[0][1]) return State::third_differs;
  return State::all_differ;
}

// A glob split into what it matches one by one.
enum class Token : char { literal, any_in_part, any, any_folders, one };

struct Glob {
  std::vector<Token> tokens;
  std::string literals;  // the character of each token (for literals)
};

Glob parse_glob(std::string_view glob) {
  Glob parsed;
  for (std::size_t i = 0; i < glob.size(); ++i) {
    Token token = Token::literal;
    if (glob[i] == '?') {
      token = Token::one;
    } else if (glob[i] == '*') {
      token = Token::any_in_part;
      if (i + 1 < glob.size() && glob[i + 1] == '*') {
        ++i;
        token = Token::any;
        // "**/" also stands for no folder at all: "**/x" matches "x".
        if (i + 1 < glob.size() && glob[i + 1] == '/') {
          ++i;
          token = Token::any_folders;
        }
      }
    }
    parsed.tokens.push_back(token);
    parsed.literals.push_back(glob[i]);
  }
  return parsed;
}

// The length of the UTF-8 character at `text[i]` ('?' stands for a
// character, not a byte).
std::size_t character_length(std::string_view text, std::size_t i) {
  std::size_t length = 1;
  while (i + length < text.size() && (static_cast<unsigned char>(text[i + length]) & 0xC0) == 0x80)
    ++length;
  return length;
}

// Dynamic programming over (token, position), so that many stars never
// take exponential time.
bool matches(const Glob& glob, std::string_view text) {
  const std::size_t n = text.size();
  const std::size_t width = n + 1;
  // reach[t * width + i]: the first t tokens can match text[0, i).
  std::vector<char> reach((glob.tokens.size() + 1) * width, 0);
  reach[0] = 1;
  for (std::size_t t = 0; t < glob.tokens.size(); ++t) {
    const char* from = &reach[t * width];
    char* to = &reach[(t + 1) * width];
    for (std::size_t i = 0; i <= n; ++i) {
      if (!from[i]) continue;
      switch (glob.tokens[t]) {
        case Token::literal:
          if (i < n && text[i] == glob.literals[t]) to[i + 1] = 1;
          break;
        case Token::one:
          if (i < n && text[i] != '/') to[i + character_length(text, i)] = 1;
          break;
        case Token::any_in_part:
          for (std::size_t k = i;; ++k) {
            to[k] = 1;
            if (k == n || text[k] == '/') break;
          }
          break;
        case Token::any:
          for (std::size_t k = i; k <= n; ++k) to[k] = 1;
          break;
        case Token::any_folders:
          to[i] = 1;
          for (std::size_t k = i; k < n; ++k) {
            if (text[k] == '/') to[k + 1] = 1;
          }
          break;
      }
    }
  }
  return reach[glob.tokens.size() * width + n] != 0;
}

std::string_view trimmed(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

// The folders and files of the entries before the state filter.
struct Folder {
  std::map<std::string, Folder> folders;
  std::map<std::string, std::size_t> files;
  std::array<std::size_t, DirectoryEntry::kStates> counts{};
};

DirectoryEntry::State summary(const std::array<std::size_t, DirectoryEntry::kStates>& counts) {
  using State = DirectoryEntry::State;
  std::size_t total = 0;
  bool three = false;
  for (std::size_t state = 0; state < counts.size(); ++state) {
    total += counts[state];
    three = three || (counts[state] != 0 && is_three_way(static_cast<State>(state)));
  }
  if (!three) {
    for (const State whole : {State::identical, State::only_left, State::only_right}) {
      if (counts[static_cast<std::size_t>(whole)] == total) return whole;
    }
    return State::different;
  }
  // Of three: the one kind of change under the folder, or a mixture.
  const std::size_t changed = total - counts[static_cast<std::size_t>(State::identical)];
  for (const State one : {State::first_differs, State::second_differs, State::third_differs}) {
    if (counts[static_cast<std::size_t>(one)] == changed) return one;
  }
  return State::all_differ;
}

DirectoryNode shown_node(const Folder& folder, std::string name, std::string path,
                         const std::vector<DirectoryEntry>& entries, const StateFilter& filter) {
  DirectoryNode node;
  node.folder = true;
  node.counts = folder.counts;
  node.state = summary(folder.counts);
  for (const auto& [child_name, child] : folder.folders) {
    DirectoryNode shown = shown_node(
        child, child_name, path.empty() ? child_name : path + "/" + child_name, entries, filter);
    if (!shown.children.empty()) node.children.push_back(std::move(shown));
  }
  for (const auto& [file_name, index] : folder.files) {
    const DirectoryEntry& entry = entries[index];
    if (!filter.shows(entry.state)) continue;
    DirectoryNode file;
    file.name = file_name;
    file.path = entry.path;
    file.state = entry.state;
    file.entry = index;
    file.counts[static_cast<std::size_t>(entry.state)] = 1;
    node.children.push_back(std::move(file));
  }
  node.name = std::move(name);
  node.path = std::move(path);
  return node;
}

// Whether a relative path stays under the root it is joined to.
bool stays_inside(const fs::path& relative) {
  if (relative.empty() || relative.has_root_path()) return false;
  return std::none_of(relative.begin(), relative.end(),
                      [](const fs::path& part) { return part == ".." || part == "."; });
}

}  // namespace

NameFilter::NameFilter(std::string_view patterns) {
  while (!patterns.empty()) {
    const std::size_t end = std::min(patterns.find(';'), patterns.size());
    std::string_view one = trimmed(patterns.substr(0, end));
    patterns.remove_prefix(std::min(end + 1, patterns.size()));
    Pattern pattern;
    while (!one.empty() && one.back() == '/') {
      pattern.folders_only = true;
      one.remove_suffix(1);
    }
    if (!one.empty() && one.front() == '/') {
      pattern.whole_path = true;
      one.remove_prefix(1);
    }
    if (one.empty()) continue;
    pattern.whole_path = pattern.whole_path || one.find('/') != std::string_view::npos;
    pattern.glob = std::string(one);
    patterns_.push_back(std::move(pattern));
  }
}

bool NameFilter::excludes(std::string_view path, bool folder) const {
  const std::size_t slash = path.rfind('/');
  const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  for (const Pattern& pattern : patterns_) {
    if (pattern.folders_only && !folder) continue;
    if (glob_matches(pattern.glob, pattern.whole_path ? path : name)) return true;
  }
  return false;
}

bool NameFilter::excludes_file(std::string_view path) const { return excludes(path, false); }

bool NameFilter::excludes_folder(std::string_view path) const { return excludes(path, true); }

bool glob_matches(std::string_view glob, std::string_view text) {
  return matches(parse_glob(glob), text);
}

std::vector<DirectoryEntry> compare_directories(const std::string& left, const std::string& right,
                                                const NameFilter& filter) {
  return compare_directories(std::vector<std::string>{left, right}, filter);
}

std::vector<DirectoryEntry> compare_directories(const std::vector<std::string>& roots,
                                                const NameFilter& filter) {
  std::vector<DirectoryEntry> entries;
  const std::size_t sides = roots.size();
  if (sides < 2 || sides > DirectoryEntry::kMaxSides) return entries;
  // Relative path -> the full path on each side that has it.
  std::map<std::string, std::array<fs::path, DirectoryEntry::kMaxSides>> merged;
  for (std::size_t side = 0; side < sides; ++side) {
    for (auto& [relative, path] : files_under(roots[side], filter)) {
      merged[relative][side] = std::move(path);
    }
  }
  entries.reserve(merged.size());
  for (const auto& [relative, paths] : merged) {
    DirectoryEntry entry;
    entry.path = relative;
    entry.sides = sides;
    std::array<FileFacts, DirectoryEntry::kMaxSides> facts{};
    std::array<bool, DirectoryEntry::kMaxSides> gone{};
    for (std::size_t side = 0; side < sides; ++side) {
      if (paths[side].empty()) continue;
      facts[side] = facts_of(paths[side]);
      // A file that went between the listing and now is still listed where
      // it was found, as there, and is like no other side.
      gone[side] = !facts[side].present;
      facts[side].present = true;
    }
    entry.state = state_of(paths.data(), facts.data(), gone.data(), sides);
    for (std::size_t side = 0; side < sides; ++side) entry.side(side) = facts[side];
    entries.push_back(std::move(entry));
  }
  return entries;
}

bool is_three_way(DirectoryEntry::State state) {
  return static_cast<std::size_t>(state) >=
         static_cast<std::size_t>(DirectoryEntry::State::first_differs);
}

std::string state_name(const DirectoryEntry& entry) {
  using State = DirectoryEntry::State;
  const bool base = entry.left.present;
  const bool a = entry.right.present;
  const bool b = entry.third.present;
  switch (entry.state) {
    case State::only_left:
      return "only left";
    case State::only_right:
      return "only right";
    case State::identical:
      return "identical";
    case State::different:
      return "different";
    case State::first_differs:
      if (!base) return "added in both";
      if (!a) return "deleted in both";
      return "same change in both";
    case State::second_differs:
      if (!base) return "added in A";
      if (!a) return "deleted in A";
      return "changed in A";
    case State::third_differs:
      if (!base) return "added in B";
      if (!b) return "deleted in B";
      return "changed in B";
    case State::all_differ:
      if (!base) return "added in both (differently)";
      if (!a) return "deleted in A, changed in B";
      if (!b) return "changed in A, deleted in B";
      return "changed in both (differently)";
  }
  return std::string();
}

std::string folder_state_name(DirectoryEntry::State state) {
  using State = DirectoryEntry::State;
  switch (state) {
    case State::first_differs:
      return "same change in both";
    case State::second_differs:
      return "changed in A";
    case State::third_differs:
      return "changed in B";
    case State::all_differ:
      return "changed in both";
    default:
      break;
  }
  DirectoryEntry entry;
  entry.state = state;
  return state_name(entry);
}

bool is_directory(const std::string& path) {
  std::error_code ec;
  return fs::is_directory(utf8_path(path), ec);
}

DirectoryNode directory_tree(const std::vector<DirectoryEntry>& entries,
                             const StateFilter& filter) {
  Folder root;
  for (std::size_t index = 0; index < entries.size(); ++index) {
    const DirectoryEntry& entry = entries[index];
    const std::size_t state = static_cast<std::size_t>(entry.state);
    Folder* folder = &root;
    ++folder->counts[state];
    std::string_view rest = entry.path;
    for (std::size_t slash = rest.find('/'); slash != std::string_view::npos;
         slash = rest.find('/')) {
      folder = &folder->folders[std::string(rest.substr(0, slash))];
      ++folder->counts[state];
      rest.remove_prefix(slash + 1);
    }
    folder->files.emplace(std::string(rest), index);
  }
  return shown_node(root, std::string(), std::string(), entries, filter);
}

CopyPlan plan_copy(const std::vector<DirectoryEntry>& entries,
                   const std::vector<std::size_t>& chosen, CopyDirection direction) {
  std::vector<std::size_t> indices = chosen;
  std::sort(indices.begin(), indices.end());
  indices.erase(std::unique(indices.begin(), indices.end()), indices.end());
  CopyPlan plan;
  const bool to_right = direction == CopyDirection::left_to_right;
  for (const std::size_t index : indices) {
    if (index >= entries.size()) continue;
    const DirectoryEntry& entry = entries[index];
    const FileFacts& from = to_right ? entry.left : entry.right;
    const FileFacts& to = to_right ? entry.right : entry.left;
    if (!from.present || entry.state == DirectoryEntry::State::identical) {
      plan.skip.push_back(index);
    } else if (to.present) {
      plan.replace.push_back(index);
    } else {
      plan.create.push_back(index);
    }
  }
  return plan;
}

support::Status copy_entry(const std::string& left_root, const std::string& right_root,
                           DirectoryEntry* entry, CopyDirection direction,
                           const ReplaceFile& replace) {
  const bool to_right = direction == CopyDirection::left_to_right;
  const fs::path relative = utf8_path(entry->path);
  const fs::path left = utf8_path(left_root) / relative;
  const fs::path right = utf8_path(right_root) / relative;
  const fs::path& source = to_right ? left : right;
  const fs::path& target = to_right ? right : left;
  const FileFacts& from = to_right ? entry->left : entry->right;
  const FileFacts& to = to_right ? entry->right : entry->left;
  const auto refused = [](std::string why) { return support::Status::failure(std::move(why)); };
  if (entry->sides != 2) {
    return refused(entry->path + " is compared on three sides: files are copied between two");
  }
  if (!stays_inside(relative)) return refused(entry->path + " is not a path inside the folders");
  if (entry->state == DirectoryEntry::State::identical) return support::Status();
  if (!from.present) {
    return refused(utf8_name(source) + " does not exist: there is nothing to copy");
  }
  // What the user saw is what gets replaced, or nothing: a file that
  // appeared, went or changed since the comparison would be lost unseen.
  if (facts_of(target) != to) {
    return refused(utf8_name(target) +
                   " has changed since the folders were compared; compare them again first");
  }
  std::error_code ec;
  if (to.present) {
    const fs::perms perms = fs::status(target, ec).permissions();
    if (!ec && (perms & fs::perms::owner_write) == fs::perms::none) {
      return refused(utf8_name(target) + " is read-only");
    }
  }

  errno = 0;
  std::ifstream in(source, std::ios::binary);
  std::ostringstream bytes;
  if (in) bytes << in.rdbuf();
  if (!in || in.bad()) {
    const int code = errno;
    return refused("cannot read " + utf8_name(source) + ": " +
                   (code != 0 ? std::generic_category().message(code) : "read error"));
  }
  fs::create_directories(target.parent_path(), ec);
  if (ec) {
    return refused("cannot create the folder " + utf8_name(target.parent_path()) + ": " +
                   ec.message());
  }
  if (support::Status replaced = replace(utf8_name(target), bytes.str()); !replaced)
    return refused(replaced.text());
  // A new file takes the permissions of the one it copies (a script stays
  // executable); a replaced one keeps its own.
  if (!to.present) {
    const fs::perms perms = fs::status(source, ec).permissions();
    if (!ec) fs::permissions(target, perms, ec);
  }
  const std::array<fs::path, 2> paths{left, right};
  std::array<FileFacts, 2> facts{facts_of(left), facts_of(right)};
  const std::array<bool, 2> gone{};
  entry->state = state_of(paths.data(), facts.data(), gone.data(), 2);
  entry->left = facts[0];
  entry->right = facts[1];
  return support::Status();
}

}  // namespace marlow
