// The installation's layout and the fixed names and texts that more than one
// program uses: one place to read them, one place to change them.
//
// An installation is <dir>/bin (the programs and the prompt tool) and
// <dir>/Brightdesk (the graphical client); every program finds <dir> two
// levels above its own executable, so that a build tree, a test's copy and a
// real installation work alike. The per-user work directory is
// <temporary directory>/<login>.tarnwick.
#pragma once

#include <string>

namespace support {

inline constexpr const char* kBinDirName = "bin";
inline constexpr const char* kGuiDirName = "Brightdesk";

// Program names, without the platform's executable suffix.
inline constexpr const char* kClientProgram = "tarnwick";
inline constexpr const char* kServiceProgram = "hollin_service";
inline constexpr const char* kPromptToolProgram = "fernask";
inline constexpr const char* kGuiProgram = "marlow";

// The work directory's name below the temporary directory, after the login.
inline constexpr const char* kWorkDirSuffix = ".tarnwick";
// The service's pid file (and, on POSIX, its lock) in the work directory.
inline constexpr const char* kPidFileName = "hollin_service.pid";

// The command-line property that hands the graphical client the wrapper
// pipe's name.
inline constexpr const char* kWrapperPipeProperty =
    "-Dcom.orvane.tessel.team.client.integration.wrapperpipe=";

// What the client and the service show through the prompt tool when the
// work directory cannot be made or used.
inline constexpr const char* kWorkDirErrorText = "\" Could not set the temporary directory \"";

// The installation directory of the running program, found once; empty when
// the executable's path cannot be read. Safe to call from any thread.
const std::string& installation_dir();

// <installation><sep>bin<sep><program>[.exe]
std::string program_path_in(const std::string& installation, const std::string& program);
// The same in this installation.
std::string program_path(const std::string& program);
// <installation><sep>Brightdesk
std::string gui_dir_in(const std::string& installation);

}  // namespace support
