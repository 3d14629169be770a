// Checks of the Win32 platform layer that only make sense on Windows: the
// pipe security descriptor, Win32 pipe flags and errors, CreateProcessA
// command lines and 32-bit exit codes, process image paths. Everything goes
// through support/platform.h; the security descriptor is read through the
// documented binary layout of its records, so no OS header is needed here.
// Under Wine a few Windows guarantees are missing; those tests skip with the
// reason. Built on Windows only (tests/support/CMakeLists.txt).
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/platform.h"
#include "tests/testlib/testlib.h"

namespace support {

namespace {

namespace fs = std::filesystem;

std::string echo_program() {
  return (fs::path(platform::executable_path()).parent_path() / "argv_echo.exe").string();
}

std::string unique_pipe_name(const std::string& tag) {
  static unsigned counter = 0;
  return "\\\\.\\pipe\\tw_win32_test_" + tag + std::to_string(platform::current_pid()) + "_" +
         std::to_string(counter++);
}

// Runs `invocation` with its output captured in files and waits for it.
testlib::RunResult run_spec(platform::ProcessSpec invocation) {
  testlib::TempDir capture;
  invocation.stdout_path = capture.file("out");
  invocation.stderr_path = capture.file("err");
  testlib::RunResult result;
  platform::Process process;
  if (!platform::start_process(invocation, &process)) return result;
  result.status = process.wait();
  result.out = testlib::strip_cr(testlib::read_file(invocation.stdout_path));
  result.err = testlib::strip_cr(testlib::read_file(invocation.stderr_path));
  return result;
}

// ---------------------------------------------------------------------------
// The security descriptor, read by the documented layouts of
// SECURITY_ATTRIBUTES, SECURITY_DESCRIPTOR (absolute or self-relative), ACL,
// ACCESS_ALLOWED_ACE and SID.

constexpr std::uint16_t kDaclPresent = 0x0004;
constexpr std::uint16_t kDaclProtected = 0x1000;
constexpr std::uint16_t kSelfRelative = 0x8000;
constexpr std::uint8_t kAccessAllowedAceType = 0;

template <typename T>
T load(const void* at) {
  T value;
  std::memcpy(&value, at, sizeof value);
  return value;
}

struct AttributesView {
  std::uint32_t length;
  const void* descriptor;
  std::int32_t inherit;
};

struct DaclView {
  bool read = false;
  std::uint16_t control = 0;
  std::uint16_t ace_count = 0;
  std::uint8_t ace_type = 0xFF;
  std::uint32_t mask = 0;
  std::string sid;
};

std::string sid_text(const unsigned char* sid) {
  const unsigned count = sid[1];
  std::uint64_t authority = 0;
  for (int i = 2; i < 8; ++i) authority = (authority << 8) | sid[i];
  std::string text = "S-" + std::to_string(sid[0]) + "-" + std::to_string(authority);
  for (unsigned i = 0; i < count; ++i) {
    text += "-" + std::to_string(load<std::uint32_t>(sid + 8 + 4 * i));
  }
  return text;
}

DaclView read_dacl(const void* attributes) {
  DaclView view;
  const auto record = load<AttributesView>(attributes);
  const auto* descriptor = static_cast<const unsigned char*>(record.descriptor);
  if (descriptor == nullptr) return view;
  view.control = load<std::uint16_t>(descriptor + 2);
  const unsigned char* acl = nullptr;
  if (view.control & kSelfRelative) {
    const auto offset = load<std::uint32_t>(descriptor + 16);
    if (offset != 0) acl = descriptor + offset;
  } else {
    acl = static_cast<const unsigned char*>(
        load<const void*>(descriptor + 4 + 4 + 3 * sizeof(void*)));
  }
  if (acl == nullptr) return view;
  view.ace_count = load<std::uint16_t>(acl + 4);
  const unsigned char* ace = acl + 8;
  view.ace_type = ace[0];
  view.mask = load<std::uint32_t>(ace + 4);
  view.sid = sid_text(ace + 8);
  view.read = true;
  return view;
}

TEST(Win32OwnerSecurity, ProtectedDaclWithOneEntryForTheUserBuiltOnce) {
  const void* attributes = platform::owner_pipe_security(0x1F01FF, true);
  ASSERT_NE(attributes, nullptr);
  EXPECT_EQ(platform::owner_pipe_security(0x1F01FF, true), attributes) << "built once, reused";

  const auto record = load<AttributesView>(attributes);
  EXPECT_GE(record.length, sizeof(AttributesView) - sizeof(void*));
  EXPECT_EQ(record.inherit, 1);

  const DaclView dacl = read_dacl(attributes);
  ASSERT_TRUE(dacl.read) << "no DACL";
  EXPECT_EQ(dacl.control & kDaclPresent, kDaclPresent);
  EXPECT_EQ(dacl.control & kDaclProtected, kDaclProtected);
  EXPECT_EQ(dacl.ace_count, 1);
  EXPECT_EQ(dacl.ace_type, kAccessAllowedAceType);
  EXPECT_EQ(dacl.mask, 0x1F01FFu);
  // The token user's own account SID (S-1-5-21-...), not OWNER RIGHTS
  // (S-1-3-4), which would follow whoever owns the pipe.
  EXPECT_NE(dacl.sid, "S-1-3-4");
  EXPECT_EQ(dacl.sid.rfind("S-1-5-21-", 0), 0u) << dacl.sid;

  // Another inheritance flag or mask is a record of its own, for the same user.
  const void* private_one = platform::owner_pipe_security(0x1F01FF, false);
  ASSERT_NE(private_one, nullptr);
  EXPECT_NE(private_one, attributes);
  EXPECT_EQ(load<AttributesView>(private_one).inherit, 0);
  const DaclView read_only = read_dacl(platform::owner_pipe_security(0x120089, true));
  EXPECT_EQ(read_only.mask, 0x120089u);
  EXPECT_EQ(read_only.sid, dacl.sid);
}

// ---------------------------------------------------------------------------
// Pipes.

TEST(Win32Pipes, CreatedWithTheOwnerDescriptorInEveryDirection) {
  struct Case {
    platform::PipeDirection direction;
    platform::PipeAccess client_access;
    unsigned max_instances;
  };
  const Case cases[] = {
      {platform::PipeDirection::duplex, platform::PipeAccess::read_write, 255},
      {platform::PipeDirection::outbound, platform::PipeAccess::read, 1},
      {platform::PipeDirection::inbound, platform::PipeAccess::write, 1},
  };
  const platform::PipeSecurity* attributes = platform::owner_pipe_security(0x1F01FF, true);
  ASSERT_NE(attributes, nullptr);
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.direction));
    const std::string name = unique_pipe_name("dir");
    platform::PipeParams params;
    params.direction = c.direction;
    params.max_instances = c.max_instances;
    params.first_instance = true;
    auto server = platform::create_server_pipe(name, params, attributes).value();
    ASSERT_NE(server, nullptr);

