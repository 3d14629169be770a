#include "serve/xmlrpc.h"

#include <algorithm>
#include <cstdlib>
#include <pugixml.hpp>

#include "engine/text_codec.h"

namespace marlow {
namespace {

constexpr const char* kCompare = "RequestHandler.Compare";
constexpr const char* kCompareMerge = "RequestHandler.CompareMerge";

// The body of a framed request: after the empty line, cut to Content-Length
// when the header gives one that fits.
std::string call_body(const std::string& framed) {
  if (framed.compare(0, 5, "POST ") != 0) return framed;
  const std::size_t end = framed.find("\r\n\r\n");
  if (end == std::string::npos) return std::string();
  std::string body = framed.substr(end + 4);
  const std::string key = "\r\nContent-Length:";
  const std::size_t at = framed.find(key);
  if (at != std::string::npos && at < end) {
    const char* digits = framed.c_str() + at + key.size();
    char* stop = nullptr;
    const unsigned long long length = std::strtoull(digits, &stop, 10);
    if (stop != digits && length < body.size()) body.resize(static_cast<std::size_t>(length));
  }
  return body;
}

// Whether the body refers to a character that cannot stand in a value: NUL
// (the parser would end the value there, so that "/w/out&#0;.bak" read as
// "/w/out"), a surrogate or a number beyond U+10FFFF. CDATA sections and
// comments hold no references and are skipped.
bool has_bad_char_ref(const std::string& body) {
  std::size_t at = 0;
  while ((at = body.find_first_of("&<", at)) != std::string::npos) {
    if (body.compare(at, 9, "<![CDATA[") == 0 || body.compare(at, 4, "<!--") == 0) {
      const bool cdata = body[at + 2] == '[';
      const std::size_t end = body.find(cdata ? "]]>" : "-->", at);
      if (end == std::string::npos) return false;  // ill-formed; the parser says why
      at = end + 3;
      continue;
    }
    if (body.compare(at, 2, "&#") != 0) {
      ++at;
      continue;
    }
    at += 2;
    const bool hex = at < body.size() && body[at] == 'x';
    if (hex) ++at;
    unsigned long long code = 0;
    std::size_t digits = 0;
    for (; at < body.size(); ++at, ++digits) {
      const char c = body[at];
      int d = -1;
      if (c >= '0' && c <= '9') d = c - '0';
      if (hex && c >= 'a' && c <= 'f') d = c - 'a' + 10;
      if (hex && c >= 'A' && c <= 'F') d = c - 'A' + 10;
      if (d < 0) break;
      code = std::min(code * (hex ? 16 : 10) + static_cast<unsigned>(d), 0x110000ull);
    }
    if (digits != 0 && (code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))) {
      return true;
    }
  }
  return false;
}

// The text of an element: all its character data, CDATA sections included
// (a value may mix them, or be split by a comment).
std::string text_of(const pugi::xml_node& node) {
  std::string out;
  for (const pugi::xml_node& child : node.children()) {
    if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata) out += child.value();
  }
  return out;
}

// A scalar value as text: <value><string>x</string></value>, or the value's
// own text (XML-RPC's default type). Other types are not strings.
bool string_value(const pugi::xml_node& value, std::string* out) {
  const pugi::xml_node typed = value.first_child();
  if (typed.type() == pugi::node_element) {
    if (std::string(typed.name()) != "string") return false;
    if (typed.next_sibling().type() == pugi::node_element) return false;
    *out = text_of(typed);
    return true;
  }
  *out = text_of(value);
  return true;
}

// Message text that is always well-formed XML character data: bytes that
// are not UTF-8, control characters other than tab, line feed and carriage
// return, and the non-characters U+FFFE and U+FFFF become U+FFFD.
std::string xml_safe(const std::string& text) {
  std::string out;
  for (std::size_t at = 0; at < text.size();) {
    const auto c = static_cast<unsigned char>(text[at]);
    const std::size_t len = c < 0x80             ? 1
                            : (c & 0xE0) == 0xC0 ? 2
                            : (c & 0xF0) == 0xE0 ? 3
                            : (c & 0xF8) == 0xF0 ? 4
                                                 : 0;
    const bool control = (c < 0x20 && c != '\t' && c != '\n' && c != '\r') ||
                         text.compare(at, 3, "\xEF\xBF\xBE") == 0 ||
                         text.compare(at, 3, "\xEF\xBF\xBF") == 0;  // U+FFFE, U+FFFF
    if (len == 0 || control || at + len > text.size() || !is_valid_utf8(text.substr(at, len))) {
      out += "\xEF\xBF\xBD";
      ++at;
      continue;
    }
    out.append(text, at, len);
    at += len;
  }
  return out;
}

