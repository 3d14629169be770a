#include "support/pipe_names.h"

#include "support/platform.h"
#include "support/work_dir.h"

namespace support {

std::string pipe_base_name_for(bool windows, const std::string& work_dir_path) {
  if (windows) return kWindowsPipeBaseName;
  return work_dir_path + "/" + kPosixPipeFileName;
}

std::string pipe_base_name() { return pipe_base_name_for(platform::kWindows, work_dir()); }

std::string request_pipe_name(const std::string& login) {
  return pipe_base_name() + kRequestPipePart + login;
}

std::string random_pipe_name(const std::string& random_part, const std::string& login) {
  return pipe_base_name() + random_part + login;
}

std::string notice_name_problem(const std::string& name) {
  if (name.find('\n') == std::string::npos) return std::string();
  return "The pipe name " + name +
         " cannot be used: it holds a line feed, which would split the pipe notice";
}

}  // namespace support
