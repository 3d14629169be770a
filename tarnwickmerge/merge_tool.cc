#include "merge_tool.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string_view>
#include <system_error>

#include "engine/suggest.h"

namespace tarnwickmerge {
namespace {

using marlow::Encoding;
using marlow::Line;
using Usage = ArgumentError::Usage;

const char* kUsage =
    "usage: tarnwickmerge [<options>] [-L <name1> [-L <orig> [-L <name2>]]] "
    "<file1> <orig-file> <file2>\n"
    "\n"
    "    -p, --stdout          send results to standard output\n"
    "    --diff3               use a diff3 based merge\n"
    "    --zdiff3              use a zealous diff3 based merge\n"
    "    --ours                for conflicts, use our version\n"
    "    --theirs              for conflicts, use their version\n"
    "    --union               for conflicts, use a union version\n"
    "    --marker-size <n>     for conflicts, use this marker size\n"
    "    -q, --quiet           do not warn about conflicts\n"
    "    -L <name>             set labels for file1/orig-file/file2\n"
    "    --rules <list>        settle conflicts by these rules (or all, none)\n"
    "    --suggest             ranked resolutions of the conflicts left, as JSON\n";

// git reads this many bytes of a file to tell whether it is binary.
constexpr std::size_t kBinaryProbe = 8000;

// Each rule name of --rules and the switch it turns on ("same-line" lifts
// the limit to separate lines; "version-lists" widens "versions").
struct RuleName {
  const char* name;
  void (*apply)(marlow::SettleOptions*);
};
constexpr RuleName kRuleNames[] = {
    {"whitespace", [](marlow::SettleOptions* r) { r->whitespace = true; }},
    {"words", [](marlow::SettleOptions* r) { r->words = true; }},
    {"touching", [](marlow::SettleOptions* r) { r->touching = true; }},
    {"characters", [](marlow::SettleOptions* r) { r->characters = true; }},
    {"version-lists", [](marlow::SettleOptions* r) { r->versions = r->version_lists = true; }},
    {"bump", [](marlow::SettleOptions* r) { r->bump = true; }},
    {"deletion", [](marlow::SettleOptions* r) { r->deletion = true; }},
    {"versions", [](marlow::SettleOptions* r) { r->versions = true; }},
    {"contained", [](marlow::SettleOptions* r) { r->contained = true; }},
    {"releases", [](marlow::SettleOptions* r) { r->releases = true; }},
    {"whitespace-lines",
     [](marlow::SettleOptions* r) { r->whitespace = r->whitespace_lines = true; }},
    {"same-line", [](marlow::SettleOptions* r) { r->separate_lines = false; }},
};

bool set_rules(const std::string& list, marlow::SettleOptions* rules) {
  if (list == "all") {
    *rules = marlow::SettleOptions{true, true, true, true,  true, true,
                                   true, true, true, false, true, false};
    return true;
  }
  *rules = marlow::SettleOptions::none();
  if (list == "none") return true;
  std::stringstream names(list);
  std::string name;
  while (std::getline(names, name, ',')) {
    const auto* rule = std::find_if(std::begin(kRuleNames), std::end(kRuleNames),
                                    [&name](const RuleName& r) { return name == r.name; });
    if (rule == std::end(kRuleNames)) return false;
    rule->apply(rules);
  }
  return true;
}

// ---------------------------------------------------------------------------
// Arguments, parsed as git's option parser does.

enum class Id {
  to_stdout,
  diff3,
  zdiff3,
  ours,
  theirs,
  union_,
  marker_size,
  quiet,
  label,
  rules,
  suggest
};

struct OptionForm {
  Id id;
  char short_name;        // 0: none
  const char* long_name;  // nullptr: none
  bool takes_value;
  bool negatable;  // --no-<name>
  // Options of our own match only by their whole name, so that an
  // abbreviation of one of git's options keeps the meaning git gives it.
  bool whole_name_only = false;
};

// In git's order, which its message about an ambiguous abbreviation shows.
constexpr OptionForm kForms[] = {
    {Id::to_stdout, 'p', "stdout", false, true},     {Id::diff3, 0, "diff3", false, true},
    {Id::zdiff3, 0, "zdiff3", false, true},          {Id::ours, 0, "ours", false, true},
    {Id::theirs, 0, "theirs", false, true},          {Id::union_, 0, "union", false, true},
    {Id::marker_size, 0, "marker-size", true, true}, {Id::quiet, 'q', "quiet", false, true},
    {Id::label, 'L', nullptr, true, false},          {Id::rules, 0, "rules", true, false, true},
    {Id::suggest, 0, "suggest", false, false, true},
};

struct Parser {
  const std::vector<std::string>& args;
  std::size_t next = 0;  // the argument after the one being parsed
  Options options;
  int marker_size = 7;  // as given; 0 or less is the default
  ArgumentError* error;

