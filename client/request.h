// The XML-RPC call that asks the graphical client for a comparison or a
// merge, and the reading of its reply.
#pragma once

#include <string>

#include "client/options.h"

// `text` with '&', '<' and '>' written as the XML entities &amp; &lt; &gt;.
// Every other byte passes unchanged.
std::string xml_escape(const std::string& text);

// The RequestHandler.Compare (or, with -out, RequestHandler.CompareMerge)
// call for a validated record, on one line, without an XML declaration.
std::string build_request(const CompareOptions& options);

// True when the first "<boolean>" of the reply is followed closely enough by
// a "1": the 20 bytes from the start of that tag hold the character 1.
bool reply_succeeded(std::string reply);
