#include "tests/e2e/fixture.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <thread>
#include <tuple>

#include <gtest/gtest.h>

#include "support/pipe_names.h"
#include "tests/testlib/processes.h"

namespace e2e {
namespace fs = std::filesystem;

namespace {

constexpr char kSep = platform::kPathSeparator;

// Polls `ready` every few milliseconds for at most `seconds`. Used only where
// the programs offer nothing to block on: a service started by hand has no
// pipe of ours to wait for, and a pipe's name has no event for its going.
// A process's end is waited for on the process (testlib::wait_for_exit).
template <typename Ready>
bool poll_until(Ready ready, int seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (!ready()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    platform::sleep_ms(2);
  }
  return true;
}

bool runs(std::uint32_t pid, const std::string& program) {
  const std::string image = platform::process_image_path(pid).value();
  return !image.empty() && platform::paths_equal_ignoring_case(image, program);
}

// "<prefix><pid>-<n>.txt" -> (pid, n)
bool parse_record_name(const std::string& name, const std::string& prefix, unsigned long* pid,
                       unsigned long* number) {
  if (name.compare(0, prefix.size(), prefix) != 0) return false;
  char* end = nullptr;
  *pid = std::strtoul(name.c_str() + prefix.size(), &end, 10);
  *number = 0;
  if (*end == '-') *number = std::strtoul(end + 1, &end, 10);
  return true;
}

}  // namespace

std::string xml_escaped(const std::string& text) {
  std::string out;
  for (const char c : text) {
    if (c == '&') {
      out += "&amp;";
    } else if (c == '<') {
      out += "&lt;";
    } else if (c == '>') {
      out += "&gt;";
    } else {
      out += c;
    }
  }
  return out;
}

std::string expected_call(bool merge, const std::string& out_path,
                          const std::vector<std::string>& display_names,
                          const std::vector<std::string>& contributors,
                          const std::string& type_name) {
  auto string_param = [](const std::string& value) {
    return "<param><value><string>" + xml_escaped(value) + "</string></value></param>";
  };
  auto array_param = [](const std::vector<std::string>& values) {
    std::string text = "<param><value><array>";
    for (const std::string& value : values) {
      text += "<data><value><string>" + xml_escaped(value) + "</string></value></data>";
    }
    return text + "</array></value></param>";
  };
  std::string call = "<methodCall><methodName>RequestHandler.";
  call += merge ? "CompareMerge" : "Compare";
  call += "</methodName><params>";
  if (merge) call += string_param(out_path);
  call += array_param(display_names);
  call += array_param(contributors);
  call += string_param(type_name);
  return call + "</params></methodCall>";
}

std::string framed(const std::string& call) {
  return "POST /RPC2 HTTP/1.1\r\nContent-Length: " + std::to_string(call.size()) + "\r\n\r\n" +
         call;
}

Sandbox::Sandbox()
    : temp_env_(temp_.path()),
      record_(temp_.file("record")),
      record_env_("MARLOW_STANDIN_RECORD", record_),
      mode_env_("MARLOW_STANDIN_MODE", ""),
      gate_env_("MARLOW_STANDIN_GATE", temp_.file("gate")) {
  std::error_code ec;
  fs::create_directory(record_, ec);
  if constexpr (platform::kWindows) {
    if (!end_strays()) {
      ADD_FAILURE() << "a service that this test cannot end still serves the request pipe";
    }
  }
}

bool Sandbox::end_strays() {
  const std::string request = std::string(support::kWindowsPipeBaseName) +
                              support::kRequestPipePart + platform::login_name();
  if (!platform::named_pipe_exists(request)) return true;
  // Every service of this user serves that one name, whatever its work
  // directory; under Wine the prefix is this build's own, so its services
  // and stand-ins are strays of an earlier test program that was killed.
  for (const std::string& image :
       {testlib::bin_program("hollin_service"), testlib::gui_program()}) {
    for (const std::uint32_t pid : testlib::processes_running(image)) {
      std::fprintf(stderr, "note: ending %u %s, left running by an earlier test\n", pid,
                   image.c_str());
      testlib::end_process(pid, 30);
    }
  }
  return poll_until([&] { return !platform::named_pipe_exists(request); }, 10);
}
Sandbox::~Sandbox() { stop_all(); }

std::string Sandbox::dir_as_cwd() const {
  if constexpr (platform::kWindows) return dir();
  std::error_code ec;
  const fs::path canonical = fs::canonical(dir(), ec);
  return ec ? dir() : canonical.string();
}

std::string Sandbox::work_dir() const {
  return dir() + kSep + platform::login_name() + ".tarnwick";
}

std::string Sandbox::service_log() const {
  return testlib::strip_cr(testlib::read_file(work_dir() + kSep + "hollin_service.log"));
}

std::string Sandbox::client_log() const {
  return testlib::strip_cr(testlib::read_file(work_dir() + kSep + "tarnwick.log"));
}

std::string Sandbox::pipe_base() const {
  return support::pipe_base_name_for(platform::kWindows, work_dir());
}

std::string Sandbox::contributor(const std::string& name, const std::string& content) {
  const std::string path = file(name);
  testlib::write_file(path, content);
  return path;
}

void Sandbox::set_mode(const std::string& mode) {
  // Whole or not at all: a stand-in may read it at any moment.
  const std::string temp = record_ + kSep + ".mode";
  testlib::write_file(temp, mode);
  std::error_code ec;
  fs::rename(temp, record_ + kSep + "mode", ec);
}

void Sandbox::open_gate() { testlib::write_file(file("gate"), "open"); }

testlib::RunResult Sandbox::tarnwick(const std::vector<std::string>& args) {
  testlib::RunResult result = testlib::run(testlib::bin_program("tarnwick"), args, dir());
  note_service();
  return result;
}

platform::Process Sandbox::start_tarnwick(const std::vector<std::string>& args,
                                          const std::string& tag) {
  platform::ProcessSpec invocation;
  invocation.program = testlib::bin_program("tarnwick");
  invocation.args = args;
  invocation.working_dir = dir();
  invocation.stdout_path = file(tag + ".out");
  invocation.stderr_path = file(tag + ".err");
  // Under Wine on a loaded machine, creating a process has been seen to fail
  // now and then for no reason of ours; the client is the test's tool here,
  // not what it checks, so a failed start is tried again (and noted).
  constexpr int kAttempts = 3;
  platform::Process process;
  std::string why;
  for (int attempt = 1; attempt <= kAttempts; ++attempt) {
    if (platform::start_process(invocation, &process)) {
      if (attempt > 1) {
        std::printf("note: tarnwick (%s) started at attempt %d; before%s\n", tag.c_str(), attempt,
                    why.c_str());
      }
      return process;
    }
    why = testlib::last_error_text();
  }
  ADD_FAILURE() << "cannot start tarnwick (" << tag << ")" << why;
  return process;
}

int Sandbox::wait(platform::Process& process, const std::string& what, int seconds) {
  if (!process.valid()) {
    ADD_FAILURE() << what << " was never started";
    return kDidNotEnd;
  }
  const std::optional<int> status = testlib::wait_or_end(process, seconds);
  if (!status) {
    ADD_FAILURE() << what << " (pid " << process.pid() << ") did not end within " << seconds
                  << " s; it has been ended";
    return kDidNotEnd;
  }
  return *status;
}

bool Sandbox::wait_for_exit(std::uint32_t pid, int seconds) {
  return testlib::wait_for_exit(pid, seconds);
}

platform::Process Sandbox::start_service(const std::vector<std::string>& args) {
  platform::ProcessSpec invocation;
  invocation.program = testlib::bin_program("hollin_service");
  invocation.args = args;
  invocation.stdout_path = file("service.out");
  invocation.stderr_path = file("service.err");
  platform::Process process;
  if (!platform::start_process(invocation, &process)) return process;
  services_.push_back(process.pid());
  const std::uint32_t pid = process.pid();
  poll_until([&] { return service_pid() == pid; }, 60);
  return process;
}

std::string Sandbox::service_stdout_line() {
  std::string out;
  poll_until(
      [&] {
        out = testlib::strip_cr(testlib::read_file(file("service.out")));
        return out.find('\n') != std::string::npos;
      },
      60);
  return out.substr(0, out.find('\n'));
}

std::uint32_t Sandbox::service_pid() const {
  const std::string text = testlib::read_file(work_dir() + kSep + "hollin_service.pid");
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return 0;
  return static_cast<std::uint32_t>(std::strtoul(text.c_str(), nullptr, 10));
}

bool Sandbox::is_service(std::uint32_t pid) {
  return pid != 0 && runs(pid, testlib::bin_program("hollin_service"));
}

std::vector<std::uint32_t> Sandbox::marlow_pids() const {
  std::vector<std::uint32_t> pids;
  for (const std::string& text : recorded("marlow-")) {
    pids.push_back(static_cast<std::uint32_t>(std::strtoul(text.c_str(), nullptr, 10)));
  }
  return pids;
}

std::vector<std::string> Sandbox::recorded(const std::string& prefix) const {
  std::vector<std::tuple<unsigned long, unsigned long, std::string>> found;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(record_, ec)) {
    const std::string name = entry.path().filename().string();
    unsigned long pid = 0;
    unsigned long number = 0;
    if (!parse_record_name(name, prefix, &pid, &number)) continue;
    found.emplace_back(pid, number, testlib::read_file(entry.path().string()));
  }
  std::sort(found.begin(), found.end());
  std::vector<std::string> contents;
  for (auto& item : found) contents.push_back(std::move(std::get<2>(item)));
  return contents;
}

