#include "service/service_main.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "service/launch.h"
#include "support/pipe_names.h"
#include "tests/fakes/service_fakes.h"

namespace hollin_service {

namespace {

using testfakes::FakeServiceWorld;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

const std::string kDir = platform::kWindows ? "C:\\app\\Brightdesk" : "/opt/app/Brightdesk";
const std::vector<std::string> kDebugArgs = {kDir, "-debug"};

std::string name_for(int draw) {
  return support::random_pipe_name(std::to_string(1000 + draw), "user1");
}

// The journal entries from `first` up to (not including) `last`.
std::vector<std::string> between(const std::vector<std::string>& journal, const std::string& first,
                                 const std::string& last) {
  auto begin = std::find(journal.begin(), journal.end(), first);
  auto end = std::find(begin, journal.end(), last);
  return {begin, end};
}

// The line that gives a fake creation's failure of the pipe `name` before
// the fixed line: the cause the creation returned reaches the log.
std::string why_not_made(const std::string& name) {
  return "Could not create the pipe " + name + ": " + testfakes::outcome(false, "socket").reason();
}

bool same_params(const platform::PipeParams& a, const platform::PipeParams& b) {
  return a.direction == b.direction && a.max_instances == b.max_instances &&
         a.notice_stream == b.notice_stream && a.first_instance == b.first_instance;
}

// Short of descriptors whenever `short_now` says so, with relays in flight
// unless `in_flight` is false.
class ShortOfDescriptors final : public ServiceSystemWrapper {
 public:
  ShortOfDescriptors(ServiceSystem& target, std::function<bool()> short_now, bool in_flight = true)
      : ServiceSystemWrapper(target), short_now_(std::move(short_now)), in_flight_(in_flight) {}
  bool short_of_descriptors(const support::Status&) override { return short_now_(); }
  bool relays_in_flight() override { return in_flight_; }

 private:
  std::function<bool()> short_now_;
  bool in_flight_;
};

// The login name `login`.
class LoginIs final : public ServiceSystemWrapper {
 public:
  LoginIs(ServiceSystem& target, std::string login)
      : ServiceSystemWrapper(target), login_(std::move(login)) {}
  std::string login_name() override { return login_; }

 private:
  std::string login_;
};

// Every name usable but `unusable` ("too long"), each name asked recorded;
// a removal of stale pipes journalled with its base name.
class NamesAndStalePipes final : public support::PipesWrapper {
 public:
  NamesAndStalePipes(support::Pipes& target, testfakes::PipeRecord& record, std::string unusable)
      : PipesWrapper(target), record_(record), unusable_(std::move(unusable)) {}
  std::string name_problem(const std::string& name) override {
    asked.push_back(name);
    return name == unusable_ ? std::string("too long") : std::string();
  }
  void remove_stale(const std::string& base_name) override {
    record_.journal.push_back("remove stale " + base_name);
  }

  std::vector<std::string> asked;

