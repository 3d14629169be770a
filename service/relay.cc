#include "service/relay.h"

#include <cstdio>

#include "service/pipe_message.h"
#include "support/work_dir.h"

std::string frame_request(const std::string& request) {
  // The longest header, with a ten-digit length, is 51 bytes.
  char header[100];
  const int length = std::snprintf(header, sizeof header,
                                   "POST /RPC2 HTTP/1.1\r\nContent-Length: %u\r\n\r\n",
                                   static_cast<unsigned>(request.size()));
  std::string framed(header, static_cast<std::size_t>(length));
  framed += request;
  return framed;
}

void relay_request(std::unique_ptr<RelayJob> job, const LogSink& log) {
  // The graphical client may connect to the two pipes in either order; a
  // connect that reports a failure (for instance because the peer came
  // first) does not stop the relay.
  job->hollin_request_pipe->connect();
  job->hollin_response_pipe->connect();

  // Only now is the request taken from the client's pipe: it is read once
  // the graphical client is ready for it.
  const std::string request = read_pipe_message(*job->client_pipe);
  const std::string framed = frame_request(request);
  job->hollin_request_pipe->write(framed.data(), framed.size());

  const std::string reply = read_pipe_message(*job->hollin_response_pipe);
  if (reply.empty()) {
    log("Got an empty response");
  } else {
    job->client_pipe->write(reply.data(), reply.size());
    // Waits until the client has read the reply: a disconnect before that
    // would throw the unread reply away.
    job->client_pipe->flush();
  }

  job->client_pipe->disconnect();
  job->hollin_request_pipe->disconnect();
  job->hollin_response_pipe->disconnect();
  job->client_pipe.reset();
  job->hollin_request_pipe.reset();
  job->hollin_response_pipe.reset();
  job.reset();
}

void relay_thread_body(void* arg) {
  relay_request(std::unique_ptr<RelayJob>(static_cast<RelayJob*>(arg)), log_line);
}
