// POSIX service faults: a service ended by a signal, the sockets that a killed
// one left, a request pipe removed under a running service, a pid file that
// cannot be written, and a service short of descriptors.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "tests/faults/hand_gui.h"

namespace {

namespace fs = std::filesystem;
using e2e::EventPipe;
using e2e::Sandbox;
using testing::ElementsAre;
using testing::HasSubstr;
using testing::IsEmpty;

std::string request_file() { return "hollin_service_pipe_request" + platform::login_name(); }

std::string gui_dir() { return testlib::join(testlib::root_dir(), "Brightdesk"); }

bool send_signal(std::uint32_t pid, const std::string& signal) {
  return testlib::run("/bin/kill", {"-s", signal, std::to_string(pid)}).status == 0;
}

// Starts a client whose request stays pending: the graphical client connects
// but never opens the request's pipes, so the request pipe and the request's
// two pipes are all in the work directory when this returns.
platform::Process pending_request(Sandbox& box, EventPipe& events, std::string* connected) {
  box.set_mode("never");
  platform::Process client =
      box.start_tarnwick({box.contributor("a.txt"), box.contributor("b.txt")}, "pending");
  EXPECT_TRUE(events.accept());
  *connected = events.wait_for("connected ");
  EXPECT_TRUE(faults::settle([&] { return box.recorded("notice-").size() == 1; }));
  EXPECT_EQ(faults::socket_files(box.work_dir()).size(), 3u);
  return client;
}

class TerminationSignal : public testing::TestWithParam<const char*> {};

// Ended by a signal, the service removes its socket files as one that ends
// by itself does, and ends by that signal.
TEST_P(TerminationSignal, RemovesTheServicesSocketFiles) {
  Sandbox box;
  EventPipe events(box);
  ASSERT_TRUE(events.created());
  std::string connected;
  platform::Process client = pending_request(box, events, &connected);
  const std::uint32_t service = box.service_pid();
  ASSERT_TRUE(Sandbox::is_service(service));

  ASSERT_TRUE(send_signal(service, GetParam()));
  EXPECT_EQ(client.wait(), testlib::minus_one_status());
  ASSERT_TRUE(faults::settle([&] { return !Sandbox::is_service(service); }));
  EXPECT_THAT(faults::socket_files(box.work_dir()), IsEmpty());
  EXPECT_TRUE(testlib::file_exists(box.work_dir() + "/hollin_service.pid"));
}

INSTANTIATE_TEST_SUITE_P(Signals, TerminationSignal, testing::Values("TERM", "INT", "HUP"),
                         [](const testing::TestParamInfo<const char*>& param) {
                           return std::string(param.param);
                         });

// A killed service cannot clean up; the next service removes what it left,
// so that the request's socket files do not pile up.
TEST(PosixServiceFaults, TheNextServiceRemovesTheSocketFilesOfAKilledOne) {
  Sandbox box;
  EventPipe events(box);
  ASSERT_TRUE(events.created());
  std::string connected;
  platform::Process client = pending_request(box, events, &connected);
  const std::uint32_t killed = box.service_pid();
  ASSERT_TRUE(platform::kill_process(killed));
  EXPECT_EQ(client.wait(), testlib::minus_one_status());
  ASSERT_TRUE(faults::settle([&] { return !Sandbox::is_service(killed); }));
  ASSERT_EQ(faults::socket_files(box.work_dir()).size(), 3u);
  // A socket file that someone listens on is never taken for stale.
  const std::string live = box.work_dir() + "/hollin_service_pipe1live";
  platform::PipeParams params;
  params.max_instances = 1;
  std::unique_ptr<platform::ServerPipe> listening =
      platform::create_server_pipe(live, params, nullptr).value();
  ASSERT_NE(listening, nullptr);

  box.set_mode("ok");
  const testlib::RunResult next =
      box.tarnwick({box.contributor("c.txt"), box.contributor("d.txt")});
  EXPECT_EQ(next.status, 0) << box.service_log() << box.client_log();
  EXPECT_NE(box.service_pid(), killed);
  EXPECT_THAT(faults::socket_files(box.work_dir()),
              ElementsAre("hollin_service_pipe1live", request_file()));
}

// Someone removes the request pipe's socket file under a running service:
// the service makes it again, and the clients that find it through its pid
// file are served.
TEST(PosixServiceFaults, ARemovedRequestPipeIsMadeAgain) {
  Sandbox box;
  faults::HandServed served(box);
  ASSERT_EQ(served.setup_error(), "");
  const std::string socket = box.work_dir() + "/" + request_file();
  std::error_code ec;
  ASSERT_TRUE(fs::remove(socket, ec)) << ec.message();
  ASSERT_TRUE(faults::settle([&] {
    return fs::symlink_status(socket, ec).type() == fs::file_type::socket;
  })) << box.service_log();
  EXPECT_THAT(box.service_log(),
              HasSubstr("The request pipe " + socket + " was removed; making it again"));

  platform::Process client = box.start_tarnwick(served.args(), "after");
  std::string framed;
  ASSERT_TRUE(served.serve_next(&framed));
  EXPECT_EQ(framed, e2e::framed(served.call()));
  EXPECT_EQ(client.wait(), 0);
  EXPECT_EQ(served.back_at_rest(), "");
}

enum class BadPidFile { directory, fifo };

class UnwritablePidFile : public testing::TestWithParam<BadPidFile> {};

// A service that cannot write its pid file says why in its log and ends at
// once (a FIFO is held open by the test, so that an open that does not
// refuse it would not hang).
TEST_P(UnwritablePidFile, TheServiceLogsWhyAndEndsAtOnce) {
  Sandbox box;
  ASSERT_EQ(platform::make_private_dir(box.work_dir()).code(), 0);
  const std::string pid_file = box.work_dir() + "/hollin_service.pid";
  std::FILE* holder = nullptr;
  if (GetParam() == BadPidFile::directory) {
    std::error_code ec;
    ASSERT_TRUE(fs::create_directory(pid_file, ec)) << ec.message();
  } else {
    ASSERT_EQ(testlib::run("/usr/bin/mkfifo", {pid_file}).status, 0);
    holder = std::fopen(pid_file.c_str(), "r+");  // never blocks on Linux
    ASSERT_NE(holder, nullptr);
  }
  const testlib::RunResult service =
      testlib::run(testlib::bin_program("hollin_service"), {gui_dir()}, box.dir());
  if (holder != nullptr) std::fclose(holder);
  EXPECT_EQ(service.status, testlib::minus_one_status());
  const std::string why =
      GetParam() == BadPidFile::directory
          ? "Could not write the pid file " + pid_file + ": Is a directory\n"
          : "Could not write the pid file " + pid_file + ": it is not a regular file\n";
  EXPECT_EQ(box.service_log(), why + "Error creating Lock File\n\n");
  EXPECT_THAT(faults::socket_files(box.work_dir()), IsEmpty());
  // The sandbox reads the pid file when it ends.
  std::error_code ec;
  fs::remove(pid_file, ec);
}

INSTANTIATE_TEST_SUITE_P(Kinds, UnwritablePidFile,
                         testing::Values(BadPidFile::directory, BadPidFile::fifo),
                         [](const testing::TestParamInfo<BadPidFile>& param) {
                           return param.param == BadPidFile::directory ? "Directory" : "Fifo";
                         });

// The descriptor numbers open in process `pid`, ascending.
std::vector<int> open_fd_numbers(std::uint32_t pid) {
  std::vector<int> numbers;
  std::error_code ec;
  for (fs::directory_iterator it("/proc/" + std::to_string(pid) + "/fd", ec), end; !ec && it != end;
       it.increment(ec)) {
    numbers.push_back(std::stoi(it->path().filename().string()));
  }
  std::sort(numbers.begin(), numbers.end());
  return numbers;
}

// The descriptor limit at which exactly `free` more descriptors can be opened.
int limit_leaving(const std::vector<int>& open, int free) {
  int limit = 0;
  for (int left = free; left > 0; ++limit) {
    if (!std::binary_search(open.begin(), open.end(), limit)) --left;
  }
  return limit;
}

// With descriptors for one request in flight and hardly more, a second
// client is not dropped: its request waits until the first one's relay has
// ended, and both are served.
TEST(PosixServiceFaults, ARequestShortOfDescriptorsWaitsAndIsServed) {
  Sandbox box;
  faults::HandServed served(box);
  ASSERT_EQ(served.setup_error(), "");
  const std::uint32_t pid = served.service().pid();
  // The first request takes its client's connection and its two pipes (a
  // listener and a descriptor held for the accept of each); the second
  // client's connection takes one more, and then there is none left.
  const int limit = limit_leaving(open_fd_numbers(pid), 6);
  const std::string nofile = std::to_string(limit);
  ASSERT_EQ(testlib::run("/usr/bin/prlimit",
                         {"--pid", std::to_string(pid), "--nofile=" + nofile + ":" + nofile})
                .status,
            0);

  platform::Process first = box.start_tarnwick(served.args(), "first-short");
  faults::Notice notice;
  ASSERT_TRUE(served.gui().next_notice(&notice));
  platform::Process second = box.start_tarnwick(served.args(), "second-short");
  const std::string waiting =
      "Out of descriptors for a request's pipes; waiting for a relay to end";
  std::string seen;
  ASSERT_TRUE(faults::settle([&] {
    seen = box.service_log() + testlib::read_file(box.file("service.out"));
    return seen.find(waiting) != std::string::npos ||
           seen.find("Could not create HOLLIN_") != std::string::npos;
  })) << seen;
  EXPECT_THAT(seen, HasSubstr(waiting));

  std::string framed;
  ASSERT_TRUE(faults::HandGui::serve(notice, faults::reply_with_boolean('1'), &framed));
  EXPECT_EQ(first.wait(), 0);
  ASSERT_TRUE(served.serve_next(&framed));
  EXPECT_EQ(framed, e2e::framed(served.call()));
  EXPECT_EQ(second.wait(), 0);
}

}  // namespace