bool string_array(const pugi::xml_node& value, std::vector<std::string>* out) {
  const pugi::xml_node array = value.child("array");
  if (!array) return false;
  for (const pugi::xml_node& data : array.children("data")) {
    for (const pugi::xml_node& item : data.children("value")) {
      std::string text;
      if (!string_value(item, &text)) return false;
      out->push_back(std::move(text));
    }
  }
  return true;
}

ParsedCall failure(int code, std::string message) {
  ParsedCall call;
  call.fault_code = code;
  call.error = std::move(message);
  return call;
}

std::string http_framed(const std::string& body) {
  return "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\n\r\n" + body;
}

}  // namespace

ParsedCall parse_call(const std::string& framed) {
  const std::string body = call_body(framed);
  if (has_bad_char_ref(body)) {
    return failure(kFaultMalformed,
                   "malformed call: a reference to a character not allowed in XML");
  }
  pugi::xml_document xml;
  // parse_default turns a raw CR or CR LF in text into LF, as XML requires;
  // a carriage return sent as &#13; is kept, so a path comes back exactly.
  const unsigned options = pugi::parse_default | pugi::parse_ws_pcdata_single;
  const pugi::xml_parse_result parsed =
      xml.load_buffer(body.data(), body.size(), options, pugi::encoding_utf8);
  if (!parsed) {
    return failure(kFaultMalformed, std::string("malformed call: ") + parsed.description() +
                                        " at byte " + std::to_string(parsed.offset));
  }
  const pugi::xml_node call = xml.child("methodCall");
  if (!call) return failure(kFaultMalformed, "malformed call: no methodCall element");
  const std::string method = call.child("methodName").child_value();
  ParsedCall result;
  CompareRequest& request = result.request;
  if (method == kCompare) {
    request.method = Method::compare;
  } else if (method == kCompareMerge) {
    request.method = Method::compare_merge;
  } else {
    return failure(kFaultUnknownMethod, "unknown method \"" + method + "\"");
  }

  std::vector<pugi::xml_node> values;
  for (const pugi::xml_node& param : call.child("params").children("param")) {
    values.push_back(param.child("value"));
  }
  std::size_t next = 0;
  const std::size_t wanted = request.method == Method::compare_merge ? 4 : 3;
  // The type name is the last parameter and may be left off.
  if (values.size() != wanted && values.size() != wanted - 1) {
    return failure(kFaultBadParams, method + " takes " + std::to_string(wanted) +
                                        " parameters, not " + std::to_string(values.size()));
  }
  if (request.method == Method::compare_merge) {
    if (!string_value(values[next++], &request.out_path) || request.out_path.empty()) {
      return failure(kFaultBadParams, "the output path must be a non-empty string");
    }
  }
  if (!string_array(values[next++], &request.display_names)) {
    return failure(kFaultBadParams, "the display names must be an array of strings");
  }
  if (!string_array(values[next++], &request.contributors)) {
    return failure(kFaultBadParams, "the contributor paths must be an array of strings");
  }
  if (next < values.size() && !string_value(values[next], &request.type_name)) {
    return failure(kFaultBadParams, "the file type name must be a string");
  }
  if (request.contributors.size() < 2) {
    return failure(kFaultBadParams, "at least two contributors are needed");
  }
  for (const std::string& path : request.contributors) {
    if (path.empty()) return failure(kFaultBadParams, "a contributor path is empty");
  }
  request.display_names.resize(request.contributors.size());
  for (std::size_t i = 0; i < request.contributors.size(); ++i) {
    if (request.display_names[i].empty()) request.display_names[i] = request.contributors[i];
  }
  result.ok = true;
  return result;
}

std::string boolean_reply(bool value) {
  return http_framed(
      std::string("<?xml version=\"1.0\"?><methodResponse><params><param><value><boolean>") +
      (value ? '1' : '0') + "</boolean></value></param></params></methodResponse>");
}

std::string fault_reply(int code, const std::string& message) {
  return http_framed(
      "<?xml version=\"1.0\"?><methodResponse><fault><value><struct>"
      "<member><name>faultCode</name><value><int>" +
      std::to_string(code) +
      "</int></value></member>"
      "<member><name>faultString</name><value><string>" +
      support::xml_escape(xml_safe(message)) +
      "</string></value></member>"
      "</struct></value></fault></methodResponse>");
}

}  // namespace marlow