    std::unique_ptr<platform::ClientPipe> client;
    ASSERT_EQ(platform::open_client_pipe(name, c.client_access, false, &client).kind,
              platform::OpenStatus::opened);
    // The client came first: the wait finds the connection already made.
    EXPECT_EQ(server->connect(), platform::ConnectResult::already_connected);

    char buffer[64] = {};
    std::size_t got = 0;
    if (c.direction != platform::PipeDirection::inbound) {
      ASSERT_TRUE(server->write("to client", 9));
      ASSERT_TRUE(client->read(buffer, sizeof buffer, &got));
      EXPECT_EQ(std::string(buffer, got), "to client");
    }
    if (c.direction != platform::PipeDirection::outbound) {
      ASSERT_TRUE(client->write("to server", 9));
      const platform::ReadResult r = server->read(buffer, sizeof buffer);
      EXPECT_EQ(r.status, platform::ReadStatus::complete);
      EXPECT_EQ(std::string(buffer, r.bytes), "to server");
    }
  }
}

TEST(Win32Pipes, FirstInstanceFlagRefusesASecondCreate) {
  const std::string name = unique_pipe_name("first");
  platform::PipeParams params;
  params.max_instances = 255;
  params.first_instance = true;
  const platform::PipeSecurity* attributes = platform::owner_pipe_security(0x1F01FF, true);
  auto first = platform::create_server_pipe(name, params, attributes).value();
  ASSERT_NE(first, nullptr);
  if (testlib::under_wine()) {
    GTEST_SKIP() << "Wine ignores FILE_FLAG_FIRST_PIPE_INSTANCE: a second create of the same name "
                    "succeeds there";
  }
  const auto second = platform::create_server_pipe(name, params, attributes);
  EXPECT_FALSE(second.ok());
  EXPECT_EQ(second.status().call(), std::string("CreateNamedPipeA"));
}

