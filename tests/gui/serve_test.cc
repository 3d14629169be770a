// The graphical client without windows, driven end to end through real pipes
// by a test that plays the relay service.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "serve/serve.h"
#include "serve/xmlrpc.h"
#include "support/platform.h"

namespace marlow {
namespace {

namespace fs = std::filesystem;

TEST(GuiNotices, SplitAtEverySecondLineFeedWhateverThePieces) {
  support::NoticeSplitter splitter;
  EXPECT_FALSE(splitter.next().has_value());
  splitter.feed("/p/1\n/p", 7);
  EXPECT_FALSE(splitter.next().has_value());
  const std::string rest = "/2\n/p/3\n/p/4\n/p/5";
  splitter.feed(rest.data(), rest.size());
  EXPECT_EQ(splitter.next(), std::make_pair(std::string("/p/1"), std::string("/p/2")));
  EXPECT_EQ(splitter.next(), std::make_pair(std::string("/p/3"), std::string("/p/4")));
  EXPECT_FALSE(splitter.next().has_value());
}

TEST(GuiNotices, WrapperPipeNameFromTheProperty) {
  std::string a0 = "marlow", a1 = "-data", a2 = "@none",
              a3 = "-Dcom.orvane.tessel.team.client.integration.wrapperpipe=\"/w/pipe 1\"";
  char* argv[] = {a0.data(), a1.data(), a2.data(), a3.data()};
  EXPECT_EQ(support::wrapper_pipe_name(4, argv), "/w/pipe 1");
  EXPECT_EQ(support::wrapper_pipe_name(3, argv), "");
}

// A fresh scratch directory per test, with its files read and written whole.
class ScratchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static int counter = 0;
    name_ =
        "gui-serve-" + std::to_string(platform::current_pid()) + "-" + std::to_string(counter++);
#ifdef _WIN32
    dir_ = (fs::temp_directory_path() / name_).string();
#else
    dir_ = "/tmp/" + name_;
#endif
    fs::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  std::string path(const std::string& name) const { return dir_ + "/" + name; }
  // A pipe of the test's own: a file in its directory on POSIX, a name in
  // the system's pipe namespace on Windows.
  std::string pipe_name(const std::string& name) const {
#ifdef _WIN32
    return "\\\\.\\pipe\\" + name_ + "-" + name;
#else
    return path(name);
#endif
  }
  void write(const std::string& name, const std::string& text) {
    std::ofstream(path(name), std::ios::binary) << text;
  }
  std::string read(const std::string& name) {
    std::ifstream in(path(name), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }

  // The program's log, with its line ends as "\n" (Windows writes "\r\n").
  std::string read_log() {
    std::string text = read(platform::login_name() + ".tarnwick/marlow.log");
    std::erase(text, '\r');
    return text;
  }

  std::string name_;
  std::string dir_;
};

class GuiServe : public ScratchTest {
 protected:
  // Where the program finds its temporary folder (GetTempPath reads TMP first).
  static constexpr const char* kTempVariable = platform::kWindows ? "TMP" : "TMPDIR";

  void SetUp() override {
    ScratchTest::SetUp();
    // No windows (unless a test asks for them): the program answers by itself.
    ASSERT_TRUE(platform::set_env("MARLOW_NO_WINDOWS", windows_ ? "" : "1"));
    // Its work directory (and log) in the scratch directory.
    saved_tmpdir_ = platform::get_env(kTempVariable);
    ASSERT_TRUE(platform::set_env(kTempVariable, dir_));
    const std::string wrapper_name = pipe_name("wrap");
    platform::PipeParams params;
    params.direction = platform::PipeDirection::outbound;
    params.notice_stream = true;
    wrapper_ = platform::create_server_pipe(wrapper_name, params, nullptr).value();
    ASSERT_TRUE(wrapper_);
    platform::ProcessSpec invocation;
    invocation.program = TW_GUI_MARLOW;
    invocation.args = {"-data", "@none",
                       "-Dcom.orvane.tessel.team.client.integration.wrapperpipe=" + wrapper_name};
    invocation.working_dir = dir_;
    ASSERT_TRUE(platform::start_process(invocation, &process_));
    ASSERT_NE(wrapper_->connect(), platform::ConnectResult::failed);
  }

