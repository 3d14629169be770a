#include "serve/script_parse.h"

#include <cstdio>
#include <limits>

namespace marlow {
namespace {

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string trimmed(const std::string& text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && is_blank(text[begin])) ++begin;
  while (end > begin && is_blank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

bool parse_number(const std::string& text, std::size_t* out) {
  if (text.empty()) return false;
  std::size_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    const auto digit = static_cast<std::size_t>(c - '0');
    if (value > (std::numeric_limits<std::size_t>::max() - digit) / 10) return false;
    value = value * 10 + digit;
  }
  *out = value;
  return true;
}

bool unescape(const std::string& text, std::string* out, std::string* error) {
  out->clear();
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      out->push_back(text[i]);
      continue;
    }
    if (i + 1 == text.size()) {
      *error = "a backslash ends the text";
      return false;
    }
    const char next = text[++i];
    if (next == 'n') {
      out->push_back('\n');
    } else if (next == '\\') {
      out->push_back('\\');
    } else {
      *error = std::string("unknown escape \\") + next;
      return false;
    }
  }
  return true;
}

// Parses one trimmed, non-empty action; false with the reason when it
// cannot be parsed.
bool parse_action(const std::string& source, ScriptAction* action, std::string* error) {
  // The keyword ends at the first blank; the argument is the rest after that
  // one blank (an edit text keeps any further leading blanks).
  std::size_t blank = 0;
  while (blank < source.size() && !is_blank(source[blank])) ++blank;
  const std::string word = source.substr(0, blank);
  const bool has_argument = blank < source.size();
  const std::string argument = has_argument ? source.substr(blank + 1) : std::string();
  action->source = source;

  using Kind = ScriptAction::Kind;
  struct Plain {
    const char* word;
    Kind kind;
  };
  for (const Plain& plain :
       {Plain{"next", Kind::next}, Plain{"prev", Kind::prev}, Plain{"take-all", Kind::take_all},
        Plain{"save", Kind::save}, Plain{"undo", Kind::undo}, Plain{"redo", Kind::redo},
        Plain{"close", Kind::close}, Plain{"menu", Kind::menu}}) {
    if (word != plain.word) continue;
    if (has_argument) {
      *error = word + " takes no argument";
      return false;
    }
    action->kind = plain.kind;
    return true;
  }
  if (word == "take" || word == "block") {
    action->kind = word == "take" ? Kind::take : Kind::block;
    if (!parse_number(trimmed(argument), &action->number)) {
      *error = word + " needs a contributor number";
      return false;
    }
    return true;
  }
  if (word == "edit" || word == "type") {
    action->kind = word == "edit" ? Kind::edit : Kind::type;
    return unescape(argument, &action->text, error);
  }
  if (word == "shot") {
    action->kind = Kind::shot;
    action->text = trimmed(argument);
    if (action->text.empty()) {
      *error = "shot needs a file name";
      return false;
    }
    return true;
  }
  *error = "unknown action";
  return false;
}

}  // namespace

Script parse_script(const std::string& text) {
  Script script;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = text.find(';', start);
    const std::string source =
        trimmed(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (!source.empty()) {
      ScriptAction action;
      std::string why;
      if (!parse_action(source, &action, &why)) {
        script.ok = false;
        script.error = "\"" + source + "\": " + why;
        script.actions.clear();
        return script;
      }
      script.actions.push_back(std::move(action));
    }
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return script;
}

std::string answer_word(const std::string& reply) {
  if (reply.find("<fault>") != std::string::npos) return "fault";
  const std::size_t at = reply.find("<boolean>");
  if (at == std::string::npos) return "0";
  return reply.compare(at + 9, 1, "1") == 0 ? "1" : "0";
}

bool append_answer_line(const std::string& log_path, const std::string& kind,
                        const std::string& reply) {
  const std::string line = kind + " answered " + answer_word(reply) + "\n";
  std::FILE* file = std::fopen(log_path.c_str(), "ab");
  if (file == nullptr) return false;
  // Fully buffered and shorter than the buffer: the line reaches the file
  // in one write when the stream is closed.
  bool ok = std::fwrite(line.data(), 1, line.size(), file) == line.size();
  ok = std::fclose(file) == 0 && ok;
  return ok;
}

}  // namespace marlow
