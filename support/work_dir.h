// The per-user work directory, the log file in it, and the error prompt.
#pragma once

#include <string>
#include <vector>

#include "support/layout.h"
#include "support/status.h"

namespace support {

// Creates the per-user work directory <tmp><sep><login>.tarnwick, or accepts
// it when it is already there. False when the temporary directory is empty or
// the directory can be neither created nor used; then `cause`, when given,
// receives why (the errno of the directory's creation or check, or ENOENT for
// an empty temporary directory), for a caller that can log or show it.
bool init_work_dir(Status* cause = nullptr);
// The work directory's path (empty before init_work_dir).
std::string work_dir();
// The prompt tool: <installation directory><sep>bin<sep>fernask[.exe].
std::string prompt_tool_path();
// Empties (creates) the log file `log_name` in the work directory.
void init_log(const std::string& log_name);
// Makes `log_name` in the work directory the log without emptying it: lines
// are appended to what it holds. For a program that may find another of its
// kind running and must not erase that one's log.
void open_log(const std::string& log_name);
// Empties (creates) the log that init_log or open_log set.
void empty_log();
// Appends `message` and one line end to the log with one write, or writes them
// on standard output when the log cannot be opened.
void log_line(const std::string& message);
// Shows `message` through the prompt tool and returns when the tool has ended.
void show_error(const std::string& message);

// The command line that show_error hands the command interpreter on Windows.
std::string prompt_command_line(const std::string& tool_path, const std::string& message);
// The arguments (after the program) with which the prompt tool is run on POSIX.
std::vector<std::string> prompt_arguments(const std::string& message);

}  // namespace support
