#include "service/pipe_message.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <set>
#include <thread>

#include "tests/fakes/fakes.h"
#include "tests/testlib/testlib.h"

namespace hollin_service {

namespace {

using testfakes::PipeRecord;
using testfakes::ScriptedServerPipe;
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

// The first read asks for one chunk of 4095 bytes, so that a message of that
// size takes one read and one byte more takes a second; later reads are
// larger and fill one growing buffer.
TEST(ReadPipeMessage, ReadsWholeMessagesFirstChunkThenLargerReads) {
  struct Case {
    std::size_t size;
    std::vector<std::size_t> reads;
  };
  for (const Case& c :
       {Case{0, {4095}}, Case{1, {4095}}, Case{4095, {4095}}, Case{4096, {4095, 65536 - 4095}},
        Case{10000, {4095, 65536 - 4095}}, Case{65536, {4095, 65536 - 4095}},
        Case{65537, {4095, 65536 - 4095, 65536}}}) {
    PipeRecord record;
    ScriptedServerPipe pipe("p", &record);
    pipe.set_message(pattern(c.size));
    EXPECT_EQ(read_pipe_message(pipe), pattern(c.size)) << c.size;
    EXPECT_EQ(pipe.read_sizes, c.reads) << c.size;
  }
}

// A 16 MB call arrives whole, in a few reads whose sizes double.
TEST(ReadPipeMessage, ASixteenMegabyteMessageArrivesWholeInFewReads) {
  const std::string message = pattern(std::size_t{16} << 20);
  PipeRecord record;
  ScriptedServerPipe pipe("p", &record);
  pipe.set_message(message);
  PipeMessage read;
  read_pipe_message(pipe, 64, &read);
  ASSERT_EQ(read.size(), message.size());
  EXPECT_TRUE(std::equal(message.begin(), message.end(), read.data()));
  EXPECT_LE(pipe.read_sizes.size(), 12u);
  // The room in front takes a header, which then leads the message.
  const char* framed = read.prepend("HEAD");
  ASSERT_NE(framed, nullptr);
  EXPECT_EQ(std::string(framed, 8), "HEAD" + message.substr(0, 4));
  EXPECT_EQ(read.size(), message.size() + 4);
  EXPECT_EQ(read.prepend(std::string(61, 'x')), nullptr) << "more than the room left";
}

// Where the pipe tells how much of the message is left, the rest is taken in
// one read; a hint that is wrong costs reads, never bytes.
TEST(ReadPipeMessage, TheRestOfAMessageWhoseSizeIsKnownTakesOneRead) {
  const std::string message = pattern(std::size_t{16} << 20);
  PipeRecord record;
  ScriptedServerPipe told("p", &record);
  told.set_message(message);
  told.set_left_hint(0);
  EXPECT_TRUE(read_pipe_message(told) == message);
  EXPECT_EQ(told.read_sizes, (std::vector<std::size_t>{4095, message.size() - 4095 + 1}));

  for (const long long error : {-100000LL, -1LL, 1LL, 100000LL}) {
    ScriptedServerPipe wrong("q", &record);
    wrong.set_message(pattern(300000));
    wrong.set_left_hint(error);
    EXPECT_EQ(read_pipe_message(wrong), pattern(300000)) << error;
  }
}

TEST(ReadPipeMessage, ZeroByteCutsTheRestOfItsChunkOnly) {
  std::string message = pattern(4095 + 20);
  message[10] = '\0';
  PipeRecord record;
  ScriptedServerPipe pipe("p", &record);
  pipe.set_message(message);
  EXPECT_EQ(read_pipe_message(pipe), message.substr(0, 10) + message.substr(4095));
}

// Chunks are counted from the message's start even where one read took many
// of them: zero bytes on either side of a chunk boundary, in a later read,
// cut only their own chunk.
TEST(ReadPipeMessage, ZeroBytesCutTheirChunksWhereverTheReadsFall) {
  constexpr std::size_t kChunk = 4095;
  std::string message = pattern(20 * kChunk + 100);
  std::string expected;
  const std::set<std::size_t> zeros = {kChunk - 1,         // the last byte of chunk 0
                                       3 * kChunk,         // the first byte of chunk 3
                                       17 * kChunk + 5,    // inside chunk 17, a later read
                                       17 * kChunk + 9,    // a second zero in the same chunk
                                       20 * kChunk + 99};  // the message's last byte
  for (const std::size_t at : zeros) message[at] = '\0';
  for (std::size_t at = 0; at < message.size(); at += kChunk) {
    const std::string chunk = message.substr(at, kChunk);
    expected += chunk.substr(0, chunk.find('\0'));
  }
  PipeRecord record;
  ScriptedServerPipe pipe("p", &record);
  pipe.set_message(message);
  const std::string text = read_pipe_message(pipe);
  EXPECT_EQ(text, expected);
  EXPECT_EQ(text.size(), message.size() - 1 - kChunk - (kChunk - 5) - 1);
}

TEST(ReadPipeMessage, FailedReadEndsWithWhatArrived) {
  PipeRecord record;
  ScriptedServerPipe at_once("p", &record);
  at_once.set_message("lost");
  at_once.set_fail_from_read(0);
  EXPECT_EQ(read_pipe_message(at_once), "");

  ScriptedServerPipe midway("q", &record);
  midway.set_message(pattern(9000));
  midway.set_fail_from_read(1);
  EXPECT_EQ(read_pipe_message(midway), pattern(4095));
  EXPECT_THAT(midway.read_sizes, ElementsAre(4095, 65536 - 4095));

  // A failure after larger reads keeps every byte they took.
  ScriptedServerPipe later("r", &record);
  later.set_message(pattern(200000));
  later.set_fail_from_read(3);
  EXPECT_EQ(read_pipe_message(later), pattern(131072));
}

// One message written by a client over a real pipe of this platform.
std::string relay_over_real_pipe(const std::string& name, const std::string& message) {
  auto server = platform::create_server_pipe(name, platform::PipeParams{}, nullptr).value();
  if (!server) return "<no server pipe>";
  std::unique_ptr<platform::ClientPipe> client;
  std::thread writer([&] {
    if (platform::open_client_pipe(name, platform::PipeAccess::read_write, false, &client).kind ==
        platform::OpenStatus::opened) {
      // The reader's side checks what arrived.
      static_cast<void>(client->write(message.data(), message.size()));
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
  // Each size on a boundary of the reads: one chunk exactly, one byte more,
  // the first larger read filled exactly and one byte more, and a 16 MB call.
  for (std::size_t size : {std::size_t{1}, std::size_t{4095}, std::size_t{4096}, std::size_t{10000},
                           std::size_t{65536}, std::size_t{65537}, std::size_t{16} << 20}) {
    const std::string leaf =
        "rpm" + std::to_string(platform::current_pid()) + "_" + std::to_string(counter++);
    const std::string name = platform::kWindows ? "\\\\.\\pipe\\" + leaf : dir.file(leaf);
    // Compared as a truth value: a 16 MB difference is no message to print.
    EXPECT_TRUE(relay_over_real_pipe(name, pattern(size)) == pattern(size)) << size;
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

}  // namespace hollin_service
