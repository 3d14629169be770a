#include "client/options.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "client/catalogue.h"
#include "client/request.h"
#include "support/platform.h"
#include "support/runtime_services.h"

namespace tarnwick {

namespace {

struct KeywordRule {
  const char* word;
  std::int32_t parameter;      // CompareOptions::Pending, kNone for a bare flag
  bool CompareOptions::*flag;  // set when the option is seen, if any
};

// Keywords are matched exactly and in full. The nine words at the end are
// accepted and change nothing.
constexpr KeywordRule kKeywords[] = {
    {"blank_ignore", CompareOptions::kNone, &CompareOptions::blank_ignore},
    {"out", CompareOptions::kOut, &CompareOptions::merge},
    {"base", CompareOptions::kBase, nullptr},
    {"fname", CompareOptions::kFname, nullptr},
    {"favor_contrib", CompareOptions::kFavorContrib, &CompareOptions::favor_contrib_given},
    {"encoding", CompareOptions::kEncoding, &CompareOptions::encoding_given},
    {"abort", CompareOptions::kNone, nullptr},
    {"pause", CompareOptions::kNone, nullptr},
    {"html", CompareOptions::kNone, nullptr},
    {"force", CompareOptions::kNone, nullptr},
    {"query", CompareOptions::kNone, nullptr},
    {"hstack", CompareOptions::kNone, nullptr},
    {"vstack", CompareOptions::kNone, nullptr},
    {"qall", CompareOptions::kNone, nullptr},
    {"qntrivial", CompareOptions::kNone, nullptr},
};

struct EncodingRule {
  const char* encoding;
  const char* type_name;
};

// The first row that matches wins.
constexpr EncodingRule kEncodings[] = {
    {"utf-8", "utf8_file_delta"},       {"utf-16le", "utf16le_file_delta"},
    {"utf-16be", "utf16be_file_delta"}, {"utf-32le", "utf32le_file_delta"},
    {"utf-32be", "utf32be_file_delta"},
};

bool is_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

bool CompareOptions::parse(int argc, const char* const* argv) {
  pending_parameter = kNone;
  parse_error = false;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i] ? argv[i] : "";
    const bool is_option = !argument.empty() && argument[0] == '-';
    parse_argument(is_option ? argument.substr(1) : argument, is_option, i == argc - 1);
  }
  return parse_error;
}

void CompareOptions::parse_argument(const std::string& word, bool is_option, bool is_last) {
  if (!is_option) {
    switch (pending_parameter) {
      case kOut:
        out_path = word;
        merge = true;
        break;
      case kFname:
        display_names.push_back(word);
        break;
      case kFavorContrib:
        favor_contrib = word;
        break;
      case kEncoding:
        encoding = word;
        break;
      default:  // none, or the -base path: both are contributors
        contributors.push_back(word);
        break;
    }
    pending_parameter = kNone;
    return;
  }

  if (pending_parameter != kNone) {
    // An option arrived while the previous one still waits for its parameter.
    parse_error = true;
    return;
  }

  const KeywordRule* rule = nullptr;
  for (const KeywordRule& candidate : kKeywords) {
    if (word == candidate.word) {
      rule = &candidate;
      break;
    }
  }
  if (rule == nullptr) {
    parse_error = true;
  } else {
    if (rule->flag != nullptr) this->*(rule->flag) = true;
    // -base must come before every contributor; it still takes its parameter.
    if (rule->parameter == kBase && !contributors.empty()) parse_error = true;
    pending_parameter = rule->parameter;
  }

  if (is_last && pending_parameter != kNone) parse_error = true;
}

bool CompareOptions::validate() {
  int entry = -1;
  const bool ok = validate(&entry);
  if (!ok && entry >= 0) print_entry(entry);
  return ok;
}

namespace {

// `text` for one log line: a control character shows as '?'.
std::string for_the_log(std::string text) {
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  }
  return text;
}

}  // namespace

