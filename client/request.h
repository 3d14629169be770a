// The XML-RPC call that asks the graphical client for a comparison or a
// merge, and the reading of its reply.
#pragma once

#include <string>

#include "client/options.h"
#include "support/xml_escape.h"

namespace tarnwick {

// The call's values are escaped as XML element text by the support library's
// rule: &, <, > and a carriage return.
using support::xml_escape;

// False when `text` holds a control character that XML cannot carry at all,
// even as a reference: a byte below 0x20 other than tab, line feed and
// carriage return. Such a value would reach the reader as another text.
[[nodiscard]] bool xml_can_carry(const std::string& text);

// The RequestHandler.Compare (or, with -out, RequestHandler.CompareMerge)
// call for a validated record, on one line, without an XML declaration.
// `validate` has refused every value that xml_can_carry refuses.
[[nodiscard]] std::string build_request(const CompareOptions& options);

// True when the first "<boolean>" of the reply is followed closely enough by
// a "1": the 20 bytes from the start of that tag hold the character 1.
[[nodiscard]] bool reply_succeeded(std::string reply);

// The text of an XML-RPC fault's faultString member, with the entities and
// character references of element text read back and every control
// character (line ends included) made a blank, so that it fits one log
// line; empty when the reply holds no such member. Only for telling the user
// why a call failed: success is decided by reply_succeeded alone.
[[nodiscard]] std::string reply_fault_text(const std::string& reply);

}  // namespace tarnwick