 private:
  testfakes::PipeRecord& record_;
  std::string unusable_;
};

ServiceDeps with_system(FakeServiceWorld& world, ServiceSystem& system) {
  return ServiceDeps{world.pipes, world.processes, world.clock, world.log, system};
}

ServiceDeps with_pipes(FakeServiceWorld& world, support::Pipes& pipes) {
  return ServiceDeps{pipes, world.processes, world.clock, world.log, world.system};
}

class ServiceLoop : public ::testing::Test {
 protected:
  FakeServiceWorld sys;
};

TEST_F(ServiceLoop, StartsUpInOrderAndEndsWhenARequestPipeInstanceCannotBeMade) {
  sys.pipes.fail = {"instance1"};
  EXPECT_EQ(run_service(kDebugArgs, sys.deps()), -1);
  EXPECT_THAT(sys.record.journal,
              ElementsAre("create wrapper", "pid file", "begin log", "create instance1",
                          "log " + why_not_made(support::request_pipe_name("user1")),
                          "log Could not create launcher request pipe\n", "wrapper.close"));
  EXPECT_EQ(sys.pipes.names["wrapper"], name_for(1));
  EXPECT_EQ(sys.pipes.names["instance1"], support::request_pipe_name("user1"));
  EXPECT_TRUE(same_params(sys.pipes.params_of["wrapper"], wrapper_pipe_params()));
  EXPECT_TRUE(same_params(sys.pipes.params_of["instance1"], request_pipe_params()));

  const platform::PipeParams wrapper = wrapper_pipe_params();
  EXPECT_EQ(wrapper.direction, platform::PipeDirection::outbound);
  EXPECT_EQ(wrapper.max_instances, 1u);
  EXPECT_TRUE(wrapper.notice_stream && wrapper.first_instance);
  const platform::PipeParams request = request_pipe_params();
  EXPECT_EQ(request.direction, platform::PipeDirection::duplex);
  EXPECT_EQ(request.max_instances, 255u);
  EXPECT_FALSE(request.notice_stream);
}

TEST_F(ServiceLoop, StartUpFailuresEndTheService) {
  {
    FakeServiceWorld wrapper_fails;
    wrapper_fails.pipes.fail = {"wrapper"};
    EXPECT_EQ(run_service(kDebugArgs, wrapper_fails.deps()), 0);
    EXPECT_THAT(wrapper_fails.record.journal,
                ElementsAre("create wrapper", "log " + why_not_made(name_for(1)),
                            "log Error in creating HOLLIN pipes\n"));
  }
  {
    FakeServiceWorld pid_fails;
    pid_fails.system.pid_file_ok = false;
    EXPECT_EQ(run_service(kDebugArgs, pid_fails.deps()), -1);
    EXPECT_THAT(pid_fails.record.journal,
                ElementsAre("create wrapper", "pid file", "log Error creating Lock File\n",
                            "wrapper.close"));
  }
}

TEST_F(ServiceLoop, WithoutArgumentsTheFirstClientEndsTheService) {
  EXPECT_EQ(run_service({}, sys.deps()), -1);
  EXPECT_THAT(sys.log.lines, ElementsAre("Path of hollin path is not passed by argv, quitting..."));
  EXPECT_EQ(sys.pipes.counts["hreq"], 0);
  EXPECT_THAT(sys.processes.started, IsEmpty());
}

TEST_F(ServiceLoop, EachRequestGetsTwoPipesANoticeAndAWorker) {
  sys.pipes.fail = {"instance3"};
  EXPECT_EQ(run_service(kDebugArgs, sys.deps()), -1);

  // Debug mode: the name is logged and printed, nothing is started, and the
  // service waits once for a peer on the wrapper pipe.
  EXPECT_THAT(sys.log.lines,
              ElementsAre("Debug option was passed, HOLLIN will not be launched", name_for(1),
                          why_not_made(support::request_pipe_name("user1")),
                          "Could not create launcher request pipe\n"));
  EXPECT_EQ(sys.system.console, name_for(1) + "\n");
  EXPECT_THAT(sys.processes.started, IsEmpty());
  EXPECT_EQ(std::count(sys.record.journal.begin(), sys.record.journal.end(), "wrapper.connect"), 1);

  EXPECT_THAT(sys.record.writes["wrapper"], ElementsAre(name_for(2) + "\n" + name_for(3) + "\n",
                                                        name_for(4) + "\n" + name_for(5) + "\n"));
  EXPECT_EQ(sys.pipes.names["hreq1"], name_for(2));
  EXPECT_EQ(sys.pipes.names["hresp1"], name_for(3));
  EXPECT_TRUE(same_params(sys.pipes.params_of["hreq1"], hollin_request_pipe_params()));
  EXPECT_TRUE(same_params(sys.pipes.params_of["hresp1"], hollin_response_pipe_params()));
  EXPECT_EQ(hollin_request_pipe_params().direction, platform::PipeDirection::outbound);
  EXPECT_EQ(hollin_response_pipe_params().direction, platform::PipeDirection::inbound);
  EXPECT_TRUE(hollin_request_pipe_params().first_instance);
  EXPECT_TRUE(hollin_response_pipe_params().first_instance);

  EXPECT_THAT(
      between(sys.record.journal, "instance1.connect", "create instance2"),
      ElementsAre("instance1.connect", "log Debug option was passed, HOLLIN will not be launched",
                  "log " + name_for(1), "wrapper.connect", "create hreq1", "create hresp1",
                  "wrapper.write", "thread"));

  ASSERT_EQ(sys.system.jobs.size(), 2u);
  for (int i = 0; i < 2; ++i) {
    const std::string n = std::to_string(i + 1);
    EXPECT_EQ(sys.system.jobs[i]->client_pipe.get(), sys.pipes.pipes["instance" + n]);
    EXPECT_EQ(sys.system.jobs[i]->hollin_request_pipe.get(), sys.pipes.pipes["hreq" + n]);
    EXPECT_EQ(sys.system.jobs[i]->hollin_response_pipe.get(), sys.pipes.pipes["hresp" + n]);
  }
}

TEST_F(ServiceLoop, DebugIsOnlyTheExactSecondArgument) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{kDir, "-Debug"}, std::vector<std::string>{"-debug", kDir}}) {
    FakeServiceWorld s;
    s.processes.start_ok = false;
    EXPECT_EQ(run_service(args, s.deps()), -1);
    ASSERT_EQ(s.processes.started.size(), 1u);
    EXPECT_EQ(s.log.lines.front(),
              gui_launch_for(platform::kWindows, args[0], name_for(1)).logged_line);
    EXPECT_THAT(std::vector<std::string>(s.log.lines.begin() + 1, s.log.lines.end()),
                ElementsAre("Could not create HOLLIN process", "Failed to launch HOLLIN \n"));
  }
}

