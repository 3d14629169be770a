// Writing the output file on Windows: the one file of the serving layer that
// calls the system directly there.
//
// The text goes into a new temporary file beside the output, under a name no
// one can guess, created exclusively (a file or link planted under any name
// is never opened) and shared with no one while it is written; it is
// private to the user until it takes the old file's access control list,
// creation time and attributes. ReplaceFileW then puts it in place of the
// output; a new output is moved into place and takes the folder's inherited
// permissions. A failure
// at any point leaves the old file as it was and removes the temporary file.
//
// Paths are UTF-8 and go to the system as UTF-16, so any name the user has
// works. A symbolic link (or junction) named as the output is followed to
// the file it names, which is replaced; the link stays.
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "serve/serve.h"
#include "support/platform.h"

namespace marlow {
namespace {

// One open file handle, closed once.
class Handle {
 public:
  explicit Handle(HANDLE handle = INVALID_HANDLE_VALUE) : handle_(handle) {}
  ~Handle() {
    if (valid()) ::CloseHandle(handle_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  Handle& operator=(Handle&& other) noexcept {
    if (this != &other) {
      if (valid()) ::CloseHandle(handle_);
      handle_ = std::exchange(other.handle_, INVALID_HANDLE_VALUE);
    }
    return *this;
  }

  bool valid() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
  HANDLE get() const { return handle_; }
  bool close() { return ::CloseHandle(std::exchange(handle_, INVALID_HANDLE_VALUE)) != 0; }

 private:
  HANDLE handle_;
};

std::wstring widen(const std::string& text, bool* ok) {
  *ok = true;
  if (text.empty()) return {};
  const int size = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                                         static_cast<int>(text.size()), nullptr, 0);
  if (size <= 0) {
    *ok = false;
    return {};
  }
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                        wide.data(), size);
  return wide;
}

std::string narrow(const std::wstring& text) {
  if (text.empty()) return {};
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
  if (size <= 0) return {};
  std::string out(static_cast<std::size_t>(size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                        nullptr, nullptr);
  return out;
}

// The system's text for an error code, in UTF-8, without the final period
// and line end.
std::string error_text(DWORD code) {
  wchar_t* buffer = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::wstring text = length > 0 && buffer != nullptr ? std::wstring(buffer, length) : L"";
  if (buffer != nullptr) ::LocalFree(buffer);
  while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L'.' ||
                           text.back() == L' ')) {
    text.pop_back();
  }
  if (text.empty()) return "error " + std::to_string(code);
  return narrow(text);
}

// A failure: what was being done, the system's code and what we add.
struct Failure {
  const char* what = "cannot write ";
  DWORD code = 0;
  const char* why = nullptr;
};

// The full path of `path`, in the form that lifts the MAX_PATH limit.
bool full_path(const std::wstring& path, std::wstring* out) {
  const DWORD size = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (size == 0) return false;
  std::wstring full(size, L'\0');
  const DWORD length = ::GetFullPathNameW(path.c_str(), size, full.data(), nullptr);
  if (length == 0 || length >= size) return false;
  full.resize(length);
  if (full.rfind(L"\\\\", 0) == 0) {
    // \\?\… stays; \\server\share\… becomes \\?\UNC\server\share\….
    if (full.rfind(L"\\\\?\\", 0) != 0 && full.rfind(L"\\\\.\\", 0) != 0) {
      full = L"\\\\?\\UNC\\" + full.substr(2);
    }
  } else {
    full = L"\\\\?\\" + full;
  }
  *out = std::move(full);
  return true;
}

// What the output is now: absent, or an existing file (after its links are
// followed) with its attributes.
struct Destination {
  std::wstring path;  // the file that is written: the link's target for a link
  bool exists = false;
  DWORD attributes = 0;
};

bool locate(const std::wstring& given, Destination* out, Failure* failure) {
  if (!full_path(given, &out->path)) {
    failure->code = ::GetLastError();
    return false;
  }
  const DWORD attributes = ::GetFileAttributesW(out->path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD code = ::GetLastError();
    if (code != ERROR_FILE_NOT_FOUND) {
      failure->code = code;
      return false;
    }
    out->exists = false;
    return true;
  }
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    // Where the link leads, through every link on the way.
    Handle target(::CreateFileW(out->path.c_str(), 0,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!target.valid()) {
      const DWORD code = ::GetLastError();
      if (code != ERROR_FILE_NOT_FOUND) {
        failure->code = code;
        return false;
      }
      // A dangling link is not replaced by a file of its own: that would
      // lose the link. Saving through it needs the folder it names.
      failure->code = code;
      failure->why = "it is a link to a file that does not exist";
      return false;
    }
    wchar_t buffer[1];
    const DWORD size = ::GetFinalPathNameByHandleW(target.get(), buffer, 1, FILE_NAME_NORMALIZED);
    if (size == 0) {
      failure->code = ::GetLastError();
      return false;
    }
    std::wstring final_path(size, L'\0');
    const DWORD length =
        ::GetFinalPathNameByHandleW(target.get(), final_path.data(), size, FILE_NAME_NORMALIZED);
    if (length == 0 || length >= size) {
      failure->code = ::GetLastError();
      return false;
    }
    final_path.resize(length);
    out->path = std::move(final_path);
    const DWORD followed = ::GetFileAttributesW(out->path.c_str());
    if (followed == INVALID_FILE_ATTRIBUTES) {
      failure->code = ::GetLastError();
      return false;
    }
    out->attributes = followed;
  } else {
    out->attributes = attributes;
  }
  out->exists = true;
  if ((out->attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    failure->code = ERROR_DIRECTORY;
    failure->why = "it is a folder";
    return false;
  }
  if ((out->attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    // The user marked the file as not to be changed: it stays as it is.
    failure->code = ERROR_ACCESS_DENIED;
    failure->why = "the file is read-only";
    return false;
  }
  return true;
}

// The folder part of a full path and its last name.
std::pair<std::wstring, std::wstring> split(const std::wstring& path) {
  const std::size_t slash = path.find_last_of(L"\\/");
  if (slash == std::wstring::npos) return {L".", path};
  return {path.substr(0, slash), path.substr(slash + 1)};
}

// A name beside `name` that no one else can guess, within the 255
// characters a name may have.
bool temp_name_for(const std::wstring& name, std::wstring* out) {
  std::uint8_t bytes[12];
  if (!platform::random_bytes(bytes, sizeof bytes)) return false;
  std::wstring suffix = L".marlow-";
  for (const std::uint8_t byte : bytes) {
    suffix += L"0123456789abcdef"[byte >> 4];
    suffix += L"0123456789abcdef"[byte & 15];
  }
  suffix += L".tmp";
  constexpr std::size_t kNameMax = 255;
  *out = name.substr(0, kNameMax - suffix.size()) + suffix;
  return true;
}

// A security descriptor that lets only the current user at the file: the
// temporary file stays private until it is given the old file's list.
class PrivateSecurity {
 public:
  PrivateSecurity() {
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return;
    DWORD size = 0;
    ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    user_.resize(size);
    const bool have_user =
        size > 0 && ::GetTokenInformation(token, TokenUser, user_.data(), size, &size);
    ::CloseHandle(token);
    if (!have_user) return;
    PSID sid = reinterpret_cast<TOKEN_USER*>(user_.data())->User.Sid;
    acl_.resize(sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + ::GetLengthSid(sid));
    PACL acl = reinterpret_cast<PACL>(acl_.data());
    if (!::InitializeAcl(acl, static_cast<DWORD>(acl_.size()), ACL_REVISION) ||
        !::AddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, sid) ||
        !::InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) ||
        !::SetSecurityDescriptorDacl(&descriptor_, TRUE, acl, FALSE) ||
        !::SetSecurityDescriptorControl(&descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED)) {
      return;
    }
    attributes_.nLength = sizeof attributes_;
    attributes_.lpSecurityDescriptor = &descriptor_;
    attributes_.bInheritHandle = FALSE;
    ready_ = true;
  }
  PrivateSecurity(const PrivateSecurity&) = delete;
  PrivateSecurity& operator=(const PrivateSecurity&) = delete;

  SECURITY_ATTRIBUTES* get() { return ready_ ? &attributes_ : nullptr; }

 private:
  std::string user_;
  std::string acl_;
  SECURITY_DESCRIPTOR descriptor_{};
  SECURITY_ATTRIBUTES attributes_{};
  bool ready_ = false;
};

bool write_all(HANDLE file, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 24));
    DWORD wrote = 0;
    if (!::WriteFile(file, bytes.data() + done, chunk, &wrote, nullptr) || wrote == 0) return false;
    done += wrote;
  }
  return true;
}

