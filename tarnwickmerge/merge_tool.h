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
  // --ours, --theirs, --union: conflicts left take these lines instead of markers.
  marlow::ConflictFill fill = marlow::ConflictFill::markers;
  marlow::SettleOptions rules;
  bool suggest = false;             // --suggest: ranked resolutions as JSON, CURRENT unchanged
  std::size_t marker_size = 7;      // --marker-size (git's default for 0 or less)
  std::vector<std::string> labels;  // -L, up to three: current, base, other
  std::string current, base, other;
};

// Why arguments could not be used, and where the usage goes: git's way is
// the usage on standard output when it was asked for (-h) or an option was
// ambiguous, on the error stream after an unknown option or a wrong number
// of files, and none after a bad value.
struct ArgumentError {
  enum class Usage { none, on_error, on_output };
  std::string message;  // empty when the usage was asked for
  Usage usage = Usage::none;
};

// The options as git merge-file takes them (long options abbreviated to
// any unique beginning, negated with --no-, short ones bundled, options
// after the files), plus our --rules; or nullopt with the reason in `error`.
std::optional<Options> parse_arguments(const std::vector<std::string>& args, ArgumentError* error);

struct MergeOutcome {
  bool ok = false;
  std::string error;
  std::string bytes;          // the merged file
  std::size_t conflicts = 0;  // conflicts left between markers
  // With `suggest`: per conflict left, in order, each suggestion's bytes
  // (in the files' encoding) and reason.
  std::vector<std::vector<std::pair<std::string, std::string>>> suggestions;
};

// The merge of three files' bytes, as bytes, line by line; a file with a NUL
// byte in its first 8000 bytes is binary and an error, as for git. Only
// where git would refuse them so, texts that are all in one UTF-16 or UTF-32
// encoding with a byte order mark are merged as text and written back in it.
MergeOutcome merge_bytes(const std::string& current, const std::string& base,
                         const std::string& other, const std::vector<std::string>& labels,
                         const Options& options);

// The suggestions of `outcome` as one JSON object:
// {"conflicts": [{"suggestions": [{"text": "...", "reason": "..."}, ...]}, ...]}
// with "text_base64" in place of "text" for bytes that are not UTF-8.
std::string suggestions_json(const MergeOutcome& outcome);

// The whole program: 0 for a clean merge (or conflicts settled by taking
// sides), the number of conflicts left (at most 127), 255 after an error
// with a file, 129 for arguments that cannot be used, as git's exit statuses.
int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace tarnwickmerge
