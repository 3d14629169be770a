// The built hollin_service, started for real in a private temporary
// directory. On Windows every process of the Wine prefix shares one pipe
// namespace and the request pipe's name depends only on the login, so this
// test program takes the prefix's pipe lock (see CMakeLists.txt).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "support/pipe_names.h"
#include "support/platform.h"
#include "tests/testlib/testlib.h"

namespace hollin_service {

namespace {

TEST(ServiceProcess, WithoutArgumentsTheFirstClientEndsIt) {
  testlib::TempDir tmp;
  testlib::ScopedTempDirEnv env(tmp.path());
  const std::string work = testlib::join(tmp.path(), platform::login_name() + ".tarnwick");
  const std::string pipe_name =
      (platform::kWindows ? std::string(support::kWindowsPipeBaseName)
                          : testlib::join(work, support::kPosixPipeFileName)) +
      support::kRequestPipePart + platform::login_name();

  platform::ProcessSpec invocation;
  invocation.program = testlib::bin_program("hollin_service");
  invocation.null_stdio = true;
  platform::Process service;
  ASSERT_TRUE(platform::start_process(invocation, &service));

  // The service ends on its own once a client connects; until then, watch
  // for its end on another thread so that a service that dies early fails
  // the test instead of leaving it waiting for the pipe.
  std::atomic<bool> ended{false};
  int status = 0;
  std::thread waiter([&] {
    status = service.wait();
    ended = true;
  });
  std::unique_ptr<platform::ClientPipe> client;
  platform::OpenStatus opened = platform::OpenStatus::not_found;
  while (!ended && opened != platform::OpenStatus::opened) {
    opened = platform::open_client_pipe(pipe_name, platform::PipeAccess::read_write, false, &client)
                 .kind;
    if (opened != platform::OpenStatus::opened) std::this_thread::yield();
  }
  EXPECT_EQ(opened, platform::OpenStatus::opened);
  if (client) {
    const std::string request = "<methodCall/>";
    // The service may have dropped the connection before the write: either
    // way no reply comes.
    static_cast<void>(client->write(request.data(), request.size()));
    char reply[64];
    std::size_t bytes = 0;
    EXPECT_FALSE(client->read(reply, sizeof reply, &bytes));  // dropped without a reply
  }
  waiter.join();

  EXPECT_EQ(status, testlib::minus_one_status());
  EXPECT_EQ(testlib::strip_cr(testlib::read_file(testlib::join(work, "hollin_service.log"))),
            "Path of hollin path is not passed by argv, quitting...\n");
  EXPECT_EQ(testlib::read_file(testlib::join(work, "hollin_service.pid")),
            std::to_string(service.pid()));
}

}  // namespace

}  // namespace hollin_service