  void TearDown() override {
    if (process_.valid()) {
      wrapper_.reset();  // the service has gone: the program ends
      EXPECT_EQ(process_.wait(), 0);
    }
    // Valid names and values: setting them fails only without memory.
    static_cast<void>(platform::set_env(kTempVariable, saved_tmpdir_));
    ScratchTest::TearDown();
  }

  struct Exchange {
    std::unique_ptr<platform::ServerPipe> request;
    std::unique_ptr<platform::ServerPipe> response;
  };

  // Makes the two per-request pipes and announces them; several may be
  // announced before any is served.
  Exchange announce() {
    const std::string n = std::to_string(next_++);
    Exchange e;
    platform::PipeParams out;
    out.direction = platform::PipeDirection::outbound;
    platform::PipeParams in;
    in.direction = platform::PipeDirection::inbound;
    e.request = platform::create_server_pipe(pipe_name("rq" + n), out, nullptr).value();
    e.response = platform::create_server_pipe(pipe_name("rs" + n), in, nullptr).value();
    notices_ += pipe_name("rq" + n) + "\n" + pipe_name("rs" + n) + "\n";
    return e;
  }

  void send_notices() {
    EXPECT_TRUE(wrapper_->write(notices_.data(), notices_.size()));
    notices_.clear();
  }

  std::string serve(Exchange& e, const std::string& call) {
    EXPECT_NE(e.request->connect(), platform::ConnectResult::failed);
    EXPECT_NE(e.response->connect(), platform::ConnectResult::failed);
    return send_and_read(e, call);
  }

  // A merge whose contributors conflict, served without a window: answered
  // 0, the output untouched.
  void expect_conflicting_merge_answered_zero() {
    write("base", "a\nb\nc\n");
    write("one", "a\nX\nc\n");
    write("other", "a\nY\nc\n");
    write("out", "untouched");
    Exchange e = announce();
    send_notices();
    const std::string reply = serve(e, merge_call("out", ""));
    EXPECT_NE(reply.find("<boolean>0</boolean>"), std::string::npos) << reply;
    EXPECT_EQ(read("out"), "untouched");
  }

  // Over the connected pipes of `e`: the framed call out, the whole reply in.
  std::string send_and_read(Exchange& e, const std::string& call) {
    const std::string framed =
        "POST /RPC2 HTTP/1.1\r\nContent-Length: " + std::to_string(call.size()) + "\r\n\r\n" + call;
    EXPECT_TRUE(e.request->write(framed.data(), framed.size()));
    std::string reply;
    char buffer[4096];
    for (;;) {
      const platform::ReadResult r = e.response->read(buffer, sizeof buffer);
      if (r.status == platform::ReadStatus::failed) break;
      reply.append(buffer, r.bytes);
      if (r.status == platform::ReadStatus::complete) break;
    }
    return reply;
  }

  std::string merge_call(const std::string& out, const std::string& type) {
    std::string call =
        "<methodCall><methodName>RequestHandler.CompareMerge</methodName><params>"
        "<param><value><string>" +
        xml_escape(path(out)) +
        "</string></value></param>"
        "<param><value><array>";
    for (const char* n : {"base", "one", "other"}) {
      call += std::string("<data><value><string>") + n + "</string></value></data>";
    }
    call += "</array></value></param><param><value><array>";
    for (const char* n : {"base", "one", "other"}) {
      call += "<data><value><string>" + xml_escape(path(n)) + "</string></value></data>";
    }
    return call + "</array></value></param><param><value><string>" + type +
           "</string></value></param></params></methodCall>";
  }