TEST_F(ServiceLoop, LaunchesOnlyOnTheFirstConnection) {
  sys.pipes.fail = {"instance3"};
  EXPECT_EQ(run_service({kDir}, sys.deps()), -1);
  EXPECT_EQ(sys.processes.started.size(), 1u);
  EXPECT_THAT(between(sys.record.journal, "instance1.connect", "create hreq1"),
              ElementsAre("instance1.connect", "log " + sys.log.lines.front(), "start process",
                          "watch", "wrapper.connect"));
  EXPECT_EQ(sys.system.jobs.size(), 2u);
}

TEST_F(ServiceLoop, RequestsWhosePipesCannotBeMadeAreDroppedAndTheLoopGoesOn) {
  sys.pipes.fail = {"hreq1", "hresp2", "instance4"};
  EXPECT_EQ(run_service(kDebugArgs, sys.deps()), -1);
  EXPECT_THAT(between(sys.record.journal, "create hreq1", "create instance2"),
              ElementsAre("create hreq1", "instance1.disconnect", "instance1.close",
                          "log Could not create HOLLIN_Request_pipe\n"));
  EXPECT_THAT(between(sys.record.journal, "create hresp2", "create instance3"),
              ElementsAre("create hresp2", "hreq2.close", "instance2.disconnect", "instance2.close",
                          "log Could not create HOLLIN_Response_pipe"));
  // Neither dropped request was announced; the third one was relayed.
  EXPECT_THAT(sys.record.writes["wrapper"], ElementsAre(name_for(6) + "\n" + name_for(7) + "\n"));
  EXPECT_EQ(sys.system.jobs.size(), 1u);
}

