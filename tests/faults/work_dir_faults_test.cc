// POSIX: a work directory that is not a private directory of the user stops
// both programs before they create anything in it, and a umask of 0 changes
// none of the modes they set.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <ostream>
#include <string>
#include <system_error>
#include <vector>

#include "tests/faults/hand_gui.h"

namespace {

namespace fs = std::filesystem;
using e2e::EventPipe;
using e2e::Sandbox;
using testing::HasSubstr;

constexpr const char* kPromptArguments =
    "proceed\n-mask\np\n-type\nerror\n-prompt\n"
    "\" Could not set the temporary directory \"\n-prefer_gui\n";

std::string gui_dir() { return testlib::join(testlib::root_dir(), "Brightdesk"); }

std::vector<std::string> entries(const std::string& dir) {
  std::vector<std::string> names;
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    names.push_back(it->path().filename().string());
  }
  return names;
}

enum class Unsafe { symlink, open_to_others, foreign_owner, plain_file };

std::string name_of(Unsafe kind) {
  switch (kind) {
    case Unsafe::symlink:
      return "Symlink";
    case Unsafe::open_to_others:
      return "Mode0755";
    case Unsafe::foreign_owner:
      return "ForeignOwner";
    case Unsafe::plain_file:
      return "PlainFile";
  }
  return "?";
}

// Names the parameter in test listings.
void PrintTo(Unsafe kind, std::ostream* out) { *out << name_of(kind); }

class UnsafeWorkDir : public testing::TestWithParam<Unsafe> {};

// Both programs refuse the entry through the prompt tool, end with -1, and
// leave it as they found it: no pid file, log or socket appears. (A plain
// file accepted as the work directory would leave every client waiting out
// its whole budget for a service that cannot make its pipes.)
TEST_P(UnsafeWorkDir, BothProgramsRefuseItThroughThePromptTool) {
  if constexpr (platform::kWindows) GTEST_SKIP() << "POSIX work-directory checks";
  Sandbox box;
  const std::string work = box.work_dir();
  std::string inspected = work;  // where anything created would appear
  std::error_code ec;
  switch (GetParam()) {
    case Unsafe::symlink: {
      inspected = box.file("elsewhere");
      ASSERT_TRUE(fs::create_directory(inspected, ec));
      fs::permissions(inspected, fs::perms::owner_all, fs::perm_options::replace, ec);
      fs::create_directory_symlink(inspected, work, ec);
      ASSERT_FALSE(ec) << ec.message();
      break;
    }
    case Unsafe::open_to_others:
      ASSERT_TRUE(fs::create_directory(work, ec));
      fs::permissions(work,
                      fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                          fs::perms::others_read | fs::perms::others_exec,
                      fs::perm_options::replace, ec);
      ASSERT_FALSE(ec) << ec.message();
      break;
    case Unsafe::foreign_owner: {
      ASSERT_TRUE(fs::create_directory(work, ec));
      fs::permissions(work, fs::perms::owner_all, fs::perm_options::replace, ec);
      const testlib::RunResult chown = testlib::run("/bin/chown", {"65534", work});
      if (chown.status != 0) GTEST_SKIP() << "giving a directory away needs root: " << chown.err;
      break;
    }
    case Unsafe::plain_file:
      ASSERT_TRUE(testlib::write_file(work, "not a directory\n"));
      break;
  }
  const std::string prompt_log = box.file("fernask.log");
  testlib::ScopedEnv log_env("FERNASK_STANDIN_LOG", prompt_log);

  const testlib::RunResult client =
      box.tarnwick({box.contributor("a.txt"), box.contributor("b.txt")});
  EXPECT_EQ(client.status, testlib::minus_one_status());
  EXPECT_EQ(testlib::read_file(prompt_log), kPromptArguments);
  EXPECT_THAT(client.err, HasSubstr("Could not set the temporary directory"));

  const testlib::RunResult service =
      testlib::run(testlib::bin_program("hollin_service"), {gui_dir()}, box.dir());
  EXPECT_EQ(service.status, testlib::minus_one_status());
  EXPECT_EQ(testlib::read_file(prompt_log), std::string(kPromptArguments) + kPromptArguments);

  if (GetParam() == Unsafe::plain_file) {
    EXPECT_EQ(testlib::read_file(work), "not a directory\n");
  } else {
    EXPECT_THAT(entries(inspected), testing::IsEmpty());
  }
  EXPECT_THAT(box.processes_of_sandbox(testlib::bin_program("hollin_service")), testing::IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(Kinds, UnsafeWorkDir,
                         testing::Values(Unsafe::symlink, Unsafe::open_to_others,
                                         Unsafe::foreign_owner, Unsafe::plain_file),
                         [](const testing::TestParamInfo<Unsafe>& param) {
                           return name_of(param.param);
                         });

// Under umask 0 the work directory is still 0700 and every socket 0600.
TEST(WorkDirFaults, UmaskZeroChangesNoMode) {
  if constexpr (platform::kWindows) GTEST_SKIP() << "POSIX file modes";
  Sandbox box;
  EventPipe events(box);
  ASSERT_TRUE(events.created());
  // The graphical client never opens a request's pipes, so both of them
  // stay in the directory beside the request pipe.
  box.set_mode("never");
  platform::ProcessSpec invocation;
  invocation.program = "/bin/sh";
  invocation.args = {"-c", "umask 0; exec \"$0\" \"$@\"", testlib::bin_program("tarnwick"),
                     box.contributor("a.txt"), box.contributor("b.txt")};
  invocation.working_dir = box.dir();
  invocation.stdout_path = box.file("client.out");
  invocation.stderr_path = box.file("client.err");
  platform::Process client;
  ASSERT_TRUE(platform::start_process(invocation, &client));
  ASSERT_TRUE(events.accept());
  const std::string connected = events.wait_for("connected ");
  ASSERT_FALSE(connected.empty());
  ASSERT_TRUE(faults::settle([&] { return box.recorded("notice-").size() == 1; }));

  const fs::perms mask =
      fs::perms::all | fs::perms::set_uid | fs::perms::set_gid | fs::perms::sticky_bit;
  std::error_code ec;
  EXPECT_EQ(fs::symlink_status(box.work_dir(), ec).permissions() & mask, fs::perms::owner_all);
  const std::vector<std::string> sockets = faults::socket_files(box.work_dir());
  EXPECT_EQ(sockets.size(), 3u) << "the request pipe and one request's two pipes";
  for (const std::string& name : sockets) {
    const fs::perms mode = fs::symlink_status(box.work_dir() + "/" + name, ec).permissions() & mask;
    EXPECT_EQ(mode, fs::perms::owner_read | fs::perms::owner_write) << name;
  }
  EXPECT_EQ(fs::symlink_status(box.work_dir() + "/hollin_service.pid", ec).permissions() & mask,
            fs::perms::owner_read | fs::perms::owner_write);

  ASSERT_TRUE(platform::kill_process(static_cast<std::uint32_t>(std::stoul(connected.substr(10)))));
  EXPECT_EQ(client.wait(), testlib::minus_one_status());
}

}  // namespace
