#include "client/channel.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>

#include "support/pipe_names.h"
#include "support/runtime_services.h"
#include "support/work_dir.h"

namespace tarnwick {

bool RealChannelEnv::wait(const std::string& name, unsigned timeout_ms) {
  return platform::wait_named_pipe(name, timeout_ms);
}

PipeState RealChannelEnv::probe(const std::string& name) {
  // A wait of a millisecond succeeds only when an instance is free.
  if (platform::wait_named_pipe(name, 1)) return PipeState::free;
  return platform::named_pipe_exists(name) ? PipeState::busy : PipeState::none;
}

platform::OpenStatus RealChannelEnv::open(const std::string& name,
                                          std::unique_ptr<platform::ClientPipe>* pipe) {
  return platform::open_client_pipe(name, platform::PipeAccess::read_write, false, pipe).kind;
}

void RealChannelEnv::sleep_ms(unsigned milliseconds) { platform::sleep_ms(milliseconds); }

std::uint64_t RealChannelEnv::now_ms() {
  return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        std::chrono::steady_clock::now().time_since_epoch())
                                        .count());
}

bool RealChannelEnv::service_alive() { return watch_ == nullptr || watch_->alive(); }

void RealChannelEnv::log(const std::string& line) { support::log_line(line); }

namespace {

// The wait for the request pipe as a whole: its clock and its end.
class WaitBudget {
 public:
  explicit WaitBudget(ChannelEnv& env) : env_(env), deadline_(env.now_ms() + kWaitLimitMs) {}

  std::uint64_t left() const {
    const std::uint64_t now = env_.now_ms();
    return now >= deadline_ ? 0 : deadline_ - now;
  }
  // At most `milliseconds`, cut to what is left.
  unsigned cut(unsigned milliseconds) const {
    return static_cast<unsigned>(std::min<std::uint64_t>(milliseconds, left()));
  }

 private:
  ChannelEnv& env_;
  std::uint64_t deadline_;
};

enum class PauseEnd { elapsed, pipe_ready, service_gone };

// The pause after a failed wait. It ends early when a wait could succeed: an
// instance is free, or the pipe has newly appeared (a service that has just
// been started makes its pipe while we pause here, and the next wait should
// not be ten seconds away). A pipe that stays busy does not end it, or lost
// races would use the whole budget in moments. While there is no pipe, it
// also ends when no service is left alive that could make one.
PauseEnd pause_for_pipe(ChannelEnv& env, const std::string& name, const WaitBudget& budget) {
  const std::uint64_t start = env.now_ms();
  bool busy_seen = false;
  bool first_look = true;
  // kNever: not yet.
  constexpr std::uint64_t kNever = UINT64_MAX;
  std::uint64_t last_liveness_check = kNever;
  std::uint64_t no_service_since = kNever;
  for (;;) {
    const std::uint64_t now = env.now_ms();
    const std::uint64_t paused = now - start;
    if (paused >= kPauseMs || budget.left() == 0) return PauseEnd::elapsed;

    const PipeState state = env.probe(name);
    if (state == PipeState::free) return PauseEnd::pipe_ready;
    if (state == PipeState::busy) {
      // Busy at the first look is the pipe the wait failed on; busy after
      // none is a pipe that has just been made.
      if (!busy_seen && !first_look) return PauseEnd::pipe_ready;
      busy_seen = true;
      no_service_since = kNever;
    } else {
      busy_seen = false;
      if (last_liveness_check == kNever || now - last_liveness_check >= kLivenessCheckMs) {
        last_liveness_check = now;
        if (env.service_alive()) {
          no_service_since = kNever;
        } else if (no_service_since == kNever) {
          no_service_since = now;
        }
      }
      if (no_service_since != kNever && now - no_service_since >= kServiceGoneGraceMs) {
        return PauseEnd::service_gone;
      }
    }
    first_look = false;
    env.sleep_ms(budget.cut(
        static_cast<unsigned>(std::min<std::uint64_t>(kPauseSliceMs, kPauseMs - paused))));
  }
}

}  // namespace

bool exchange_with_service(ChannelEnv& env, const std::string& pipe_name,
                           const std::string& request, std::string* reply) {
  reply->clear();
  const WaitBudget budget(env);
  std::unique_ptr<platform::ClientPipe> pipe;
  int waits = 0;
  bool service_gone = false;
  for (;;) {
    bool waited = false;
    while (waits < kMaxPipeWaits && !service_gone) {
      // Read once: a time-out of zero would be the pipe's default wait of
      // seconds, past the limit, so a budget spent by now ends the waiting.
      const unsigned timeout = budget.cut(kPipeWaitMs);
      if (timeout == 0) break;
      ++waits;
      if (env.wait(pipe_name, timeout)) {
        waited = true;
        break;
      }
      service_gone = pause_for_pipe(env, pipe_name, budget) == PauseEnd::service_gone;
    }
    // The open is tried whether or not a wait succeeded.
    const platform::OpenStatus status = env.open(pipe_name, &pipe);
    if (status == platform::OpenStatus::opened && pipe) break;
    pipe.reset();
    // Another client of this user took the free instance first: that costs
    // time, not one of the waits, while the budget's time lasts.
    if (status == platform::OpenStatus::busy && waited && budget.left() > 0) {
      --waits;
      env.sleep_ms(budget.cut(kLostRacePauseMs));
      continue;
    }
    if (service_gone) env.log(kServiceGoneLine);
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

bool exchange_with_service(const std::string& request, std::string* reply, ServiceWatch* watch) {
  RealChannelEnv env(watch);
  return exchange_with_service(env, support::request_pipe_name(support::my_login_name()), request,
                               reply);
}

}  // namespace tarnwick
