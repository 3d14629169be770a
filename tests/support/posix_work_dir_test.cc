// POSIX: the work directory is checked once, on its open handle, and then
// reached only through it; its files must be regular files; sockets work at
// any path length; a relative temporary directory is made absolute.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>

#include "support/platform.h"
#include "tests/testlib/testlib.h"

namespace support {

namespace {

namespace fs = std::filesystem;
using platform::ConnectResult;
using platform::OpenStatus;
using platform::PipeParams;

// A directory inside `base` whose path is exactly `length` characters.
std::string dir_of_length(const std::string& base, std::size_t length) {
  // Components of at most 200 characters: a file name holds 255.
  std::string path = base;
  while (path.size() < length) {
    const std::size_t left = length - path.size() - 1;
    path += "/" + std::string(left > 200 ? 200 : (left == 0 ? 1 : left), 'd');
  }
  std::error_code ec;
  fs::create_directories(path, ec);
  return path;
}

PipeParams one_instance() {
  PipeParams params;
  params.max_instances = 1;
  return params;
}

// Serves one message from a client of `name` and reads it back.
void expect_round_trip(const std::string& name, const PipeParams& params) {
  std::unique_ptr<platform::ServerPipe> server =
      platform::create_server_pipe(name, params, nullptr).value();
  ASSERT_NE(server, nullptr) << name.size() << " bytes: " << name;
  EXPECT_EQ(platform::pipe_name_problem(name), "");
  std::unique_ptr<platform::ClientPipe> client;
  ASSERT_EQ(platform::open_client_pipe(name, platform::PipeAccess::read_write, false, &client).kind,
            OpenStatus::opened);
  ASSERT_TRUE(client->write("hello", 5));
  ASSERT_NE(server->connect(), ConnectResult::failed);
  char buffer[16] = {};
  EXPECT_EQ(server->read(buffer, sizeof buffer).bytes, 5u);
  EXPECT_EQ(std::string(buffer), "hello");
}

TEST(PosixSockets, WorkAtAnyDirectoryLengthInsideAWorkDirectoryAndOutside) {
  testlib::TempDir tmp;
  for (const std::size_t length : {60u, 100u, 200u, 1000u}) {
    SCOPED_TRACE(length);
    const std::string plain = dir_of_length(tmp.file("p" + std::to_string(length)), length);
    expect_round_trip(plain + "/hollin_service_pipe1073683426someone", one_instance());

    const std::string work = dir_of_length(tmp.file("w" + std::to_string(length)), length);
    ASSERT_EQ(platform::make_private_dir(work + "/me.tarnwick").code(), 0);
    PipeParams many;
    many.max_instances = 255;
    expect_round_trip(work + "/me.tarnwick/hollin_service_pipe_requestme", many);
    expect_round_trip(work + "/me.tarnwick/hollin_service_pipe1073683426me", one_instance());
    // No socket file is left behind by a pipe that was connected.
    EXPECT_FALSE(fs::exists(work + "/me.tarnwick/hollin_service_pipe1073683426me"));
  }
  // A file name that no socket address can hold is refused at once, with
  // the reason.
  const std::string name = tmp.file(std::string(120, 'n'));
  EXPECT_EQ(platform::create_server_pipe(name, one_instance(), nullptr).status().code(),
            ENAMETOOLONG);
  EXPECT_NE(platform::pipe_name_problem(name).find("107 bytes"), std::string::npos)
      << platform::pipe_name_problem(name);
}

// Another user who can write the temporary directory swaps the work
// directory after it was checked: every file and socket still goes into the
// directory that was checked, and nothing goes through a planted link.
TEST(PosixWorkDir, ASwappedDirectoryIsNeverUsedAfterTheCheck) {
  testlib::TempDir tmp;
  const std::string work = tmp.file("me.tarnwick");
  ASSERT_EQ(platform::make_private_dir(work).code(), 0);
  const std::string moved = tmp.file("moved");
  const std::string victim = tmp.file("private.txt");
  ASSERT_TRUE(testlib::write_file(victim, "mine\n"));
  std::error_code ec;
  fs::rename(work, moved, ec);
  ASSERT_FALSE(ec) << ec.message();
  fs::create_directory(work, ec);
  fs::create_symlink(victim, work + "/tarnwick.log", ec);
  fs::create_symlink(victim, work + "/hollin_service.pid", ec);
  ASSERT_FALSE(ec) << ec.message();

  std::FILE* log = platform::open_regular_file(work + "/tarnwick.log", "ab");
  ASSERT_NE(log, nullptr);
  std::fputs("line\n", log);
  std::fclose(log);
  EXPECT_TRUE(platform::write_pid_file(work + "/hollin_service.pid", 4711));
  const std::string sock = work + "/hollin_service_pipe77me";
  // The socket would not be reachable by its name, so it is not made; the
  // cause says so.
  EXPECT_EQ(platform::create_server_pipe(sock, one_instance(), nullptr).status().code(), ENOENT);

  EXPECT_EQ(testlib::read_file(victim), "mine\n");
  EXPECT_EQ(testlib::read_file(moved + "/tarnwick.log"), "line\n");
  EXPECT_EQ(testlib::read_file(moved + "/hollin_service.pid"), "4711");
  EXPECT_FALSE(fs::exists(moved + "/hollin_service_pipe77me"));
  EXPECT_FALSE(fs::exists(fs::symlink_status(work + "/hollin_service_pipe77me")));
}

// A FIFO, a link or a directory in a work file's place is refused at once:
// the opener neither blocks nor writes through it. The FIFO is held open by
// the test so that an open that does not refuse it would succeed instead of
// hanging.
TEST(PosixWorkDir, FilesThatAreNotRegularFilesAreRefusedWithoutBlocking) {
  testlib::TempDir tmp;
  const std::string work = tmp.file("me.tarnwick");
  ASSERT_EQ(platform::make_private_dir(work).code(), 0);
  const std::string fifo = work + "/hollin_service.pid";
  ASSERT_EQ(testlib::run("/usr/bin/mkfifo", {fifo}).status, 0);
  std::FILE* holder = std::fopen(fifo.c_str(), "r+");  // never blocks on Linux
  ASSERT_NE(holder, nullptr);
  const std::string target = tmp.file("target.txt");
  ASSERT_TRUE(testlib::write_file(target, "kept\n"));
  const std::string link = work + "/tarnwick.log";
  fs::create_symlink(target, link);
  const std::string dir = work + "/hollin_service.log";
  fs::create_directory(dir);

  for (const std::string& path : {fifo, link, dir}) {
    SCOPED_TRACE(path);
    for (const char* mode : {"r", "w", "ab"}) {
      std::FILE* file = platform::open_regular_file(path, mode);
      EXPECT_EQ(file, nullptr) << mode;
      if (file != nullptr) std::fclose(file);
    }
    EXPECT_FALSE(platform::write_pid_file(path, 4711));
  }
  std::fclose(holder);
  EXPECT_EQ(testlib::read_file(target), "kept\n");

  const std::string regular = work + "/regular.txt";
  std::FILE* file = platform::open_regular_file(regular, "w");
  ASSERT_NE(file, nullptr);
  std::fclose(file);
  EXPECT_TRUE(platform::write_pid_file(regular, 42));
  EXPECT_EQ(testlib::read_file(regular), "42");
}

TEST(PosixTempDir, ARelativeDirectoryIsMadeAbsoluteOnceForUsAndOurChildren) {
  const std::string cwd = platform::current_dir();
  testlib::ScopedEnv env("TMPDIR", "rel/tmp");
  EXPECT_EQ(platform::temp_dir(), cwd + "/rel/tmp");
  EXPECT_EQ(platform::get_env("TMPDIR"), cwd + "/rel/tmp");
  testlib::TempDir elsewhere;
  ASSERT_TRUE(platform::set_current_dir(elsewhere.path()));
  EXPECT_EQ(platform::temp_dir(), cwd + "/rel/tmp") << "not against a later current directory";
  ASSERT_TRUE(platform::set_current_dir(cwd));
}

}  // namespace

}  // namespace support