  bool fail(std::string message, Usage usage = Usage::none) {
    error->message = std::move(message);
    error->usage = usage;
    return false;
  }

  static std::string name_of(const OptionForm& form, bool unset, bool as_short) {
    if (as_short) return std::string("switch `") + form.short_name + "'";
    return std::string("option `") + (unset ? "no-" : "") + form.long_name + "'";
  }

  // Applies one option; `value` is null for a flag or a negation.
  bool apply(const OptionForm& form, bool unset, const std::string* value, bool as_short) {
    switch (form.id) {
      case Id::to_stdout:
        options.to_stdout = !unset;
        return true;
      case Id::quiet:
        options.quiet = !unset;
        return true;
      case Id::suggest:
        options.suggest = true;
        return true;
      case Id::diff3:
      case Id::zdiff3:
        options.style = unset                  ? marlow::MarkerStyle::merge
                        : form.id == Id::diff3 ? marlow::MarkerStyle::diff3
                                               : marlow::MarkerStyle::zdiff3;
        return true;
      case Id::ours:
      case Id::theirs:
      case Id::union_:
        options.fill = unset                   ? marlow::ConflictFill::markers
                       : form.id == Id::ours   ? marlow::ConflictFill::current
                       : form.id == Id::theirs ? marlow::ConflictFill::other
                                               : marlow::ConflictFill::both;
        return true;
      case Id::marker_size: {
        if (unset) {
          marker_size = 0;
          return true;
        }
        // A whole number as strtol reads it (blanks and a sign before it);
        // one beyond an int wraps as git's does, and 0 or less means 7.
        char* end = nullptr;
        const long number = value->empty() ? 0 : std::strtol(value->c_str(), &end, 10);
        if (value->empty() || *end != '\0') {
          return fail(name_of(form, false, as_short) + " expects a numerical value");
        }
        marker_size = static_cast<int>(static_cast<unsigned long>(number) & UINT_MAX);
        return true;
      }
      case Id::label:
        if (options.labels.size() == 3) return fail("too many labels on the command line");
        options.labels.push_back(*value);
        return true;
      case Id::rules:
        if (!set_rules(*value, &options.rules)) {
          return fail("unknown rule in \"" + *value +
                      "\" (rules: versions, version-lists, contained, releases, bump, deletion, "
                      "whitespace, whitespace-lines, words, touching, characters, same-line; or "
                      "all, none)");
        }
        return true;
    }
    return false;
  }

  // An option with a value: the attached one, else the next argument.
  bool take_value(const OptionForm& form, bool unset, const std::string* attached, bool as_short) {
    if (!form.takes_value || unset) {
      if (attached != nullptr) return fail(name_of(form, unset, as_short) + " takes no value");
      return apply(form, unset, nullptr, as_short);
    }
    if (attached != nullptr) return apply(form, false, attached, as_short);
    if (next >= args.size()) return fail(name_of(form, false, as_short) + " requires a value");
    return apply(form, false, &args[next++], as_short);
  }

  // "-pq", "-Lname", "-L name".
  bool short_options(const std::string& arg) {
    for (std::size_t i = 1; i < arg.size(); ++i) {
      if (arg[i] == 'h') return fail("", Usage::on_output);
      const OptionForm* form =
          std::find_if(std::begin(kForms), std::end(kForms),
                       [&](const OptionForm& s) { return s.short_name == arg[i]; });
      if (form == std::end(kForms)) {
        return fail(std::string("unknown switch `") + arg[i] + "'", Usage::on_error);
      }
      if (form->takes_value && i + 1 < arg.size()) {
        const std::string attached = arg.substr(i + 1);
        return take_value(*form, false, &attached, true);
      }
      if (!take_value(*form, false, nullptr, true)) return false;
    }
    return true;
  }

