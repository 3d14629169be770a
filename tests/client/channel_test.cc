#include "client/channel.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <optional>

namespace tarnwick {

namespace {

using platform::OpenStatus;

const std::string kName = "request-pipe";

struct PipeScript {
  bool write_ok = true;
  std::optional<std::string> reply;  // nothing: the read fails
  std::vector<std::string> writes;
  std::vector<std::size_t> read_sizes;
};

class FakePipe final : public platform::ClientPipe {
 public:
  explicit FakePipe(PipeScript* script) : script_(script) {}
  bool write(const char* data, std::size_t size) override {
    script_->writes.emplace_back(data, size);
    return script_->write_ok;
  }
  bool read(char* buffer, std::size_t size, std::size_t* bytes) override {
    script_->read_sizes.push_back(size);
    if (!script_->reply) return false;
    *bytes = std::min(size, script_->reply->size());
    std::copy_n(script_->reply->data(), *bytes, buffer);
    return true;
  }

 private:
  PipeScript* script_;
};

// A virtual clock that sleeps and waits move, and a request pipe as Windows
// has it: absent until a given time, then busy (every instance taken) until
// another, then free. A wait on a busy pipe lasts until an instance comes
// free or its time-out runs out; opens can be scripted, or lose the race to
// other clients until a given time.
class FakeEnv final : public ChannelEnv {
 public:
  std::optional<std::uint64_t> pipe_from_ms;  // nothing: never
  std::uint64_t busy_until_ms = 0;
  std::uint64_t races_lost_until_ms = 0;
  std::optional<std::uint64_t> service_ends_ms;  // nothing: lives on
  std::deque<OpenStatus> opens;                  // scripted results first
  PipeScript pipe;

  std::uint64_t clock_ms = 0;
  // How far the clock moves on its own at each reading (the time the client
  // itself takes between readings).
  std::uint64_t drift_ms = 0;
  std::vector<std::uint64_t> wait_times;
  std::vector<unsigned> wait_timeouts;
  std::vector<unsigned> sleeps;
  int open_calls = 0;
  std::vector<std::string> log_lines;

  bool pipe_there() const { return pipe_from_ms && clock_ms >= *pipe_from_ms; }
  bool pipe_free() const { return pipe_there() && clock_ms >= busy_until_ms; }

  bool wait(const std::string& name, unsigned timeout_ms) override {
    EXPECT_EQ(name, kName);
    wait_times.push_back(clock_ms);
    wait_timeouts.push_back(timeout_ms);
    if (!pipe_there()) return false;
    if (pipe_free()) return true;
    clock_ms = std::min(clock_ms + timeout_ms, busy_until_ms);
    return pipe_free();
  }
  PipeState probe(const std::string& name) override {
    EXPECT_EQ(name, kName);
    if (!pipe_there()) return PipeState::none;
    return pipe_free() ? PipeState::free : PipeState::busy;
  }
  OpenStatus open(const std::string& name, std::unique_ptr<platform::ClientPipe>* out) override {
    EXPECT_EQ(name, kName);
    ++open_calls;
    OpenStatus status = OpenStatus::not_found;
    if (!opens.empty()) {
      status = opens.front();
      opens.pop_front();
    } else if (pipe_there()) {
      status =
          pipe_free() && clock_ms >= races_lost_until_ms ? OpenStatus::opened : OpenStatus::busy;
    }
    if (status == OpenStatus::opened) *out = std::make_unique<FakePipe>(&pipe);
    return status;
  }
  void sleep_ms(unsigned milliseconds) override {
    sleeps.push_back(milliseconds);
    clock_ms += milliseconds;
  }
  std::uint64_t now_ms() override {
    clock_ms += drift_ms;
    return clock_ms;
  }
  bool service_alive() override { return !service_ends_ms || clock_ms < *service_ends_ms; }
  void log(const std::string& line) override { log_lines.push_back(line); }

