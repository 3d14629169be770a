#include "service/service_system.h"

#include <cerrno>
#include <cstdio>

#include "service/pipe_message.h"
#include "service/service_main.h"
#include "support/runtime_services.h"
#include "support/work_dir.h"

namespace hollin_service {

namespace {

class RealServiceSystem final : public ServiceSystem {
 public:
  std::string login_name() override { return support::my_login_name(); }
  std::string random_part() override { return random_pipe_part(); }
  support::Status write_pid_file() override { return hollin_service::write_pid_file(); }
  void begin_log() override { support::empty_log(); }
  void keep_pid_file() override { hollin_service::keep_pid_file(); }
  support::Status start_relay(std::unique_ptr<RelayJob>& job) override {
    return platform::start_owning_thread<&relay_worker>(job);
  }
  void print_to_console(const std::string& text) override {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
  }
  bool relays_in_flight() override { return RelayInFlight::count() > 0; }
  bool short_of_descriptors(const support::Status& failure) override {
    // A Win32 code is never an errno value, whatever its number.
    if (failure.is_win32()) return false;
    const int error = failure.code();
    return error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM;
  }
};

}  // namespace

ServiceSystem& real_service_system() {
  // Never destroyed: relay workers may still use it while the process ends.
  static RealServiceSystem* const system = new RealServiceSystem;
  return *system;
}

ServiceDeps real_service_deps() {
  return ServiceDeps{support::real_pipes(), support::real_processes(), support::real_clock(),
                     support::real_log(), real_service_system()};
}

}  // namespace hollin_service
