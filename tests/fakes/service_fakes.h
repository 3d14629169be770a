// Fakes of the service's system for driving its main loop and launch.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "service/service_system.h"
#include "support/platform.h"
#include "tests/fakes/fakes.h"

namespace testfakes {

// A fake operation's outcome: success, or a failure of `call` as the system
// would report it.
[[nodiscard]] support::Status outcome(bool ok, const char* call);

// The service's pipes: every pipe it creates is a ScriptedServerPipe labelled
// "wrapper", "instance<n>" (the n-th request-pipe instance), or "hreq<n>" and
// "hresp<n>" (the per-request pipes made for instance n); each creation is
// journalled as "create <label>". Every name can be used; there are no
// stale pipes to remove. The service never opens, waits for or looks at a
// pipe: those calls fail the test.
class ServicePipes final : public StrictPipes {
 public:
  explicit ServicePipes(PipeRecord& record) : record_(record) {}

  support::Result<std::unique_ptr<platform::ServerPipe>> create_server(
      const std::string& name, const platform::PipeParams& params,
      const platform::PipeSecurity* security) override;
  std::string name_problem(const std::string&) override { return std::string(); }
  void remove_stale(const std::string&) override {}
  bool served_elsewhere(const std::string& name) override { return served.count(name) != 0; }

  std::set<std::string> served;  // names another process serves

  std::set<std::string> fail;                                             // labels that fail
  std::map<std::string, std::function<void(ScriptedServerPipe&)>> setup;  // by label
  std::map<std::string, std::string> names;
  std::map<std::string, platform::PipeParams> params_of;
  std::map<std::string, ScriptedServerPipe*> pipes;  // valid while the pipe is open
  std::map<std::string, int> counts;

 private:
  std::string label_for(const platform::PipeParams& params);

  PipeRecord& record_;
};

// The service's own needs: login "user1", random parts 1001, 1002, ...; the
// pid file, relay starts and console output as scripted and recorded. Relay
// jobs are kept, not run. Never short of descriptors; relays are in flight
// as `in_flight` says.
class FakeServiceSystem final : public hollin_service::ServiceSystem {
 public:
  explicit FakeServiceSystem(PipeRecord& record) : record_(record) {}

  std::string login_name() override { return "user1"; }
  std::string random_part() override { return std::to_string(++draws + 1000); }
  support::Status write_pid_file() override;
  void begin_log() override { record_.journal.push_back("begin log"); }
  void keep_pid_file() override { record_.journal.push_back("keep pid file"); }
  support::Status start_relay(std::unique_ptr<hollin_service::RelayJob>& job) override;
  void print_to_console(const std::string& text) override { console += text; }
  bool short_of_descriptors(const support::Status&) override { return false; }
  bool relays_in_flight() override { return in_flight; }

  bool pid_file_ok = true;
  bool thread_ok = true;
  bool in_flight = false;
  int draws = 0;
  std::vector<std::unique_ptr<hollin_service::RelayJob>> jobs;
  std::string console;

 private:
  PipeRecord& record_;
};

// The whole system of one service under test, with one journal: pipe calls
// and creations, log lines, the pid file ("pid file"), the log's emptying
// ("begin log"), relay starts
// ("thread") and process starts and watches.
struct FakeServiceWorld {
  PipeRecord record;
  ServicePipes pipes{record};
  FakeProcesses processes{&record.journal};
  VirtualClock clock;
  RecordingLog log{&record.journal};
  FakeServiceSystem system{record};

  [[nodiscard]] hollin_service::ServiceDeps deps() {
    return hollin_service::ServiceDeps{pipes, processes, clock, log, system};
  }
};

}  // namespace testfakes
