#include "support/layout.h"

#include "support/platform.h"

namespace support {

const std::string& installation_dir() {
  // <dir>/bin/<program>: the installation directory is two levels up.
  static const std::string dir = [] {
    std::string path = platform::executable_path();
    for (int level = 0; level < 2; ++level) {
      const std::size_t pos = path.find_last_of(platform::kWindows ? "\\/" : "/");
      if (pos == std::string::npos) return std::string();
      path.erase(pos);
    }
    return path;
  }();
  return dir;
}

std::string program_path_in(const std::string& installation, const std::string& program) {
  const char sep = platform::kPathSeparator;
  return installation + sep + kBinDirName + sep + program + platform::kExeSuffix;
}

std::string program_path(const std::string& program) {
  return program_path_in(installation_dir(), program);
}

std::string gui_dir_in(const std::string& installation) {
  return installation + platform::kPathSeparator + kGuiDirName;
}

}  // namespace support