// The replaced file's access control list, creation time and attributes
// (hidden, system, archive, not indexed) onto the temporary file. Where the
// list cannot be copied the new file stays private to the user.
void keep_properties(const Destination& to, const std::wstring& temp, HANDLE file) {
  DWORD size = 0;
  ::GetFileSecurityW(to.path.c_str(), DACL_SECURITY_INFORMATION, nullptr, 0, &size);
  if (size > 0) {
    std::vector<std::uint64_t> buffer((size + 7) / 8);
    auto* descriptor = reinterpret_cast<PSECURITY_DESCRIPTOR>(buffer.data());
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    if (::GetFileSecurityW(to.path.c_str(), DACL_SECURITY_INFORMATION, descriptor,
                           static_cast<DWORD>(buffer.size() * 8), &size) &&
        ::GetSecurityDescriptorControl(descriptor, &control, &revision)) {
      const SECURITY_INFORMATION what =
          DACL_SECURITY_INFORMATION |
          ((control & SE_DACL_PROTECTED) != 0 ? PROTECTED_DACL_SECURITY_INFORMATION
                                              : UNPROTECTED_DACL_SECURITY_INFORMATION);
      static_cast<void>(::SetFileSecurityW(temp.c_str(), what, descriptor));
    }
  }
  WIN32_FILE_ATTRIBUTE_DATA old{};
  if (::GetFileAttributesExW(to.path.c_str(), GetFileExInfoStandard, &old)) {
    static_cast<void>(::SetFileTime(file, &old.ftCreationTime, nullptr, nullptr));
  }
  constexpr DWORD kKept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                          FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
  if ((to.attributes & kKept) != 0) {
    FILE_BASIC_INFO basic{};
    if (::GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic)) {
      basic.FileAttributes = to.attributes & kKept;
      static_cast<void>(::SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic));
    }
  }
}

