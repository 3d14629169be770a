// Helpers shared by the tests: where the built programs are, private
// temporary directories, files, environment, and running a program with its
// output captured in files.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/platform.h"

namespace testlib {

// <build>/root, the build tree's installation layout (tests live in <build>/tests).
std::string root_dir();
// <root>/bin/<name>[.exe]
std::string bin_program(const std::string& name);
// <root>/Brightdesk/marlow[.exe]
std::string gui_program();
// Joins with the platform's separator.
std::string join(const std::string& a, const std::string& b);

// True when the test runs under Wine.
bool under_wine();

// A fresh, empty directory with a short path (POSIX socket paths are limited
// to 107 bytes), removed with its contents when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return join(path_, name); }

 private:
  std::string path_;
};

// Sets an environment variable for the life of the object, then restores it.
class ScopedEnv {
 public:
  ScopedEnv(std::string name, const std::string& value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::string old_;
  bool had_;
};

// Points the temporary directory of this process and its children at `dir`
// (TMPDIR on POSIX; TMP and TEMP on Windows).
class ScopedTempDirEnv {
 public:
  explicit ScopedTempDirEnv(const std::string& dir);

 private:
  ScopedEnv a_;
  ScopedEnv b_;
};

std::string read_file(const std::string& path);  // empty when missing
bool write_file(const std::string& path, const std::string& content);
bool file_exists(const std::string& path);
// Removes CR bytes (Windows console and text-mode files write CR LF).
std::string strip_cr(std::string text);

struct RunResult {
  int status = -1;  // as platform::Process::wait returns it
  std::string out;  // standard output, CR bytes removed
  std::string err;  // standard error, CR bytes removed
};

// Runs `program` with `args`, waits for it, and returns its status and
// output (captured through files, never pipes: a service started by the
// program must not hold the capture open).
RunResult run(const std::string& program, const std::vector<std::string>& args,
              const std::string& working_dir = "");

// Runs `action` on a thread of its own if the object still exists after
// `seconds`: the way to bound a wait that blocks on something without a
// time limit (a pipe connect or read), by having `action` release it (end
// the process at the other end, connect to the pipe). fired() says whether
// it ran; the destructor cancels it, or waits for it to finish.
class Alarm {
 public:
  Alarm(int seconds, std::function<void()> action);
  ~Alarm();
  Alarm(const Alarm&) = delete;
  Alarm& operator=(const Alarm&) = delete;
  bool fired();

 private:
  std::mutex mutex_;
  std::condition_variable cancelled_;
  bool cancel_ = false;
  bool fired_ = false;
  std::thread thread_;
};

// The exit status of a program that returned -1, as platform::Process::wait
// reports it on this platform (255 on POSIX, -1 on Windows).
int minus_one_status();

// POSIX: true when the tests run with the effective user id 0 (and so may
// make users and hand files to them). Always false on Windows.
bool running_as_root();

// POSIX, as root: an unprivileged user made for a test, with a group of its
// own, and removed with the object (a leftover of a crashed run under the
// same name is removed first). made() is false when it could not be made.
class TestUser {
 public:
  explicit TestUser(std::string name);
  ~TestUser();
  TestUser(const TestUser&) = delete;
  TestUser& operator=(const TestUser&) = delete;

  bool made() const { return made_; }
  const std::string& name() const { return name_; }
  unsigned uid() const { return uid_; }
  unsigned gid() const { return gid_; }

  // Runs `program` as this user, with this process's environment.
  RunResult run(const std::string& program, const std::vector<std::string>& args,
                const std::string& working_dir = "") const;

 private:
  std::string name_;
  unsigned uid_ = 0;
  unsigned gid_ = 0;
  bool made_ = false;
};

}  // namespace testlib
