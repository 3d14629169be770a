// tarnwickutf8 against the real tarnwick, service and marlow stand-in: every
// argument reaches the client unchanged, "-encoding utf-8" follows them, and
// the client's exit status comes back.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/e2e/fixture.h"
#include "utf8launcher/launcher.h"

namespace tarnwickutf8 {

namespace {

using e2e::Sandbox;
using testing::HasSubstr;

testlib::RunResult launch(const Sandbox& box, const std::vector<std::string>& args) {
  return testlib::run(testlib::bin_program("tarnwickutf8"), args, box.dir());
}

TEST(Launcher, ArgumentsReachTheClientUnchanged) {
  Sandbox box;
  // Contributor names and display names that a command interpreter would
  // split, expand or run; an empty display name is replaced by the
  // contributor as typed, so it shows that the empty argument kept its place.
  const std::vector<std::string> contributors = {box.contributor("with blank.txt"),
                                                 box.contributor("amp&semi;(1).txt"),
                                                 box.contributor("%PATH% $HOME.txt")};
  const std::vector<std::string> names = {
      "a\" & echo pwned > pwned & \"",
      "",
      "back\\slash\\\\ \\\"quoted\\\" $(echo pwned > pwned) `echo pwned` | more & <b> trailing\\",
  };
  std::vector<std::string> args;
  for (const std::string& name : names) {
    args.push_back("-fname");
    args.push_back(name);
  }
  args.insert(args.end(), contributors.begin(), contributors.end());

  const testlib::RunResult run = launch(box, args);
  EXPECT_EQ(run.status, 0) << run.out << run.err << box.client_log() << box.service_log();

  const std::vector<std::string> requests = box.recorded("request-");
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0],
            e2e::framed(e2e::expected_call(false, "", {names[0], contributors[1], names[2]},
                                           contributors, "utf8_file_delta")));
  EXPECT_FALSE(testlib::file_exists(box.file("pwned")));
}

TEST(Launcher, ClientExitStatusComesBack) {
  Sandbox box;
  const std::vector<std::string> args = {box.contributor("a.txt"), box.contributor("b.txt")};
  testlib::ScopedEnv mode("MARLOW_STANDIN_MODE", "fail");
  // The service, and with it the stand-in, inherit the environment.
  EXPECT_EQ(launch(box, args).status, testlib::minus_one_status());
  box.set_mode("ok");
  EXPECT_EQ(launch(box, args).status, 0);
}

TEST(Launcher, ClientOutputReachesTheCaller) {
  Sandbox box;
  // The client makes sure a service runs before it reads its command line,
  // and would not wait for one that it starts: have one running beforehand,
  // so that none is left behind.
  platform::Process service = box.start_service({testlib::join(testlib::root_dir(), "Brightdesk")});
  ASSERT_EQ(box.service_pid(), service.pid());
  // Only "-encoding utf-8": too few contributors, so the client prints its
  // messages and ends with -1.
  const testlib::RunResult run = launch(box, {});
  EXPECT_EQ(run.status, testlib::minus_one_status());
  EXPECT_THAT(run.err, HasSubstr("At least two objects must be supplied to compare."));
  EXPECT_THAT(run.err, HasSubstr("Usage: tarnwick"));
}

TEST(Launcher, MissingClientEndsWithMinusOne) {
  testlib::TempDir root;
  const std::string bin = testlib::join(root.path(), "bin");
  std::filesystem::create_directory(bin);
  const std::string launcher =
      testlib::join(bin, std::string("tarnwickutf8") + platform::kExeSuffix);
  std::filesystem::copy_file(testlib::bin_program("tarnwickutf8"), launcher);
  EXPECT_EQ(testlib::run(launcher, {"a.txt", "b.txt"}).status, testlib::minus_one_status());
}

TEST(Launcher, ArgumentVectorAppendsTheEncoding) {
  const char* const argv[] = {"tarnwickutf8", "", "-encoding", "utf-16le", "x y"};
  EXPECT_EQ(client_arguments(5, argv),
            (std::vector<std::string>{"", "-encoding", "utf-16le", "x y", "-encoding", "utf-8"}));
}

}  // namespace

}  // namespace tarnwickutf8
