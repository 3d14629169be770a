// Conformance tests of the platform's pipes: both implementations must pass
// the portable ones; checks of the POSIX socket mapping are marked so.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/platform.h"
#include "tests/testlib/testlib.h"

namespace support {

namespace {

namespace fs = std::filesystem;
using platform::ClientPipe;
using platform::ConnectResult;
using platform::OpenStatus;
using platform::PipeAccess;
using platform::PipeDirection;
using platform::PipeParams;
using platform::ReadStatus;
using platform::ServerPipe;

// A pipe name of its own for every use: a socket path inside `dir` on POSIX,
// a name in the pipe namespace (shared by the whole Wine prefix) on Windows.
std::string pipe_name(const testlib::TempDir& dir, const std::string& tag) {
  static std::atomic<unsigned> counter{0};
  const std::string unique = std::to_string(counter++) + tag;
  if constexpr (platform::kWindows) {
    return "\\\\.\\pipe\\tw_platform_test_" + std::to_string(platform::current_pid()) + "_" +
           unique;
  }
  return dir.file("p" + unique);
}

PipeParams params(PipeDirection direction, unsigned max_instances, bool notice_stream = false) {
  PipeParams p;
  p.direction = direction;
  p.max_instances = max_instances;
  p.notice_stream = notice_stream;
  return p;
}

std::unique_ptr<ServerPipe> make_server(const std::string& name, const PipeParams& p) {
  return platform::create_server_pipe(name, p, platform::owner_pipe_security(0x1F01FF, true))
      .value();
}

std::unique_ptr<ClientPipe> open_client(const std::string& name,
                                        PipeAccess access = PipeAccess::read_write) {
  std::unique_ptr<ClientPipe> client;
  const OpenStatus status = platform::open_client_pipe(name, access, false, &client).kind;
  EXPECT_EQ(status, OpenStatus::opened) << name;
  return client;
}

bool is_connected(ConnectResult r) {
  return r == ConnectResult::connected || r == ConnectResult::already_connected;
}

std::string pattern(std::size_t size) {
  std::string text(size, '\0');
  for (std::size_t i = 0; i < size; ++i) text[i] = static_cast<char>('a' + i % 26);
  return text;
}

// Reads one whole message in chunks of at most 4095 bytes.
std::string read_message(ServerPipe& pipe) {
  std::string text;
  char buffer[4096];
  for (;;) {
    const platform::ReadResult r = pipe.read(buffer, 4095);
    text.append(buffer, r.bytes);
    if (r.status != ReadStatus::more_data) return text;
  }
}

// ---------------------------------------------------------------------------
// The message rule.

TEST(PlatformPipe, ServerReadsAMessageInChunksUntilItsEnd) {
  struct Case {
    std::size_t size;
    std::vector<std::pair<ReadStatus, std::size_t>> reads;
  };
  // A zero-length message is a message of its own on Windows; on POSIX the
  // end of a message with nothing read is a failed read. Either way it
  // yields no bytes.
  const ReadStatus empty = platform::kWindows ? ReadStatus::complete : ReadStatus::failed;
  const std::vector<Case> cases = {
      {0, {{empty, 0}}},
      {4095, {{ReadStatus::complete, 4095}}},
      {4096, {{ReadStatus::more_data, 4095}, {ReadStatus::complete, 1}}},
      {10000,
       {{ReadStatus::more_data, 4095},
        {ReadStatus::more_data, 4095},
        {ReadStatus::complete, 1810}}},
  };
  testlib::TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE("message of " + std::to_string(c.size) + " bytes");
    const std::string name = pipe_name(dir, "chunks");
    auto server = make_server(name, params(PipeDirection::inbound, 1));
    ASSERT_TRUE(server);
    const std::string message = pattern(c.size);
    std::promise<void> read_done;
    // A long write may block until it is read, so the client writes on a
    // thread of its own and stays open until the server has read.
    std::thread client_thread([&] {
      auto client = open_client(name, PipeAccess::write);
      if (client) {
        EXPECT_TRUE(client->write(message.data(), message.size()));
      }
      read_done.get_future().wait();
    });
    ASSERT_TRUE(is_connected(server->connect()));
    std::string text;
    std::vector<char> buffer(4096);
    for (const auto& [status, bytes] : c.reads) {
      const platform::ReadResult r = server->read(buffer.data(), 4095);
      EXPECT_EQ(r.status, status);
      EXPECT_EQ(r.bytes, bytes);
      text.append(buffer.data(), r.bytes);
    }
    read_done.set_value();
    client_thread.join();
    EXPECT_EQ(text, message);
  }
}

TEST(PlatformPipe, ClientReadTakesAtMostItsBufferAndFailsWhenTheServerSendsNothing) {
  testlib::TempDir dir;
  {
    const std::string name = pipe_name(dir, "reply");
    auto server = make_server(name, params(PipeDirection::duplex, 255));
    ASSERT_TRUE(server);
    const std::string reply = pattern(1500);
    std::thread server_thread([&] {
      ASSERT_TRUE(is_connected(server->connect()));
      EXPECT_EQ(read_message(*server), "request");
      EXPECT_TRUE(server->write(reply.data(), reply.size()));
      // On Windows: returns once the client has read or gone; the client
      // checks what it read.
      static_cast<void>(server->flush());
      server->disconnect();
    });
    auto client = open_client(name);
    ASSERT_TRUE(client);
    ASSERT_TRUE(client->write("request", 7));
    std::vector<char> buffer(1024);
    std::size_t bytes = 0;
    EXPECT_TRUE(client->read(buffer.data(), 1023, &bytes));
    EXPECT_EQ(std::string(buffer.data(), bytes), reply.substr(0, 1023));
    client.reset();
    server_thread.join();
  }
  {
    const std::string name = pipe_name(dir, "noreply");
    auto server = make_server(name, params(PipeDirection::duplex, 255));
    ASSERT_TRUE(server);
    std::thread server_thread([&] {
      ASSERT_TRUE(is_connected(server->connect()));
      EXPECT_EQ(read_message(*server), "request");
      server->disconnect();
    });
    auto client = open_client(name);
    ASSERT_TRUE(client);
    ASSERT_TRUE(client->write("request", 7));
    std::vector<char> buffer(1024);
    std::size_t bytes = 99;
    EXPECT_FALSE(client->read(buffer.data(), 1023, &bytes));
    EXPECT_EQ(bytes, 0u);
    server_thread.join();
  }
}

TEST(PlatformPipe, NoticeStreamCarriesSeveralWritesAndNoticesWhenTheReaderHasGone) {
  testlib::TempDir dir;
  const std::string name = pipe_name(dir, "wrapper");
  auto server = make_server(name, params(PipeDirection::outbound, 1, true));
  ASSERT_TRUE(server);
  std::unique_ptr<ClientPipe> client;
  ASSERT_EQ(platform::open_client_pipe(name, PipeAccess::read, true, &client).kind,
            OpenStatus::opened);
  ASSERT_TRUE(is_connected(server->connect()));
  ASSERT_TRUE(server->write("a\nb\n", 4));
  ASSERT_TRUE(server->write("c\nd\n", 4));
  std::string received;
  char buffer[64];
  while (received.size() < 8) {
    std::size_t bytes = 0;
    ASSERT_TRUE(client->read(buffer, sizeof(buffer), &bytes));
    received.append(buffer, bytes);
  }
  EXPECT_EQ(received, "a\nb\nc\nd\n");
  client.reset();
  EXPECT_FALSE(server->write("e\nf\n", 4));
}

// ---------------------------------------------------------------------------
// Finding and opening a pipe.

TEST(PlatformPipe, OpenReportsMissingAndBusyPipes) {
  testlib::TempDir dir;
  const std::string missing = pipe_name(dir, "missing");
  std::unique_ptr<ClientPipe> client;
  const platform::OpenResult none =
      platform::open_client_pipe(missing, PipeAccess::read_write, false, &client);
  EXPECT_EQ(none.kind, OpenStatus::not_found);
  // The failed call's own code comes with the kind.
  EXPECT_EQ(none.status.call(), std::string(platform::kWindows ? "CreateFileA" : "connect"));
  EXPECT_EQ(none.status.code(), platform::kWindows ? 2 : ENOENT);  // ERROR_FILE_NOT_FOUND
  EXPECT_FALSE(platform::named_pipe_exists(missing));
  // No pipe of that name: the answer comes at once, not after the minute.
  EXPECT_FALSE(platform::wait_named_pipe(missing, 60000));

  const std::string name = pipe_name(dir, "single");
  auto server = make_server(name, params(PipeDirection::duplex, 1));
  ASSERT_TRUE(server);
  auto first = open_client(name);
  ASSERT_TRUE(first);
  std::unique_ptr<ClientPipe> second;
  EXPECT_EQ(platform::open_client_pipe(name, PipeAccess::read_write, false, &second).kind,
            OpenStatus::busy);
  EXPECT_TRUE(platform::named_pipe_exists(name));  // busy still exists

  server.reset();
  EXPECT_EQ(platform::open_client_pipe(name, PipeAccess::read_write, false, &second).kind,
            OpenStatus::not_found);
}

TEST(PlatformPipe, AWaitOrExistenceCheckAddsNoConnectionOfItsOwn) {
  testlib::TempDir dir;
  const std::string name = pipe_name(dir, "request");
  const PipeParams p = params(PipeDirection::duplex, 255);
  auto instance1 = make_server(name, p);
  ASSERT_TRUE(instance1);
  ASSERT_TRUE(platform::wait_named_pipe(name, 10000));
  auto client1 = open_client(name);
  ASSERT_TRUE(client1);
  ASSERT_TRUE(client1->write("first", 5));

  auto instance2 = make_server(name, p);
  ASSERT_TRUE(instance2);
  EXPECT_TRUE(platform::named_pipe_exists(name));
  auto client2 = open_client(name);
  ASSERT_TRUE(client2);
  ASSERT_TRUE(client2->write("second", 6));

  // Each instance gets the very client that waited or checked, with its
  // message: no empty connection made by the wait comes first.
  ASSERT_TRUE(is_connected(instance1->connect()));
  EXPECT_EQ(read_message(*instance1), "first");
  ASSERT_TRUE(is_connected(instance2->connect()));
  EXPECT_EQ(read_message(*instance2), "second");
}

TEST(PlatformPipe, OneInstancePipeCannotBeMadeTwiceWhileManyInstancePipeGrows) {
  testlib::TempDir dir;
  const std::string single = pipe_name(dir, "single");
  auto a = make_server(single, params(PipeDirection::outbound, 1));
  ASSERT_TRUE(a);
  EXPECT_FALSE(make_server(single, params(PipeDirection::outbound, 1)));
  a.reset();
  EXPECT_TRUE(make_server(single, params(PipeDirection::outbound, 1)));

  const std::string many = pipe_name(dir, "many");
  auto b = make_server(many, params(PipeDirection::duplex, 255));
  auto c = make_server(many, params(PipeDirection::duplex, 255));
  EXPECT_TRUE(b);
  EXPECT_TRUE(c);
}

// ---------------------------------------------------------------------------
// POSIX: socket files, credentials and descriptors.

constexpr const char* kHelperMode = "TW_PIPE_TEST_HELPER";
constexpr const char* kHelperPipe = "TW_PIPE_TEST_HELPER_PIPE";
constexpr const char* kHelperReady = "TW_PIPE_TEST_HELPER_READY";
constexpr const char* kHelperFilter = "--gtest_filter=PlatformPipeHelper.Run";

ServerPipe* g_kept_pipes[2];

void report(const std::string& ready_pipe, const std::string& text) {
  std::unique_ptr<ClientPipe> client;
  if (platform::open_client_pipe(ready_pipe, PipeAccess::write, false, &client).kind ==
      OpenStatus::opened) {
    // The parent waits for this text and fails without it.
    static_cast<void>(client->write(text.data(), text.size()));
  }
}

// The child side of the tests below: this test program started again with a
// filter that selects only this test, and the mode in the environment.
TEST(PlatformPipeHelper, Run) {
  const std::string mode = platform::get_env(kHelperMode);
  if (mode.empty()) GTEST_SKIP() << "runs only as the child process of the POSIX pipe tests";
  const std::string name = platform::get_env(kHelperPipe);
  const std::string ready = platform::get_env(kHelperReady);
  if (mode == "listen") {
    auto pipe = make_server(name, params(PipeDirection::duplex, 1));
    report(ready, pipe ? "listening" : "create failed");
    if (pipe) static_cast<void>(pipe->connect());  // until killed
    platform::exit_now(10);
  }
  if (mode == "make-then-exit-now" || mode == "make-then-return") {
    auto single = make_server(name, params(PipeDirection::outbound, 1));
    auto many = make_server(name + "_many", params(PipeDirection::duplex, 255));
    const bool made =
        single && many && testlib::file_exists(name) && testlib::file_exists(name + "_many");
    report(ready, made ? "made" : "not made");
    // Neither pipe is closed: only the exit may remove their files. (Kept
    // reachable from a static, so a leak checker does not complain.)
    g_kept_pipes[0] = single.release();
    g_kept_pipes[1] = many.release();
    if (mode == "make-then-exit-now") platform::exit_now(7);
    return;
  }
  if (mode == "intrude") {
    std::unique_ptr<ClientPipe> client;
    const OpenStatus status =
        platform::open_client_pipe(name, PipeAccess::read_write, false, &client).kind;
    if (client) static_cast<void>(client->write("intruder", 8));  // the status says enough
    platform::exit_now(20 + static_cast<int>(status));
  }
  if (mode == "fds") {
    std::string lines;
    for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
      std::error_code ec;
      lines += "fd:" + fs::read_symlink(entry.path(), ec).string() + "\n";
    }
    std::fwrite(lines.data(), 1, lines.size(), stdout);
    std::fflush(stdout);
    platform::exit_now(0);
  }
  FAIL() << "unknown helper mode " << mode;
}

