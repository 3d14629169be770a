// The pipe-name rule, shared by the client and the service: a base name, then
// "_request" or a random pipe part, then the login name, with no separators.
#pragma once

#include <string>

namespace support {

inline constexpr const char* kWindowsPipeBaseName =
    "\\\\.\\pipe\\orvane\\tessel\\vantor71\\hollin_service_pipe";
inline constexpr const char* kPosixPipeFileName = "hollin_service_pipe";
inline constexpr const char* kRequestPipePart = "_request";
// The longest random pipe part: 32767 * 32767 + 7137.
inline constexpr const char* kLongestRandomPart = "1073683426";

// The base name on Windows, or <work_dir>/hollin_service_pipe on POSIX.
std::string pipe_base_name_for(bool windows, const std::string& work_dir);
// The base name for this platform (POSIX: below work_dir()).
std::string pipe_base_name();
// Base name, "_request", login.
std::string request_pipe_name(const std::string& login);
// Base name, random part, login.
std::string random_pipe_name(const std::string& random_part, const std::string& login);
// Empty text when `name` can be handed to the graphical client in a pipe
// notice; otherwise a line that says why not (the notice ends each name with
// a line feed, so a name holding one would be split).
std::string notice_name_problem(const std::string& name);

}  // namespace support
