// Fakes of the client's own interfaces.
#pragma once

#include <cstdint>
#include <optional>

#include "client/channel.h"
#include "tests/fakes/fakes.h"

namespace testfakes {

// A service that lives until `ends_ms` on a virtual clock (nothing: lives
// on).
class ServiceEndingAt final : public tarnwick::ServiceWatch {
 public:
  explicit ServiceEndingAt(const VirtualClock& clock) : clock_(clock) {}
  bool alive() override { return !ends_ms || clock_.clock_ms < *ends_ms; }

  std::optional<std::uint64_t> ends_ms;

 private:
  const VirtualClock& clock_;
};

}  // namespace testfakes
