// Escaping text for the character data of an XML element.
#pragma once

#include <string>

namespace support {

// `text` with '&', '<' and '>' written as the XML entities &amp; &lt; &gt;,
// and a carriage return as the character reference &#13; (a raw one is read
// back as a line feed by every XML reader). Every other byte passes
// unchanged, double quotes included: this is for element text, never for an
// attribute value.
[[nodiscard]] std::string xml_escape(const std::string& text);

}  // namespace support
