#include "engine/directory_compare.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <system_error>

namespace marlow {
namespace fs = std::filesystem;
namespace {

// A UTF-8 path as the file system's own: on Windows a narrow string would
// be read in the ANSI code page, losing any name outside it.
fs::path from_utf8(std::string_view path) {
  return fs::path(std::u8string(path.begin(), path.end()));
}

std::string to_utf8(const fs::path& path) {
  const std::u8string text = path.generic_u8string();
  return std::string(text.begin(), text.end());
}

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
  const fs::path top = from_utf8(root).lexically_normal();
  fs::recursive_directory_iterator it(top, fs::directory_options::skip_permission_denied, ec);
  for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    std::error_code type_ec;
    const std::string relative = to_utf8(it->path().lexically_relative(top));
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

bool same_bytes(const fs::path& a, const fs::path& b) {
  std::error_code ec;
  if (fs::file_size(a, ec) != fs::file_size(b, ec) || ec) return false;
  std::ifstream in_a(a, std::ios::binary);
  std::ifstream in_b(b, std::ios::binary);
  if (!in_a || !in_b) return false;
  std::vector<char> buf_a(1 << 16);
  std::vector<char> buf_b(1 << 16);
  while (in_a && in_b) {
    in_a.read(buf_a.data(), static_cast<std::streamsize>(buf_a.size()));
    in_b.read(buf_b.data(), static_cast<std::streamsize>(buf_b.size()));
    if (in_a.gcount() != in_b.gcount() ||
        !std::equal(buf_a.begin(), buf_a.begin() + in_a.gcount(), buf_b.begin())) {
      return false;
    }
  }
  return in_a.eof() && in_b.eof();
}

// The state of two sides' facts, reading the bytes when both are there.
DirectoryEntry::State state_of(const FileFacts& left, const FileFacts& right, const fs::path& a,
                               const fs::path& b) {
  if (!right.present) return DirectoryEntry::State::only_left;
  if (!left.present) return DirectoryEntry::State::only_right;
  return same_bytes(a, b) ? DirectoryEntry::State::identical : DirectoryEntry::State::different;
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
  std::size_t total = 0;
  for (const std::size_t count : counts) total += count;
  for (const DirectoryEntry::State whole :
       {DirectoryEntry::State::identical, DirectoryEntry::State::only_left,
        DirectoryEntry::State::only_right}) {
    if (counts[static_cast<std::size_t>(whole)] == total) return whole;
  }
  return DirectoryEntry::State::different;
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
  const std::map<std::string, fs::path> a = files_under(left, filter);
  const std::map<std::string, fs::path> b = files_under(right, filter);
  std::vector<DirectoryEntry> entries;
  auto i = a.begin();
  auto j = b.begin();
  while (i != a.end() || j != b.end()) {
    DirectoryEntry entry;
    fs::path left_path;
    fs::path right_path;
    if (j == b.end() || (i != a.end() && i->first < j->first)) {
      entry.path = i->first;
      left_path = (i++)->second;
    } else if (i == a.end() || j->first < i->first) {
      entry.path = j->first;
      right_path = (j++)->second;
    } else {
      entry.path = i->first;
      left_path = (i++)->second;
      right_path = (j++)->second;
    }
    if (!left_path.empty()) entry.left = facts_of(left_path);
    if (!right_path.empty()) entry.right = facts_of(right_path);
    // A file that went between the listing and now is still listed where
    // it was found, as there.
    entry.left.present = !left_path.empty();
    entry.right.present = !right_path.empty();
    entry.state = state_of(entry.left, entry.right, left_path, right_path);
    entries.push_back(std::move(entry));
  }
  return entries;
}

bool is_directory(const std::string& path) {
  std::error_code ec;
  return fs::is_directory(from_utf8(path), ec);
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
  const fs::path relative = from_utf8(entry->path);
  const fs::path left = from_utf8(left_root) / relative;
  const fs::path right = from_utf8(right_root) / relative;
  const fs::path& source = to_right ? left : right;
  const fs::path& target = to_right ? right : left;
  const FileFacts& from = to_right ? entry->left : entry->right;
  const FileFacts& to = to_right ? entry->right : entry->left;
  const auto refused = [](std::string why) { return support::Status::failure(std::move(why)); };
  if (!stays_inside(relative)) return refused(entry->path + " is not a path inside the folders");
  if (entry->state == DirectoryEntry::State::identical) return support::Status();
  if (!from.present) {
    return refused(to_utf8(source) + " does not exist: there is nothing to copy");
  }
  // What the user saw is what gets replaced, or nothing: a file that
  // appeared, went or changed since the comparison would be lost unseen.
  if (facts_of(target) != to) {
    return refused(to_utf8(target) +
                   " has changed since the folders were compared; compare them again first");
  }
  std::error_code ec;
  if (to.present) {
    const fs::perms perms = fs::status(target, ec).permissions();
    if (!ec && (perms & fs::perms::owner_write) == fs::perms::none) {
      return refused(to_utf8(target) + " is read-only");
    }
  }

  errno = 0;
  std::ifstream in(source, std::ios::binary);
  std::ostringstream bytes;
  if (in) bytes << in.rdbuf();
  if (!in || in.bad()) {
    const int code = errno;
    return refused("cannot read " + to_utf8(source) + ": " +
                   (code != 0 ? std::generic_category().message(code) : "read error"));
  }
  fs::create_directories(target.parent_path(), ec);
  if (ec) {
    return refused("cannot create the folder " + to_utf8(target.parent_path()) + ": " +
                   ec.message());
  }
  if (support::Status replaced = replace(to_utf8(target), bytes.str()); !replaced)
    return refused(replaced.text());
  // A new file takes the permissions of the one it copies (a script stays
  // executable); a replaced one keeps its own.
  if (!to.present) {
    const fs::perms perms = fs::status(source, ec).permissions();
    if (!ec) fs::permissions(target, perms, ec);
  }
  entry->left = facts_of(left);
  entry->right = facts_of(right);
  entry->state = state_of(entry->left, entry->right, left, right);
  return support::Status();
}

}  // namespace marlow