// Starts the helper in `mode`; `launcher` (such as a shell) goes in front of
// the test program when given.
bool start_helper(const std::string& mode, const std::string& pipe, const std::string& ready,
                  platform::Process* process, const std::vector<std::string>& launcher = {},
                  const std::string& program = platform::executable_path(),
                  const std::string& stdout_path = "") {
  testlib::ScopedEnv m(kHelperMode, mode);
  testlib::ScopedEnv p(kHelperPipe, pipe);
  testlib::ScopedEnv r(kHelperReady, ready);
  platform::ProcessSpec invocation;
  if (launcher.empty()) {
    invocation.program = program;
    invocation.args = {kHelperFilter};
  } else {
    invocation.program = launcher.front();
    invocation.args.assign(launcher.begin() + 1, launcher.end());
    invocation.args.push_back(program);
    invocation.args.push_back(kHelperFilter);
  }
  invocation.stdout_path = stdout_path.empty() ? "/dev/null" : stdout_path;
  return platform::start_process(invocation, process).ok();
}

std::string wait_for_report(ServerPipe& ready) {
  if (!is_connected(ready.connect())) return "no connection";
  return read_message(ready);
}

fs::perms mode_of(const std::string& path) {
  return fs::status(path).permissions() & fs::perms::mask;
}

