#include "merge_tool.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string_view>

#include "engine/suggest.h"

namespace tarnwickmerge {
namespace {

using marlow::Encoding;
using marlow::Line;

const char* kUsage =
    "usage: tarnwickmerge [-p] [-q] [--diff3] [--marker-size=N] [--rules LIST] [--suggest]\n"
    "                     [-L label [-L label [-L label]]] "
    "CURRENT BASE OTHER";

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

bool read_file(const std::string& path, std::string* bytes, std::string* error) {
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

bool has_wide_mark(const std::string& bytes) {
  const auto starts = [&](const char* mark, std::size_t n) {
    return bytes.size() >= n && std::memcmp(bytes.data(), mark, n) == 0;
  };
  return starts("\xFF\xFE", 2) || starts("\xFE\xFF", 2) || starts("\x00\x00\xFE\xFF", 4);
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
        marlow::TextDocument doc{wide.encoding, false, s.lines};
        bytes = marlow::encode_text(doc).bytes;
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

std::optional<Options> parse_arguments(const std::vector<std::string>& args, std::string* error) {
  Options options;
  std::vector<std::string> files;
  bool only_files = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (only_files || a.empty() || a[0] != '-' || a == "-") {
      files.push_back(a);
    } else if (a == "--") {
      only_files = true;
    } else if (a == "-p" || a == "--stdout") {
      options.to_stdout = true;
    } else if (a == "-q" || a == "--quiet") {
      options.quiet = true;
    } else if (a == "--suggest") {
      options.suggest = true;
    } else if (a == "--diff3") {
      options.style = marlow::MarkerStyle::diff3;
    } else if (a.rfind("--marker-size=", 0) == 0) {
      const std::string value = a.substr(14);
      if (value.empty() || value.size() > 3 ||
          value.find_first_not_of("0123456789") != std::string::npos || std::stoi(value) < 1) {
        *error = "--marker-size needs a number from 1 to 999";
        return std::nullopt;
      }
      options.marker_size = static_cast<std::size_t>(std::stoi(value));
    } else if (a == "-L" || a == "--rules") {
      if (i + 1 == args.size()) {
        *error = a + " needs a value";
        return std::nullopt;
      }
      const std::string& value = args[++i];
      if (a == "--rules") {
        if (!set_rules(value, &options.rules)) {
          *error =
              "unknown rule in \"" + value +
              "\" (rules: versions, version-lists, contained, releases, bump, deletion, "
              "whitespace, whitespace-lines, words, touching, characters, same-line; or all, none)";
          return std::nullopt;
        }
      } else if (options.labels.size() == 3) {
        *error = "too many labels (-L at most three times)";
        return std::nullopt;
      } else {
        options.labels.push_back(value);
      }
    } else {
      *error = "unknown option " + a;
      return std::nullopt;
    }
  }
  if (files.size() != 3) {
    *error = "expected three files, CURRENT BASE OTHER, got " + std::to_string(files.size());
    return std::nullopt;
  }
  options.current = files[0];
  options.base = files[1];
  options.other = files[2];
  return options;
}

MergeOutcome merge_bytes(const std::string& current, const std::string& base,
                         const std::string& other, const std::vector<std::string>& labels,
                         const Options& options) {
  MergeOutcome outcome;
  const std::string* inputs[3] = {&base, &current, &other};
  std::vector<std::vector<Line>> texts;
  marlow::TextDocument wide;  // the encoding of UTF-16/32 texts
  const std::size_t marked = static_cast<std::size_t>(
      std::count_if(std::begin(inputs), std::end(inputs),
                    [](const std::string* b) { return has_wide_mark(*b); }));
  if (marked > 0) {
    // The current file's encoding, else the first non-empty one's; an empty
    // file has no mark and fits any.
    bool known = false;
    for (const std::string* bytes : {inputs[1], inputs[0], inputs[2]}) {
      if (bytes->empty()) continue;
      marlow::DecodeResult decoded = marlow::decode_text(*bytes, Encoding::automatic);
      const bool is_wide = decoded.ok && decoded.doc.encoding != Encoding::utf8 &&
                           decoded.doc.encoding != Encoding::latin1;
      if (!is_wide || (known && decoded.doc.encoding != wide.encoding)) {
        outcome.error =
            "cannot merge: the three files are not all in one UTF-16 or UTF-32 "
            "encoding with a byte order mark";
        return outcome;
      }
      if (!known) {
        wide.encoding = decoded.doc.encoding;
        wide.bom = decoded.doc.bom;
        known = true;
      }
    }
    for (const std::string* bytes : inputs) {
      texts.push_back(marlow::decode_text(*bytes, wide.encoding).doc.lines);
    }
  } else {
    for (const std::string* bytes : inputs) {
      if (bytes->find('\0') != std::string::npos) {
        outcome.error = "cannot merge binary files";
        return outcome;
      }
      texts.push_back(marlow::split_lines(*bytes));
    }
  }
  const marlow::MergePlan plan = marlow::plan_merge(texts, options.rules);
  // Labels by contributor: base, current, other.
  const std::vector<std::string> by_contributor = {labels[1], labels[0], labels[2]};
  std::string merged = marlow::render_with_markers(plan, by_contributor, options.style,
                                                   options.marker_size, &outcome.conflicts);
  if (options.suggest) outcome.suggestions = suggestion_bytes(plan, options.style, marked, wide);
  if (marked == 0) {
    outcome.bytes = std::move(merged);
  } else {
    wide.lines = marlow::split_lines(merged);
    marlow::EncodeResult encoded = marlow::encode_text(wide);
    if (!encoded.ok) {
      outcome.error = "cannot encode the result: " + encoded.error;
      return outcome;
    }
    outcome.bytes = std::move(encoded.bytes);
  }
  outcome.ok = true;
  return outcome;
}

int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  std::string error;
  const std::optional<Options> options = parse_arguments(args, &error);
  if (!options) {
    err << "tarnwickmerge: " << error << "\n" << kUsage << "\n";
    return 255;
  }
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
