#include "win32/rtf.h"

#include <cstdint>

#include "win32/wide.h"

namespace marlow::win32 {

std::string rtf_text(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size() + 8);
  bool ascii = true;
  for (char c : utf8) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
  const auto plain = [&out](unsigned c) {
    if (c == '\\' || c == '{' || c == '}') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c == '\t') {
      out += "\\tab ";
    } else if (c < 0x20) {
      out += "\\'";
      const char* hex = "0123456789abcdef";
      out += hex[c >> 4];
      out += hex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  };
  if (ascii) {
    for (char c : utf8) plain(static_cast<unsigned char>(c));
    return out;
  }
  for (wchar_t unit : wide(utf8)) {
    const unsigned c = static_cast<std::uint16_t>(unit);
    if (c < 0x80) {
      plain(c);
    } else {
      out += "\\u" + std::to_string(static_cast<std::int16_t>(c)) + "?";
    }
  }
  return out;
}

std::string rtf_document(const std::vector<RtfRow>& rows, const std::vector<unsigned>& colours,
                         const std::string& font, int half_points) {
  std::string out = "{\\rtf1\\ansi\\ansicpg1252\\deff0\\uc1{\\fonttbl{\\f0\\fmodern\\fcharset0 " +
                    font + ";}}{\\colortbl;";
  for (unsigned rgb : colours) {
    out += "\\red" + std::to_string((rgb >> 16) & 0xFF) + "\\green" +
           std::to_string((rgb >> 8) & 0xFF) + "\\blue" + std::to_string(rgb & 0xFF) + ";";
  }
  out += "}\\f0\\fs" + std::to_string(half_points) + " ";
  std::size_t bytes = 0;
  for (const RtfRow& row : rows) bytes += row.text.size() + 8;
  out.reserve(out.size() + bytes);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (i != 0) out += "\\par\n";
    if (rows[i].colour != 0) {
      out += "{\\highlight" + std::to_string(rows[i].colour) + " " + rtf_text(rows[i].text) + "}";
    } else {
      out += rtf_text(rows[i].text);
    }
  }
  out += "}";
  return out;
}

}  // namespace marlow::win32
