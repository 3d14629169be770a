// Building a Windows command line from an argument vector so that the C
// runtime's parser gives every argument back unchanged. A pure function, used
// by the Win32 process layer and tested on every platform.
#pragma once

#include <string>
#include <vector>

namespace support {

// Quotes one argument by the C runtime's rules: unquoted when it is not
// empty and has no blank, tab, newline or double quote; otherwise enclosed
// in double quotes, with each double quote preceded by a backslash and each
// run of backslashes doubled where it stands before a double quote or the
// closing quote.
std::string quote_windows_argument(const std::string& argument);

// The program in double quotes, then each argument quoted as above, joined
// by single blanks.
std::string windows_command_line(const std::string& program, const std::vector<std::string>& args);

}  // namespace support