namespace {

// Runs tarnwick in the sandbox under the descriptor limits `soft`:`hard`
// (`hard` empty: unchanged), output in files named after `tag`.
platform::Process tarnwick_limited(Sandbox& box, const std::string& soft, const std::string& hard,
                                   const std::string& tag) {
  platform::ProcessSpec invocation;
  invocation.program = "/usr/bin/prlimit";
  invocation.args = {"--nofile=" + soft + ":" + hard, "--", testlib::bin_program("tarnwick"),
                     box.contributor("a.txt"), box.contributor("b.txt")};
  invocation.working_dir = box.dir();
  invocation.stdout_path = box.file(tag + ".out");
  invocation.stderr_path = box.file(tag + ".err");
  platform::Process process;
  EXPECT_TRUE(platform::start_process(invocation, &process).ok());
  return process;
}

// The soft descriptor limit of process `pid`, from /proc; empty when unread.
std::string soft_descriptor_limit(std::uint32_t pid) {
  const std::string limits = testlib::read_file("/proc/" + std::to_string(pid) + "/limits");
  const std::size_t at = limits.find("Max open files");
  if (at == std::string::npos) return std::string();
  const std::size_t from = limits.find_first_not_of(' ', at + 14);
  return limits.substr(from, limits.find(' ', from) - from);
}

// A client started under a low soft limit hands it to the service it starts;
// the service raises it, serves that client and every later one.
TEST(PosixServiceFaults, AServiceStartedUnderALowSoftLimitRaisesIt) {
  Sandbox box;
  box.set_mode("ok");
  platform::Process low = tarnwick_limited(box, "8", "", "low");
  EXPECT_EQ(Sandbox::wait(low, "the client under a low limit"), 0)
      << box.service_log() << box.client_log();
  const std::uint32_t service = box.service_pid();
  ASSERT_TRUE(Sandbox::is_service(service));
  EXPECT_EQ(soft_descriptor_limit(service), "4096");
  for (const char* tag : {"later1", "later2"}) {
    platform::Process later =
        box.start_tarnwick({box.contributor("c.txt"), box.contributor("d.txt")}, tag);
    EXPECT_EQ(Sandbox::wait(later, tag), 0) << box.service_log() << box.client_log();
  }
  EXPECT_EQ(box.service_pid(), service);
}

class TooFewDescriptors : public testing::TestWithParam<int> {};

// A hard limit too low for even one request (8: no client can be accepted;
// 10: a request's pipes cannot be made): the service ends with a line that
// says why, its client fails at once instead of waiting, and the next client
// starts a service of its own that serves it.
TEST_P(TooFewDescriptors, TheServiceEndsAndTheNextClientIsServed) {
  Sandbox box;
  box.set_mode("ok");
  const std::string limit = std::to_string(GetParam());
  platform::Process starved = tarnwick_limited(box, limit, limit, "starved");
  EXPECT_EQ(Sandbox::wait(starved, "the client under a low hard limit"),
            testlib::minus_one_status());
  const std::uint32_t ended = box.service_pid();
  EXPECT_TRUE(Sandbox::wait_for_exit(ended)) << box.service_log();
  EXPECT_THAT(box.service_log(), HasSubstr("Too few descriptors left to serve a request; exiting"));

  platform::Process next =
      box.start_tarnwick({box.contributor("c.txt"), box.contributor("d.txt")}, "next");
  EXPECT_EQ(Sandbox::wait(next, "the next client"), 0) << box.service_log() << box.client_log();
  EXPECT_NE(box.service_pid(), ended);
}

INSTANTIATE_TEST_SUITE_P(HardLimits, TooFewDescriptors, testing::Values(8, 10),
                         [](const testing::TestParamInfo<int>& param) {
                           return "Limit" + std::to_string(param.param);
                         });

}  // namespace

