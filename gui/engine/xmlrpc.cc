#include "engine/xmlrpc.h"

#include <cstdlib>
#include <pugixml.hpp>

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

// A scalar value as text: <value><string>x</string></value>, or the value's
// own text (XML-RPC's default type). Other types are not strings.
bool string_value(const pugi::xml_node& value, std::string* out) {
  const pugi::xml_node typed = value.first_child();
  if (typed.type() == pugi::node_element) {
    if (std::string(typed.name()) != "string") return false;
    if (typed.next_sibling().type() == pugi::node_element) return false;
    *out = typed.child_value();
    return true;
  }
  *out = value.child_value();
  return true;
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

std::string xml_escape(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

ParsedCall parse_call(const std::string& framed) {
  const std::string body = call_body(framed);
  pugi::xml_document xml;
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
      xml_escape(message) +
      "</string></value></member>"
      "</struct></value></fault></methodResponse>");
}

}  // namespace marlow
