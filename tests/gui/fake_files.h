// Files in memory for the serving layer's tests, with the faults a disk can
// have: a read that fails, a save that runs out of space part of the way
// through its temporary file, and a replacement (the rename) that is
// refused. A save is modelled as the real one works: the bytes go into a
// temporary file first, which replaces the output only once it is whole.
#pragma once

#include <cerrno>
#include <map>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "serve/files.h"

namespace marlow::testing {

class FakeFiles : public Files {
 public:
  std::map<std::string, std::string> contents;
  // A read of the path fails with this error code.
  std::map<std::string, int> read_faults;
  // A save stops with ENOSPC once this many bytes are in its temporary file.
  std::optional<std::size_t> space_left;
  // Renaming a whole temporary file over the output fails with this code.
  int rename_fault = 0;

  // What was done: the paths read and the paths saves were attempted on,
  // and the bytes that reached a temporary file before it was dropped.
  std::vector<std::string> reads;
  std::vector<std::string> saves;
  std::vector<std::string> dropped_temporaries;

  support::Result<std::string> read_whole(const std::string& path) override {
    reads.push_back(path);
    if (const auto fault = read_faults.find(path); fault != read_faults.end())
      return support::Status::posix("fread", fault->second);
    const auto found = contents.find(path);
    if (found == contents.end()) return support::Status::posix("fopen", ENOENT);
    return found->second;
  }

  support::Status replace_whole(const std::string& path, const std::string& bytes,
                                int /*stalled_write_ms*/) override {
    saves.push_back(path);
    std::string temporary = bytes;
    if (space_left && bytes.size() > *space_left) {
      temporary.resize(*space_left);
      dropped_temporaries.push_back(temporary);
      return support::Status::failure("cannot write " + path + ": " + text(ENOSPC));
    }
    if (rename_fault != 0) {
      dropped_temporaries.push_back(temporary);
      return support::Status::failure("cannot replace " + path + ": " + text(rename_fault));
    }
    contents[path] = temporary;
    return {};
  }

  static std::string text(int code) { return std::generic_category().message(code); }
};

}  // namespace marlow::testing