TEST(Win32Pipes, MissingFreeAndBusyPipesAreToldApart) {
  const std::string name = unique_pipe_name("busy");
  std::unique_ptr<platform::ClientPipe> first;
  EXPECT_FALSE(platform::named_pipe_exists(name));
  EXPECT_FALSE(platform::wait_named_pipe(name, 60000)) << "no pipe: the wait ends at once";
  EXPECT_EQ(platform::open_client_pipe(name, platform::PipeAccess::read_write, false, &first).kind,
            platform::OpenStatus::not_found);

  platform::PipeParams params;  // duplex, one instance
  auto server = platform::create_server_pipe(name, params, nullptr).value();
  ASSERT_NE(server, nullptr);
  EXPECT_FALSE(platform::create_server_pipe(name, params, nullptr).ok()) << "only one instance";
  EXPECT_TRUE(platform::named_pipe_exists(name));
  EXPECT_TRUE(platform::wait_named_pipe(name, 60000));
  ASSERT_EQ(platform::open_client_pipe(name, platform::PipeAccess::read_write, false, &first).kind,
            platform::OpenStatus::opened);

  // Its only instance is taken now.
  std::unique_ptr<platform::ClientPipe> second;
  EXPECT_TRUE(platform::named_pipe_exists(name));
  EXPECT_EQ(platform::open_client_pipe(name, platform::PipeAccess::read_write, false, &second).kind,
            platform::OpenStatus::busy);
  EXPECT_EQ(second, nullptr);
}

TEST(Win32Pipes, LongMessagesArriveInPiecesOnBothEnds) {
  const std::string name = unique_pipe_name("long");
  platform::PipeParams params;
  auto server = platform::create_server_pipe(name, params, nullptr).value();
  ASSERT_NE(server, nullptr);
  std::unique_ptr<platform::ClientPipe> client;
  ASSERT_EQ(platform::open_client_pipe(name, platform::PipeAccess::read_write, false, &client).kind,
            platform::OpenStatus::opened);
  ASSERT_NE(server->connect(), platform::ConnectResult::failed);

  // The server reads in message mode: ERROR_MORE_DATA until the last piece.
  // (A 10,000-byte write fills the pipe's 4096-byte buffer, so it is made in
  // two messages that each fit.)
  const std::string request(4000, 'r');
  ASSERT_TRUE(client->write(request.data(), request.size()));
  std::vector<char> buffer(4096);
  platform::ReadResult r = server->read(buffer.data(), 1500);
  EXPECT_EQ(r.status, platform::ReadStatus::more_data);
  EXPECT_EQ(r.bytes, 1500u);
  r = server->read(buffer.data(), 1500);
  EXPECT_EQ(r.status, platform::ReadStatus::more_data);
  r = server->read(buffer.data(), 1500);
  EXPECT_EQ(r.status, platform::ReadStatus::complete);
  EXPECT_EQ(r.bytes, 1000u);

  // The client takes the first 1023 bytes of a longer reply in one
  // successful read.
  const std::string reply(1500, 'x');
  ASSERT_TRUE(server->write(reply.data(), reply.size()));
  std::size_t got = 0;
  ASSERT_TRUE(client->read(buffer.data(), 1023, &got));
  EXPECT_EQ(got, 1023u);
}