std::vector<std::uint32_t> Sandbox::processes_of_sandbox(const std::string& program) const {
  std::vector<std::uint32_t> pids;
  if constexpr (platform::kWindows) return pids;
  // TMPDIR is the sandbox or a directory inside it.
  const std::string marker = "TMPDIR=" + dir();
  const auto names_sandbox = [&](const std::string& environment, std::size_t at) {
    const std::size_t end = at + marker.size();
    return environment.compare(at, marker.size(), marker) == 0 &&
           (end == environment.size() || environment[end] == '\0' || environment[end] == '/');
  };
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator("/proc", ec)) {
    const std::string name = entry.path().filename().string();
    if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::error_code link_ec;
    const fs::path exe = fs::read_symlink(entry.path() / "exe", link_ec);
    if (link_ec || exe.string() != program) continue;
    const std::string environment = testlib::read_file((entry.path() / "environ").string());
    bool found = names_sandbox(environment, 0);
    for (std::size_t at = environment.find('\0'); !found && at != std::string::npos;
         at = environment.find('\0', at + 1)) {
      found = names_sandbox(environment, at + 1);
    }
    if (!found) continue;
    pids.push_back(static_cast<std::uint32_t>(std::stoul(name)));
  }
  return pids;
}

bool Sandbox::wait_for_services_at_most(std::size_t count) const {
  const std::string service = testlib::bin_program("hollin_service");
  return poll_until([&] { return processes_of_sandbox(service).size() <= count; }, 30);
}

