// What the Win32 files of the platform layer share among themselves, and
// nothing else includes: the handle owner, the record a pipe's security
// attributes live in, and the largest count one read or write call takes.
#pragma once

#include <windows.h>

#include <cstddef>

#include "support/platform.h"

namespace platform {

// The attributes record a pipe is created with, as its only member: its
// address is the record's.
struct PipeSecurity {
  SECURITY_ATTRIBUTES attributes;
};

namespace win32 {

// The largest count a single ReadFile/WriteFile call takes.
inline DWORD clamp_count(std::size_t size) {
  return size > MAXDWORD ? MAXDWORD : static_cast<DWORD>(size);
}

// A kernel handle closed when the owner goes.
class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(HANDLE handle) : handle_(handle) {}
  ~UniqueHandle() { reset(); }
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;

  HANDLE get() const { return handle_; }
  bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
  void reset(HANDLE handle = nullptr) {
    if (valid()) CloseHandle(handle_);
    handle_ = handle;
  }
  // Gives up ownership without closing.
  HANDLE release() {
    const HANDLE handle = handle_;
    handle_ = nullptr;
    return handle;
  }

 private:
  HANDLE handle_ = nullptr;
};

}  // namespace win32
}  // namespace platform