  // "--name", "--name=value", "--no-name", or any unique beginning of them.
  bool long_option(const std::string& arg) {
    const std::string body = arg.substr(2);
    if (body == "help" || body == "help-all") return fail("", Usage::on_output);
    const std::size_t equals = body.find('=');
    const std::string name = body.substr(0, equals);
    std::optional<std::string> attached;
    if (equals != std::string::npos) attached = body.substr(equals + 1);
    const auto starts = [](const std::string& text, const std::string& prefix) {
      return text.compare(0, prefix.size(), prefix) == 0;
    };
    const OptionForm* abbreviated = nullptr;
    bool abbreviated_unset = false;
    const OptionForm* also = nullptr;  // a second option the abbreviation fits
    bool also_unset = false;
    for (const OptionForm& form : kForms) {
      if (form.long_name == nullptr) continue;
      const std::string full = form.long_name;
      bool unset = false;
      if (name == full) return take_value(form, false, attached ? &*attached : nullptr, false);
      if (form.negatable && name == "no-" + full) {
        return take_value(form, true, attached ? &*attached : nullptr, false);
      }
      if (form.whole_name_only) continue;
      if (starts(full, name)) {
        unset = false;
      } else if (form.negatable &&
                 (starts("no-", name) || (starts(name, "no-") && starts(full, name.substr(3))))) {
        unset = true;
      } else {
        continue;
      }
      if (abbreviated != nullptr) {
        also = abbreviated;
        also_unset = abbreviated_unset;
      }
      abbreviated = &form;
      abbreviated_unset = unset;
    }
    if (also != nullptr) {
      return fail("ambiguous option: " + body + " (could be --" + (also_unset ? "no-" : "") +
                      also->long_name + " or --" + (abbreviated_unset ? "no-" : "") +
                      abbreviated->long_name + ")",
                  Usage::on_output);
    }
    if (abbreviated == nullptr) return fail("unknown option `" + body + "'", Usage::on_error);
    return take_value(*abbreviated, abbreviated_unset, attached ? &*attached : nullptr, false);
  }

  std::optional<Options> parse() {
    std::vector<std::string> files;
    bool only_files = false;
    while (next < args.size()) {
      const std::string& a = args[next++];
      if (only_files || a.size() < 2 || a[0] != '-') {
        files.push_back(a);
      } else if (a == "--") {
        only_files = true;
      } else if (!(a[1] == '-' ? long_option(a) : short_options(a))) {
        return std::nullopt;
      }
    }
    if (files.size() != 3) {
      fail("expected three files, <file1> <orig-file> <file2>, got " + std::to_string(files.size()),
           Usage::on_error);
      return std::nullopt;
    }
    options.marker_size = marker_size > 0 ? static_cast<std::size_t>(marker_size) : 7;
    options.current = files[0];
    options.base = files[1];
    options.other = files[2];
    return options;
  }
};

// ---------------------------------------------------------------------------
// Files.

// A regular file (or a link to one) whole; the null device reads as an
// empty file, as git reads it. Anything else is an error: a directory or a
// device read as empty would pass for a file without lines.
bool read_file(const std::string& path, std::string* bytes, std::string* error) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::file_status status = fs::status(path, ec);
  if (ec) {
    *error = "cannot read " + path + ": " + ec.message();
    return false;
  }
  if (status.type() != fs::file_type::regular) {
    std::error_code where_ec;
    if (status.type() == fs::file_type::character &&
        fs::canonical(path, where_ec) == fs::path("/dev/null")) {
      bytes->clear();
      return true;
    }
    *error = "cannot read " + path + ": " +
             (status.type() == fs::file_type::directory ? std::generic_category().message(EISDIR)
                                                        : std::string("not a regular file"));
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = "cannot read " + path + ": " + std::strerror(errno);
    return false;
  }
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) {
    *error = "cannot read " + path;
    return false;
  }
  *bytes = text.str();
  return true;
}

// git's test: a NUL byte among the first 8000 bytes.
bool looks_binary(const std::string& bytes) {
  return std::memchr(bytes.data(), '\0', std::min(bytes.size(), kBinaryProbe)) != nullptr;
}

