// Clients that fail the service: they die before writing, after writing, in
// the middle of a request, or while the graphical client ignores them. Each
// request is still relayed as far as it got, nothing of it stays behind in
// the service, and the next client is served.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "tests/faults/hand_gui.h"

namespace {

using e2e::Sandbox;
using faults::HandGui;
using faults::HandServed;
using faults::Notice;
using testing::HasSubstr;
using testing::Not;

std::unique_ptr<platform::ClientPipe> open_request_pipe(const HandServed& served,
                                                        bool end_message_on_write = true) {
  std::unique_ptr<platform::ClientPipe> pipe;
  // As a client would: wait for a free instance, then open it. A
  // notice-stream client end leaves the message open after a write (POSIX;
  // on Windows every write is a message of its own).
  const bool waited = platform::wait_named_pipe(served.request_pipe(), 10000);
  const platform::OpenStatus status =
      platform::open_client_pipe(served.request_pipe(), platform::PipeAccess::read_write,
                                 !end_message_on_write, &pipe)
          .kind;
  if (status != platform::OpenStatus::opened) {
    ADD_FAILURE() << "cannot open " << served.request_pipe() << ": wait " << waited << ", status "
                  << static_cast<int>(status);
    pipe.reset();
  }
  return pipe;
}

// The service must still serve a whole request from a real client.
void expect_next_client_served(Sandbox& box, HandServed& served) {
  platform::Process next = box.start_tarnwick(served.args(), "next");
  ASSERT_TRUE(next.valid());
  std::string framed;
  ASSERT_TRUE(served.serve_next(&framed));
  EXPECT_EQ(framed, e2e::framed(served.call()));
  EXPECT_EQ(Sandbox::wait(next, "the next client"), 0) << box.service_log();
}

TEST(ClientFaults, ClientGoneBeforeWritingIsRelayedAsAnEmptyRequest) {
  Sandbox box;
  HandServed served(box);
  ASSERT_EQ(served.setup_error(), "");

  // Connects, then goes without a word.
  ASSERT_TRUE(open_request_pipe(served) != nullptr);
  std::string framed;
  ASSERT_TRUE(served.serve_next(&framed));
  EXPECT_EQ(framed, "POST /RPC2 HTTP/1.1\r\nContent-Length: 0\r\n\r\n");

  expect_next_client_served(box, served);
  EXPECT_EQ(served.back_at_rest(), "");
  EXPECT_THAT(box.service_log(), Not(HasSubstr("HOLLIN quit")));
}

TEST(ClientFaults, ClientGoneAfterWritingHasItsRequestRelayedAndItsReplyDropped) {
  Sandbox box;
  HandServed served(box);
  ASSERT_EQ(served.setup_error(), "");

  {
    std::unique_ptr<platform::ClientPipe> pipe = open_request_pipe(served);
    ASSERT_TRUE(pipe != nullptr);
    const std::string call = served.call();
    ASSERT_TRUE(pipe->write(call.data(), call.size()));
  }
  // The reply is written to a client that has gone: the worker must not
  // notice, let alone end the service.
  std::string framed;
  ASSERT_TRUE(served.serve_next(&framed));
  EXPECT_EQ(framed, e2e::framed(served.call()));

  expect_next_client_served(box, served);
  EXPECT_EQ(served.back_at_rest(), "");
}

TEST(ClientFaults, ClientDyingHalfWayThroughItsRequestHasTheHalfRelayed) {
  Sandbox box;
  HandServed served(box);
  ASSERT_EQ(served.setup_error(), "");

  const std::string call = served.call();
  const std::string half = call.substr(0, call.size() / 2);
  {
    std::unique_ptr<platform::ClientPipe> pipe = open_request_pipe(served, false);
    ASSERT_TRUE(pipe != nullptr);
    ASSERT_TRUE(pipe->write(half.data(), half.size()));
    // Leaving the scope closes the pipe, as the end of the process would.
  }
  std::string framed;
  ASSERT_TRUE(served.serve_next(&framed));
  EXPECT_EQ(framed, e2e::framed(half));

  expect_next_client_served(box, served);
  EXPECT_EQ(served.back_at_rest(), "");
}

// A request that the graphical client never takes up holds its client
// without limit; that client can be ended, and meanwhile the service goes on
// serving everyone else. When the graphical client finally takes the
// request up, it is relayed and everything of it is released.
TEST(ClientFaults, IgnoredRequestHoldsOnlyItsOwnClient) {
  Sandbox box;
  HandServed served(box);
  ASSERT_EQ(served.setup_error(), "");

  platform::Process ignored = box.start_tarnwick(served.args(), "ignored");
  ASSERT_TRUE(ignored.valid());
  Notice parked;
  ASSERT_TRUE(served.gui().next_notice(&parked));

  expect_next_client_served(box, served);
  expect_next_client_served(box, served);

  ASSERT_TRUE(ignored.kill());
  EXPECT_NE(Sandbox::wait(ignored, "the killed client"), 0);

  std::string framed;
  ASSERT_TRUE(HandGui::serve(parked, faults::reply_with_boolean('1'), &framed));
  // Whatever of the request had been written when the client died.
  const std::string whole = e2e::framed(served.call());
  EXPECT_TRUE(framed == whole || framed == e2e::framed("")) << framed;

  expect_next_client_served(box, served);
  EXPECT_EQ(served.back_at_rest(), "");
}

// A graphical client that opens only one of a request's two pipes and then
// closes it: the worker goes on waiting for the other one; once that comes
// and closes without a reply, the client fails and the service goes on.
TEST(ClientFaults, GraphicalClientAbandoningARequestFailsOnlyThatClient) {
  Sandbox box;
  HandServed served(box);
  ASSERT_EQ(served.setup_error(), "");

  platform::Process client = box.start_tarnwick(served.args(), "abandoned");
  ASSERT_TRUE(client.valid());
  Notice notice;
  ASSERT_TRUE(served.gui().next_notice(&notice));
  {
    std::unique_ptr<platform::ClientPipe> in;
    ASSERT_EQ(
        platform::open_client_pipe(notice.request_pipe, platform::PipeAccess::read, false, &in)
            .kind,
        platform::OpenStatus::opened);
  }
  {
    std::unique_ptr<platform::ClientPipe> out;
    ASSERT_EQ(
        platform::open_client_pipe(notice.response_pipe, platform::PipeAccess::write, false, &out)
            .kind,
        platform::OpenStatus::opened);
  }
  EXPECT_EQ(Sandbox::wait(client, "the client"), testlib::minus_one_status());
  EXPECT_THAT(box.service_log(), HasSubstr("Got an empty response\n"));

  expect_next_client_served(box, served);
  EXPECT_EQ(served.back_at_rest(), "");
}

}  // namespace