  bool windows_ = false;
  std::string saved_tmpdir_;
  std::unique_ptr<platform::ServerPipe> wrapper_;
  platform::Process process_;
  std::string notices_;
  int next_ = 0;
};

TEST_F(GuiServe, CleanMergeIsWrittenInItsEncodingAndAnsweredWithOne) {
  const std::string bom = "\xFF\xFE";
  const auto u16 = [](const std::string& ascii) {
    std::string out;
    for (const char c : ascii) out += std::string{c, '\0'};
    return out;
  };
  write("base", bom + u16("a\r\nb\r\nc\r\n"));
  write("one", bom + u16("A\r\nb\r\nc\r\n"));
  write("other", bom + u16("a\r\nb\r\nC\r\n"));
  Exchange e = announce();
  send_notices();
  const std::string reply = serve(e, merge_call("out & more", "utf16le_file_delta"));
  EXPECT_NE(reply.find("<boolean>1</boolean>"), std::string::npos) << reply;
  EXPECT_EQ(read("out & more"), bom + u16("A\r\nb\r\nC\r\n"));
}

TEST_F(GuiServe, ConflictsLeaveTheOutputAloneAndAnswerZero) {
  expect_conflicting_merge_answered_zero();
  // The program's log says why no window came and what was answered.
  const std::string log = read_log();
  EXPECT_NE(log.find("other calls that need a window are answered 0"), std::string::npos) << log;
  EXPECT_NE(log.find("RequestHandler.CompareMerge of base, one, other into " + path("out") +
                     ": answered 0\n"),
            std::string::npos)
      << log;
}

TEST_F(GuiServe, SeveralNoticesAtOnceAndFaultsForWhatCannotBeServed) {
  write("base", "a\n");
  write("one", "a\n");
  Exchange unknown = announce();
  Exchange missing = announce();
  Exchange undecodable = announce();
  send_notices();  // three notices in one write
  const std::string fault =
      serve(unknown, "<methodCall><methodName>Other</methodName><params/></methodCall>");
  EXPECT_NE(fault.find("<fault>"), std::string::npos) << fault;
  EXPECT_EQ(fault.find("<boolean>"), std::string::npos);
  const std::string no_file = serve(missing, merge_call("out", ""));  // "other" is missing
  EXPECT_NE(no_file.find("cannot read " + path("other") + ": No such file or directory"),
            std::string::npos)
      << no_file;
  EXPECT_EQ(no_file.find("<boolean>"), std::string::npos);
  write("other", "abc");  // an odd length is no UTF-16
  const std::string bad = serve(undecodable, merge_call("out", "utf16le_file_delta"));
  EXPECT_NE(bad.find("cannot decode"), std::string::npos) << bad;
  EXPECT_FALSE(fs::exists(path("out")));
  const std::string log = read_log();
  EXPECT_NE(log.find("a call that cannot be served: answered fault ("), std::string::npos) << log;
  EXPECT_NE(log.find("answered fault (cannot decode " + path("other")), std::string::npos) << log;
}

// The program with windows, on Qt's offscreen platform, driven by a script.
class GuiServeWindows : public GuiServe {
 protected:
  void SetUp() override {
    windows_ = true;
    for (const auto& [name, value] :
         {std::pair<const char*, std::string>{"QT_QPA_PLATFORM", "offscreen"},
          {"MARLOW_AUTOMATIC", "0"},
          {"MARLOW_SCRIPT", "take 2; save; close"},
          {"MARLOW_SCRIPT_LOG", "answers.log"}}) {  // relative: in the program's directory
      ASSERT_TRUE(platform::set_env(name, value));
    }
    GuiServe::SetUp();
  }
  void TearDown() override {
    GuiServe::TearDown();
    for (const char* name : {"MARLOW_SCRIPT", "MARLOW_SCRIPT_LOG", "MARLOW_AUTOMATIC"}) {
      // Valid names and values: setting them fails only without memory.
      static_cast<void>(platform::set_env(name, ""));
    }
  }
};

TEST_F(GuiServeWindows, AScriptedMergeIsAnsweredEvenWhenTheServiceGoesAtOnce) {
  write("base", "a\nb\nc\n");
  write("one", "a\nX\nc\n");
  write("other", "a\nY\nc\n");
  Exchange e = announce();
  send_notices();
  EXPECT_NE(e.request->connect(), platform::ConnectResult::failed);
  EXPECT_NE(e.response->connect(), platform::ConnectResult::failed);
  // The wrapper pipe ends before the call is even sent: the program still
  // answers it before it ends.
  wrapper_.reset();
  const std::string reply = send_and_read(e, merge_call("out", ""));
  EXPECT_NE(reply.find("<boolean>1</boolean>"), std::string::npos) << reply;
  EXPECT_EQ(read("out"), "a\nY\nc\n");
  EXPECT_EQ(process_.wait(), 0);
  process_ = platform::Process();
  EXPECT_EQ(read("answers.log"), "merge answered 1\n");
}

// A display that is named but cannot be reached: the program keeps serving,
// without windows, instead of ending at its start.
class GuiServeUnreachableDisplay : public GuiServe {
 protected:
  void SetUp() override {
    windows_ = true;
    saved_display_ = platform::get_env("DISPLAY");
    saved_wayland_ = platform::get_env("WAYLAND_DISPLAY");
    ASSERT_TRUE(platform::set_env("DISPLAY", ":7777"));
    ASSERT_TRUE(platform::set_env("WAYLAND_DISPLAY", ""));
    ASSERT_TRUE(platform::set_env("QT_QPA_PLATFORM", ""));
    GuiServe::SetUp();
  }
  void TearDown() override {
    GuiServe::TearDown();
    // Valid names and values: setting them fails only without memory.
    static_cast<void>(platform::set_env("DISPLAY", saved_display_));
    static_cast<void>(platform::set_env("WAYLAND_DISPLAY", saved_wayland_));
  }
  std::string saved_display_;
  std::string saved_wayland_;
};

TEST_F(GuiServeUnreachableDisplay, CallsAreAnsweredWithoutWindows) {
  expect_conflicting_merge_answered_zero();
  const std::string log = read_log();
  EXPECT_NE(log.find("the display cannot be reached"), std::string::npos) << log;
}

// Preparing a call: which faults are shown to the user and which are
// answered at once.
class GuiPrepare : public ScratchTest {
 protected:
  std::string call(const std::string& method, const std::string& out,
                   const std::vector<std::string>& names, const std::string& type) {
    std::string text = "<methodCall><methodName>" + method + "</methodName><params>";
    if (!out.empty()) text += "<param><value><string>" + path(out) + "</string></value></param>";
    std::string shown = "<param><value><array>";
    std::string paths = shown;
    for (const std::string& n : names) {
      shown += "<data><value><string>" + n + "</string></value></data>";
      paths += "<data><value><string>" + path(n) + "</string></value></data>";
    }
    return text + shown + "</array></value></param>" + paths + "</array></value></param>" +
           "<param><value><string>" + type + "</string></value></param></params></methodCall>";
  }
};

TEST_F(GuiPrepare, FileFaultsAreShownAndBadCallsAnsweredAtOnce) {
  write("mine.txt", "abc");
  write("theirs.txt", "abc\n");
  Preparation odd = prepare(
      call("RequestHandler.Compare", "", {"theirs.txt", "mine.txt"}, "utf16le_file_delta"), true);
  EXPECT_TRUE(odd.shows_error);
  EXPECT_FALSE(odd.needs_window);
  // Which file (by its display name, then its path) and why.
  EXPECT_EQ(odd.message.rfind("mine.txt cannot be read as UTF-16LE: ", 0), 0u) << odd.message;
  EXPECT_NE(odd.message.find(path("mine.txt")), std::string::npos);
  EXPECT_NE(odd.reply.find("<fault>"), std::string::npos);
  EXPECT_EQ(odd.reply.find("<boolean>"), std::string::npos);

  Preparation missing =
      prepare(call("RequestHandler.Compare", "", {"theirs.txt", "gone.txt"}, ""), true);
  EXPECT_TRUE(missing.shows_error);
  EXPECT_EQ(missing.message.rfind("gone.txt cannot be read: No such file or directory", 0), 0u)
      << missing.message;
  // A folder where a file belongs is called one, on every platform.
  fs::create_directories(path("folder.txt"));
  Preparation folder =
      prepare(call("RequestHandler.Compare", "", {"theirs.txt", "folder.txt"}, ""), true);
  EXPECT_EQ(folder.message.rfind("folder.txt cannot be read: Is a directory", 0), 0u)
      << folder.message;

  for (const std::string& bad :
       {std::string("<methodCall><methodName>Other</methodName><params/></methodCall>"),
        std::string("<methodCall><methodName>RequestHandler.Compare")}) {
    Preparation prep = prepare(bad, true);
    EXPECT_FALSE(prep.shows_error);
    EXPECT_FALSE(prep.needs_window);
    EXPECT_NE(prep.reply.find("<fault>"), std::string::npos);
  }
}

TEST_F(GuiPrepare, AnAutomaticResultThatCannotBeWrittenIsShown) {
  write("base", "a\nx\nb\n");
  write("one", "A\nx\nb\n");
  write("other", "a\nx\nB\n");
  // The output's directory is a file: nothing can be written there.
  Preparation prep =
      prepare(call("RequestHandler.CompareMerge", "base/out", {"base", "one", "other"}, ""), true);
  EXPECT_TRUE(prep.shows_error);
  EXPECT_NE(prep.message.find("cannot write " + path("base/out")), std::string::npos)
      << prep.message;
  EXPECT_NE(prep.message.find("Not a directory"), std::string::npos) << prep.message;
  EXPECT_EQ(prep.reply.find("<boolean>"), std::string::npos);
  // Without windows the same fault is the answer.
  EXPECT_EQ(answer_without_window(
                call("RequestHandler.CompareMerge", "base/out", {"base", "one", "other"}, "")),
            prep.reply);
}

TEST_F(GuiPrepare, ReplacingKeepsPermissionsAndFollowsLinks) {
  std::string error;
  write("script.sh", "old");
  fs::permissions(path("script.sh"), fs::perms(0750));
  ASSERT_EQ(write_file_replacing(path("script.sh"), "#!/bin/sh\n").text(), "");
  EXPECT_EQ(read("script.sh"), "#!/bin/sh\n");
  EXPECT_EQ(fs::status(path("script.sh")).permissions(), fs::perms(0750));

  // A link (relative, through a second link) is followed: the file it names
  // gets the new text and keeps its bits, and the links stay links.
  fs::create_directories(path("real"));
  write("real/target.txt", "old");
  fs::permissions(path("real/target.txt"), fs::perms(0604));
  fs::create_symlink("real/target.txt", path("inner"));
  fs::create_symlink("inner", path("outer"));
  ASSERT_EQ(write_file_replacing(path("outer"), "new").text(), "");
  EXPECT_TRUE(fs::is_symlink(path("outer")));
  EXPECT_TRUE(fs::is_symlink(path("inner")));
  EXPECT_EQ(read("real/target.txt"), "new");
  EXPECT_EQ(fs::status(path("real/target.txt")).permissions(), fs::perms(0604));

  // A dangling link: the file it names is created.
  fs::create_symlink("real/new.txt", path("dangling"));
  ASSERT_EQ(write_file_replacing(path("dangling"), "made").text(), "");
  EXPECT_TRUE(fs::is_symlink(path("dangling")));
  EXPECT_EQ(read("real/new.txt"), "made");

  // No temporary file is left anywhere.
  for (const auto& entry : fs::recursive_directory_iterator(dir_)) {
    EXPECT_EQ(entry.path().string().find(".tmp"), std::string::npos) << entry.path();
  }
}

// The automatic merge writes each side's bytes as they were: a Latin-1 line
// added to an ASCII file stays Latin-1. Where the contributors' encodings
// differ, nothing is written without a window that says so.
TEST_F(GuiPrepare, AnAutomaticMergeKeepsTheSidesBytes) {
  write("base", "a\nx\nb\n");
  write("one", "A\nx\nb\n");
  write("other", "a\nx\nb\xE9\n");
  Preparation prep =
      prepare(call("RequestHandler.CompareMerge", "out", {"base", "one", "other"}, ""), true);
  EXPECT_FALSE(prep.needs_window);
  EXPECT_NE(prep.reply.find("<boolean>1</boolean>"), std::string::npos) << prep.reply;
  EXPECT_EQ(read("out"), "A\nx\nb\xE9\n");

  write("one", "A\xC3\xBC\nx\nb\n");  // UTF-8 on one side, Latin-1 on the other
  prep = prepare(call("RequestHandler.CompareMerge", "out2", {"base", "one", "other"}, ""), true);
  EXPECT_TRUE(prep.needs_window);
  EXPECT_FALSE(fs::exists(path("out2")));
  EXPECT_NE(output_conversion(prep.job).find("other (Latin-1)"), std::string::npos)
      << output_conversion(prep.job);
}

}  // namespace
}  // namespace marlow