TEST_F(ServiceLoop, AFailedNoticeWriteEndsTheService) {
  sys.pipes.setup["wrapper"] = [](testfakes::ScriptedServerPipe& p) { p.set_write_result(false); };
  EXPECT_EQ(run_service(kDebugArgs, sys.deps()), -1);
  EXPECT_EQ(sys.log.lines.back(), "HOLLIN quit unexpectedly...exiting");
  EXPECT_EQ(std::count(sys.record.journal.begin(), sys.record.journal.end(), "thread"), 0);
}

TEST_F(ServiceLoop, AWorkerThatCannotStartReleasesItsPipesAndTheLoopGoesOn) {
  sys.system.thread_ok = false;
  sys.pipes.fail = {"instance2"};
  EXPECT_EQ(run_service(kDebugArgs, sys.deps()), -1);
  EXPECT_THAT(between(sys.record.journal, "thread", "create instance2"),
              ElementsAre("thread", "instance1.disconnect", "instance1.close", "hreq1.close",
                          "hresp1.close", "log Could not start relay thread"));
}

TEST_F(ServiceLoop, AFailedConnectGetsAFreshInstanceWithoutLaunching) {
  sys.pipes.setup["instance1"] = [](testfakes::ScriptedServerPipe& p) {
    p.set_connect_result(platform::ConnectResult::failed);
  };
  sys.pipes.setup["instance2"] = [](testfakes::ScriptedServerPipe& p) {
    p.set_connect_result(platform::ConnectResult::already_connected);
  };
  sys.pipes.fail = {"instance3"};
  EXPECT_EQ(run_service(kDebugArgs, sys.deps()), -1);
  EXPECT_THAT(between(sys.record.journal, "instance1.connect", "instance2.connect"),
              ElementsAre("instance1.connect", "instance1.disconnect", "instance1.close",
                          "create instance2"));
  EXPECT_EQ(sys.system.jobs.size(), 1u);
}

// A request's pipes that cannot be made for lack of descriptors are made once
// relays have given some back: the client is kept, and the wait is logged
// once per request.
TEST_F(ServiceLoop, ARequestThatLacksDescriptorsWaitsInsteadOfBeingDropped) {
  sys.pipes.fail = {"hreq1", "instance3"};
  int shortages = 0;
  ShortOfDescriptors shortage(sys.system, [&] {
    if (++shortages == 3) sys.pipes.fail.erase("hreq1");
    return true;
  });
  EXPECT_EQ(run_service(kDebugArgs, with_system(sys, shortage)), -1);
  EXPECT_THAT(sys.clock.sleeps,
              ElementsAre(kDescriptorRetryMs, kDescriptorRetryMs, kDescriptorRetryMs));
  EXPECT_EQ(std::count(sys.record.journal.begin(), sys.record.journal.end(), "create hreq1"), 4);
  EXPECT_EQ(std::count(sys.record.journal.begin(), sys.record.journal.end(),
                       "log Out of descriptors for a request's pipes; waiting for a relay to end"),
            1);
  EXPECT_EQ(
      std::count(sys.record.journal.begin(), sys.record.journal.end(), "instance1.disconnect"), 0);
  EXPECT_EQ(sys.system.jobs.size(), 2u);

  // Short of descriptors for the second pipe: the first is given back while
  // waiting, so that relays in flight can go on, and both are made again.
  FakeServiceWorld pair;
  pair.pipes.fail = {"hresp1", "instance2"};
  ShortOfDescriptors pair_shortage(pair.system, [&] {
    pair.pipes.fail.erase("hresp1");
    return true;
  });
  EXPECT_EQ(run_service(kDebugArgs, with_system(pair, pair_shortage)), -1);
  EXPECT_THAT(
      between(pair.record.journal, "create hreq1", "thread"),
      ElementsAre("create hreq1", "create hresp1", "hreq1.close",
                  "log Out of descriptors for a request's pipes; waiting for a relay to end",
                  "create hreq1", "create hresp1", "wrapper.write"));
  EXPECT_EQ(pair.system.jobs.size(), 1u);

  // Any other failure still drops the request at once, without a pause.
  FakeServiceWorld other;
  other.pipes.fail = {"hresp1", "instance2"};
  EXPECT_EQ(run_service(kDebugArgs, other.deps()), -1);
  EXPECT_THAT(other.clock.sleeps, IsEmpty());
  EXPECT_THAT(other.log.lines, ::testing::Contains("Could not create HOLLIN_Response_pipe"));
  EXPECT_THAT(other.system.jobs, IsEmpty());
}