bool CompareOptions::validate(int* message_entry) {
  *message_entry = -1;
  if (favor_contrib_given && !(merge && blank_ignore)) {
    *message_entry = kFavorContribNeedsMergeEntry;
    return false;
  }
  if (contributors.size() < 2) {
    *message_entry = kTooFewContributorsEntry;
    return false;
  }

  display_names.resize(contributors.size());
  for (std::size_t i = 0; i < contributors.size(); ++i) {
    if (display_names[i].empty()) display_names[i] = contributors[i];
    // An empty path has no absolute form; such a command line is refused.
    if (!make_absolute(contributors[i])) return false;
  }

  for (const std::string& contributor : contributors) {
    errno = 0;
    std::FILE* file = support::compat_fopen(contributor.c_str(), "r");
    if (file == nullptr) {
      const int cause = errno;
      // Two directories are a call too (git difftool -d hands them): POSIX
      // opens a directory for reading, Windows does not, so it passes here.
      std::error_code ec;
      if (std::filesystem::is_directory(contributor, ec)) continue;
      refusal = for_the_log(contributor) + " cannot be opened" +
                (cause != 0 ? std::string(": ") + std::strerror(cause) : std::string());
      return false;
    }
    support::compat_fclose(file);
  }

  if (merge && !make_absolute(out_path)) return false;

  if (merge && blank_ignore && favor_contrib_given) {
    const int number = atoi_value(favor_contrib);
    if (number < 1 || static_cast<std::size_t>(number) > contributors.size()) {
      *message_entry = kFavorContribInvalidEntry;
      return false;
    }
  }

  if (encoding_given) {
    const std::optional<std::string> name = type_name_for_encoding(encoding);
    if (!name) {
      *message_entry = kBadEncodingEntry;
      return false;
    }
    type_name = *name;
  }

  // A control character that XML cannot carry would reach the graphical
  // client as another path (or not at all): refused before anything is sent.
  constexpr const char* kUncarried = " holds a control character that cannot be sent";
  if (merge && !xml_can_carry(out_path)) {
    refusal = for_the_log(out_path) + kUncarried;
    return false;
  }
  for (std::size_t i = 0; i < contributors.size(); ++i) {
    for (const std::string* text : {&contributors[i], &display_names[i]}) {
      if (!xml_can_carry(*text)) {
        refusal = for_the_log(*text) + kUncarried;
        return false;
      }
    }
  }
  return true;
}

bool is_unc_path(const std::string& path) {
  return path.size() > 2 && path[0] == '\\' && path[1] == '\\';
}

std::string windows_absolute_path(const std::string& path, const std::string& current_dir) {
  if (path.empty()) return std::string();
  if (path.find(':') == 1) return path;  // a drive, with or without a root
  if (is_unc_path(path)) return path;
  if (path[0] == '\\') {
    if (is_unc_path(current_dir)) return current_dir + path;
    return std::string(support::get_drive(current_dir.c_str())) + path;
  }
  return current_dir + '\\' + path;
}

std::string posix_absolute_path(const std::string& path, const std::string& current_dir) {
  if (path.empty()) return std::string();
  if (path[0] == '/') return path;
  return current_dir + '/' + path;
}

bool make_absolute(std::string& path) {
  if (path.empty()) return false;
  const std::string current_dir = platform::current_dir();
  const std::string absolute = platform::kWindows ? windows_absolute_path(path, current_dir)
                                                  : posix_absolute_path(path, current_dir);
  // Without the current directory a path that needs it would name another
  // file (a relative one would hang from the root): refused instead.
  if (current_dir.empty() && absolute != path) return false;
  path = absolute;
  return true;
}

std::optional<std::string> type_name_for_encoding(const std::string& encoding) {
  for (const EncodingRule& rule : kEncodings) {
    if (encoding == rule.encoding) return std::string(rule.type_name);
  }
  return std::nullopt;
}

int atoi_value(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size() && is_space(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  long long value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > static_cast<long long>(INT_MAX) + 1) value = static_cast<long long>(INT_MAX) + 1;
  }
  if (negative) value = -value;
  if (value > INT_MAX) value = INT_MAX;
  return static_cast<int>(value);
}

}  // namespace tarnwick