// The common UTF-16 or UTF-32 encoding, with its byte order mark, of texts
// that git takes for binary; false when they do not all have one.
bool wide_encoding(const std::string* const inputs[3], marlow::TextDocument* wide) {
  // The current file's encoding, else the first non-empty one's; an empty
  // file has no mark and fits any.
  bool known = false;
  for (const std::string* bytes : {inputs[1], inputs[0], inputs[2]}) {
    if (bytes->empty()) continue;
    const support::Result<marlow::TextDocument> decoded =
        marlow::decode_text(*bytes, Encoding::automatic);
    const marlow::TextDocument& doc = decoded.value();
    const bool is_wide =
        decoded.ok() && doc.encoding != Encoding::utf8 && doc.encoding != Encoding::latin1;
    if (!is_wide || (known && doc.encoding != wide->encoding)) return false;
    if (!known) {
      wide->encoding = doc.encoding;
      wide->bom = doc.bom;
      known = true;
    }
  }
  return known;
}

// Each conflict's suggestions as bytes in the files' encoding (UTF-16 or
// UTF-32 when `wide_inputs`, without a byte order mark), with their reasons.
std::vector<std::vector<std::pair<std::string, std::string>>> suggestion_bytes(
    const marlow::MergePlan& plan, marlow::MarkerStyle style, std::size_t wide_inputs,
    const marlow::TextDocument& wide) {
  std::vector<std::vector<std::pair<std::string, std::string>>> out;
  for (const std::vector<marlow::Suggestion>& list : marlow::suggest_for_plan(plan, style)) {
    out.emplace_back();
    for (const marlow::Suggestion& s : list) {
      std::string bytes = marlow::join_lines(s.lines);
      if (wide_inputs > 0) {
        // The lines are the sides' own, decoded from this encoding, so
        // they encode back; a failure would leave the suggestion empty.
        marlow::TextDocument doc{wide.encoding, false, s.lines};
        bytes = marlow::encode_text(doc).value();
      }
      out.back().emplace_back(std::move(bytes), s.reason);
    }
  }
  return out;
}

void append_json_string(std::string* out, std::string_view text) {
  static const char* kHex = "0123456789abcdef";
  *out += '"';
  for (char ch : text) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (c == '"' || c == '\\') {
      *out += '\\';
      *out += ch;
    } else if (c == '\n') {
      *out += "\\n";
    } else if (c == '\r') {
      *out += "\\r";
    } else if (c == '\t') {
      *out += "\\t";
    } else if (c < 0x20 || c == 0x7F) {
      *out += "\\u00";
      *out += kHex[c >> 4];
      *out += kHex[c & 0xF];
    } else {
      *out += ch;
    }
  }
  *out += '"';
}

std::string base64(std::string_view bytes) {
  static const char* kDigits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
    unsigned v = 0;
    for (std::size_t k = 0; k < 3; ++k) {
      v = (v << 8) | (k < n ? static_cast<unsigned char>(bytes[i + k]) : 0U);
    }
    for (std::size_t k = 0; k < 4; ++k) {
      out += k <= n ? kDigits[(v >> (18 - 6 * k)) & 0x3F] : '=';
    }
  }
  return out;
}

}  // namespace

std::string suggestions_json(const MergeOutcome& outcome) {
  std::string out = "{\"conflicts\": [";
  for (std::size_t c = 0; c < outcome.suggestions.size(); ++c) {
    out += c == 0 ? "" : ", ";
    out += "{\"suggestions\": [";
    for (std::size_t k = 0; k < outcome.suggestions[c].size(); ++k) {
      const auto& [bytes, reason] = outcome.suggestions[c][k];
      out += k == 0 ? "{" : ", {";
      if (marlow::is_valid_utf8(bytes)) {
        out += "\"text\": ";
        append_json_string(&out, bytes);
      } else {
        out += "\"text_base64\": \"" + base64(bytes) + "\"";
      }
      out += ", \"reason\": ";
      append_json_string(&out, reason);
      out += "}";
    }
    out += "]}";
  }
  out += "]}\n";
  return out;
}

