#include "client/channel.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/fakes/client_fakes.h"
#include "tests/fakes/fakes.h"

namespace tarnwick {

namespace {

using platform::OpenStatus;

const std::string kName = "request-pipe";

// The shared fakes around one request pipe named kName: a virtual clock, the
// pipe over it, the service's life on it, and the client's log.
struct FakeEnv {
  testfakes::VirtualClock clock;
  testfakes::ClientPipeScript pipe;
  testfakes::TimedRequestPipe pipes{kName, clock, pipe};
  testfakes::ServiceEndingAt watch{clock};
  testfakes::RecordingLog log;

  ChannelDeps deps() { return ChannelDeps{pipes, clock, log, watch}; }
};

const std::string kUnableLine = "Unable to obtain pipe " + kName;

TEST(ChannelTest, NoPipeUsesTheWholeBudgetThenLogs) {
  FakeEnv env;
  std::string reply = "stale";
  EXPECT_FALSE(exchange_with_service(env.deps(), kName, "request", &reply));
  EXPECT_TRUE(reply.empty());
  ASSERT_EQ(env.pipes.wait_times.size(), 13u);
  for (std::size_t i = 0; i < env.pipes.wait_times.size(); ++i) {
    EXPECT_EQ(env.pipes.wait_times[i], i * 10000u);  // each wait follows a full pause
    EXPECT_EQ(env.pipes.wait_timeouts[i], 10000u);
  }
  EXPECT_EQ(env.clock.slept(), 13u * 10000u);  // a pause after the last wait too
  for (const unsigned s : env.clock.sleeps) EXPECT_LE(s, 50u);
  EXPECT_EQ(env.pipes.open_calls, 1);
  EXPECT_EQ(env.log.lines, std::vector<std::string>{kUnableLine});
  EXPECT_TRUE(env.pipe.writes.empty());
}

TEST(ChannelTest, PipeAppearingDuringAPauseIsUsedAtOnce) {
  for (const std::uint64_t busy_for : {0u, 700u}) {
    SCOPED_TRACE(busy_for);
    FakeEnv env;
    env.pipes.pipe_from_ms = 2 * 10000 + 3210;  // during the third pause
    env.pipes.busy_until_ms =
        *env.pipes.pipe_from_ms + busy_for;  // taken at once by another client
    env.pipe.reply = "<boolean>1</boolean>";
    std::string reply;
    EXPECT_TRUE(exchange_with_service(env.deps(), kName, "request", &reply));
    ASSERT_EQ(env.pipes.wait_times.size(), 4u);
    EXPECT_GE(env.pipes.wait_times[3], *env.pipes.pipe_from_ms);
    EXPECT_LE(env.pipes.wait_times[3], *env.pipes.pipe_from_ms + 50);
    // The fourth wait took the instance as soon as it came free.
    EXPECT_GE(env.clock.clock_ms, env.pipes.busy_until_ms);
    EXPECT_LE(env.clock.clock_ms, env.pipes.busy_until_ms + kPauseSliceMs);
    EXPECT_EQ(env.pipes.open_calls, 1);
    EXPECT_EQ(reply, "<boolean>1</boolean>");
    EXPECT_TRUE(env.log.lines.empty());
  }
}

// Every instance busy for 35 s: each wait runs out its time, and the pause
// after it lasts until an instance comes free, not a moment.
TEST(ChannelTest, ABusyPipeKeepsThePauseGoingUntilAnInstanceIsFree) {
  FakeEnv env;
  env.pipes.pipe_from_ms = 0;
  env.pipes.busy_until_ms = 35000;
  env.pipe.reply = "r";
  std::string reply;
  EXPECT_TRUE(exchange_with_service(env.deps(), kName, "request", &reply));
  EXPECT_EQ(env.pipes.wait_times, (std::vector<std::uint64_t>{0, 20000, 35000}));
  EXPECT_EQ(env.pipes.open_calls, 1);
  EXPECT_EQ(reply, "r");
}

// Every wait succeeds and every open loses the race, for longer than 13 waits
// could last: the lost races cost time, not waits, and the client is served
// once an instance is its own.
TEST(ChannelTest, LostRacesCostTimeNotWaits) {
  FakeEnv env;
  env.pipes.pipe_from_ms = 0;
  env.pipes.races_lost_until_ms = 100000;
  env.pipe.reply = "r";
  std::string reply;
  EXPECT_TRUE(exchange_with_service(env.deps(), kName, "request", &reply));
  EXPECT_EQ(reply, "r");
  EXPECT_GT(env.pipes.wait_times.size(), 13u);
  EXPECT_GE(env.clock.clock_ms, 100000u);
  EXPECT_LE(env.clock.clock_ms, 100000u + 50);
  EXPECT_TRUE(env.log.lines.empty());
}

// Races lost for ever: the whole wait ends at its overall time limit with the
// usual log line.
TEST(ChannelTest, LostRacesEndAtTheOverallTimeLimit) {
  FakeEnv env;
  env.pipes.pipe_from_ms = 0;
  env.pipes.races_lost_until_ms = UINT64_MAX;
  std::string reply;
  EXPECT_FALSE(exchange_with_service(env.deps(), kName, "request", &reply));
  EXPECT_EQ(env.clock.clock_ms, kWaitLimitMs);
  EXPECT_EQ(kWaitLimitMs, 13u * 20000u);
  EXPECT_EQ(env.log.lines, std::vector<std::string>{kUnableLine});
  EXPECT_TRUE(env.pipe.writes.empty());
}

// A wait and its pause never reach past the overall time limit either: the
// pipe stays busy, and the client gives up when the limit is reached.
TEST(ChannelTest, WaitsOnABusyPipeStayWithinTheOverallTimeLimit) {
  FakeEnv env;
  env.pipes.pipe_from_ms = 0;
  env.pipes.busy_until_ms = UINT64_MAX;
  std::string reply;
  EXPECT_FALSE(exchange_with_service(env.deps(), kName, "request", &reply));
  EXPECT_EQ(env.clock.clock_ms, kWaitLimitMs);
  EXPECT_LE(env.pipes.wait_times.size(), 13u);
  EXPECT_EQ(env.log.lines, std::vector<std::string>{kUnableLine});
}

// A clock that moves between the client's readings: when the time left runs
// out between the look at the budget and the wait, no wait is made with a
// time-out of zero, which both platforms take as the pipe's default wait of
// seconds, past the overall limit. Each drift is tried with the pipe
// appearing at many moments, so that the time left at some look is smaller
// than the drift.
TEST(ChannelTest, NoWaitHasAZeroTimeoutWhenTheClockMovesOnItsOwn) {
  int zero_waits = 0;
  for (std::uint64_t drift = 1; drift <= 12; ++drift) {
    for (std::uint64_t appears = 0; appears < 40; ++appears) {
      for (const bool lost_races : {true, false}) {
        SCOPED_TRACE(testing::Message() << "drift " << drift << " appears " << appears
                                        << " lost races " << lost_races);
        FakeEnv env;
        env.clock.drift_ms = drift;
        env.pipes.pipe_from_ms = appears;
        if (lost_races) {
          env.pipes.races_lost_until_ms = UINT64_MAX;
        } else {
          env.pipes.busy_until_ms = UINT64_MAX;
        }
        std::string reply;
        EXPECT_FALSE(exchange_with_service(env.deps(), kName, "request", &reply));
        for (const unsigned timeout : env.pipes.wait_timeouts) zero_waits += timeout == 0 ? 1 : 0;
        EXPECT_LE(env.clock.clock_ms, kWaitLimitMs + 20 * drift);
        EXPECT_EQ(env.log.lines, std::vector<std::string>{kUnableLine});
      }
    }
  }
  EXPECT_EQ(zero_waits, 0);
}

TEST(ChannelTest, ScriptedBusyOpensGoBackToWaiting) {
  FakeEnv env;
  env.pipes.pipe_from_ms = 0;
  env.pipes.opens = {OpenStatus::busy, OpenStatus::busy, OpenStatus::opened};
  env.pipe.reply = "r";
  std::string reply;
  EXPECT_TRUE(exchange_with_service(env.deps(), kName, "request", &reply));
  EXPECT_EQ(env.pipes.wait_times.size(), 3u);
  EXPECT_EQ(env.pipes.open_calls, 3);
  EXPECT_EQ(reply, "r");
  EXPECT_TRUE(env.log.lines.empty());
}

// The service this client started ended (a full disk, an unwritable work
// directory) and no other service lives: the client says so and gives up
// within about a second, not after the whole budget.
TEST(ChannelTest, AServiceThatEndedStopsTheWaitAndIsLogged) {
  FakeEnv env;
  env.watch.ends_ms = 3000;
  std::string reply;
  EXPECT_FALSE(exchange_with_service(env.deps(), kName, "request", &reply));
  EXPECT_GE(env.clock.clock_ms, 3000u + kServiceGoneGraceMs);
  EXPECT_LE(env.clock.clock_ms, 3000u + kServiceGoneGraceMs + kLivenessCheckMs + kPauseSliceMs);
  EXPECT_EQ(env.pipes.wait_times.size(), 1u);
  EXPECT_EQ(env.log.lines, (std::vector<std::string>{kServiceGoneLine, kUnableLine}));
}

// A service that lost the race for the lock ends at once, and the winner's
// pipe follows a moment later: that is no reason to give up.
TEST(ChannelTest, APipeThatAppearsSoonAfterTheServiceEndedIsUsed) {
  FakeEnv env;
  env.watch.ends_ms = 100;
  env.pipes.pipe_from_ms = 100 + kServiceGoneGraceMs / 2;
  env.pipe.reply = "r";
  std::string reply;
  EXPECT_TRUE(exchange_with_service(env.deps(), kName, "request", &reply));
  EXPECT_EQ(reply, "r");
  EXPECT_TRUE(env.log.lines.empty());
}

TEST(ChannelTest, OtherOpenFailureIsNotRetried) {
  FakeEnv env;
  env.pipes.pipe_from_ms = 0;
  env.pipes.opens = {OpenStatus::failed};
  std::string reply;
  EXPECT_FALSE(exchange_with_service(env.deps(), kName, "request", &reply));
  EXPECT_EQ(env.pipes.wait_times.size(), 1u);
  EXPECT_EQ(env.pipes.open_calls, 1);
  EXPECT_EQ(env.log.lines.size(), 1u);
}

TEST(ChannelTest, RequestIsOneWriteAndReplyOneBoundedRead) {
  FakeEnv env;
  env.pipes.pipe_from_ms = 0;
  env.pipe.reply = std::string(1500, 'x');
  const std::string request(10000, 'q');
  std::string reply;
  EXPECT_TRUE(exchange_with_service(env.deps(), kName, request, &reply));
  EXPECT_EQ(env.pipe.writes, std::vector<std::string>{request});
  EXPECT_EQ(env.pipe.read_sizes, std::vector<std::size_t>{1023});
  EXPECT_EQ(reply, std::string(1023, 'x'));
}

TEST(ChannelTest, ReplyIsCutAtItsFirstZeroByte) {
  FakeEnv env;
  env.pipes.pipe_from_ms = 0;
  env.pipe.reply = std::string("abcd\0efgh", 9);
  std::string reply;
  EXPECT_TRUE(exchange_with_service(env.deps(), kName, "request", &reply));
  EXPECT_EQ(reply, "abcd");
}

TEST(ChannelTest, FailedWriteOrReadEndsQuietly) {
  {
    FakeEnv env;
    env.pipes.pipe_from_ms = 0;
    env.pipe.write_ok = false;
    env.pipe.reply = "r";
    std::string reply;
    EXPECT_FALSE(exchange_with_service(env.deps(), kName, "request", &reply));
    EXPECT_TRUE(env.pipe.read_sizes.empty());
    EXPECT_TRUE(env.log.lines.empty());
  }
  {
    FakeEnv env;
    env.pipes.pipe_from_ms = 0;  // the service disconnects without a reply
    std::string reply;
    EXPECT_FALSE(exchange_with_service(env.deps(), kName, "request", &reply));
    EXPECT_TRUE(reply.empty());
    EXPECT_TRUE(env.log.lines.empty());
  }
}

}  // namespace

}  // namespace tarnwick
