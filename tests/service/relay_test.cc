#include "service/relay.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/fakes/fakes.h"

namespace hollin_service {

namespace {

using testfakes::PipeRecord;
using testfakes::ScriptedServerPipe;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

std::string pattern(std::size_t size, char first) {
  std::string text(size, '\0');
  for (std::size_t i = 0; i < size; ++i) text[i] = static_cast<char>(first + i % 23);
  return text;
}

struct Relay {
  PipeRecord record;
  testfakes::RecordingLog log;
  ScriptedServerPipe* client;
  ScriptedServerPipe* request;
  ScriptedServerPipe* response;
  std::unique_ptr<RelayJob> job = std::make_unique<RelayJob>();

  Relay(const std::string& request_text, const std::string& reply_text) {
    job->client_pipe = std::make_unique<ScriptedServerPipe>("client", &record);
    job->hollin_request_pipe = std::make_unique<ScriptedServerPipe>("request", &record);
    job->hollin_response_pipe = std::make_unique<ScriptedServerPipe>("response", &record);
    client = static_cast<ScriptedServerPipe*>(job->client_pipe.get());
    request = static_cast<ScriptedServerPipe*>(job->hollin_request_pipe.get());
    response = static_cast<ScriptedServerPipe*>(job->hollin_response_pipe.get());
    client->set_message(request_text);
    response->set_message(reply_text);
  }
  void run() { relay_request(std::move(job), log); }
};

TEST(FrameRequest, PutsTheHttpHeaderWithTheByteLengthInFront) {
  EXPECT_EQ(frame_request(""), "POST /RPC2 HTTP/1.1\r\nContent-Length: 0\r\n\r\n");
  EXPECT_EQ(frame_request("<x/>"), "POST /RPC2 HTTP/1.1\r\nContent-Length: 4\r\n\r\n<x/>");
  const std::string big = pattern(10000, 'a');
  EXPECT_EQ(frame_request(big), "POST /RPC2 HTTP/1.1\r\nContent-Length: 10000\r\n\r\n" + big);
}

TEST(RelayRequest, FramesTheRequestAndPassesTheReplyBackUnchanged) {
  const std::string request_text = pattern(5000, 'a');
  std::string reply_text = "HTTP/1.1 200 OK\r\n\r\n" + pattern(9000 - 19, 'A');
  Relay relay(request_text, reply_text);
  relay.run();

  EXPECT_THAT(relay.record.writes["request"],
              ElementsAre("POST /RPC2 HTTP/1.1\r\nContent-Length: 5000\r\n\r\n" + request_text));
  ASSERT_EQ(reply_text.size(), 9000u);
  EXPECT_THAT(relay.record.writes["client"], ElementsAre(reply_text));
  EXPECT_THAT(relay.log.lines, IsEmpty());
  // The request is read only once the graphical client is on both pipes; the
  // reply is flushed before the disconnects; disconnects, then closes, in
  // the order client, request, response.
  EXPECT_THAT(
      relay.record.journal,
      ElementsAre("request.connect", "response.connect", "client.read", "client.read",
                  "request.write", "response.read", "response.read", "client.write", "client.flush",
                  "client.disconnect", "request.disconnect", "response.disconnect", "client.close",
                  "request.close", "response.close"));
}

// Requests on the boundaries of the service's reads, up to a 16 MB call, are
// framed whole in one write; replies likewise pass back whole in one write,
// and a reply of zero bytes writes nothing.
TEST(RelayRequest, RequestsAndRepliesOnReadBoundariesPassWhole) {
  for (const std::size_t size : {std::size_t{0}, std::size_t{4095}, std::size_t{4096},
                                 std::size_t{65536}, std::size_t{65537}, std::size_t{16} << 20}) {
    const std::string request_text = pattern(size, 'a');
    const std::string reply_text = pattern(size, 'A');
    Relay relay(request_text, reply_text);
    relay.run();
    const std::string header =
        "POST /RPC2 HTTP/1.1\r\nContent-Length: " + std::to_string(size) + "\r\n\r\n";
    ASSERT_EQ(relay.record.writes["request"].size(), 1u) << size;
    EXPECT_TRUE(relay.record.writes["request"][0] == header + request_text) << size;
    if (size == 0) {
      EXPECT_THAT(relay.record.writes["client"], IsEmpty());
      EXPECT_THAT(relay.log.lines, ElementsAre("Got an empty response"));
    } else {
      ASSERT_EQ(relay.record.writes["client"].size(), 1u) << size;
      EXPECT_TRUE(relay.record.writes["client"][0] == reply_text) << size;
      EXPECT_THAT(relay.log.lines, IsEmpty()) << size;
    }
  }
}

TEST(RelayRequest, GoesOnWhateverTheConnectsReport) {
  // A graphical client that opened the response pipe first (or a connect
  // that fails) is served all the same.
  for (auto result :
       {platform::ConnectResult::already_connected, platform::ConnectResult::failed}) {
    Relay relay("<call/>", "<reply/>");
    relay.request->set_connect_result(result);
    relay.response->set_connect_result(platform::ConnectResult::already_connected);
    relay.run();
    EXPECT_THAT(relay.record.writes["request"],
                ElementsAre("POST /RPC2 HTTP/1.1\r\nContent-Length: 7\r\n\r\n<call/>"));
    EXPECT_THAT(relay.record.writes["client"], ElementsAre("<reply/>"));
  }
}

TEST(RelayRequest, EmptyReplyIsLoggedAndNothingIsWrittenToTheClient) {
  Relay relay("<call/>", "");
  relay.response->set_fail_from_read(0);  // the graphical client closed without writing
  relay.run();

  EXPECT_THAT(relay.log.lines, ElementsAre("Got an empty response"));
  EXPECT_EQ(relay.record.writes.count("client"), 0u);
  EXPECT_THAT(
      relay.record.journal,
      ElementsAre("request.connect", "response.connect", "client.read", "request.write",
                  "response.read", "client.disconnect", "request.disconnect", "response.disconnect",
                  "client.close", "request.close", "response.close"));
}

TEST(RelayRequest, AFailedRequestReadIsStillForwardedWithLengthZero) {
  Relay relay("never read", "<reply/>");
  relay.client->set_fail_from_read(0);
  relay.run();
  EXPECT_THAT(relay.record.writes["request"],
              ElementsAre("POST /RPC2 HTTP/1.1\r\nContent-Length: 0\r\n\r\n"));
  EXPECT_THAT(relay.record.writes["client"], ElementsAre("<reply/>"));
}

}  // namespace

}  // namespace hollin_service