// ---------------------------------------------------------------------------
// Processes.

TEST(Win32Processes, ArgumentsWithBlanksQuotesAndBackslashesArriveUnchanged) {
  const std::vector<std::string> args = {"plain",
                                         "two words",
                                         "quote\"inside",
                                         "ends with\\",
                                         "C:\\dir with blank\\",
                                         "\\\\server\\share",
                                         "a\\\"b",
                                         "",
                                         "tab\there",
                                         "a\" & echo injected & \"b"};
  platform::ProcessSpec invocation;
  invocation.program = echo_program();
  invocation.args = args;
  const testlib::RunResult result = run_spec(invocation);
  ASSERT_EQ(result.status, 0) << result.err;
  std::string expected;
  for (const std::string& arg : args) expected += arg + "\n";
  EXPECT_EQ(result.out, expected);
}

TEST(Win32Processes, CommandLineIsHandedOverAsItStands) {
  platform::ProcessSpec invocation;
  // The program field is not used when a command line is given: its first
  // token names the program.
  invocation.program = "Z:\\no\\such\\program.exe";
  invocation.command_line =
      "\"" + echo_program() + "\" alpha \"beta  gamma\" de\\\"lta x\\\\\"y z\"";
  const testlib::RunResult result = run_spec(invocation);
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, "alpha\nbeta  gamma\nde\"lta\nx\\y z\n");
}

TEST(Win32Processes, ExitStatusIsTheFull32BitCode) {
  platform::ProcessSpec invocation;
  invocation.program = echo_program();
  invocation.args = {"--exit", "-1"};
  EXPECT_EQ(run_spec(invocation).status, -1) << "0xFFFFFFFF";
  invocation.args = {"--exit", "258"};
  EXPECT_EQ(run_spec(invocation).status, 258) << "not only the low byte";
  invocation.args = {"--exit-now", "7"};
  EXPECT_EQ(run_spec(invocation).status, 7) << "exit_now from a thread while the main thread waits";
}

TEST(Win32Processes, HiddenChildRunsInItsWorkingDirectoryWithRedirectedStreams) {
  testlib::TempDir dir;
  platform::ProcessSpec invocation;
  invocation.program = echo_program();
  invocation.hidden = true;
  invocation.working_dir = dir.path();
  invocation.args = {"--cwd"};
  testlib::RunResult result = run_spec(invocation);
  ASSERT_EQ(result.status, 0);
  EXPECT_TRUE(platform::paths_equal_ignoring_case(result.out, dir.path() + "\n"))
      << result.out << " vs " << dir.path();

  invocation.args = {"--stderr", "to the error file"};
  result = run_spec(invocation);
  EXPECT_EQ(result.err, "to the error file\n");
  EXPECT_EQ(result.out, "");

  // Streams on the null device: nothing to capture, the child still runs.
  platform::ProcessSpec quiet;
  quiet.program = echo_program();
  quiet.null_stdio = true;
  quiet.args = {"--exit", "5"};
  platform::Process process;
  ASSERT_TRUE(platform::start_process(quiet, &process));
  EXPECT_EQ(process.wait(), 5);

  platform::ProcessSpec missing;
  missing.program = dir.file("missing.exe");
  EXPECT_FALSE(platform::start_process(missing, &process));
}

TEST(Win32Processes, KilledChildEndsWithStatusOne) {
  platform::ProcessSpec invocation;
  invocation.program = echo_program();
  invocation.args = {"--hang"};
  invocation.null_stdio = true;

  platform::Process by_handle;
  ASSERT_TRUE(platform::start_process(invocation, &by_handle));
  EXPECT_TRUE(by_handle.kill());
  EXPECT_EQ(by_handle.wait(), 1);

  platform::Process by_pid;
  ASSERT_TRUE(platform::start_process(invocation, &by_pid));
  EXPECT_TRUE(platform::kill_process(by_pid.pid()));
  EXPECT_EQ(by_pid.wait(), 1);
}

