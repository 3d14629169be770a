#include "client/request.h"

#include <cctype>
#include <utility>
#include <vector>

#include "support/xml_escape.h"

namespace tarnwick {

namespace {

// One array of strings; each element stands in a <data> element of its own.
void append_string_array(std::string& out, const std::vector<std::string>& values) {
  out += "<param><value><array>";
  for (const std::string& value : values) {
    out += "<data><value><string>";
    out += support::xml_escape(value);
    out += "</string></value></data>";
  }
  out += "</array></value></param>";
}

void append_string(std::string& out, const std::string& value) {
  out += "<param><value><string>";
  out += support::xml_escape(value);
  out += "</string></value></param>";
}

}  // namespace

bool xml_can_carry(const std::string& text) {
  for (const char c : text) {
    if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r') return false;
  }
  return true;
}

std::string build_request(const CompareOptions& options) {
  std::string out = "<methodCall>";
  out += options.merge ? "<methodName>RequestHandler.CompareMerge</methodName>"
                       : "<methodName>RequestHandler.Compare</methodName>";
  out += "<params>";
  if (options.merge) append_string(out, options.out_path);
  append_string_array(out, options.display_names);
  append_string_array(out, options.contributors);
  append_string(out, options.encoding_given ? options.type_name : std::string());
  out += "</params>";
  out += "</methodCall>";
  return out;
}

bool reply_succeeded(std::string reply) {
  static constexpr char kTag[] = "<boolean>";
  static constexpr std::size_t kWindow = 20;  // the tag and the 11 bytes after it
  if (reply.empty()) return false;
  const std::size_t at = reply.find(kTag);
  if (at == std::string::npos) return false;
  return reply.substr(at, kWindow).find('1') != std::string::npos;
}

namespace {

// One entity or character reference of element text at `text[at]` ('&'),
// appended to `out`; returns how many bytes it took, 0 when it is none.
std::size_t read_reference(const std::string& text, std::size_t at, std::string* out) {
  const std::size_t end = text.find(';', at);
  if (end == std::string::npos || end - at > 10) return 0;
  const std::string name = text.substr(at + 1, end - at - 1);
  static constexpr std::pair<const char*, char> kNamed[] = {
      {"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}};
  for (const auto& [entity, c] : kNamed) {
    if (name == entity) {
      out->push_back(c);
      return end - at + 1;
    }
  }
  if (name.size() < 2 || name[0] != '#') return 0;
  const bool hex = name[1] == 'x';
  const std::string digits = name.substr(hex ? 2 : 1);
  if (digits.empty() || digits.size() > 6) return 0;
  unsigned long code = 0;
  for (const char d : digits) {
    const int value = std::isdigit(static_cast<unsigned char>(d)) ? d - '0'
                      : hex && std::isxdigit(static_cast<unsigned char>(d))
                          ? std::tolower(static_cast<unsigned char>(d)) - 'a' + 10
                          : -1;
    if (value < 0) return 0;
    code = code * (hex ? 16 : 10) + static_cast<unsigned long>(value);
  }
  // A reference beyond ASCII is kept as written: the log is bytes, and the
  // user reads it as written.
  if (code == 0 || code > 0x7F) return 0;
  out->push_back(static_cast<char>(code));
  return end - at + 1;
}

}  // namespace

std::string reply_fault_text(const std::string& reply) {
  static constexpr char kMember[] = "<name>faultString</name>";
  const std::size_t member = reply.find(kMember);
  if (member == std::string::npos) return {};
  const std::size_t value = reply.find("<value>", member);
  const std::size_t member_end = reply.find("</member>", member);
  if (value == std::string::npos || (member_end != std::string::npos && value > member_end))
    return {};
  std::size_t start = value + 7;
  if (reply.compare(start, 8, "<string>") == 0) start += 8;
  const std::size_t stop = reply.find('<', start);
  if (stop == std::string::npos) return {};
  std::string text;
  for (std::size_t at = start; at < stop;) {
    if (reply[at] == '&') {
      const std::size_t taken = read_reference(reply, at, &text);
      if (taken > 0) {
        at += taken;
        continue;
      }
    }
    text.push_back(reply[at++]);
  }
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
  }
  return text;
}

}  // namespace tarnwick
