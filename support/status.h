// How an operation that can fail says so: a Status is success, the name of
// the system call that failed and the error code it gave, or a message that
// says what is wrong where no system call failed (a text that is not valid
// in its encoding); a Result<T> is a value, or the Status of why there is
// none. Neither throws; both must be
// looked at ([[nodiscard]]), and a caller that drops one on purpose writes
// static_cast<void>(...) with a comment that says why.
//
// The code belongs to the call that failed: an errno value for C-runtime
// and POSIX calls (Status::posix), a GetLastError() value for Win32 API
// calls (Status::win32). Conditions that portable code tests (an entry that
// exists, a lock held elsewhere) are reported as errno values on both
// platforms, so that `code() == EEXIST` means the same everywhere.
#pragma once

#include <string>
#include <system_error>
#include <utility>

namespace support {

class [[nodiscard]] Status {
 public:
  // Success.
  Status() = default;
  // `call` is kept as a pointer, not copied: it must live as long as the
  // program (a string literal), never a buffer or a std::string's data.
  static Status posix(const char* call, int code) { return Status(call, code, false); }
  static Status win32(const char* call, int code) { return Status(call, code, true); }
  // A failure of no system call: `message` is the whole reason, in the
  // words a user or a log reader needs. It must not be empty. `code`, an
  // errno value, tells a caller which kind of refusal it is where the
  // caller acts on that (ERANGE: nothing further that way), 0 otherwise.
  static Status failure(std::string message, int code = 0) {
    Status status(kNoCall, code, false);
    status.message_ = message.empty() ? std::string("failed") : std::move(message);
    return status;
  }

  bool ok() const { return call_ == nullptr; }
  explicit operator bool() const { return ok(); }
  // 0 on success.
  int code() const { return code_; }
  // True when code() is a GetLastError() value, false for an errno value.
  bool is_win32() const { return win32_; }
  // The call that failed; empty text on success and for a message.
  const char* call() const { return call_ != nullptr ? call_ : ""; }
  // The system's text for the code ("Is a directory"), or the message;
  // empty on success.
  std::string reason() const {
    if (ok()) return std::string();
    if (!message_.empty()) return message_;
    return (win32_ ? std::system_category() : std::generic_category()).message(code_);
  }
  // "<call>: <reason>" for a log line, or the message; empty on success.
  std::string text() const {
    if (ok()) return std::string();
    if (!message_.empty()) return message_;
    return std::string(call_) + ": " + reason();
  }

 private:
  static constexpr const char* kNoCall = "";
  Status(const char* call, int code, bool win32) : call_(call), code_(code), win32_(win32) {}
  const char* call_ = nullptr;
  int code_ = 0;
  bool win32_ = false;
  std::string message_;  // a failure of no system call
};

// A value, or the failure that left none.
template <typename T>
class [[nodiscard]] Result {
 public:
  // NOLINTNEXTLINE(google-explicit-constructor): a value is a success
  Result(T value) : value_(std::move(value)) {}
  // NOLINTNEXTLINE(google-explicit-constructor): `failure` must not be ok()
  Result(Status failure) : status_(std::move(failure)) {}

  bool ok() const { return status_.ok(); }
  explicit operator bool() const { return ok(); }
  const Status& status() const { return status_; }
  // The value; a default-constructed T after a failure.
  T& value() & { return value_; }
  const T& value() const& { return value_; }
  T&& value() && { return std::move(value_); }

 private:
  Status status_;
  T value_{};
};

}  // namespace support
