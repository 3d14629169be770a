// The comparison of two directories (what git difftool -d asks for) or of
// three (a base and two trees changed from it): every file under any of
// them, by its relative path, marked by its state (only left, only right,
// identical or different; of three, changed in A, changed in B, the same
// change in both, changed in both differently, with what was added or
// deleted); Enter or a double click opens the file's comparison of two or
// three. Closing it answers 1.
#pragma once

#include "serve/xmlrpc.h"
#include "win32/window.h"

namespace marlow::win32 {

// Whether the call compares two or three directories.
bool is_directory_call(const CompareRequest& request);

// Opens the window for `request`; it deletes itself when it closes.
void open_directory_window(const CompareRequest& request, Finish finish);

}  // namespace marlow::win32
