#include "client/channel.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "support/pipe_names.h"
#include "support/runtime_services.h"

namespace tarnwick {

namespace {

// The wait for the request pipe as a whole: its clock and its end.
class WaitBudget {
 public:
  explicit WaitBudget(support::Clock& clock)
      : clock_(clock), deadline_(clock.now_ms() + kWaitLimitMs) {}

  std::uint64_t left() const {
    const std::uint64_t now = clock_.now_ms();
    return now >= deadline_ ? 0 : deadline_ - now;
  }
  // At most `milliseconds`, cut to what is left.
  unsigned cut(unsigned milliseconds) const {
    return static_cast<unsigned>(std::min<std::uint64_t>(milliseconds, left()));
  }

 private:
  support::Clock& clock_;
  std::uint64_t deadline_;
};

enum class PauseEnd { elapsed, pipe_ready, service_gone };

// The pause after a failed wait. It ends early when a wait could succeed: an
// instance is free, or the pipe has newly appeared (a service that has just
// been started makes its pipe while we pause here, and the next wait should
// not be ten seconds away). A pipe that stays busy does not end it, or lost
// races would use the whole budget in moments. While there is no pipe, it
// also ends when no service is left alive that could make one.
PauseEnd pause_for_pipe(const ChannelDeps& deps, const std::string& name,
                        const WaitBudget& budget) {
  const std::uint64_t start = deps.clock.now_ms();
  bool busy_seen = false;
  bool first_look = true;
  // kNever: not yet.
  constexpr std::uint64_t kNever = UINT64_MAX;
  std::uint64_t last_liveness_check = kNever;
  std::uint64_t no_service_since = kNever;
  for (;;) {
    const std::uint64_t now = deps.clock.now_ms();
    const std::uint64_t paused = now - start;
    if (paused >= kPauseMs || budget.left() == 0) return PauseEnd::elapsed;

    const support::PipeState state = deps.pipes.probe(name);
    if (state == support::PipeState::free) return PauseEnd::pipe_ready;
    if (state == support::PipeState::busy) {
      // Busy at the first look is the pipe the wait failed on; busy after
      // none is a pipe that has just been made.
      if (!busy_seen && !first_look) return PauseEnd::pipe_ready;
      busy_seen = true;
      no_service_since = kNever;
    } else {
      busy_seen = false;
      if (last_liveness_check == kNever || now - last_liveness_check >= kLivenessCheckMs) {
        last_liveness_check = now;
        if (deps.watch.alive()) {
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
    deps.clock.sleep_ms(budget.cut(
        static_cast<unsigned>(std::min<std::uint64_t>(kPauseSliceMs, kPauseMs - paused))));
  }
}

}  // namespace

bool exchange_with_service(const ChannelDeps& deps, const std::string& pipe_name,
                           const std::string& request, std::string* reply) {
  reply->clear();
  const WaitBudget budget(deps.clock);
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
      if (deps.pipes.wait(pipe_name, timeout)) {
        waited = true;
        break;
      }
      service_gone = pause_for_pipe(deps, pipe_name, budget) == PauseEnd::service_gone;
    }
    // The open is tried whether or not a wait succeeded.
    const platform::OpenStatus status =
        deps.pipes.open_client(pipe_name, platform::PipeAccess::read_write, false, &pipe).kind;
    if (status == platform::OpenStatus::opened && pipe) break;
    pipe.reset();
    // Another client of this user took the free instance first: that costs
    // time, not one of the waits, while the budget's time lasts.
    if (status == platform::OpenStatus::busy && waited && budget.left() > 0) {
      --waits;
      deps.clock.sleep_ms(budget.cut(kLostRacePauseMs));
      continue;
    }
    if (service_gone) deps.log.write(kServiceGoneLine);
    deps.log.write("Unable to obtain pipe " + pipe_name);
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

namespace {

// No service to watch: it is taken to be alive.
class AssumedAlive final : public ServiceWatch {
 public:
  bool alive() override { return true; }
};

}  // namespace

bool exchange_with_service(const std::string& request, std::string* reply, ServiceWatch* watch) {
  AssumedAlive assumed;
  const ChannelDeps deps{support::real_pipes(), support::real_clock(), support::real_log(),
                         watch != nullptr ? *watch : assumed};
  return exchange_with_service(deps, support::request_pipe_name(support::my_login_name()), request,
                               reply);
}

}  // namespace tarnwick
