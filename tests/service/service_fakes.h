// Fake system operations for driving the service's main loop and launch.
#pragma once

#include <cerrno>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "service/service_state.h"
#include "support/platform.h"
#include "tests/service/fake_pipe.h"

namespace hollin_service {

namespace servicetest {

// A fake operation's outcome: success, or a failure of `call` as the system
// would report it.
inline platform::Status outcome(bool ok, const char* call) {
  return ok ? platform::Status() : platform::Status::posix(call, EAGAIN);
}

// Every pipe the service creates is a FakePipe labelled "wrapper",
// "instance<n>" (the n-th request-pipe instance), or "hreq<n>" and "hresp<n>"
// (the per-request pipes made for instance n). Creations, the pid file,
// thread and process starts and log lines all go into one journal.
class FakeSystem {
 public:
  FakeSystem() {
    hooks.log = [this](const std::string& line) {
      log.push_back(line);
      record.journal.push_back("log " + line);
    };
    hooks.login_name = [] { return std::string("user1"); };
    hooks.random_part = [this] { return std::to_string(++draws + 1000); };
    hooks.create_pipe = [this](const std::string& name, const platform::PipeParams& params) {
      return create(name, params);
    };
    hooks.write_pid_file = [this] {
      record.journal.push_back("pid file");
      return outcome(pid_file_ok, "flock");
    };
    hooks.start_relay = [this](std::unique_ptr<RelayJob>& job) {
      record.journal.push_back("thread");
      if (!thread_ok) return outcome(false, "pthread_create");
      jobs.push_back(std::move(job));
      return platform::Status();
    };
    hooks.start_process = [this](const platform::ProcessSpec& invocation, platform::Process*) {
      record.journal.push_back("start process");
      started.push_back(invocation);
      dir_at_start = platform::current_dir();
      return outcome(process_ok, "posix_spawn");
    };
    hooks.watch_process = [this](platform::Process) { record.journal.push_back("watch"); };
  }

  std::string label_for(const platform::PipeParams& params) {
    if (params.notice_stream) return "wrapper";
    if (params.direction == platform::PipeDirection::duplex) {
      return "instance" + std::to_string(++counts["instance"]);
    }
    // Per-request pipes carry the number of the instance they serve.
    const char* kind = params.direction == platform::PipeDirection::outbound ? "hreq" : "hresp";
    ++counts[kind];
    return kind + std::to_string(counts["instance"]);
  }

  platform::Result<std::unique_ptr<platform::ServerPipe>> create(
      const std::string& name, const platform::PipeParams& params) {
    const std::string label = label_for(params);
    record.journal.push_back("create " + label);
    names[label] = name;
    params_of[label] = params;
    if (fail.count(label)) return outcome(false, "socket");
    auto pipe = std::make_unique<FakePipe>(label, &record);
    if (auto it = setup.find(label); it != setup.end()) it->second(*pipe);
    pipes[label] = pipe.get();
    return std::unique_ptr<platform::ServerPipe>(std::move(pipe));
  }

  ServiceHooks hooks;
  PipeRecord record;
  std::vector<std::string> log;
  std::set<std::string> fail;                                   // labels whose creation fails
  std::map<std::string, std::function<void(FakePipe&)>> setup;  // by label, at creation
  std::map<std::string, std::string> names;
  std::map<std::string, platform::PipeParams> params_of;
  std::map<std::string, FakePipe*> pipes;  // valid while the pipe is open
  std::map<std::string, int> counts;
  std::vector<std::unique_ptr<RelayJob>> jobs;
  std::vector<platform::ProcessSpec> started;
  std::string dir_at_start;
  int draws = 0;
  bool pid_file_ok = true;
  bool thread_ok = true;
  bool process_ok = true;
};

}  // namespace servicetest

}  // namespace hollin_service
