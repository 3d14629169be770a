#include "service/pipe_message.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>

#include "tests/service/fake_pipe.h"
#include "tests/testlib/testlib.h"

namespace {

using servicetest::FakePipe;
using servicetest::PipeRecord;
using ::testing::ElementsAre;

// Decimal digits only, no sign, no leading zero.
bool plain_decimal(const std::string& text) {
  if (text.empty() || text[0] == '0') return false;
  return text.find_first_not_of("0123456789") == std::string::npos;
}

std::string pattern(std::size_t size) {
  std::string text(size, '\0');
  for (std::size_t i = 0; i < size; ++i) text[i] = static_cast<char>('a' + i % 26);
  return text;
}

TEST(ReadPipeMessage, ReadsWholeMessagesInChunksOf4095) {
  struct Case {
    std::size_t size;
    std::vector<std::size_t> reads;
  };
  for (const Case& c : {Case{0, {4095}}, Case{4095, {4095}}, Case{4096, {4095, 4095}},
                        Case{10000, {4095, 4095, 4095}}}) {
    PipeRecord record;
    FakePipe pipe("p", &record);
    pipe.set_message(pattern(c.size));
    EXPECT_EQ(read_pipe_message(pipe), pattern(c.size)) << c.size;
    EXPECT_EQ(pipe.read_sizes, c.reads) << c.size;
  }
}

TEST(ReadPipeMessage, ZeroByteCutsTheRestOfItsChunkOnly) {
  std::string message = pattern(4095 + 20);
  message[10] = '\0';
  PipeRecord record;
  FakePipe pipe("p", &record);
  pipe.set_message(message);
  EXPECT_EQ(read_pipe_message(pipe), message.substr(0, 10) + message.substr(4095));
}

TEST(ReadPipeMessage, FailedReadEndsWithWhatArrived) {
  PipeRecord record;
  FakePipe at_once("p", &record);
  at_once.set_message("lost");
  at_once.set_fail_from_read(0);
  EXPECT_EQ(read_pipe_message(at_once), "");

  FakePipe midway("q", &record);
  midway.set_message(pattern(9000));
  midway.set_fail_from_read(1);
  EXPECT_EQ(read_pipe_message(midway), pattern(4095));
  EXPECT_THAT(midway.read_sizes, ElementsAre(4095, 4095));
}

// One message written by a client over a real pipe of this platform.
std::string relay_over_real_pipe(const std::string& name, const std::string& message) {
  auto server = platform::create_server_pipe(name, platform::PipeParams{}, nullptr);
  if (!server) return "<no server pipe>";
  std::unique_ptr<platform::ClientPipe> client;
  std::thread writer([&] {
    if (platform::open_client_pipe(name, platform::PipeAccess::read_write, false, &client) ==
        platform::OpenStatus::opened) {
      client->write(message.data(), message.size());
    }
  });
  std::string text = "<no connection>";
  if (server->connect() != platform::ConnectResult::failed) text = read_pipe_message(*server);
  writer.join();
  return text;
}

TEST(ReadPipeMessage, ReadsRealPipeMessages) {
  static std::atomic<unsigned> counter{0};
  testlib::TempDir dir;
  for (std::size_t size : {std::size_t{1}, std::size_t{4096}, std::size_t{10000}}) {
    const std::string leaf = "rpm" + std::to_string(platform::current_pid()) + "_" +
                             std::to_string(counter++);
    const std::string name =
        platform::kWindows ? "\\\\.\\pipe\\" + leaf : dir.file(leaf);
    EXPECT_EQ(relay_over_real_pipe(name, pattern(size)), pattern(size)) << size;
  }
}

TEST(RandomPipePart, IsTheProductOfTwoDrawsPlus7137InDecimal) {
  PipePartGenerator generator(12345);
  unsigned low = 32767;
  unsigned high = 0;
  for (int i = 0; i < 20000; ++i) {
    const unsigned d = generator.draw();
    ASSERT_LE(d, 32767u);
    low = std::min(low, d);
    high = std::max(high, d);
  }
  EXPECT_LT(low, 100u);
  EXPECT_GT(high, 32667u);

  for (int i = 0; i < 2000; ++i) {
    const std::string part = generator.next();
    ASSERT_TRUE(plain_decimal(part)) << part;
    const unsigned long value = std::stoul(part);
    EXPECT_GE(value, 7137ul);
    EXPECT_LE(value, 1073683426ul);
  }
}

TEST(RandomPipePart, SameSeedSameNamesAndEntropySeedsDiffer) {
  PipePartGenerator a(7), b(7);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(a.next(), b.next());

  // Two services started in the same second must not draw the same names.
  std::set<std::string> firsts;
  for (int i = 0; i < 8; ++i) {
    PipePartGenerator seeded;
    firsts.insert(seeded.next() + "/" + seeded.next());
  }
  EXPECT_EQ(firsts.size(), 8u);

  seed_random_pipe_part();
  EXPECT_TRUE(plain_decimal(random_pipe_part()));
}

}  // namespace
