// End to end: tarnwick, hollin_service and the marlow stand-in as real
// processes. What reaches the graphical client, and what the client makes of
// every kind of reply.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/e2e/fixture.h"

namespace {

using e2e::Sandbox;
using testing::HasSubstr;
using testing::Not;

constexpr char kSep = platform::kPathSeparator;

std::string diagnose(const testlib::RunResult& run, const Sandbox& box) {
  return "stdout: " + run.out + "\nstderr: " + run.err + "\nclient log: " + box.client_log() +
         "\nservice log: " + box.service_log();
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(text.substr(start, end - start));
  }
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

// A pipe name made by the rule: base name, a random part in decimal, login.
void expect_random_pipe_name(const std::string& name, const Sandbox& box) {
  const std::string base = box.pipe_base();
  const std::string login = platform::login_name();
  ASSERT_GT(name.size(), base.size() + login.size()) << name;
  EXPECT_EQ(name.substr(0, base.size()), base) << name;
  EXPECT_EQ(name.substr(name.size() - login.size()), login) << name;
  const std::string digits = name.substr(base.size(), name.size() - base.size() - login.size());
  EXPECT_EQ(digits.find_first_not_of("0123456789"), std::string::npos) << name;
  EXPECT_NE(digits[0], '0') << name;
}

TEST(Relay, CompareAndMergeReachTheGraphicalClientFramedAfterATwoNameNotice) {
  Sandbox box;
  box.contributor("a.txt");
  box.contributor("b c.txt");
  const std::string cwd = box.dir_as_cwd();

  const testlib::RunResult compare = box.tarnwick({"-fname", "Left & <1>", "a.txt", "b c.txt"});
  EXPECT_EQ(compare.status, 0) << diagnose(compare, box);

  const std::string base = box.contributor("base.txt");
  const std::string mine = box.contributor("mine.txt");
  const std::string theirs = box.contributor("theirs.txt");
  const std::string out = box.file("merged.txt");
  const testlib::RunResult merge =
      box.tarnwick({"-out", out, "-encoding", "utf-16le", "-base", base, mine, theirs});
  EXPECT_EQ(merge.status, 0) << diagnose(merge, box);

  const std::vector<std::string> requests = box.recorded("request-");
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0],
            e2e::framed(e2e::expected_call(false, "", {"Left & <1>", "b c.txt"},
                                           {cwd + kSep + "a.txt", cwd + kSep + "b c.txt"}, "")));
  EXPECT_EQ(requests[1],
            e2e::framed(e2e::expected_call(true, out, {base, mine, theirs}, {base, mine, theirs},
                                           "utf16le_file_delta")));

  // Each notice is exactly two pipe names, each ended by a line feed.
  const std::vector<std::string> notices = box.recorded("notice-");
  ASSERT_EQ(notices.size(), 2u);
  std::vector<std::string> names;
  for (const std::string& notice : notices) {
    EXPECT_EQ(notice.find('\r'), std::string::npos);
    EXPECT_EQ(std::count(notice.begin(), notice.end(), '\n'), 2) << notice;
    EXPECT_EQ(notice.back(), '\n');
    for (const std::string& name : lines_of(notice)) {
      expect_random_pipe_name(name, box);
      names.push_back(name);
    }
  }

  // One graphical client, started in its own directory with the fixed
  // options and the wrapper pipe's name, which no per-request pipe shares.
  const std::vector<std::string> argvs = box.recorded("argv-");
  ASSERT_EQ(argvs.size(), 1u);
  const std::vector<std::string> argv = lines_of(argvs[0]);
  const std::vector<std::string> fixed = {
      "-product",       "com.orvane.tessel.team.client.integration.product",
      "-application",   "com.orvane.tessel.team.client.integration.application",
      "-configuration", "@user.home\\.Tessel\\Marlow8\\config",
      "-data",          "@user.home\\.Tessel\\Marlow8\\workspace",
      "-nosplash",      "-vmargs"};
  ASSERT_EQ(argv.size(), fixed.size() + 2) << argvs[0];
  EXPECT_TRUE(platform::paths_equal_ignoring_case(argv[0], testlib::gui_program())) << argv[0];
  EXPECT_EQ(std::vector<std::string>(argv.begin() + 1, argv.end() - 1), fixed);
  const std::string property = e2e::kWrapperPipeProperty;
  ASSERT_EQ(argv.back().substr(0, property.size()), property);
  const std::string wrapper = argv.back().substr(property.size());
  expect_random_pipe_name(wrapper, box);
  names.push_back(wrapper);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(std::adjacent_find(names.begin(), names.end()), names.end()) << "a pipe name repeats";
  const std::vector<std::string> cwd_of_gui = box.recorded("cwd-");
  ASSERT_EQ(cwd_of_gui.size(), 1u);
  EXPECT_TRUE(platform::paths_equal_ignoring_case(cwd_of_gui[0],
                                                  testlib::join(testlib::root_dir(), "Brightdesk")))
      << cwd_of_gui[0];
}

