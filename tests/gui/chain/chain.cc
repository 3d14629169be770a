#include "tests/gui/chain/chain.h"

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <sstream>

#include <gtest/gtest.h>

#include "tests/testlib/processes.h"

namespace chain {
namespace fs = std::filesystem;

namespace {

std::string canonical(const std::string& path) {
  std::error_code ec;
  const fs::path resolved = fs::canonical(path, ec);
  return ec ? path : resolved.string();
}

// The session id of process `pid` from /proc/<pid>/stat, 0 when it is gone.
std::uint32_t session_of(std::uint32_t pid) {
  const std::string stat = testlib::read_file("/proc/" + std::to_string(pid) + "/stat");
  const std::size_t name_end = stat.rfind(')');
  if (name_end == std::string::npos) return 0;
  // ") state ppid pgrp session": the session follows the third blank
  std::size_t at = name_end + 1;
  for (int field = 0; field < 3; ++field) {
    at = stat.find(' ', at + 1);
    if (at == std::string::npos) return 0;
  }
  return static_cast<std::uint32_t>(std::strtoul(stat.c_str() + at + 1, nullptr, 10));
}

std::vector<std::uint32_t> session_members(std::uint32_t session) {
  std::vector<std::uint32_t> pids;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator("/proc", ec)) {
    const std::string name = entry.path().filename().string();
    if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
    const auto pid = static_cast<std::uint32_t>(std::stoul(name));
    if (session_of(pid) == session) pids.push_back(pid);
  }
  return pids;
}

}  // namespace

std::string gui_root() { return canonical(TW_GUI_ROOT); }
std::string gui_bin(const std::string& name) { return gui_root() + "/bin/" + name; }
std::string gui_marlow() { return gui_root() + "/Brightdesk/marlow"; }

Sandbox::Sandbox(Display display)
    : tmp_env_(temp_.path()),
      home_("HOME", temp_.path()),
      xdg_config_("XDG_CONFIG_HOME", temp_.file(".config")),
      git_global_("GIT_CONFIG_GLOBAL", temp_.file("gitconfig")),
      git_nosystem_("GIT_CONFIG_NOSYSTEM", "1"),
      qpa_("QT_QPA_PLATFORM", display == Display::offscreen ? "offscreen" : ""),
      display_("DISPLAY", ""),
      wayland_("WAYLAND_DISPLAY", ""),
      automatic_("MARLOW_AUTOMATIC", ""),
      no_windows_("MARLOW_NO_WINDOWS", ""),
      script_("MARLOW_SCRIPT", ""),
      log_env_("MARLOW_SCRIPT_LOG", temp_.file("script.log")) {}

Sandbox::~Sandbox() { stop_all(); }

std::string Sandbox::write(const std::string& name, const std::string& bytes) const {
  const std::string path = file(name);
  testlib::write_file(path, bytes);
  return path;
}

std::string Sandbox::read(const std::string& name) const { return testlib::read_file(file(name)); }

void Sandbox::script(const std::string& actions) {
  EXPECT_TRUE(platform::set_env("MARLOW_SCRIPT", actions).ok());
}

Outcome Sandbox::run(const std::string& program, const std::vector<std::string>& args,
                     const std::string& cwd) {
  const std::string tag = "run" + std::to_string(runs_++);
  platform::ProcessSpec invocation;
  invocation.program = program;
  invocation.args = args;
  invocation.working_dir = cwd.empty() ? dir() : cwd;
  invocation.stdout_path = file(tag + ".out");
  invocation.stderr_path = file(tag + ".err");
  Outcome outcome;
  platform::Process process;
  if (!platform::start_process(invocation, &process)) {
    ADD_FAILURE() << "cannot start " << program;
    return outcome;
  }
  // Bounded: a run that hangs fails the test and is ended, well inside the
  // per-test limit.
  constexpr int kRunSeconds = 90;
  const std::optional<int> status = testlib::wait_or_end(process, kRunSeconds);
  if (!status) {
    ADD_FAILURE() << program << " did not end within " << kRunSeconds << " s; it has been ended";
  }
  outcome.status = status.value_or(-1);
  std::istringstream log(read("script.log"));
  for (std::string line; std::getline(log, line);) outcome.log.push_back(line);
  outcome.out = testlib::read_file(invocation.stdout_path);
  outcome.err = testlib::read_file(invocation.stderr_path);
  return outcome;
}

void Sandbox::stop_all() {
  // Everything the runs started, however indirectly: the test program owns
  // its descendants (testlib::own_descendants), so a marlow whose service
  // has already gone is found as well.
  testlib::end_descendants(30, false);
  // Should that ownership be unavailable: the service named by the pid file
  // runs in a session of its own (it is started with setsid), and
  // everything in it, marlow included, is the service's.
  const std::string text =
      testlib::read_file(file(platform::login_name() + ".tarnwick/hollin_service.pid"));
  const auto service = static_cast<std::uint32_t>(std::strtoul(text.c_str(), nullptr, 10));
  // A program rebuilt while it ran reads as "<path> (deleted)".
  std::string image = platform::process_image_path(service).value();
  if (const std::size_t mark = image.rfind(" (deleted)"); mark != std::string::npos) {
    image.erase(mark);
  }
  if (service == 0 || canonical(image) != gui_bin("hollin_service")) return;
  for (const std::uint32_t pid : session_members(service)) {
    EXPECT_TRUE(testlib::end_process(pid, 30)) << "process " << pid << " did not end";
  }
}

std::string utf16le(const std::string& utf8) {
  std::string out;
  for (std::size_t i = 0; i < utf8.size();) {
    const auto byte = static_cast<unsigned char>(utf8[i]);
    unsigned code = byte;
    std::size_t length = 1;
    if (byte >= 0xE0) {
      code = byte & 0x0Fu;
      length = 3;
    } else if (byte >= 0xC0) {
      code = byte & 0x1Fu;
      length = 2;
    }
    for (std::size_t k = 1; k < length; ++k) {
      code = (code << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3Fu);
    }
    out += static_cast<char>(code & 0xFFu);
    out += static_cast<char>(code >> 8);
    i += length;
  }
  return out;
}

}  // namespace chain