  std::uint64_t slept() const {
    std::uint64_t total = 0;
    for (const unsigned s : sleeps) total += s;
    return total;
  }
};

const std::string kUnableLine = "Unable to obtain pipe " + kName;

TEST(ChannelTest, NoPipeUsesTheWholeBudgetThenLogs) {
  FakeEnv env;
  std::string reply = "stale";
  EXPECT_FALSE(exchange_with_service(env, kName, "request", &reply));
  EXPECT_TRUE(reply.empty());
  ASSERT_EQ(env.wait_times.size(), 13u);
  for (std::size_t i = 0; i < env.wait_times.size(); ++i) {
    EXPECT_EQ(env.wait_times[i], i * 10000u);  // each wait follows a full pause
    EXPECT_EQ(env.wait_timeouts[i], 10000u);
  }
  EXPECT_EQ(env.slept(), 13u * 10000u);  // a pause after the last wait too
  for (const unsigned s : env.sleeps) EXPECT_LE(s, 50u);
  EXPECT_EQ(env.open_calls, 1);
  EXPECT_EQ(env.log_lines, std::vector<std::string>{kUnableLine});
  EXPECT_TRUE(env.pipe.writes.empty());
}

TEST(ChannelTest, PipeAppearingDuringAPauseIsUsedAtOnce) {
  for (const std::uint64_t busy_for : {0u, 700u}) {
    SCOPED_TRACE(busy_for);
    FakeEnv env;
    env.pipe_from_ms = 2 * 10000 + 3210;               // during the third pause
    env.busy_until_ms = *env.pipe_from_ms + busy_for;  // taken at once by another client
    env.pipe.reply = "<boolean>1</boolean>";
    std::string reply;
    EXPECT_TRUE(exchange_with_service(env, kName, "request", &reply));
    ASSERT_EQ(env.wait_times.size(), 4u);
    EXPECT_GE(env.wait_times[3], *env.pipe_from_ms);
    EXPECT_LE(env.wait_times[3], *env.pipe_from_ms + 50);
    // The fourth wait took the instance as soon as it came free.
    EXPECT_GE(env.clock_ms, env.busy_until_ms);
    EXPECT_LE(env.clock_ms, env.busy_until_ms + kPauseSliceMs);
    EXPECT_EQ(env.open_calls, 1);
    EXPECT_EQ(reply, "<boolean>1</boolean>");
    EXPECT_TRUE(env.log_lines.empty());
  }
}

// Every instance busy for 35 s: each wait runs out its time, and the pause
// after it lasts until an instance comes free, not a moment.
TEST(ChannelTest, ABusyPipeKeepsThePauseGoingUntilAnInstanceIsFree) {
  FakeEnv env;
  env.pipe_from_ms = 0;
  env.busy_until_ms = 35000;
  env.pipe.reply = "r";
  std::string reply;
  EXPECT_TRUE(exchange_with_service(env, kName, "request", &reply));
  EXPECT_EQ(env.wait_times, (std::vector<std::uint64_t>{0, 20000, 35000}));
  EXPECT_EQ(env.open_calls, 1);
  EXPECT_EQ(reply, "r");
}

// Every wait succeeds and every open loses the race, for longer than 13 waits
// could last: the lost races cost time, not waits, and the client is served
// once an instance is its own.
TEST(ChannelTest, LostRacesCostTimeNotWaits) {
  FakeEnv env;
  env.pipe_from_ms = 0;
  env.races_lost_until_ms = 100000;
  env.pipe.reply = "r";
  std::string reply;
  EXPECT_TRUE(exchange_with_service(env, kName, "request", &reply));
  EXPECT_EQ(reply, "r");
  EXPECT_GT(env.wait_times.size(), 13u);
  EXPECT_GE(env.clock_ms, 100000u);
  EXPECT_LE(env.clock_ms, 100000u + 50);
  EXPECT_TRUE(env.log_lines.empty());
}

// Races lost for ever: the whole wait ends at its overall time limit with the
// usual log line.
TEST(ChannelTest, LostRacesEndAtTheOverallTimeLimit) {
  FakeEnv env;
  env.pipe_from_ms = 0;
  env.races_lost_until_ms = UINT64_MAX;
  std::string reply;
  EXPECT_FALSE(exchange_with_service(env, kName, "request", &reply));
  EXPECT_EQ(env.clock_ms, kWaitLimitMs);
  EXPECT_EQ(kWaitLimitMs, 13u * 20000u);
  EXPECT_EQ(env.log_lines, std::vector<std::string>{kUnableLine});
  EXPECT_TRUE(env.pipe.writes.empty());
}

// A wait and its pause never reach past the overall time limit either: the
// pipe stays busy, and the client gives up when the limit is reached.
TEST(ChannelTest, WaitsOnABusyPipeStayWithinTheOverallTimeLimit) {
  FakeEnv env;
  env.pipe_from_ms = 0;
  env.busy_until_ms = UINT64_MAX;
  std::string reply;
  EXPECT_FALSE(exchange_with_service(env, kName, "request", &reply));
  EXPECT_EQ(env.clock_ms, kWaitLimitMs);
  EXPECT_LE(env.wait_times.size(), 13u);
  EXPECT_EQ(env.log_lines, std::vector<std::string>{kUnableLine});
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
        env.drift_ms = drift;
        env.pipe_from_ms = appears;
        if (lost_races) {
          env.races_lost_until_ms = UINT64_MAX;
        } else {
          env.busy_until_ms = UINT64_MAX;
        }
        std::string reply;
        EXPECT_FALSE(exchange_with_service(env, kName, "request", &reply));
        for (const unsigned timeout : env.wait_timeouts) zero_waits += timeout == 0 ? 1 : 0;
        EXPECT_LE(env.clock_ms, kWaitLimitMs + 20 * drift);
        EXPECT_EQ(env.log_lines, std::vector<std::string>{kUnableLine});
      }
    }
  }
  EXPECT_EQ(zero_waits, 0);
}