namespace {

// A temporary-file cleaner removes the pid file of a running service while
// a request is in flight; a client then starts a second service. That one
// must leave the running service's socket files alone (it once connected to
// the request's pipes to see whether they were stale, and so took them from
// the graphical client), end without the pid file, and cost no request.
TEST(PosixServiceFaults, AServiceWhosePidFileWasRemovedKeepsServing) {
  Sandbox box;
  faults::HandServed served(box);
  ASSERT_EQ(served.setup_error(), "");
  const std::string pid_file = box.work_dir() + "/hollin_service.pid";
  platform::Process pending = box.start_tarnwick(served.args(), "pending");
  faults::Notice notice;
  ASSERT_TRUE(served.gui().next_notice(&notice));
  const std::vector<std::string> sockets = faults::socket_files(box.work_dir());
  ASSERT_EQ(sockets.size(), 3u);
  const std::string log_before = box.service_log();
  ASSERT_THAT(log_before, HasSubstr("Debug option was passed"));
  std::error_code ec;
  ASSERT_TRUE(fs::remove(pid_file, ec)) << ec.message();

  const testlib::RunResult second =
      testlib::run(testlib::bin_program("hollin_service"), {gui_dir()}, box.dir());
  EXPECT_EQ(second.status, testlib::minus_one_status());
  EXPECT_EQ(faults::socket_files(box.work_dir()), sockets);
  const std::string log_after = box.service_log();
  EXPECT_EQ(log_after.substr(0, log_before.size()), log_before);
  EXPECT_THAT(log_after, HasSubstr("The request pipe " + served.request_pipe() +
                                   " is served by another running service\n" +
                                   "Error creating Lock File\n\n"));

  // The request in flight and the next one are served by the running service.
  std::string framed;
  ASSERT_TRUE(faults::HandGui::serve(notice, faults::reply_with_boolean('1'), &framed));
  EXPECT_EQ(framed, e2e::framed(served.call()));
  EXPECT_EQ(Sandbox::wait(pending, "the pending client"), 0);
  platform::Process next = box.start_tarnwick(served.args(), "next");
  ASSERT_TRUE(served.serve_next(&framed));
  EXPECT_EQ(framed, e2e::framed(served.call()));
  EXPECT_EQ(Sandbox::wait(next, "the next client"), 0) << box.client_log();
  EXPECT_TRUE(served.service().running());
  // While nobody comes, the service makes its pid file again.
  EXPECT_TRUE(faults::settle([&] { return box.service_pid() == served.service().pid(); }));
  EXPECT_THAT(box.service_log(),
              HasSubstr("The pid file " + pid_file + " was removed; made it again"));
}

// A Unix socket bound at `path` (closed again unless `keep`); -1 when the
// bind fails.
int bound_socket(const std::string& path, bool keep = false) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
  if (fd < 0 || ::bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
    if (fd >= 0) ::close(fd);
    return -1;
  }
  if (keep) return fd;
  ::close(fd);
  return 0;
}

