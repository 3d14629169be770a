// The graphical client without windows, driven end to end through real pipes
// by a test that plays the relay service.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "engine/xmlrpc.h"
#include "serve/serve.h"
#include "support/platform.h"

namespace marlow {
namespace {

namespace fs = std::filesystem;

TEST(GuiNotices, SplitAtEverySecondLineFeedWhateverThePieces) {
  NoticeSplitter splitter;
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
  EXPECT_EQ(wrapper_pipe_name(4, argv), "/w/pipe 1");
  EXPECT_EQ(wrapper_pipe_name(3, argv), "");
}

class GuiServe : public ::testing::Test {
 protected:
  void SetUp() override {
    static int counter = 0;
    dir_ = "/tmp/gsv-" + std::to_string(platform::current_pid()) + "-" + std::to_string(counter++);
    fs::create_directories(dir_);
    // No windows: the program answers by itself.
    ASSERT_TRUE(platform::set_env("MARLOW_NO_WINDOWS", "1"));
    const std::string wrapper_name = path("wrap");
    platform::PipeParams params;
    params.direction = platform::PipeDirection::outbound;
    params.notice_stream = true;
    wrapper_ = platform::create_server_pipe(wrapper_name, params, nullptr);
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
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  std::string path(const std::string& name) const { return dir_ + "/" + name; }

  void write(const std::string& name, const std::string& text) {
    std::ofstream(path(name), std::ios::binary) << text;
  }
  std::string read(const std::string& name) {
    std::ifstream in(path(name), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
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
    e.request = platform::create_server_pipe(path("rq" + n), out, nullptr);
    e.response = platform::create_server_pipe(path("rs" + n), in, nullptr);
    notices_ += path("rq" + n) + "\n" + path("rs" + n) + "\n";
    return e;
  }

  void send_notices() {
    EXPECT_TRUE(wrapper_->write(notices_.data(), notices_.size()));
    notices_.clear();
  }

  std::string serve(Exchange& e, const std::string& call) {
    EXPECT_NE(e.request->connect(), platform::ConnectResult::failed);
    EXPECT_NE(e.response->connect(), platform::ConnectResult::failed);
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
        "<param><value><string>" + xml_escape(path(out)) + "</string></value></param>"
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

  std::string dir_;
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
  EXPECT_NE(no_file.find("cannot read"), std::string::npos) << no_file;
  EXPECT_EQ(no_file.find("<boolean>"), std::string::npos);
  write("other", "abc");  // an odd length is no UTF-16
  const std::string bad = serve(undecodable, merge_call("out", "utf16le_file_delta"));
  EXPECT_NE(bad.find("cannot decode"), std::string::npos) << bad;
  EXPECT_FALSE(fs::exists(path("out")));
}

}  // namespace
}  // namespace marlow
