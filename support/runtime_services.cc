#include "support/runtime_services.h"

#include <cerrno>
#include <cstring>

#include "support/layout.h"
#include "support/platform.h"

namespace support {

namespace {

constexpr int kCatalogueKind = 6;
constexpr std::uint16_t kUsageEntryNumber = 1;

std::string& app_name() {
  static std::string name;
  return name;
}

// Copies `text` into `buffer` when it fits with its terminating zero;
// otherwise leaves the buffer empty.
char* copy_out(const std::string& text, char* buffer, std::size_t size) {
  if (buffer == nullptr || size == 0) return buffer;
  if (text.size() < size) {
    std::memcpy(buffer, text.c_str(), text.size() + 1);
  } else {
    buffer[0] = '\0';
  }
  return buffer;
}

}  // namespace

int svc_system_init() { return 0; }

int msg_set_app_name(const char* name) {
  app_name() = name != nullptr ? name : "";
  return 0;
}

int msg_print(int kind, const MessageCatalogue* catalogue, int index) {
  if (kind != kCatalogueKind || catalogue == nullptr || index < 0 ||
      index >= catalogue->entry_count || catalogue->texts[index] == nullptr) {
    return -1;
  }
  std::string line;
  if (catalogue->numbers[index] != kUsageEntryNumber && !app_name().empty()) {
    line = app_name() + ": ";
  }
  line += catalogue->texts[index];
  line += '\n';
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
  return 0;
}

char* product_dir(char* buffer, int /*flags*/) {
  return copy_out(support::installation_dir(), buffer, 1024);
}

const char* my_login_name() {
  static const std::string name = platform::login_name();
  return name.c_str();
}

char* get_tmpdir(int /*flags*/, char* buffer, std::size_t size, int /*options*/) {
  return copy_out(platform::temp_dir(), buffer, size);
}

const char* get_drive(const char* path) {
  thread_local std::string drive;
  drive.clear();
  if (path != nullptr && path[0] != '\0' && path[1] == ':') drive.assign(path, 2);
  return drive.c_str();
}

int compat_mkdir(const char* path, int /*mode*/) {
  const platform::Status made = platform::make_private_dir(path != nullptr ? path : "");
  if (made.ok()) return 0;
  errno = made.code();
  return -1;
}

std::FILE* compat_fopen(const char* path, const char* mode) { return std::fopen(path, mode); }

int compat_fclose(std::FILE* stream) { return std::fclose(stream); }

const platform::PipeSecurity* owner_security_attributes(unsigned long access, int inherit) {
  return platform::owner_pipe_security(access, inherit != 0);
}

}  // namespace support