// A socket file that a live socket is bound to is never taken for stale,
// whether or not it listens yet; one whose socket is gone is.
TEST(PosixServiceFaults, OnlySocketFilesWithoutALiveSocketAreStale) {
  Sandbox box;
  ASSERT_EQ(platform::make_private_dir(box.work_dir()).code(), 0);
  const std::string base = box.work_dir() + "/hollin_service_pipe";
  platform::PipeParams params;
  params.max_instances = 1;
  // Bound and closed, so that the file stays and no socket is bound to it
  // any more: a killed service's leftover.
  const std::string dead = base + "1dead";
  ASSERT_EQ(bound_socket(dead), 0);
  // Bound but not listening (by this process, but not as one of its pipes):
  // a pipe of another process an instant before it listens.
  const std::string bound = base + "2bound";
  const int bound_fd = bound_socket(bound, true);
  ASSERT_GE(bound_fd, 0);
  // Listening, in this process: it must not be connected to either.
  const std::string live = base + "3live";
  std::unique_ptr<platform::ServerPipe> listening =
      platform::create_server_pipe(live, params, nullptr).value();

  platform::remove_stale_pipes(base);
  EXPECT_THAT(faults::socket_files(box.work_dir()),
              ElementsAre("hollin_service_pipe2bound", "hollin_service_pipe3live"));
  EXPECT_TRUE(platform::pipe_served_elsewhere(bound));
  EXPECT_FALSE(platform::pipe_served_elsewhere(live)) << "this process's own";
  EXPECT_FALSE(platform::pipe_served_elsewhere(dead));
  // The listening pipe still has its one instance for its peer.
  std::unique_ptr<platform::ClientPipe> peer;
  EXPECT_EQ(platform::open_client_pipe(live, platform::PipeAccess::read_write, false, &peer).kind,
            platform::OpenStatus::opened);
  EXPECT_EQ(listening->connect(), platform::ConnectResult::connected);
  ::close(bound_fd);
}

}  // namespace
