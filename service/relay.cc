#include "service/relay.h"

#include <atomic>
#include <cstdio>

#include "service/pipe_message.h"

namespace hollin_service {

namespace {

std::atomic<std::size_t> g_relays_in_flight{0};

// The longest header, with a ten-digit length, is 51 bytes.
constexpr std::size_t kHeaderRoom = 64;

std::string frame_header(std::size_t request_size) {
  char header[kHeaderRoom + 36];
  const int length =
      std::snprintf(header, sizeof header, "POST /RPC2 HTTP/1.1\r\nContent-Length: %u\r\n\r\n",
                    static_cast<unsigned>(request_size));
  return std::string(header, static_cast<std::size_t>(length));
}

}  // namespace

RelayInFlight::RelayInFlight() { g_relays_in_flight.fetch_add(1); }
RelayInFlight::~RelayInFlight() { g_relays_in_flight.fetch_sub(1); }
std::size_t RelayInFlight::count() { return g_relays_in_flight.load(); }

std::string frame_request(const std::string& request) {
  return frame_header(request.size()) + request;
}

void relay_request(std::unique_ptr<RelayJob> job, support::Log& log) {
  // The graphical client may connect to the two pipes in either order; a
  // connect that reports a failure (for instance because the peer came
  // first) does not stop the relay.
  static_cast<void>(job->hollin_request_pipe->connect());
  static_cast<void>(job->hollin_response_pipe->connect());

  // Only now is the request taken from the client's pipe: it is read once
  // the graphical client is ready for it.
  // The request is read with room in front for the header, so that the
  // framed request is written with one write without copying the request.
  PipeMessage request;
  read_pipe_message(*job->client_pipe, kHeaderRoom, &request);
  const std::size_t request_size = request.size();
  const char* framed = request.prepend(frame_header(request_size));
  // A request that cannot be written gets no reply: the empty reply below
  // is what the relay reports of it.
  static_cast<void>(job->hollin_request_pipe->write(framed, request.size()));

  PipeMessage reply;
  read_pipe_message(*job->hollin_response_pipe, 0, &reply);
  if (reply.empty()) {
    log.write("Got an empty response");
  } else {
    // A client that has gone can be told nothing: its failures end the
    // relay as a success would.
    static_cast<void>(job->client_pipe->write(reply.data(), reply.size()));
    // Waits until the client has read the reply: a disconnect before that
    // would throw the unread reply away.
    static_cast<void>(job->client_pipe->flush());
  }

  job->client_pipe->disconnect();
  job->hollin_request_pipe->disconnect();
  job->hollin_response_pipe->disconnect();
  job->client_pipe.reset();
  job->hollin_request_pipe.reset();
  job->hollin_response_pipe.reset();
  job.reset();
}

void relay_worker(std::unique_ptr<RelayJob> job) {
  relay_request(std::move(job), support::real_log());
}

}  // namespace hollin_service
