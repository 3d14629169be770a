#include "tests/testlib/testlib.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>
#include <utility>

namespace testlib {
namespace fs = std::filesystem;

std::string join(const std::string& a, const std::string& b) {
  if (a.empty()) return b;
  if (a.back() == platform::kPathSeparator) return a + b;
  return a + platform::kPathSeparator + b;
}

std::string root_dir() {
  const fs::path exe(platform::executable_path());
  return (exe.parent_path().parent_path() / "root").string();
}

std::string bin_program(const std::string& name) {
  return join(join(root_dir(), "bin"), name + platform::kExeSuffix);
}

std::string gui_program() {
  return join(join(root_dir(), "Brightdesk"), std::string("marlow") + platform::kExeSuffix);
}

bool under_wine() {
  // Wine's WINEPREFIX reaches every process it starts; Windows has none.
  return platform::kWindows && !platform::get_env("WINEPREFIX").empty();
}

TempDir::TempDir() {
  static std::atomic<unsigned> counter{0};
  const std::string base = platform::kWindows ? fs::temp_directory_path().string() : "/tmp";
  // Process ids come round again (quickly under Wine), and a directory of an
  // earlier test with the same name may still be going (Windows refuses to
  // make a name whose deletion is pending): any name that cannot be made is
  // passed over for the next.
  std::string candidate;
  for (int attempt = 0; attempt < 1000; ++attempt) {
    candidate = join(
        base, "twt" + std::to_string(platform::current_pid()) + "_" + std::to_string(counter++));
    std::error_code ec;
    if (fs::create_directory(candidate, ec)) {
      path_ = candidate;
      return;
    }
  }
  path_ = candidate;  // let the test fail on its first use
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

namespace {

// Sets a variable for a test; a failure is reported, since the test then
// runs with an environment it did not ask for.
void set_test_env(const std::string& name, const std::string& value) {
  const platform::Status set = platform::set_env(name, value);
  if (!set.ok()) std::fprintf(stderr, "cannot set %s: %s\n", name.c_str(), set.text().c_str());
}

}  // namespace

ScopedEnv::ScopedEnv(std::string name, const std::string& value) : name_(std::move(name)) {
  old_ = platform::get_env(name_);
  had_ = !old_.empty();
  set_test_env(name_, value);
}

ScopedEnv::~ScopedEnv() { set_test_env(name_, had_ ? old_ : std::string()); }

ScopedTempDirEnv::ScopedTempDirEnv(const std::string& dir)
    : a_(platform::kWindows ? "TMP" : "TMPDIR", dir), b_("TEMP", dir) {}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

bool write_file(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  return static_cast<bool>(out);
}

bool file_exists(const std::string& path) {
  std::error_code ec;
  return fs::exists(path, ec);
}

std::string strip_cr(std::string text) {
  std::erase(text, '\r');
  return text;
}

RunResult run(const std::string& program, const std::vector<std::string>& args,
              const std::string& working_dir) {
  TempDir capture;
  platform::ProcessSpec invocation;
  invocation.program = program;
  invocation.args = args;
  invocation.working_dir = working_dir;
  invocation.stdout_path = capture.file("out");
  invocation.stderr_path = capture.file("err");
  RunResult result;
  platform::Process process;
  if (!platform::start_process(invocation, &process)) return result;
  result.status = process.wait();
  result.out = strip_cr(read_file(invocation.stdout_path));
  result.err = strip_cr(read_file(invocation.stderr_path));
  return result;
}

Alarm::Alarm(int seconds, std::function<void()> action) {
  thread_ = std::thread([this, seconds, action = std::move(action)] {
    std::unique_lock<std::mutex> lock(mutex_);
    if (cancelled_.wait_for(lock, std::chrono::seconds(seconds), [&] { return cancel_; })) return;
    fired_ = true;
    lock.unlock();
    action();
  });
}

Alarm::~Alarm() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    cancel_ = true;
  }
  cancelled_.notify_all();
  thread_.join();
}

bool Alarm::fired() {
  const std::lock_guard<std::mutex> lock(mutex_);
  return fired_;
}

int minus_one_status() { return platform::kWindows ? -1 : 255; }

bool running_as_root() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.compare(0, 4, "Uid:") == 0) {
      std::istringstream fields(line.substr(4));
      unsigned real = 1, effective = 1;
      fields >> real >> effective;
      return effective == 0;
    }
  }
  return false;
}

namespace {

// The number `id` prints for `option` and `name`; false when it prints none.
bool id_of(const char* option, const std::string& name, unsigned* out) {
  const RunResult r = run("/usr/bin/id", {option, name});
  if (r.status != 0 || r.out.empty()) return false;
  *out = static_cast<unsigned>(std::stoul(r.out));
  return true;
}

}  // namespace

TestUser::TestUser(std::string name) : name_(std::move(name)) {
  run("/usr/sbin/userdel", {name_});
  if (run("/usr/sbin/useradd", {"-M", "-U", "-s", "/usr/sbin/nologin", "-d", "/nonexistent", name_})
          .status != 0) {
    return;
  }
  made_ = id_of("-u", name_, &uid_) && id_of("-g", name_, &gid_);
}

TestUser::~TestUser() { run("/usr/sbin/userdel", {name_}); }

RunResult TestUser::run(const std::string& program, const std::vector<std::string>& args,
                        const std::string& working_dir) const {
  std::vector<std::string> all = {"--reuid=" + std::to_string(uid_),
                                  "--regid=" + std::to_string(gid_), "--clear-groups", "--",
                                  program};
  all.insert(all.end(), args.begin(), args.end());
  return testlib::run("/usr/bin/setpriv", all, working_dir);
}

}  // namespace testlib