TEST(ChannelTest, ScriptedBusyOpensGoBackToWaiting) {
  FakeEnv env;
  env.pipe_from_ms = 0;
  env.opens = {OpenStatus::busy, OpenStatus::busy, OpenStatus::opened};
  env.pipe.reply = "r";
  std::string reply;
  EXPECT_TRUE(exchange_with_service(env, kName, "request", &reply));
  EXPECT_EQ(env.wait_times.size(), 3u);
  EXPECT_EQ(env.open_calls, 3);
  EXPECT_EQ(reply, "r");
  EXPECT_TRUE(env.log_lines.empty());
}

// The service this client started ended (a full disk, an unwritable work
// directory) and no other service lives: the client says so and gives up
// within about a second, not after the whole budget.
TEST(ChannelTest, AServiceThatEndedStopsTheWaitAndIsLogged) {
  FakeEnv env;
  env.service_ends_ms = 3000;
  std::string reply;
  EXPECT_FALSE(exchange_with_service(env, kName, "request", &reply));
  EXPECT_GE(env.clock_ms, 3000u + kServiceGoneGraceMs);
  EXPECT_LE(env.clock_ms, 3000u + kServiceGoneGraceMs + kLivenessCheckMs + kPauseSliceMs);
  EXPECT_EQ(env.wait_times.size(), 1u);
  EXPECT_EQ(env.log_lines, (std::vector<std::string>{kServiceGoneLine, kUnableLine}));
}

// A service that lost the race for the lock ends at once, and the winner's
// pipe follows a moment later: that is no reason to give up.
TEST(ChannelTest, APipeThatAppearsSoonAfterTheServiceEndedIsUsed) {
  FakeEnv env;
  env.service_ends_ms = 100;
  env.pipe_from_ms = 100 + kServiceGoneGraceMs / 2;
  env.pipe.reply = "r";
  std::string reply;
  EXPECT_TRUE(exchange_with_service(env, kName, "request", &reply));
  EXPECT_EQ(reply, "r");
  EXPECT_TRUE(env.log_lines.empty());
}

TEST(ChannelTest, OtherOpenFailureIsNotRetried) {
  FakeEnv env;
  env.pipe_from_ms = 0;
  env.opens = {OpenStatus::failed};
  std::string reply;
  EXPECT_FALSE(exchange_with_service(env, kName, "request", &reply));
  EXPECT_EQ(env.wait_times.size(), 1u);
  EXPECT_EQ(env.open_calls, 1);
  EXPECT_EQ(env.log_lines.size(), 1u);
}

TEST(ChannelTest, RequestIsOneWriteAndReplyOneBoundedRead) {
  FakeEnv env;
  env.pipe_from_ms = 0;
  env.pipe.reply = std::string(1500, 'x');
  const std::string request(10000, 'q');
  std::string reply;
  EXPECT_TRUE(exchange_with_service(env, kName, request, &reply));
  EXPECT_EQ(env.pipe.writes, std::vector<std::string>{request});
  EXPECT_EQ(env.pipe.read_sizes, std::vector<std::size_t>{1023});
  EXPECT_EQ(reply, std::string(1023, 'x'));
}

TEST(ChannelTest, ReplyIsCutAtItsFirstZeroByte) {
  FakeEnv env;
  env.pipe_from_ms = 0;
  env.pipe.reply = std::string("abcd\0efgh", 9);
  std::string reply;
  EXPECT_TRUE(exchange_with_service(env, kName, "request", &reply));
  EXPECT_EQ(reply, "abcd");
}

TEST(ChannelTest, FailedWriteOrReadEndsQuietly) {
  {
    FakeEnv env;
    env.pipe_from_ms = 0;
    env.pipe.write_ok = false;
    env.pipe.reply = "r";
    std::string reply;
    EXPECT_FALSE(exchange_with_service(env, kName, "request", &reply));
    EXPECT_TRUE(env.pipe.read_sizes.empty());
    EXPECT_TRUE(env.log_lines.empty());
  }
  {
    FakeEnv env;
    env.pipe_from_ms = 0;  // the service disconnects without a reply
    std::string reply;
    EXPECT_FALSE(exchange_with_service(env, kName, "request", &reply));
    EXPECT_TRUE(reply.empty());
    EXPECT_TRUE(env.log_lines.empty());
  }
}

}  // namespace

}  // namespace tarnwick
