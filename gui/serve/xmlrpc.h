// The XML-RPC call that the graphical client receives (HTTP-framed, one of
// RequestHandler.Compare / RequestHandler.CompareMerge) and the replies it
// writes back.
#pragma once

#include <string>
#include <vector>

#include "support/xml_escape.h"

namespace marlow {

enum class Method { compare, compare_merge };

struct CompareRequest {
  Method method = Method::compare;
  std::string out_path;                    // merge only
  std::vector<std::string> display_names;  // one per contributor after parsing
  std::vector<std::string> contributors;   // paths, base first in a merge
  std::string type_name;                   // file type name, may be empty
};

struct ParsedCall {
  bool ok = false;
  std::string error;  // why the call cannot be served (becomes a fault)
  int fault_code = 0;
  CompareRequest request;
};

// Fault codes of the replies.
inline constexpr int kFaultMalformed = 1;      // not a well-formed call
inline constexpr int kFaultUnknownMethod = 2;  // a method this client does not serve
inline constexpr int kFaultBadParams = 3;      // wrong parameters for the method
inline constexpr int kFaultCannotServe = 4;    // a file cannot be read, decoded or written

// Parses a framed request ("POST /RPC2 HTTP/1.1\r\nContent-Length: n\r\n\r\n"
// and the call) or a bare call. Entities and character references in values
// are decoded; an array takes the values of all its <data> elements in
// order, whether each value has a <data> element of its own or all share
// one. Display names missing or empty are the contributor paths.
ParsedCall parse_call(const std::string& framed);

// The HTTP-framed methodResponse with one boolean.
std::string boolean_reply(bool value);
// The HTTP-framed methodResponse with a fault; it holds no <boolean>.
std::string fault_reply(int code, const std::string& message);

// Element text is escaped by the support library's rule, as the command-line
// client escapes its call: &, <, > and a carriage return.
using support::xml_escape;

}  // namespace marlow
