#include "win32/wide.h"

#include <cstdint>

namespace marlow::win32 {
namespace {

// One character of UTF-8 at `at`: its code point and its length in bytes.
// A byte that starts no valid sequence is a character of its own, shown as
// U+FFFD.
std::pair<char32_t, std::size_t> decode_one(std::string_view s, std::size_t at) {
  const auto b = [&](std::size_t i) { return static_cast<unsigned char>(s[at + i]); };
  const unsigned char c = b(0);
  if (c < 0x80) return {c, 1};
  std::size_t n = c >= 0xF0 && c < 0xF5 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c < 0xE0 ? 2 : 0;
  if (n == 0 || at + n > s.size()) return {0xFFFD, 1};
  char32_t cp = c & (n == 2 ? 0x1F : n == 3 ? 0x0F : 0x07);
  for (std::size_t i = 1; i < n; ++i) {
    if ((b(i) & 0xC0) != 0x80) return {0xFFFD, 1};
    cp = (cp << 6) | (b(i) & 0x3F);
  }
  const bool overlong = (n == 3 && cp < 0x800) || (n == 4 && cp < 0x10000);
  if (overlong || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return {0xFFFD, 1};
  return {cp, n};
}

void append_utf16(std::wstring* out, char32_t cp) {
  if (cp >= 0x10000) {
    cp -= 0x10000;
    out->push_back(static_cast<wchar_t>(0xD800 + (cp >> 10)));
    out->push_back(static_cast<wchar_t>(0xDC00 + (cp & 0x3FF)));
  } else {
    out->push_back(static_cast<wchar_t>(cp));
  }
}

}  // namespace

std::wstring wide(std::string_view utf8) {
  std::wstring out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) {
    const auto [cp, n] = decode_one(utf8, i);
    append_utf16(&out, cp);
    i += n;
  }
  return out;
}

std::string narrow(std::wstring_view utf16) {
  std::string out;
  out.reserve(utf16.size());
  for (std::size_t i = 0; i < utf16.size(); ++i) {
    char32_t cp = static_cast<char16_t>(utf16[i]);
    if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < utf16.size()) {
      const char32_t low = static_cast<char16_t>(utf16[i + 1]);
      if (low >= 0xDC00 && low < 0xE000) {
        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
        ++i;
      }
    }
    if (cp >= 0xD800 && cp < 0xE000) cp = 0xFFFD;  // a lone surrogate
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

ShownRow shown_row(std::string_view utf8, int tab_width) {
  ShownRow row;
  row.text.reserve(utf8.size());
  row.units.assign(utf8.size() + 1, 0);
  std::size_t column = 0;  // in characters, for the tab stops
  for (std::size_t i = 0; i < utf8.size();) {
    const auto [cp, n] = decode_one(utf8, i);
    for (std::size_t k = 0; k < n; ++k) row.units[i + k] = row.text.size();
    if (cp == U'\t') {
      const std::size_t width = static_cast<std::size_t>(tab_width < 1 ? 1 : tab_width);
      const std::size_t spaces = width - column % width;
      row.text.append(spaces, L' ');
      column += spaces;
    } else {
      append_utf16(&row.text, cp == U'\r' ? char32_t{0x240D} : cp);
      ++column;
    }
    i += n;
  }
  row.units[utf8.size()] = row.text.size();
  return row;
}

}  // namespace marlow::win32
