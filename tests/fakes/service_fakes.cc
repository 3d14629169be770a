#include "tests/fakes/service_fakes.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <utility>

namespace testfakes {

support::Status outcome(bool ok, const char* call) {
  return ok ? support::Status() : support::Status::posix(call, EAGAIN);
}

std::string ServicePipes::label_for(const platform::PipeParams& params) {
  if (params.notice_stream) return "wrapper";
  if (params.direction == platform::PipeDirection::duplex) {
    return "instance" + std::to_string(++counts["instance"]);
  }
  // Per-request pipes carry the number of the instance they serve.
  const char* kind = params.direction == platform::PipeDirection::outbound ? "hreq" : "hresp";
  ++counts[kind];
  return kind + std::to_string(counts["instance"]);
}

support::Result<std::unique_ptr<platform::ServerPipe>> ServicePipes::create_server(
    const std::string& name, const platform::PipeParams& params, const platform::PipeSecurity*) {
  const std::string label = label_for(params);
  record_.journal.push_back("create " + label);
  names[label] = name;
  params_of[label] = params;
  if (fail.count(label)) return outcome(false, "socket");
  auto pipe = std::make_unique<ScriptedServerPipe>(label, &record_);
  if (auto it = setup.find(label); it != setup.end()) it->second(*pipe);
  pipes[label] = pipe.get();
  return std::unique_ptr<platform::ServerPipe>(std::move(pipe));
}

support::Status FakeServiceSystem::write_pid_file() {
  record_.journal.push_back("pid file");
  return outcome(pid_file_ok, "flock");
}

support::Status FakeServiceSystem::start_relay(std::unique_ptr<hollin_service::RelayJob>& job) {
  record_.journal.push_back("thread");
  if (!thread_ok) return outcome(false, "pthread_create");
  jobs.push_back(std::move(job));
  return support::Status();
}

}  // namespace testfakes
