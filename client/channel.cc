#include "client/channel.h"

#include <algorithm>
#include <cstring>

#include "support/pipe_names.h"
#include "support/runtime_services.h"
#include "support/work_dir.h"

bool RealChannelEnv::wait(const std::string& name, unsigned timeout_ms) {
  return platform::wait_named_pipe(name, timeout_ms);
}

bool RealChannelEnv::exists(const std::string& name) { return platform::named_pipe_exists(name); }

platform::OpenStatus RealChannelEnv::open(const std::string& name,
                                          std::unique_ptr<platform::ClientPipe>* pipe) {
  return platform::open_client_pipe(name, platform::PipeAccess::read_write, false, pipe);
}

void RealChannelEnv::sleep_ms(unsigned milliseconds) { platform::sleep_ms(milliseconds); }

void RealChannelEnv::log(const std::string& line) { log_line(line); }

namespace {

// The pause after a failed wait. It ends early once the pipe exists: a
// service that has just been started makes its pipe while we pause here, and
// the next wait should not be ten seconds away.
void pause_for_pipe(ChannelEnv& env, const std::string& name) {
  unsigned elapsed = 0;
  while (elapsed < kPauseMs) {
    if (env.exists(name)) return;
    const unsigned slice = std::min(kPauseSliceMs, kPauseMs - elapsed);
    env.sleep_ms(slice);
    elapsed += slice;
  }
}

}  // namespace

bool exchange_with_service(ChannelEnv& env, const std::string& pipe_name,
                           const std::string& request, std::string* reply) {
  reply->clear();
  std::unique_ptr<platform::ClientPipe> pipe;
  int waits = 0;
  for (;;) {
    while (waits < kMaxPipeWaits) {
      ++waits;
      if (env.wait(pipe_name, kPipeWaitMs)) break;
      pause_for_pipe(env, pipe_name);
    }
    // The open is tried whether or not a wait succeeded.
    const platform::OpenStatus status = env.open(pipe_name, &pipe);
    if (status == platform::OpenStatus::opened && pipe) break;
    pipe.reset();
    // Another client of this user took the free instance first: wait for the
    // next one while the budget lasts.
    if (status == platform::OpenStatus::busy && waits < kMaxPipeWaits) continue;
    env.log("Unable to obtain pipe " + pipe_name);
    return false;
  }

  if (!pipe->write(request.data(), request.size())) return false;

  char buffer[kReplyBufferSize] = {};
  std::size_t bytes = 0;
  if (!pipe->read(buffer, kReplyBufferSize - 1, &bytes)) return false;
  buffer[std::min(bytes, kReplyBufferSize - 1)] = '\0';
  // A reply is cut at its first zero byte.
  reply->assign(buffer, std::strlen(buffer));
  return true;
}

bool exchange_with_service(const std::string& request, std::string* reply) {
  RealChannelEnv env;
  return exchange_with_service(env, request_pipe_name(my_login_name()), request, reply);
}
