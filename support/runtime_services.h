// The runtime services that every program calls: catalogued messages, the
// installation directory, the login name, the temporary directory, the drive
// of a path, and thin portability wrappers. Our own module, over the
// platform layer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "support/platform.h"

namespace support {

// A program's table of message texts, handed by address to msg_print.
struct MessageCatalogue {
  const char* catalogue_name;
  const char* short_name;
  std::uint16_t catalogue_number;
  std::uint16_t entry_count;
  const char* const* texts;      // entry_count texts, entry 0 first
  const std::uint16_t* numbers;  // entry_count numbers
};

// Prepares the runtime services. Always 0.
int svc_system_init();
// Later messages carry this program name. Always 0.
int msg_set_app_name(const char* name);
// Prints entry `index` of `catalogue` on standard error. Kind 6 is the
// catalogue kind; an entry whose number is 1 (a usage text) is printed as it
// stands, any other behind the program name ("tarnwick: text"). Returns 0, or
// -1 for an unknown kind, a null catalogue or an index out of range.
int msg_print(int kind, const MessageCatalogue* catalogue, int index);

// Fills `buffer` (at least 1024 bytes) with the installation directory (the
// directory above the one holding the running executable), without a
// trailing separator, and returns `buffer`. Empty text when it does not fit.
char* product_dir(char* buffer, int flags);
// The current user's login name; owned by the library, never freed.
const char* my_login_name();
// Fills `buffer` with the user's temporary directory and returns `buffer`.
char* get_tmpdir(int flags, char* buffer, std::size_t size, int options);
// The drive part of `path` ("C:" for "C:\w"; empty when the path has none).
// Owned by the library (per thread), valid until the next call.
const char* get_drive(const char* path);

// Creates a private directory; 0, or -1 with errno set (EEXIST for an entry
// of the user's own). The mode is ignored.
int compat_mkdir(const char* path, int mode);
std::FILE* compat_fopen(const char* path, const char* mode);
int compat_fclose(std::FILE* stream);
// The security that grants the current user `access` on a pipe (Windows);
// built once and reused. Null on POSIX, where pipes are protected by the
// private work directory, file modes and peer credentials.
const platform::PipeSecurity* owner_security_attributes(unsigned long access, int inherit);

}  // namespace support
