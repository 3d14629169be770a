// UTF-8 (the engine's text) to UTF-16 (the wide Windows calls) and back.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace marlow::win32 {

std::wstring wide(std::string_view utf8);
std::string narrow(std::wstring_view utf16);

// The row text as a pane shows it: tabs expanded to `tab_width` columns and
// carriage returns inside the line shown as a visible mark. `units[i]` is
// the position in the shown text of UTF-8 byte i (units has one more entry,
// for the end), so that changed bytes can be found in what is painted.
struct ShownRow {
  std::wstring text;
  std::vector<std::size_t> units;
};
ShownRow shown_row(std::string_view utf8, int tab_width);

}  // namespace marlow::win32
