// Opening one file of a directory comparison, for any front end: the
// comparison of its two or three files, or what to say instead (binary
// files, a file that cannot be read).
#pragma once

#include <optional>
#include <string>

#include "engine/directory_compare.h"
#include "serve/files.h"
#include "serve/serve.h"
#include "serve/xmlrpc.h"

namespace marlow {

struct EntryOpening {
  // The files to compare, each named "<directory's display name>/<path>";
  // a side without the file has an empty text.
  std::optional<Job> job;
  // Otherwise the title and text of a window that says why there is none.
  std::string title;
  std::string message;
};

// `request` is the directory comparison's call, `entry` one of its files.
// Binary files are not shown as text: the message says what they are and
// whether their bytes are equal. A file that cannot be read or decoded is
// named, with its path and the reason.
EntryOpening open_directory_entry(const CompareRequest& request, const DirectoryEntry& entry,
                                  Files& files);

}  // namespace marlow