void Sandbox::note_service() {
  const std::uint32_t pid = service_pid();
  if (pid != 0 && std::find(services_.begin(), services_.end(), pid) == services_.end()) {
    services_.push_back(pid);
  }
}

void Sandbox::stop_all() {
  note_service();
  // Everything the test started, however indirectly: the test program owns
  // its descendants (testlib::own_descendants), orphans included. Clients
  // still running would start new services, so this sweeps until none is
  // left.
  testlib::end_descendants(30, false);
  // Beyond them, whatever of this sandbox runs outside the test's own tree
  // (should the ownership be unavailable): the services it recorded, the
  // stand-ins, and on POSIX every service or stand-in with this sandbox as
  // its temporary directory.
  const std::string service = testlib::bin_program("hollin_service");
  const std::string marlow = testlib::gui_program();
  std::vector<std::uint32_t> services = services_;
  std::vector<std::uint32_t> marlows = marlow_pids();
  for (const std::uint32_t pid : processes_of_sandbox(service)) services.push_back(pid);
  for (const std::uint32_t pid : processes_of_sandbox(marlow)) marlows.push_back(pid);
  for (const std::uint32_t pid : services) {
    if (runs(pid, service)) testlib::end_process(pid, 30);
  }
  for (const std::uint32_t pid : marlows) {
    if (runs(pid, marlow)) testlib::end_process(pid, 30);
  }
}

EventPipe::EventPipe(const Sandbox& sandbox) : sandbox_(sandbox) {
  static std::atomic<unsigned> counter{0};
  name_ = platform::kWindows
              ? "\\\\.\\pipe\\tarnwick_e2e_events_" + std::to_string(platform::current_pid()) +
                    "_" + std::to_string(counter++)
              : sandbox.file("events");
  platform::PipeParams params;
  params.direction = platform::PipeDirection::inbound;
  params.max_instances = 1;
  params.notice_stream = true;
  pipe_ = platform::create_server_pipe(name_, params, nullptr).value();
  env_ = std::make_unique<testlib::ScopedEnv>("MARLOW_STANDIN_EVENTS", name_);
}

bool EventPipe::accept(int seconds) {
  if (pipe_ == nullptr) return false;
  // If no stand-in comes, the test connects to its own pipe to end the wait.
  std::unique_ptr<platform::ClientPipe> self;
  testlib::Alarm alarm(seconds, [&] {
    // Only the connection counts: it ends the wait, opened or not.
    static_cast<void>(
        platform::open_client_pipe(name_, platform::PipeAccess::write, true, &self).kind);
  });
  const bool connected = pipe_->connect() != platform::ConnectResult::failed;
  if (alarm.fired()) {
    ADD_FAILURE() << "no graphical client connected to the report pipe within " << seconds << " s";
    return false;
  }
  return connected;
}

std::string EventPipe::next_line() {
  std::string line;
  for (;;) {
    char c = 0;
    const platform::ReadResult result = pipe_->read(&c, 1);
    if (result.status == platform::ReadStatus::failed || result.bytes != 1) return std::string();
    if (c == '\n') return line;
    line += c;
  }
}

std::string EventPipe::wait_for(const std::string& prefix, int seconds) {
  if (pipe_ == nullptr) return std::string();
  // A stand-in that stays silent is ended, which ends the read.
  testlib::Alarm alarm(seconds, [&] {
    for (const std::uint32_t pid : sandbox_.marlow_pids()) testlib::end_process(pid, 30);
  });
  for (;;) {
    const std::string line = next_line();
    if (line.empty() || line.compare(0, prefix.size(), prefix) == 0) {
      if (alarm.fired()) {
        ADD_FAILURE() << "no \"" << prefix << "\" from the graphical client within " << seconds
                      << " s; it has been ended";
        return std::string();
      }
      return line;
    }
  }
}

}  // namespace e2e
