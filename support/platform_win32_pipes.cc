// The Win32 named pipes of the platform layer (MinGW-w64, also run under
// Wine), and the owner-only security attributes they are created with.
#include <windows.h>

#include <list>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "support/platform.h"
#include "support/platform_win32_internal.h"

namespace platform {

using win32::clamp_count;
using win32::UniqueHandle;

namespace {

class Win32ServerPipe final : public ServerPipe {
 public:
  explicit Win32ServerPipe(UniqueHandle handle) : handle_(std::move(handle)) {}

  ConnectResult connect() override {
    if (ConnectNamedPipe(handle_.get(), nullptr)) return ConnectResult::connected;
    // The peer came before the wait: the connection is there all the same.
    if (GetLastError() == ERROR_PIPE_CONNECTED) return ConnectResult::already_connected;
    return ConnectResult::failed;
  }

  ReadResult read(char* buffer, std::size_t size) override {
    DWORD got = 0;
    ReadResult result;
    if (ReadFile(handle_.get(), buffer, clamp_count(size), &got, nullptr)) {
      result.status = ReadStatus::complete;
    } else if (GetLastError() == ERROR_MORE_DATA) {
      result.status = ReadStatus::more_data;
      // The rest of the message's size, so that the reader can take it in
      // one read instead of growing its buffer step by step.
      DWORD left = 0;
      if (PeekNamedPipe(handle_.get(), nullptr, 0, nullptr, nullptr, &left)) {
        result.left_in_message = left;
      }
    } else {
      result.status = ReadStatus::failed;
    }
    result.bytes = got;
    return result;
  }

  bool write(const char* data, std::size_t size) override {
    if (size > MAXDWORD) return false;
    DWORD written = 0;
    return WriteFile(handle_.get(), data, static_cast<DWORD>(size), &written, nullptr) &&
           written == size;
  }

  bool flush() override { return FlushFileBuffers(handle_.get()) != 0; }

  void disconnect() override { DisconnectNamedPipe(handle_.get()); }

 private:
  UniqueHandle handle_;
};

class Win32ClientPipe final : public ClientPipe {
 public:
  explicit Win32ClientPipe(UniqueHandle handle) : handle_(std::move(handle)) {}

  bool write(const char* data, std::size_t size) override {
    if (size > MAXDWORD) return false;
    DWORD written = 0;
    return WriteFile(handle_.get(), data, static_cast<DWORD>(size), &written, nullptr) != 0;
  }

  bool read(char* buffer, std::size_t size, std::size_t* bytes) override {
    // The handle stays in the byte read mode it was opened in; a message
    // longer than the buffer still counts as a successful read of its start.
    DWORD got = 0;
    const bool ok = ReadFile(handle_.get(), buffer, clamp_count(size), &got, nullptr) ||
                    GetLastError() == ERROR_MORE_DATA;
    *bytes = got;
    return ok;
  }

