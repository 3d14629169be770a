// The relay of one request: from the client's instance of the request pipe
// to the graphical client, framed as an HTTP POST, and the reply back.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "support/platform.h"
#include "support/system.h"

namespace hollin_service {

// Counts the relays whose pipes are still open: each is a relay that will
// give its descriptors back when it ends.
class RelayInFlight {
 public:
  RelayInFlight();
  ~RelayInFlight();
  RelayInFlight(const RelayInFlight&) = delete;
  RelayInFlight& operator=(const RelayInFlight&) = delete;

  // How many there are now, from any thread.
  [[nodiscard]] static std::size_t count();
};

// What the main loop hands one relay worker. The worker owns the record and
// the three pipes from its start and releases them before it ends. A job
// counts as a relay in flight from its making until it is freed, after its
// pipes.
struct RelayJob {
  RelayInFlight in_flight;
  std::unique_ptr<platform::ServerPipe> client_pipe;          // connected request-pipe instance
  std::unique_ptr<platform::ServerPipe> hollin_request_pipe;  // the service writes the request here
  std::unique_ptr<platform::ServerPipe> hollin_response_pipe;  // and reads the reply here
};

// "POST /RPC2 HTTP/1.1\r\nContent-Length: <bytes>\r\n\r\n" followed by `request`.
[[nodiscard]] std::string frame_request(const std::string& request);

// Relays one request: waits for the graphical client on both per-request
// pipes, reads the client's request, writes it framed, reads the reply and
// writes it back unchanged (nothing for an empty reply, which is logged),
// then disconnects and closes the client's instance, the request pipe and
// the response pipe, in that order, and frees the job. `log` is used from
// the calling thread.
void relay_request(std::unique_ptr<RelayJob> job, support::Log& log);

// The worker thread's body: relays `job` and logs to the service log.
void relay_worker(std::unique_ptr<RelayJob> job);

}  // namespace hollin_service
