// The client's command line: the option record, its parser and its checks,
// and the rules that make a path absolute.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tarnwick {

struct CompareOptions {
  // Which option's parameter the next plain argument supplies.
  enum Pending : std::int32_t {
    kNone = 0,
    kOut = 1,
    kBase = 2,
    kFname = 3,
    kFavorContrib = 4,
    kEncoding = 5,
  };

  std::int32_t pending_parameter = kNone;
  bool parse_error = false;
  bool merge = false;
  bool blank_ignore = false;
  bool favor_contrib_given = false;
  bool encoding_given = false;
  std::vector<std::string> contributors;  // -base path first when given
  std::string out_path;
  std::string favor_contrib;  // a contributor number counted from 1
  std::vector<std::string> display_names;
  std::string encoding;
  std::string type_name;
  // Why validate refused the record, when the reason is a file or a path
  // (which contributor cannot be opened, and why): for the log, since the
  // console shows only the usage.
  std::string refusal;

  // Fills the record from the argument vector (element 0 is skipped). True
  // when the command line is wrong. Never prints.
  [[nodiscard]] bool parse(int argc, const char* const* argv);
  // Handles one argument: `word` is the argument without its leading '-'
  // when `is_option`.
  void parse_argument(const std::string& word, bool is_option, bool is_last);

  // Applies the cross-option checks, fills the display names, makes the
  // paths absolute, tests that every contributor can be opened, chooses
  // the type name and refuses a path or display name that the request
  // cannot carry (xml_can_carry). False when the record may not be used; the
  // check's own catalogue entry, where it has one, has then been printed.
  [[nodiscard]] bool validate();
  // The same, but instead of printing, stores the entry to print in
  // `*message_entry` (-1 when the failure has no message of its own).
  [[nodiscard]] bool validate(int* message_entry);

  bool operator==(const CompareOptions&) const = default;
};

// True when `path` is longer than two bytes and begins with two backslashes.
[[nodiscard]] bool is_unc_path(const std::string& path);

// The Windows rules: a path with a drive (first colon at its second byte)
// or a UNC path stays; a rooted path gets the drive of `current_dir` in
// front, or the whole `current_dir` when that is a UNC path; any other path
// gets `current_dir` and a backslash in front. Nothing else is rewritten.
// Empty result for an empty path.
[[nodiscard]] std::string windows_absolute_path(const std::string& path,
                                                const std::string& current_dir);
// The POSIX rules: a path beginning with '/' stays; any other path gets
// `current_dir` and '/' in front. Empty result for an empty path.
[[nodiscard]] std::string posix_absolute_path(const std::string& path,
                                              const std::string& current_dir);
// Rewrites `path` in place as an absolute path by this platform's rules and
// the process's current directory. False (path unchanged) for an empty path,
// and for one that needs the current directory when it cannot be read.
[[nodiscard]] bool make_absolute(std::string& path);

// The file type name for an encoding parameter, or nothing when the
// encoding is not one we know (exact, case-sensitive match).
[[nodiscard]] std::optional<std::string> type_name_for_encoding(const std::string& encoding);

// The runtime's atoi: leading white space, an optional sign, then digits up
// to the first other byte; 0 without digits. Saturates instead of
// overflowing.
[[nodiscard]] int atoi_value(const std::string& text);

}  // namespace tarnwick
