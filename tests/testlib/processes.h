// Ownership of every process a test program starts, directly or through the
// programs it starts (clients start services, services start graphical
// clients): finding them, ending them by id, and waiting for a process to
// end on the process itself rather than by polling.
//
// No GoogleTest here: the soak driver uses it too.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "support/platform.h"

namespace testlib {

// Makes every process this program starts, however indirectly, findable by
// descendants(). POSIX: this process becomes a child subreaper, so a process
// whose parent ends is re-parented to it rather than to init (and is ended
// with it when CTest ends a test that ran out of time). Windows: this process
// joins a job object of its own, created with KILL_ON_JOB_CLOSE, which every
// child joins on creation; when this program ends, however it ends, every
// member of the job is ended. Call once, early. False when not possible.
bool own_descendants();

// The live processes descended from this program (POSIX: by parent links,
// which own_descendants() keeps intact; Windows: the members of the job),
// without this program itself and the sanitizer runtime's helpers.
std::vector<std::uint32_t> descendants();

// Ends every descendant by id and waits for each to be gone, sweeping again
// for any started meanwhile (a client may start a service while it is being
// ended), for at most `seconds`. `reap`: also collect the exit statuses of
// this process's ended children (POSIX), so that none stays a zombie; only
// when no test code will still wait for a child of its own. Returns one line
// ("<pid> <image>") per process it ended; empty when none was left.
std::vector<std::string> end_descendants(int seconds, bool reap);

// Waits until process `pid` has ended, at most `seconds`, on the process
// itself (a pidfd on Linux, a process handle on Windows). True when it has
// ended or no longer exists. Works for any process of the user, child or not.
bool wait_for_exit(std::uint32_t pid, int seconds);

// Ends process `pid` by id and waits until it has gone (at most `seconds`).
bool end_process(std::uint32_t pid, int seconds);

// Waits at most `seconds` for `process` to end and returns its status, as
// platform::Process::wait does. When it has not ended by then, it is ended
// and std::nullopt is returned.
std::optional<int> wait_or_end(platform::Process& process, int seconds);

// POSIX: ends the processes that a test program of this build tree left
// behind when it died without cleaning up (a crash, or CTest ending it):
// processes running a program under `build_dir` whose temporary directory
// is a testlib::TempDir ("/tmp/twt<pid>_<n>") of a test program <pid> that
// no longer runs. Returns one line per process ended. Windows: nothing to
// do (the job object ends them with their test program).
std::vector<std::string> end_strays_of_dead_tests(const std::string& build_dir);

// Every process of this user that runs the program `image` (compared as
// platform::paths_equal_ignoring_case does), whoever started it. On Windows
// under Wine: every such process of the prefix.
std::vector<std::uint32_t> processes_running(const std::string& image);

// The system's last error (errno, GetLastError) as ": <text> (<code>)", for
// a message right after a call such as platform::start_process failed.
std::string last_error_text();

// The image path of `pid` for messages ("?" when it cannot be read).
std::string describe_process(std::uint32_t pid);

}  // namespace testlib
