// How the graphical client reaches the relay service and answers it, apart
// from any window: the wrapper pipe and its notices, the per-request pipes,
// loading the contributors of a call, and the automatic answer.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "engine/diff.h"
#include "engine/text_codec.h"
#include "serve/files.h"
#include "serve/xmlrpc.h"
#include "support/graphical_client.h"
#include "support/platform.h"
#include "support/status.h"

namespace marlow {

// The wrapper pipe's name, the notices and the framed request are read as
// every graphical client reads them (support/graphical_client.h).

// Answers one framed request with a reply message; called on the request's
// own thread, so it may block (for example until a window closes).
using RequestHandler = std::function<std::string(const std::string& framed)>;

// Reads notices from the wrapper pipe until it ends (the service has gone),
// serving each on a thread of its own: open the request pipe for reading
// and the response pipe for writing, read the request, write the handler's
// reply with one write. Returns the number of notices seen, once every
// request it started has been answered (so that a caller who then ends
// the program cuts no reply short).
std::size_t serve_notices(platform::ClientPipe& wrapper, const RequestHandler& handler);

// ---------------------------------------------------------------------------
// A call with its files loaded.

struct Job {
  CompareRequest request;
  std::vector<TextDocument> docs;  // one per contributor
};

// What to do with a call:
// - needs_window: show a compare or merge window for `job`;
// - shows_error: a file of the call cannot be served (a contributor cannot
//   be read or decoded, an automatic result cannot be written); where
//   windows can be shown, `message` tells the user which file and why, and
//   `reply` (a fault) answers once that is closed; without windows `reply`
//   answers at once;
// - neither: answer with `reply` at once (the automatic answer, or the
//   fault of a malformed call or an unknown method).
struct Preparation {
  bool needs_window = false;
  bool shows_error = false;
  std::string message;
  std::string reply;
  Job job;  // its request is filled in whenever the call could be parsed
};

// Parses the call and reads and decodes every contributor. With `automatic`
// a merge without conflicts is written to the output at once and answered
// with 1, and a comparison of equal texts is answered with 1, both without
// a window. The contributors are read and the output written through `files`;
// the overload without it uses the system's (real_files()).
Preparation prepare(const std::string& framed, bool automatic, Files& files);
Preparation prepare(const std::string& framed, bool automatic);

// The program's own log, "marlow.log" in the user's work directory beside the
// relay service's: a line when it starts and one for every call with its
// answer, so that an answer given without a window (or a fault) can be
// understood afterwards. Emptied when the program starts; lines go to
// standard output when there is no work directory.
void open_call_log(const std::string& first_line);
// Wraps `handler` so that every call and its answer are logged.
RequestHandler with_call_log(RequestHandler handler);
// "RequestHandler.CompareMerge of base, mine, theirs into /out: answered 1",
// with the fault's reason after a fault.
std::string call_log_line(const std::string& framed, const std::string& reply);

// The handler of a client without windows: what `prepare` cannot answer at
// once is answered with 0 (the output is not touched). Reads and writes
// through `files`, or the system's files without it (a separate name, so
// that the one-argument form can be handed on as a handler).
std::string answer_without_window_through(const std::string& framed, Files& files);
std::string answer_without_window(const std::string& framed);

// The encoding and mark the merged output is written with: the call's type
// name when it names one, else the one that keeps the contributors' bytes
// (merge_encoding).
TextDocument output_document(const Job& job, std::vector<Line> lines);
// Empty when the output keeps every contributor's bytes; else which
// contributors' lines it converts into its encoding, in a sentence.
std::string output_conversion(const Job& job);

// Writes the bytes to `path` through a temporary file in the same directory
// that then replaces it, so that a failed write leaves the old file whole.
// The replaced file's permission bits, owner and group are kept where the
// user may set them (a merged script stays executable); when `path` is a
// symbolic link, the file it points to is replaced and the link stays. The
// temporary file has a name no one can guess and is created by this call
// alone, private, never through a link: in a directory that others may
// write, nothing they planted is written. In a folder everyone may write
// with the sticky bit (/tmp), another user's link or file under the name is
// refused. A FIFO or a character device is written into, never replaced; a
// FIFO that no process reads is refused at once, and one whose reader stops
// reading for `stalled_write_ms` fails the save.
inline constexpr int kStalledWriteMs = 5000;
// The whole file's bytes, or why not: the system's reason, "Is a directory"
// for a folder. `path` is UTF-8 on every platform.
support::Result<std::string> read_file_whole(const std::string& path);
// A failure's text names the file and says why.
support::Status write_file_replacing(const std::string& path, const std::string& bytes,
                                     int stalled_write_ms = kStalledWriteMs);

// Encodes and writes a merge result through `files` (the system's without
// it); a failure says why, the output then as it was.
support::Status save_output(const Job& job, std::vector<Line> lines, Files& files);
support::Status save_output(const Job& job, std::vector<Line> lines);

}  // namespace marlow