TEST(PlatformPipePosix, SocketFileIsPrivateUnderAnyUmaskAndALeftoverIsReplaced) {
  if constexpr (platform::kWindows) GTEST_SKIP() << "socket files exist on POSIX only";
  testlib::TempDir dir;
  const std::string name = dir.file("listened");
  const std::string ready_name = dir.file("ready");
  auto ready = make_server(ready_name, params(PipeDirection::inbound, 1));
  ASSERT_TRUE(ready);
  platform::Process helper;
  ASSERT_TRUE(start_helper("listen", name, ready_name, &helper,
                           {"/bin/sh", "-c", "umask 0 && exec \"$0\" \"$1\""}));
  ASSERT_EQ(wait_for_report(*ready), "listening");
  EXPECT_EQ(mode_of(name), fs::perms::owner_read | fs::perms::owner_write);
  // Someone listens at that name: it can be neither taken over nor shared.
  EXPECT_FALSE(make_server(name, params(PipeDirection::duplex, 1)));
  EXPECT_FALSE(make_server(name, params(PipeDirection::duplex, 255)));

  // Killed, the helper leaves its socket file behind, with nobody listening.
  ASSERT_TRUE(helper.kill());
  EXPECT_EQ(helper.wait(), 128 + 9);
  ASSERT_TRUE(fs::is_socket(name));
  EXPECT_FALSE(platform::named_pipe_exists(name));
  EXPECT_FALSE(platform::wait_named_pipe(name, 60000));
  std::unique_ptr<ClientPipe> client;
  EXPECT_EQ(platform::open_client_pipe(name, PipeAccess::read_write, false, &client).kind,
            OpenStatus::not_found);
  auto server = make_server(name, params(PipeDirection::duplex, 1));
  ASSERT_TRUE(server);
  client = open_client(name);
  ASSERT_TRUE(client);
  ASSERT_TRUE(client->write("fresh", 5));
  ASSERT_TRUE(is_connected(server->connect()));
  EXPECT_EQ(read_message(*server), "fresh");
}