std::optional<Options> parse_arguments(const std::vector<std::string>& args, ArgumentError* error) {
  Parser parser{args, 0, Options{}, 7, error};
  return parser.parse();
}

MergeOutcome merge_bytes(const std::string& current, const std::string& base,
                         const std::string& other, const std::vector<std::string>& labels,
                         const Options& options) {
  MergeOutcome outcome;
  const std::string* const inputs[3] = {&base, &current, &other};
  std::vector<std::vector<Line>> texts;
  marlow::TextDocument wide;  // the encoding of UTF-16/32 texts
  const bool binary = std::any_of(std::begin(inputs), std::end(inputs),
                                  [](const std::string* b) { return looks_binary(*b); });
  if (!binary) {
    for (const std::string* bytes : inputs) texts.push_back(marlow::split_lines(*bytes));
  } else if (wide_encoding(inputs, &wide)) {
    for (const std::string* bytes : inputs) {
      support::Result<marlow::TextDocument> decoded = marlow::decode_text(*bytes, wide.encoding);
      if (!decoded) {
        outcome.error = "cannot merge binary files";
        return outcome;
      }
      texts.push_back(std::move(decoded.value().lines));
    }
  } else {
    outcome.error = "cannot merge binary files";
    return outcome;
  }
  const marlow::MergePlan plan = marlow::plan_merge(texts, options.rules);
  // Labels by contributor: base, current, other.
  const std::vector<std::string> by_contributor = {labels[1], labels[0], labels[2]};
  std::string merged = marlow::render_with_markers(
      plan, by_contributor, options.style, options.marker_size, &outcome.conflicts, options.fill);
  // Suggestions are for the conflicts that markers would show: none when
  // --ours, --theirs or --union fill them.
  if (options.suggest && options.fill == marlow::ConflictFill::markers) {
    outcome.suggestions = suggestion_bytes(plan, options.style, binary ? 1 : 0, wide);
  }
  if (!binary) {
    outcome.bytes = std::move(merged);
  } else {
    wide.lines = marlow::split_lines(merged);
    support::Result<std::string> encoded = marlow::encode_text(wide);
    if (!encoded) {
      outcome.error = "cannot encode the result: " + encoded.status().text();
      return outcome;
    }
    outcome.bytes = std::move(encoded).value();
  }
  outcome.ok = true;
  return outcome;
}

int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  ArgumentError argument_error;
  const std::optional<Options> options = parse_arguments(args, &argument_error);
  if (!options) {
    if (!argument_error.message.empty()) {
      err << "tarnwickmerge: " << argument_error.message << "\n";
    }
    if (argument_error.usage == Usage::on_output) out << kUsage << "\n";
    if (argument_error.usage == Usage::on_error) err << kUsage << "\n";
    return 129;
  }
  std::string error;
  std::string bytes[3];
  const std::string* paths[3] = {&options->current, &options->base, &options->other};
  for (int i = 0; i < 3; ++i) {
    if (!read_file(*paths[i], &bytes[i], &error)) {
      err << "tarnwickmerge: " << error << "\n";
      return 255;
    }
  }
  std::vector<std::string> labels = options->labels;
  for (std::size_t i = labels.size(); i < 3; ++i) labels.push_back(*paths[i]);
  const MergeOutcome outcome = merge_bytes(bytes[0], bytes[1], bytes[2], labels, *options);
  if (!outcome.ok) {
    err << "tarnwickmerge: " << options->current << ": " << outcome.error << "\n";
    return 255;
  }
  if (options->suggest) {
    out << suggestions_json(outcome);
    out.flush();
    if (!out) {
      err << "tarnwickmerge: cannot write to standard output\n";
      return 255;
    }
  } else if (options->to_stdout) {
    out << outcome.bytes;
    out.flush();
    if (!out) {
      err << "tarnwickmerge: cannot write to standard output\n";
      return 255;
    }
  } else {
    std::ofstream file(options->current, std::ios::binary | std::ios::trunc);
    file << outcome.bytes;
    file.close();
    if (!file) {
      err << "tarnwickmerge: cannot write " << options->current << ": " << std::strerror(errno)
          << "\n";
      return 255;
    }
  }
  return static_cast<int>(std::min<std::size_t>(outcome.conflicts, 127));
}

}  // namespace tarnwickmerge
