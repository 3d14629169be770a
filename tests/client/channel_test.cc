#include "client/channel.h"

#include <gtest/gtest.h>

#include <deque>
#include <optional>

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

// A virtual clock that only the sleeps move, a pipe that appears at a given
// time, and scripted results for the opens.
class FakeEnv final : public ChannelEnv {
 public:
  std::optional<unsigned long> pipe_from_ms;  // nothing: never
  std::deque<OpenStatus> opens;               // when empty: opened if the pipe exists
  PipeScript pipe;

  unsigned long now_ms = 0;
  std::vector<unsigned long> wait_times;
  std::vector<unsigned> wait_timeouts;
  std::vector<unsigned> sleeps;
  int open_calls = 0;
  std::vector<std::string> log_lines;

  bool pipe_there() const { return pipe_from_ms && now_ms >= *pipe_from_ms; }

  bool wait(const std::string& name, unsigned timeout_ms) override {
    EXPECT_EQ(name, kName);
    wait_times.push_back(now_ms);
    wait_timeouts.push_back(timeout_ms);
    return pipe_there();
  }
  bool exists(const std::string& name) override {
    EXPECT_EQ(name, kName);
    return pipe_there();
  }
  OpenStatus open(const std::string& name, std::unique_ptr<platform::ClientPipe>* out) override {
    EXPECT_EQ(name, kName);
    ++open_calls;
    OpenStatus status = pipe_there() ? OpenStatus::opened : OpenStatus::not_found;
    if (!opens.empty()) {
      status = opens.front();
      opens.pop_front();
    }
    if (status == OpenStatus::opened) *out = std::make_unique<FakePipe>(&pipe);
    return status;
  }
  void sleep_ms(unsigned milliseconds) override {
    sleeps.push_back(milliseconds);
    now_ms += milliseconds;
  }
  void log(const std::string& line) override { log_lines.push_back(line); }

  unsigned long slept() const {
    unsigned long total = 0;
    for (const unsigned s : sleeps) total += s;
    return total;
  }
};

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
  EXPECT_EQ(env.log_lines, std::vector<std::string>{"Unable to obtain pipe " + kName});
  EXPECT_TRUE(env.pipe.writes.empty());
}

TEST(ChannelTest, PipeAppearingDuringAPauseIsUsedAtOnce) {
  FakeEnv env;
  env.pipe_from_ms = 2 * 10000 + 3210;  // during the third pause
  env.pipe.reply = "<boolean>1</boolean>";
  std::string reply;
  EXPECT_TRUE(exchange_with_service(env, kName, "request", &reply));
  ASSERT_EQ(env.wait_times.size(), 4u);
  EXPECT_GE(env.wait_times[3], *env.pipe_from_ms);
  EXPECT_LE(env.wait_times[3], *env.pipe_from_ms + 50);
  EXPECT_EQ(env.open_calls, 1);
  EXPECT_EQ(reply, "<boolean>1</boolean>");
  EXPECT_TRUE(env.log_lines.empty());
}

TEST(ChannelTest, BusyOpenGoesBackToWaiting) {
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

TEST(ChannelTest, BusyOpensShareTheBudgetOfThirteenWaits) {
  FakeEnv env;
  env.pipe_from_ms = 0;
  env.opens.assign(20, OpenStatus::busy);
  std::string reply;
  EXPECT_FALSE(exchange_with_service(env, kName, "request", &reply));
  EXPECT_EQ(env.wait_times.size(), 13u);
  EXPECT_EQ(env.open_calls, 13);
  EXPECT_EQ(env.log_lines, std::vector<std::string>{"Unable to obtain pipe " + kName});
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