bool replace(const Destination& to, const std::string& bytes, Failure* failure) {
  const auto [folder, name] = split(to.path);
  PrivateSecurity security;
  if (to.exists && security.get() == nullptr) {
    failure->code = ::GetLastError();
    return false;
  }
  std::wstring temp;
  Handle file;
  for (int attempt = 0; !file.valid() && attempt < 16; ++attempt) {
    std::wstring temp_name;
    if (!temp_name_for(name, &temp_name)) {
      failure->code = ERROR_GEN_FAILURE;
      return false;
    }
    temp = folder + L"\\" + temp_name;
    // CREATE_NEW never opens what exists (a file or a link someone put
    // there); no sharing keeps others out while the text goes in.
    file =
        Handle(::CreateFileW(temp.c_str(), GENERIC_WRITE, 0, to.exists ? security.get() : nullptr,
                             CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid() && ::GetLastError() != ERROR_FILE_EXISTS) {
      failure->code = ::GetLastError();
      return false;
    }
  }
  if (!file.valid()) {
    failure->code = ERROR_FILE_EXISTS;
    return false;
  }
  auto discard = [&](const char* what, DWORD code) {
    if (file.valid()) file.close();
    ::DeleteFileW(temp.c_str());
    failure->what = what;
    failure->code = code;
    return false;
  };
  if (!write_all(file.get(), bytes)) return discard("cannot write ", ::GetLastError());
  if (to.exists) keep_properties(to, temp, file.get());
  // The text is on the disk before the name points at it.
  if (!::FlushFileBuffers(file.get())) return discard("cannot write ", ::GetLastError());
  if (!file.close()) return discard("cannot write ", ::GetLastError());
  if (to.exists) {
    // Replaced in one call, which also carries the old file's properties
    // over (the copies above hold where it does not). Unlike a rename over
    // the file, it works while others have the file open and allow it to be
    // deleted, as editors and viewers do; readers keep what they opened.
    if (!::ReplaceFileW(to.path.c_str(), temp.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS,
                        nullptr, nullptr)) {
      return discard("cannot replace ", ::GetLastError());
    }
  } else if (!::MoveFileExW(temp.c_str(), to.path.c_str(), MOVEFILE_WRITE_THROUGH)) {
    // Not over a file that appeared meanwhile: that one is not replaced unseen.
    return discard("cannot write ", ::GetLastError());
  }
  return true;
}

}  // namespace

support::Result<std::string> read_file_whole(const std::string& path) {
  bool ok = false;
  const std::wstring wide = widen(path, &ok);
  if (!ok || wide.empty()) return support::Status::failure("the name is not valid UTF-8", EINVAL);
  const DWORD attributes = ::GetFileAttributesW(wide.c_str());
  // Opening a folder as a file is refused as access denied: say what it is.
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
    return support::Status::posix("read", EISDIR);
  // Others may go on reading, writing or renaming it meanwhile: an editor
  // that holds the file open must not make it unreadable here.
  Handle file(::CreateFileW(wide.c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) {
    const DWORD code = ::GetLastError();
    // A missing file is ENOENT on every platform, for callers that test it.
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND)
      return support::Status::posix("CreateFileW", ENOENT);
    return support::Status::win32("CreateFileW", static_cast<int>(code));
  }
  std::string out;
  char buffer[65536];
  for (;;) {
    DWORD got = 0;
    if (!::ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr))
      return support::Status::win32("ReadFile", static_cast<int>(::GetLastError()));
    if (got == 0) break;
    out.append(buffer, got);
  }
  return out;
}

support::Status write_file_replacing(const std::string& path, const std::string& bytes,
                                     int /*stalled_write_ms*/) {
  bool ok = false;
  const std::wstring wide = widen(path, &ok);
  if (!ok || wide.empty())
    return support::Status::failure("cannot write " + path + ": the name is not valid UTF-8");
  Destination to;
  Failure failure;
  if (locate(wide, &to, &failure) && replace(to, bytes, &failure)) return {};
  std::string error = failure.what + path + ": " + error_text(failure.code);
  if (failure.why != nullptr) error += std::string(" (") + failure.why + ")";
  return support::Status::failure(std::move(error));
}

}  // namespace marlow