// One service and one graphical client through every kind of reply: the
// client's status follows the first boolean, and the service goes on serving.
TEST(Relay, EveryKindOfReplyAndTheServiceGoesOn) {
  Sandbox box;
  const std::vector<std::string> args = {box.contributor("a.txt"), box.contributor("b.txt")};
  const int failed = testlib::minus_one_status();

  testlib::RunResult run = box.tarnwick(args);
  EXPECT_EQ(run.status, 0) << diagnose(run, box);
  const std::uint32_t service = box.service_pid();
  EXPECT_TRUE(Sandbox::is_service(service));

  // 9,000 bytes: relayed in several pieces; the client takes its first 1023
  // bytes and stops reading, which must not upset the service.
  box.set_mode("big");
  for (int i = 0; i < 2; ++i) {
    run = box.tarnwick(args);
    EXPECT_EQ(run.status, 0) << diagnose(run, box);
  }

  box.set_mode("fail");
  run = box.tarnwick(args);
  EXPECT_EQ(run.status, failed) << diagnose(run, box);
  EXPECT_THAT(box.service_log(), Not(HasSubstr("Got an empty response")));

  box.set_mode("empty");
  run = box.tarnwick(args);
  EXPECT_EQ(run.status, failed) << diagnose(run, box);
  EXPECT_THAT(box.service_log(), HasSubstr("Got an empty response\n"));

  // The graphical client may connect to the response pipe first.
  box.set_mode("response_first");
  run = box.tarnwick(args);
  EXPECT_EQ(run.status, 0) << diagnose(run, box);

  box.set_mode("ok");
  run = box.tarnwick(args);
  EXPECT_EQ(run.status, 0) << diagnose(run, box);

  EXPECT_EQ(box.service_pid(), service);
  EXPECT_TRUE(Sandbox::is_service(service));
  EXPECT_EQ(box.marlow_pids().size(), 1u);
  EXPECT_EQ(box.recorded("request-").size(), 7u);
  // The client did not log anything on any of these paths.
  EXPECT_EQ(box.client_log(), "");
}

TEST(Relay, DebugServiceServesAGraphicalClientStartedByHand) {
  Sandbox box;
  const std::string gui_dir = testlib::join(testlib::root_dir(), "Brightdesk");
  platform::Process service = box.start_service({gui_dir, "-debug"});
  ASSERT_TRUE(service.valid());
  ASSERT_EQ(box.service_pid(), service.pid());

  platform::Process client =
      box.start_tarnwick({box.contributor("a.txt"), box.contributor("b.txt")}, "client");
  ASSERT_TRUE(client.valid());
  // The service prints the wrapper pipe's name when the first client comes.
  const std::string name = box.service_stdout_line();
  expect_random_pipe_name(name, box);
  EXPECT_TRUE(box.marlow_pids().empty()) << "no graphical client is started in debug mode";

  platform::ProcessSpec invocation;
  invocation.program = testlib::gui_program();
  invocation.args = {std::string(e2e::kWrapperPipeProperty) + name};
  invocation.stdout_path = box.file("marlow.out");
  invocation.stderr_path = box.file("marlow.err");
  platform::Process gui;
  ASSERT_TRUE(platform::start_process(invocation, &gui));

  EXPECT_EQ(Sandbox::wait(client, "the client"), 0) << box.service_log();
  EXPECT_THAT(box.service_log(),
              HasSubstr("Debug option was passed, HOLLIN will not be launched\n" + name + "\n"));
  EXPECT_EQ(box.recorded("request-").size(), 1u);

  EXPECT_TRUE(service.kill().ok());
  Sandbox::wait(service, "the killed service");
  // The stand-in ends when its wrapper pipe goes.
  EXPECT_NE(Sandbox::wait(gui, "the graphical client"), Sandbox::kDidNotEnd);
}

TEST(Relay, ServiceWithoutArgumentsEndsAtTheFirstClient) {
  Sandbox box;
  platform::Process service = box.start_service({});
  ASSERT_TRUE(service.valid());
  ASSERT_EQ(box.service_pid(), service.pid());

  const testlib::RunResult run = box.tarnwick({box.contributor("a.txt"), box.contributor("b.txt")});
  EXPECT_EQ(run.status, testlib::minus_one_status());
  EXPECT_EQ(Sandbox::wait(service, "the service"), testlib::minus_one_status());
  EXPECT_THAT(box.service_log(),
              HasSubstr("Path of hollin path is not passed by argv, quitting...\n"));
  EXPECT_TRUE(box.marlow_pids().empty());
}

}  // namespace