// A request pipe whose name was lost (its socket file removed) is made again,
// and the service goes on serving through it; no graphical client starts for
// the loss.
TEST_F(ServiceLoop, ALostRequestPipeIsMadeAgain) {
  sys.pipes.setup["instance1"] = [](testfakes::ScriptedServerPipe& p) {
    p.set_connect_result(platform::ConnectResult::lost);
  };
  sys.pipes.fail = {"instance3"};
  EXPECT_EQ(run_service(kDebugArgs, sys.deps()), -1);
  EXPECT_THAT(between(sys.record.journal, "instance1.connect", "instance2.connect"),
              ElementsAre("instance1.connect",
                          "log The request pipe " + support::request_pipe_name("user1") +
                              " was removed; making it again",
                          "instance1.close", "create instance2"));
  EXPECT_EQ(sys.pipes.names["instance2"], support::request_pipe_name("user1"));
  EXPECT_EQ(sys.system.jobs.size(), 1u);
}

// A pipe name that cannot be used ends the service at once with the reason,
// before it makes anything; when all can, stale pipes are cleared once the
// pid file is ours, before the request pipe is made.
TEST_F(ServiceLoop, UnusablePipeNamesEndTheServiceAtOnceAndStalePipesGoAfterTheLock) {
  NamesAndStalePipes pipes(sys.pipes, sys.record, support::random_pipe_name("1073683426", "user1"));
  EXPECT_EQ(run_service(kDebugArgs, with_pipes(sys, pipes)), 0);
  EXPECT_THAT(pipes.asked, ElementsAre(support::request_pipe_name("user1"),
                                       support::random_pipe_name("1073683426", "user1")));
  EXPECT_THAT(sys.record.journal,
              ElementsAre("log too long", "log Error in creating HOLLIN pipes\n"));

  FakeServiceWorld fine;
  NamesAndStalePipes fine_pipes(fine.pipes, fine.record, "");
  fine.pipes.fail = {"instance1"};
  EXPECT_EQ(run_service(kDebugArgs, with_pipes(fine, fine_pipes)), -1);
  EXPECT_THAT(between(fine.record.journal, "create wrapper",
                      "log Could not create launcher request pipe\n"),
              ElementsAre("create wrapper", "pid file", "begin log",
                          "remove stale " + support::pipe_base_name(), "create instance1",
                          "log " + why_not_made(support::request_pipe_name("user1"))));
}

// A name with a line feed would be split by the notice that carries it to
// the graphical client: the service ends before it makes anything.
TEST_F(ServiceLoop, ANameThatANoticeCannotCarryEndsTheServiceAtOnce) {
  LoginIs login(sys.system, "us\ner");
  EXPECT_EQ(run_service(kDebugArgs, with_system(sys, login)), 0);
  EXPECT_THAT(
      sys.record.journal,
      ElementsAre("log " + support::notice_name_problem(support::request_pipe_name("us\ner")),
                  "log Error in creating HOLLIN pipes\n"));
  EXPECT_THAT(support::notice_name_problem(support::request_pipe_name("us\ner")),
              ::testing::HasSubstr("holds a line feed"));
  EXPECT_EQ(support::notice_name_problem(support::request_pipe_name("us\rer")), "");
}