TEST(Win32Processes, ImagePathOfLiveEndedAndUnknownProcesses) {
  // Under Wine the case of the reported path is not stable: compare without it.
  EXPECT_TRUE(platform::paths_equal_ignoring_case(
      platform::process_image_path(platform::current_pid()).value(), platform::executable_path()))
      << platform::process_image_path(platform::current_pid()).status().text();

  // The child connects to this pipe once it runs: before that its module
  // list may not be set up yet.
  const std::string ready_name = unique_pipe_name("ready");
  auto ready = platform::create_server_pipe(ready_name, platform::PipeParams{}, nullptr).value();
  ASSERT_NE(ready, nullptr);
  platform::ProcessSpec invocation;
  invocation.program = echo_program();
  invocation.args = {"--hang", ready_name};
  invocation.null_stdio = true;
  platform::Process child;
  ASSERT_TRUE(platform::start_process(invocation, &child));
  ASSERT_NE(ready->connect(), platform::ConnectResult::failed);
  EXPECT_TRUE(platform::paths_equal_ignoring_case(platform::process_image_path(child.pid()).value(),
                                                  echo_program()))
      << platform::process_image_path(child.pid()).status().text();
  ASSERT_TRUE(child.kill());
  static_cast<void>(child.wait());  // reaped; how it ended is not the point
  // Ended, though our handle still keeps its record: no image path.
  EXPECT_FALSE(platform::process_image_path(child.pid()).ok());
  // Process ids are multiples of four; this one is never handed out.
  EXPECT_FALSE(platform::process_image_path(0xFFFFFFF1u).ok());
}

// ---------------------------------------------------------------------------
// Files, directories and the environment.

TEST(Win32Files, TempDirDirectoriesAndPidFile) {
  testlib::TempDir dir;
  {
    // GetTempPathA follows TMP and adds a backslash, which temp_dir drops.
    testlib::ScopedEnv tmp("TMP", dir.path() + "\\");
    EXPECT_EQ(platform::temp_dir(), dir.path());
  }

  const std::string sub = dir.file("work");
  EXPECT_EQ(platform::make_private_dir(sub).code(), 0);
  EXPECT_EQ(platform::make_private_dir(sub).code(), EEXIST);
  ASSERT_TRUE(testlib::write_file(dir.file("plain"), "x"));
  EXPECT_EQ(platform::make_private_dir(dir.file("plain")).code(), EEXIST) << "any existing entry";
  EXPECT_EQ(platform::make_private_dir(dir.file("no\\such")).code(), ENOENT);

  // Digits only, the old content gone, and another reader does not stop it.
  const std::string pid_file = dir.file("service.pid");
  ASSERT_TRUE(testlib::write_file(pid_file, "123456789\n"));
  std::ifstream reader(pid_file);
  ASSERT_TRUE(reader.is_open());
  ASSERT_TRUE(platform::write_pid_file(pid_file, 4312));
  EXPECT_EQ(testlib::read_file(pid_file), "4312");
  EXPECT_FALSE(platform::write_pid_file(dir.file("no\\such\\service.pid"), 1));
}

TEST(Win32Environment, SettingReachesTheRuntimeAndChildrenAndEmptyUnsets) {
  const std::string name = "TW_WIN32_TEST_VARIABLE";
  platform::ProcessSpec invocation;
  invocation.program = echo_program();
  invocation.args = {"--env", name};

  ASSERT_TRUE(platform::set_env(name, "a value"));
  EXPECT_EQ(platform::get_env(name), "a value");
  ASSERT_NE(std::getenv(name.c_str()), nullptr);
  EXPECT_STREQ(std::getenv(name.c_str()), "a value");
  EXPECT_EQ(run_spec(invocation).out, "set:a value\n");

  ASSERT_TRUE(platform::set_env(name, ""));
  EXPECT_EQ(platform::get_env(name), "");
  EXPECT_EQ(std::getenv(name.c_str()), nullptr);
  EXPECT_EQ(run_spec(invocation).out, "unset\n");
  EXPECT_TRUE(platform::set_env(name, "")) << "unsetting twice is fine";
}

}  // namespace

}  // namespace support
