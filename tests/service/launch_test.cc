#include "service/launch.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>

#include "tests/fakes/service_fakes.h"
#include "tests/testlib/testlib.h"

namespace hollin_service {

namespace {

using testfakes::FakeServiceWorld;
using testfakes::ScriptedServerPipe;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

const std::string kWrapper =
    "\\\\.\\pipe\\orvane\\tessel\\vantor71\\hollin_service_pipe48213907user1";

TEST(GuiCommandLine, WindowsFormIsExact) {
  EXPECT_EQ(windows_gui_command_line("C:\\app\\Brightdesk", kWrapper),
            "C:\\app\\Brightdesk\\marlow.exe -product "
            "com.orvane.tessel.team.client.integration.product -application "
            "com.orvane.tessel.team.client.integration.application -configuration "
            "@user.home\\.Tessel\\Marlow8\\config -data @user.home\\.Tessel\\Marlow8\\workspace "
            "-nosplash -vmargs "
            "-Dcom.orvane.tessel.team.client.integration.wrapperpipe="
            "\"\\\\.\\pipe\\orvane\\tessel\\vantor71\\hollin_service_pipe48213907user1\"");
  // The directory is not normalised.
  EXPECT_EQ(windows_gui_command_line("C:\\app\\Brightdesk\\", "w").substr(0, 30),
            "C:\\app\\Brightdesk\\\\marlow.exe ");

  const GuiLaunch launch = gui_launch_for(true, "C:\\app\\Brightdesk", kWrapper);
  EXPECT_EQ(launch.invocation.command_line,
            windows_gui_command_line("C:\\app\\Brightdesk", kWrapper));
  EXPECT_EQ(launch.logged_line, launch.invocation.command_line);
  EXPECT_TRUE(launch.invocation.working_dir.empty());
  EXPECT_FALSE(launch.invocation.hidden || launch.invocation.new_session ||
               launch.invocation.null_stdio);
}

TEST(GuiCommandLine, PosixFormIsAnArgumentVector) {
  const std::string wrapper = "/tmp/user1.tarnwick/hollin_service_pipe48213907user1";
  const GuiLaunch launch = gui_launch_for(false, "/opt/app/Brightdesk", wrapper);
  EXPECT_EQ(launch.invocation.program, "/opt/app/Brightdesk/marlow");
  EXPECT_THAT(launch.invocation.args,
              ElementsAre("-product", "com.orvane.tessel.team.client.integration.product",
                          "-application", "com.orvane.tessel.team.client.integration.application",
                          "-configuration", "@user.home\\.Tessel\\Marlow8\\config", "-data",
                          "@user.home\\.Tessel\\Marlow8\\workspace", "-nosplash", "-vmargs",
                          "-Dcom.orvane.tessel.team.client.integration.wrapperpipe=" + wrapper));
  EXPECT_TRUE(launch.invocation.command_line.empty());
  EXPECT_TRUE(launch.invocation.working_dir.empty());
  EXPECT_FALSE(launch.invocation.hidden || launch.invocation.new_session ||
               launch.invocation.null_stdio);
  EXPECT_EQ(launch.logged_line,
            "/opt/app/Brightdesk/marlow -product com.orvane.tessel.team.client.integration.product "
            "-application com.orvane.tessel.team.client.integration.application -configuration "
            "@user.home\\.Tessel\\Marlow8\\config -data @user.home\\.Tessel\\Marlow8\\workspace "
            "-nosplash -vmargs -Dcom.orvane.tessel.team.client.integration.wrapperpipe=\"" +
                wrapper + "\"");
  EXPECT_EQ(gui_launch_for(false, "/opt/app/Brightdesk/", wrapper).invocation.program,
            "/opt/app/Brightdesk//marlow");
}

class Launch : public ::testing::Test {
 protected:
  Launch() {
    state.wrapper_pipe_name = kWrapper;
    state.wrapper_pipe = std::make_unique<ScriptedServerPipe>("wrapper", &sys.record);
  }

  FakeServiceWorld sys;
  ServiceState state;
};

// The child changes into its directory itself; the service, which has
// threads by then, never changes its own current directory.
TEST_F(Launch, StartsTheGraphicalClientInItsDirectoryAndLeavesOursAlone) {
  testlib::TempDir gui_dir;
  const std::string before = platform::current_dir();
  ASSERT_TRUE(launch_hollin(gui_dir.path(), state, sys.deps()));

  const GuiLaunch expected = gui_launch_for(platform::kWindows, gui_dir.path(), kWrapper);
  EXPECT_THAT(sys.log.lines, ElementsAre(expected.logged_line));
  ASSERT_EQ(sys.processes.started.size(), 1u);
  EXPECT_EQ(sys.processes.started[0].command_line, expected.invocation.command_line);
  EXPECT_EQ(sys.processes.started[0].args, expected.invocation.args);
  EXPECT_EQ(sys.processes.started[0].working_dir, gui_dir.path());
  EXPECT_EQ(sys.processes.dir_at_start, before);
  EXPECT_EQ(platform::current_dir(), before);
  // Watched from its start; the wait for it on the wrapper pipe comes last.
  EXPECT_THAT(sys.record.journal, ElementsAre("log " + expected.logged_line, "start process",
                                              "watch", "wrapper.connect"));
  EXPECT_EQ(sys.system.console, "");
}

TEST_F(Launch, AProcessThatCannotBeCreatedIsReported) {
  sys.processes.start_ok = false;
  EXPECT_FALSE(launch_hollin("/nonexistent/Brightdesk", state, sys.deps()));
  EXPECT_EQ(sys.log.lines.back(), "Could not create HOLLIN process");
  EXPECT_EQ(std::count(sys.record.journal.begin(), sys.record.journal.end(), "wrapper.connect"), 0);
  EXPECT_EQ(std::count(sys.record.journal.begin(), sys.record.journal.end(), "watch"), 0);
}

TEST_F(Launch, DebugModePrintsTheWrapperNameAndStartsNothing) {
  state.debug_mode = true;
  EXPECT_TRUE(launch_hollin("C:\\app\\Brightdesk", state, sys.deps()));
  EXPECT_THAT(sys.log.lines,
              ElementsAre("Debug option was passed, HOLLIN will not be launched", kWrapper));
  EXPECT_EQ(sys.system.console, kWrapper + "\n");
  EXPECT_THAT(sys.processes.started, IsEmpty());
  EXPECT_EQ(sys.record.journal.back(), "wrapper.connect");
}

// A service ending for lack of descriptors gives up the wrapper pipe, and
// the graphical client then ends: its end must neither log nor end the
// process before the service has said why it ends (the process would end
// here, and the test with it).
TEST(GraphicalClientEnded, ChangesNothingOnceTheServiceIsEnding) {
  testfakes::RecordingLog log;
  service_is_ending();
  graphical_client_ended(0, log);
  graphical_client_ended(1, log);
  EXPECT_THAT(log.lines, IsEmpty());
}

}  // namespace

}  // namespace hollin_service
