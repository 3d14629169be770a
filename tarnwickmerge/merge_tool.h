// tarnwickmerge: merges the changes from BASE to OTHER into CURRENT, as
// git merge-file does, settling what the merge engine can settle finer than
// lines.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "engine/diff.h"

namespace tarnwickmerge {

struct Options {
  bool to_stdout = false;  // -p: write the result to standard output
  bool quiet = false;      // -q: accepted as git's; conflicts are never reported on stderr
  marlow::MarkerStyle style = marlow::MarkerStyle::merge;
  marlow::SettleOptions rules;
  bool suggest = false;             // --suggest: ranked resolutions as JSON, CURRENT unchanged
  std::size_t marker_size = 7;      // --marker-size
  std::vector<std::string> labels;  // -L, up to three: current, base, other
  std::string current, base, other;
};

// The options, or nullopt with the reason in `error`.
std::optional<Options> parse_arguments(const std::vector<std::string>& args, std::string* error);

struct MergeOutcome {
  bool ok = false;
  std::string error;
  std::string bytes;          // the merged file
  std::size_t conflicts = 0;  // conflicts left between markers
  // With `suggest`: per conflict left, in order, each suggestion's bytes
  // (in the files' encoding) and reason.
  std::vector<std::vector<std::pair<std::string, std::string>>> suggestions;
};

// The merge of three files' bytes. Texts are merged as bytes, line by line;
// UTF-16 and UTF-32 texts with a byte order mark are merged as text and
// written back in their encoding. Other bytes with NUL are binary, and an
// error, as for git.
MergeOutcome merge_bytes(const std::string& current, const std::string& base,
                         const std::string& other, const std::vector<std::string>& labels,
                         const Options& options);

// The suggestions of `outcome` as one JSON object:
// {"conflicts": [{"suggestions": [{"text": "...", "reason": "..."}, ...]}, ...]}
// with "text_base64" in place of "text" for bytes that are not UTF-8.
std::string suggestions_json(const MergeOutcome& outcome);

// The whole program: 0 for a clean merge, the number of conflicts left (at
// most 127), or 255 after an error, explained on `err`.
int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace tarnwickmerge