TEST(PlatformPipePosix, OneInstanceSocketFileGoesWhenConnectedOrClosed) {
  if constexpr (platform::kWindows) GTEST_SKIP() << "socket files exist on POSIX only";
  testlib::TempDir dir;
  const std::string single = dir.file("single");
  auto server = make_server(single, params(PipeDirection::outbound, 1));
  ASSERT_TRUE(server);
  EXPECT_TRUE(fs::is_socket(single));
  auto client = open_client(single, PipeAccess::read);
  ASSERT_TRUE(client);
  ASSERT_TRUE(is_connected(server->connect()));
  EXPECT_FALSE(testlib::file_exists(single));
  // The connection itself goes on.
  ASSERT_TRUE(server->write("still here", 10));
  char buffer[32];
  std::size_t bytes = 0;
  ASSERT_TRUE(client->read(buffer, sizeof(buffer), &bytes));
  EXPECT_EQ(std::string(buffer, bytes), "still here");

  const std::string unused = dir.file("unused");
  ASSERT_TRUE(make_server(unused, params(PipeDirection::inbound, 1)));  // destroyed at once
  EXPECT_FALSE(testlib::file_exists(unused));

  const std::string many = dir.file("many");
  auto instance = make_server(many, params(PipeDirection::duplex, 255));
  ASSERT_TRUE(instance);
  auto many_client = open_client(many);
  ASSERT_TRUE(is_connected(instance->connect()));
  instance.reset();
  EXPECT_TRUE(fs::is_socket(many));  // the name stays while the process serves it
}