// A service that loses the lock leaves the log as it found it (the running
// service's); the one that holds it empties the log before anything else.
TEST_F(ServiceLoop, TheLogIsEmptiedOnlyOnceThePidFileIsHeld) {
  sys.pipes.fail = {"instance1"};
  EXPECT_EQ(run_service(kDebugArgs, sys.deps()), -1);
  EXPECT_THAT(between(sys.record.journal, "pid file", "create instance1"),
              ElementsAre("pid file", "begin log"));

  FakeServiceWorld lost;
  lost.system.pid_file_ok = false;
  EXPECT_EQ(run_service(kDebugArgs, lost.deps()), -1);
  EXPECT_THAT(lost.record.journal, ::testing::Not(::testing::Contains("begin log")));
}

// With no relay in flight, nothing gives descriptors back: a request whose
// pipes lack them, or a client that cannot be accepted for lack of them,
// ends the service with a line that says why, instead of failing every
// later client or waiting for ever.
TEST_F(ServiceLoop, LackingDescriptorsWithNoRelayInFlightEndsTheService) {
  for (const char* failing : {"hreq1", "hresp1"}) {
    FakeServiceWorld s;
    s.pipes.fail = {failing};
    ShortOfDescriptors shortage(
        s.system, [] { return true; }, /*in_flight=*/false);
    EXPECT_EQ(run_service(kDebugArgs, with_system(s, shortage)), -1) << failing;
    EXPECT_THAT(s.clock.sleeps, IsEmpty());
    EXPECT_EQ(s.log.lines.back(), kTooFewDescriptorsLine);
    EXPECT_EQ(s.pipes.counts["instance"], 1) << "no further instance is made";
    EXPECT_THAT(s.system.jobs, IsEmpty());
  }

  FakeServiceWorld accept;
  accept.pipes.setup["instance1"] = [](testfakes::ScriptedServerPipe& p) {
    p.set_connect_result(platform::ConnectResult::out_of_descriptors);
  };
  EXPECT_EQ(run_service(kDebugArgs, accept.deps()), -1);
  EXPECT_THAT(accept.record.journal,
              ElementsAre("create wrapper", "pid file", "begin log", "create instance1",
                          "instance1.connect", "wrapper.close",
                          std::string("log ") + kTooFewDescriptorsLine, "instance1.close"));
}

// While relays are in flight a client that cannot be accepted for lack of
// descriptors stays queued: the accept is tried again after a pause, the
// wait logged once, and the client is then served.
TEST_F(ServiceLoop, AnAcceptShortOfDescriptorsWaitsWhileRelaysAreInFlight) {
  sys.system.in_flight = true;
  int connects = 0;
  testfakes::ScriptedServerPipe* first = nullptr;
  sys.pipes.setup["instance1"] = [&](testfakes::ScriptedServerPipe& p) {
    first = &p;
    p.set_connect_result(platform::ConnectResult::out_of_descriptors);
  };
  sys.pipes.fail = {"instance2"};
  // The third try finds descriptors again.
  class Counting final : public support::ClockWrapper {
   public:
    Counting(support::Clock& target, std::function<void()> after_sleep)
        : ClockWrapper(target), after_sleep_(std::move(after_sleep)) {}
    void sleep_ms(unsigned ms) override {
      ClockWrapper::sleep_ms(ms);
      after_sleep_();
    }

   private:
    std::function<void()> after_sleep_;
  } clock(sys.clock, [&] {
    if (++connects == 2) first->set_connect_result(platform::ConnectResult::connected);
  });
  const ServiceDeps deps{sys.pipes, sys.processes, clock, sys.log, sys.system};
  EXPECT_EQ(run_service(kDebugArgs, deps), -1);
  EXPECT_THAT(sys.clock.sleeps, ElementsAre(kDescriptorRetryMs, kDescriptorRetryMs));
  EXPECT_EQ(std::count(sys.record.journal.begin(), sys.record.journal.end(), "instance1.connect"),
            3);
  EXPECT_EQ(std::count(sys.log.lines.begin(), sys.log.lines.end(),
                       "Out of descriptors to accept a client; waiting for a relay to end"),
            1);
  EXPECT_EQ(sys.system.jobs.size(), 1u);
}

