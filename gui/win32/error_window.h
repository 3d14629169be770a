// The window that tells the user why a call cannot be served (which file
// cannot be read, decoded or written, and why); answers the call's fault
// when it closes.
#pragma once

#include <string>

#include "win32/window.h"

namespace marlow::win32 {

// Opens the window; it deletes itself when it closes.
void open_error_window(const std::string& title, const std::string& message, std::string reply,
                       Finish finish);

}  // namespace marlow::win32