 private:
  UniqueHandle handle_;
};

}  // namespace

Result<std::unique_ptr<ServerPipe>> create_server_pipe(const std::string& name,
                                                       const PipeParams& params,
                                                       const PipeSecurity* security) {
  DWORD open_mode = PIPE_ACCESS_DUPLEX;
  if (params.direction == PipeDirection::outbound) open_mode = PIPE_ACCESS_OUTBOUND;
  if (params.direction == PipeDirection::inbound) open_mode = PIPE_ACCESS_INBOUND;
  if (params.first_instance) open_mode |= FILE_FLAG_FIRST_PIPE_INSTANCE;
  const DWORD instances = params.max_instances >= PIPE_UNLIMITED_INSTANCES
                              ? PIPE_UNLIMITED_INSTANCES
                              : params.max_instances;
  // The descriptor is only read by the system; the API merely lacks const.
  auto* attributes =
      security != nullptr ? const_cast<LPSECURITY_ATTRIBUTES>(&security->attributes) : nullptr;
  UniqueHandle handle(CreateNamedPipeA(
      name.c_str(), open_mode,
      PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, instances,
      4096, 4096, 5000, attributes));
  if (!handle.valid()) return Status::win32("CreateNamedPipeA", static_cast<int>(GetLastError()));
  // Without memory for the object the handle is closed here, as on POSIX.
  auto pipe = std::unique_ptr<ServerPipe>(new (std::nothrow) Win32ServerPipe(std::move(handle)));
  if (!pipe) return Status::win32("new", ERROR_NOT_ENOUGH_MEMORY);
  return pipe;
}

bool wait_named_pipe(const std::string& name, unsigned timeout_ms) {
  return WaitNamedPipeA(name.c_str(), timeout_ms) != 0;
}

bool named_pipe_exists(const std::string& name) {
  // With no pipe of that name the wait fails at once; with every instance
  // busy it runs out after 1 ms.
  if (WaitNamedPipeA(name.c_str(), 1)) return true;
  switch (GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_BAD_PATHNAME:
    case ERROR_INVALID_NAME:
      return false;
    default:
      return true;
  }
}

OpenResult open_client_pipe(const std::string& name, PipeAccess access, bool /*notice_stream*/,
                            std::unique_ptr<ClientPipe>* out) {
  DWORD desired = GENERIC_READ | GENERIC_WRITE;
  if (access == PipeAccess::read) desired = GENERIC_READ;
  if (access == PipeAccess::write) desired = GENERIC_WRITE;
  // Identification level only: whoever serves the pipe cannot act as us.
  UniqueHandle handle(CreateFileA(name.c_str(), desired, 0, nullptr, OPEN_EXISTING,
                                  SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr));
  if (!handle.valid()) {
    const DWORD error = GetLastError();
    const Status failed = Status::win32("CreateFileA", static_cast<int>(error));
    switch (error) {
      case ERROR_PIPE_BUSY:
        return {OpenStatus::busy, failed};
      case ERROR_FILE_NOT_FOUND:
        return {OpenStatus::not_found, failed};
      default:
        return {OpenStatus::failed, failed};
    }
  }
  out->reset(new (std::nothrow) Win32ClientPipe(std::move(handle)));
  if (!*out) return {OpenStatus::failed, Status::win32("new", ERROR_NOT_ENOUGH_MEMORY)};
  return {OpenStatus::opened, Status()};
}

// Pipes go with their process here, and pipe names have no length limit of
// their own that a work directory could push them over.
Status remove_pipes_on_termination_signals() { return Status(); }
// Handles have no per-process limit that a caller could have lowered.
std::uint64_t raise_descriptor_limit(std::uint64_t /*wanted*/) { return 0; }
std::string pipe_name_problem(const std::string& /*name*/) { return std::string(); }
void remove_stale_pipes(const std::string& /*base_name*/) {}
// The pid file's mutex tells whether another service runs.
bool pipe_served_elsewhere(const std::string& /*name*/) { return false; }

namespace {

// One security-attributes record and the descriptor, list and SID it points
// into. Absolute-format descriptor, so every part lives here.
struct OwnerSecurity {
  unsigned long access = 0;
  bool inherit = false;
  PipeSecurity security{};
  SECURITY_DESCRIPTOR descriptor{};
  std::vector<unsigned char> sid;
  std::vector<unsigned char> acl;
};

// The SID of the user the process token belongs to.
bool token_user_sid(std::vector<unsigned char>* sid) {
  HANDLE raw = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) return false;
  UniqueHandle token(raw);
  DWORD size = 0;
  GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
  if (size == 0) return false;
  // TOKEN_USER holds pointers: keep the buffer pointer-aligned.
  std::vector<std::uintptr_t> info((size + sizeof(std::uintptr_t) - 1) / sizeof(std::uintptr_t));
  if (!GetTokenInformation(token.get(), TokenUser, info.data(), size, &size)) return false;
  const PSID user = reinterpret_cast<TOKEN_USER*>(info.data())->User.Sid;
  if (!IsValidSid(user)) return false;
  const DWORD length = GetLengthSid(user);
  sid->assign(length, 0);
  return CopySid(length, sid->data(), user) != 0;
}

bool build(OwnerSecurity* record) {
  if (!token_user_sid(&record->sid)) return false;
  const DWORD acl_size = sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) +
                         static_cast<DWORD>(record->sid.size());
  // ACL and ACE fields are DWORD-aligned.
  record->acl.assign((acl_size + 3) & ~3u, 0);
  auto* acl = reinterpret_cast<PACL>(record->acl.data());
  if (!InitializeAcl(acl, static_cast<DWORD>(record->acl.size()), ACL_REVISION)) return false;
  if (!AddAccessAllowedAce(acl, ACL_REVISION, record->access, record->sid.data())) return false;
  if (!InitializeSecurityDescriptor(&record->descriptor, SECURITY_DESCRIPTOR_REVISION))
    return false;
  if (!SetSecurityDescriptorDacl(&record->descriptor, TRUE, acl, FALSE)) return false;
  // Protected: no entries are inherited from a parent object.
  if (!SetSecurityDescriptorControl(&record->descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED)) {
    return false;
  }
  record->security.attributes.nLength = sizeof(SECURITY_ATTRIBUTES);
  record->security.attributes.lpSecurityDescriptor = &record->descriptor;
  record->security.attributes.bInheritHandle = record->inherit ? TRUE : FALSE;
  return true;
}

}  // namespace

const PipeSecurity* owner_pipe_security(unsigned long access, bool inherit) {
  // Built once for each (access, inherit) and kept for the life of the
  // process; callers pass the pointer on to every pipe they create.
  static std::mutex lock;
  static std::list<OwnerSecurity> records;
  const std::lock_guard<std::mutex> guard(lock);
  for (const OwnerSecurity& record : records) {
    if (record.access == access && record.inherit == inherit) return &record.security;
  }
  OwnerSecurity& record = records.emplace_back();
  record.access = access;
  record.inherit = inherit;
  if (!build(&record)) {
    records.pop_back();
    return nullptr;
  }
  return &record.security;
}

}  // namespace platform