// A running service whose pid file was removed still serves the request
// pipe: a second service leaves the pid file, the log and the socket files
// to it and ends.
TEST_F(ServiceLoop, ARequestPipeServedElsewhereEndsTheServiceBeforeThePidFile) {
  sys.pipes.served = {support::request_pipe_name("user1")};
  EXPECT_EQ(run_service(kDebugArgs, sys.deps()), -1);
  EXPECT_THAT(sys.record.journal,
              ElementsAre("create wrapper",
                          "log The request pipe " + support::request_pipe_name("user1") +
                              " is served by another running service",
                          "log Error creating Lock File\n", "wrapper.close"));
}

// While nobody comes, the service looks after its pid file and goes on
// waiting on the same instance.
TEST_F(ServiceLoop, WhileNobodyComesThePidFileIsKept) {
  testfakes::ScriptedServerPipe* first = nullptr;
  sys.pipes.setup["instance1"] = [&](testfakes::ScriptedServerPipe& p) {
    first = &p;
    p.set_connect_result(platform::ConnectResult::idle);
  };
  sys.pipes.fail = {"instance2"};
  class ComeAfterKeeping final : public ServiceSystemWrapper {
   public:
    ComeAfterKeeping(ServiceSystem& target, testfakes::ScriptedServerPipe*& pipe)
        : ServiceSystemWrapper(target), pipe_(pipe) {}
    void keep_pid_file() override {
      ServiceSystemWrapper::keep_pid_file();
      pipe_->set_connect_result(platform::ConnectResult::connected);
    }

   private:
    testfakes::ScriptedServerPipe*& pipe_;
  } system(sys.system, first);
  EXPECT_EQ(run_service(kDebugArgs, with_system(sys, system)), -1);
  EXPECT_THAT(between(sys.record.journal, "instance1.connect", "wrapper.connect"),
              ElementsAre("instance1.connect", "keep pid file", "instance1.connect",
                          "log Debug option was passed, HOLLIN will not be launched",
                          "log " + name_for(1)));
  EXPECT_EQ(sys.pipes.counts["instance"], 2);
  EXPECT_EQ(sys.system.jobs.size(), 1u);
  EXPECT_TRUE(request_pipe_params().report_idle);
}

TEST(ServiceDirs, TheGraphicalClientsDirectoryIsMadeAbsoluteBeforeTheServiceMoves) {
  EXPECT_EQ(absolute_dir(false, "Brightdesk", "/home/u"), "/home/u/Brightdesk");
  EXPECT_EQ(absolute_dir(false, "../B", "/"), "/../B");
  EXPECT_EQ(absolute_dir(false, "/opt/B", "/home/u"), "/opt/B");
  EXPECT_EQ(absolute_dir(false, "", "/home/u"), "");
  EXPECT_EQ(absolute_dir(true, "Brightdesk", "C:\\work"), "C:\\work\\Brightdesk");
  EXPECT_EQ(absolute_dir(true, "Brightdesk", "C:\\"), "C:\\Brightdesk");
  EXPECT_EQ(absolute_dir(true, "D:\\B", "C:\\work"), "D:\\B");
  EXPECT_EQ(absolute_dir(true, "\\\\srv\\s\\B", "C:\\work"), "\\\\srv\\s\\B");
  EXPECT_EQ(absolute_dir(true, "\\B", "C:\\work"), "\\B");

  EXPECT_EQ(resting_dir(false, "/opt/app/bin/hollin_service"), "/");
  EXPECT_EQ(resting_dir(true, "C:\\app\\bin\\hollin_service.exe"), "C:\\app\\bin");
  EXPECT_EQ(resting_dir(true, "C:\\hollin_service.exe"), "C:\\");
  EXPECT_EQ(resting_dir(true, "hollin_service.exe"), "");
}

}  // namespace

}  // namespace hollin_service
