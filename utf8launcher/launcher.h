// tarnwickutf8: runs tarnwick with the caller's arguments followed by
// "-encoding utf-8", directly and not through a command interpreter, and ends
// with its exit status.
#pragma once

#include <string>
#include <vector>

namespace tarnwickutf8 {

// The caller's arguments (argv[1..]) unchanged, then "-encoding", "utf-8".
std::vector<std::string> client_arguments(int argc, const char* const* argv);

// Starts the client, waits for it and returns its exit status; -1 when it
// cannot be started or waited for.
int run_launcher(int argc, const char* const* argv);

}  // namespace tarnwickutf8
