#include "support/system.h"

#include <chrono>
#include <new>
#include <utility>

#include "support/work_dir.h"

namespace support {

namespace {

class RealPipes final : public Pipes {
 public:
  Result<std::unique_ptr<platform::ServerPipe>> create_server(
      const std::string& name, const platform::PipeParams& params,
      const platform::PipeSecurity* security) override {
    return platform::create_server_pipe(name, params, security);
  }
  platform::OpenResult open_client(const std::string& name, platform::PipeAccess access,
                                   bool notice_stream,
                                   std::unique_ptr<platform::ClientPipe>* out) override {
    return platform::open_client_pipe(name, access, notice_stream, out);
  }
  bool wait(const std::string& name, unsigned timeout_ms) override {
    return platform::wait_named_pipe(name, timeout_ms);
  }
  PipeState probe(const std::string& name) override {
    // A wait of a millisecond succeeds only when an instance is free.
    if (platform::wait_named_pipe(name, 1)) return PipeState::free;
    return platform::named_pipe_exists(name) ? PipeState::busy : PipeState::none;
  }
  std::string name_problem(const std::string& name) override {
    return platform::pipe_name_problem(name);
  }
  bool served_elsewhere(const std::string& name) override {
    return platform::pipe_served_elsewhere(name);
  }
  void remove_stale(const std::string& base_name) override {
    platform::remove_stale_pipes(base_name);
  }
};

// What a watcher thread takes over: the process and what to call when it
// ends.
struct Watched {
  platform::Process process;
  std::function<void(int status)> ended;
};

void watch_body(std::unique_ptr<Watched> watched) {
  const int status = watched->process.wait();
  watched->ended(status);
}

class RealProcesses final : public Processes {
 public:
  Status start(const platform::ProcessSpec& invocation, platform::Process* out) override {
    return platform::start_process(invocation, out);
  }
  void watch(platform::Process process, std::function<void(int status)> ended) override {
    std::unique_ptr<Watched> watched(new (std::nothrow)
                                         Watched{std::move(process), std::move(ended)});
    // A watcher that cannot start only lets the process go.
    if (watched) static_cast<void>(platform::start_owning_thread<&watch_body>(watched));
  }
};

class RealClock final : public Clock {
 public:
  std::uint64_t now_ms() override {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
  }
  void sleep_ms(unsigned milliseconds) override { platform::sleep_ms(milliseconds); }
};

class RealLog final : public Log {
 public:
  void write(const std::string& line) override { log_line(line); }
};

// Made on first use and never destroyed, so that threads still running at
// exit can go on using it.
template <typename T>
T& process_wide() {
  static T* const instance = new T;
  return *instance;
}

}  // namespace

Pipes& real_pipes() { return process_wide<RealPipes>(); }
Processes& real_processes() { return process_wide<RealProcesses>(); }
Clock& real_clock() { return process_wide<RealClock>(); }
Log& real_log() { return process_wide<RealLog>(); }

}  // namespace support