TEST(PlatformPipePosix, EndingTheProcessRemovesItsSocketFiles) {
  if constexpr (platform::kWindows) GTEST_SKIP() << "socket files exist on POSIX only";
  for (const std::string mode : {"make-then-exit-now", "make-then-return"}) {
    SCOPED_TRACE(mode);
    testlib::TempDir dir;
    const std::string name = dir.file("made");
    const std::string ready_name = dir.file("ready");
    auto ready = make_server(ready_name, params(PipeDirection::inbound, 1));
    ASSERT_TRUE(ready);
    platform::Process helper;
    ASSERT_TRUE(start_helper(mode, name, ready_name, &helper));
    ASSERT_EQ(wait_for_report(*ready), "made");
    EXPECT_EQ(helper.wait(), mode == "make-then-exit-now" ? 7 : 0);
    EXPECT_FALSE(testlib::file_exists(name));
    EXPECT_FALSE(testlib::file_exists(name + "_many"));
  }
}

TEST(PlatformPipePosix, APeerOfAnotherUserIsDroppedOnBothSides) {
  if constexpr (platform::kWindows) GTEST_SKIP() << "peer credentials are checked on POSIX only";
  if (!testlib::running_as_root()) GTEST_SKIP() << "needs root to run a peer as another user";
  if (!testlib::file_exists("/usr/bin/setpriv")) GTEST_SKIP() << "needs /usr/bin/setpriv";
  testlib::TempDir dir;
  const fs::perms open_dir = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                             fs::perms::others_read | fs::perms::others_exec;
  fs::permissions(dir.path(), open_dir);
  // The other user runs a copy of this program that it can read.
  const std::string copy = dir.file("helper");
  ASSERT_TRUE(fs::copy_file(platform::executable_path(), copy));
  fs::permissions(copy, open_dir);

  const std::string name = dir.file("request");
  auto server = make_server(name, params(PipeDirection::duplex, 255));
  ASSERT_TRUE(server);
  // Open the socket file to everyone, so that only the credential checks
  // stand in the other user's way.
  fs::permissions(name, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                            fs::perms::group_write | fs::perms::others_read |
                            fs::perms::others_write);
  platform::Process intruder;
  ASSERT_TRUE(start_helper(
      "intrude", name, "", &intruder,
      {"/usr/bin/setpriv", "--reuid", "65534", "--regid", "65534", "--clear-groups"}, copy));
  // The intruder's own check finds a server of another user: failed.
  EXPECT_EQ(intruder.wait(), 20 + static_cast<int>(OpenStatus::failed));

  auto client = open_client(name);
  ASSERT_TRUE(client);
  ASSERT_TRUE(client->write("mine", 4));
  // The intruder's connection came first; the server passes over it.
  ASSERT_TRUE(is_connected(server->connect()));
  EXPECT_EQ(read_message(*server), "mine");
}

