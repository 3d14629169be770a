#include "client/request.h"

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

}  // namespace tarnwick
