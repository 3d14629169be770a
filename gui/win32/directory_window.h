// The comparison of two directories (what git difftool -d asks for): every
// file under either, by its relative path, marked as only left, only right,
// identical or different; Enter or a double click opens the file's
// comparison. Closing it answers 1.
#pragma once

#include "serve/xmlrpc.h"
#include "win32/window.h"

namespace marlow::win32 {

// Whether the call compares two directories.
bool is_directory_call(const CompareRequest& request);

// Opens the window for `request`; it deletes itself when it closes.
void open_directory_window(const CompareRequest& request, Finish finish);

}  // namespace marlow::win32