TEST(PlatformPipePosix, AChildInheritsNoSocketAndNoPidFileLock) {
  if constexpr (platform::kWindows) GTEST_SKIP() << "descriptor inheritance is checked on POSIX";
  testlib::TempDir dir;
  auto single = make_server(dir.file("single"), params(PipeDirection::outbound, 1));
  auto many = make_server(dir.file("many"), params(PipeDirection::duplex, 255));
  ASSERT_TRUE(single);
  ASSERT_TRUE(many);
  auto client = open_client(dir.file("single"), PipeAccess::read);
  ASSERT_TRUE(client);
  const std::string pid_file = dir.file("service.pid");
  ASSERT_TRUE(platform::write_pid_file(pid_file, 1234));

  platform::Process child;
  ASSERT_TRUE(
      start_helper("fds", "", "", &child, {}, platform::executable_path(), dir.file("fds.txt")));
  ASSERT_EQ(child.wait(), 0);
  const std::string listing = testlib::read_file(dir.file("fds.txt"));
  EXPECT_NE(listing.find("fd:"), std::string::npos) << listing;
  EXPECT_EQ(listing.find("socket:"), std::string::npos) << listing;
  EXPECT_EQ(listing.find(pid_file), std::string::npos) << listing;
}

}  // namespace

}  // namespace support
