// Runs of the built tarnwick, copied into a private installation whose
// prompt tool and service are the test probe, with a private temporary
// directory. No real service is ever started here.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "client/catalogue.h"
#include "client/channel.h"
#include "support/pipe_names.h"
#include "support/runtime_services.h"
#include "tests/testlib/testlib.h"

namespace tarnwick {

namespace {

namespace fs = std::filesystem;
using testlib::join;

std::string entry_text(int index) { return _tarnwick_tarnwick_msg_table_adr()->texts[index]; }

std::string probe_program() {
  const std::string tests_dir = fs::path(platform::executable_path()).parent_path().string();
  return join(tests_dir, std::string("client_test_probe") + platform::kExeSuffix);
}

// <dir>/inst/{bin/tarnwick, bin/fernask, bin/hollin_service, Brightdesk}; the
// two stand-ins are the probe, which records each run's arguments.
class Installation {
 public:
  explicit Installation(bool with_service) {
    fs::create_directories(bin());
    fs::create_directories(join(root(), "Brightdesk"));
    fs::copy_file(testlib::bin_program("tarnwick"), program("tarnwick"));
    fs::copy_file(probe_program(), program("fernask"));
    if (with_service) fs::copy_file(probe_program(), program("hollin_service"));
  }
  std::string root() const { return dir_.file("inst"); }
  std::string bin() const { return join(root(), "bin"); }
  std::string program(const std::string& name) const {
    return join(bin(), name + platform::kExeSuffix);
  }
  std::string record(const std::string& name) const {
    return testlib::read_file(program(name) + ".record");
  }

 private:
  testlib::TempDir dir_;
};

class TarnwickProcessTest : public testing::Test {
 protected:
  std::string work_dir() const {
    return join(tmp_.path(), std::string(support::my_login_name()) + ".tarnwick");
  }
  std::string log() const {
    return testlib::strip_cr(testlib::read_file(join(work_dir(), "tarnwick.log")));
  }
  std::string pid_file() const { return join(work_dir(), "hollin_service.pid"); }
  // The work directory as tarnwick would make it, for files we put there first.
  void make_work_dir() const { ASSERT_EQ(platform::make_private_dir(work_dir()).code(), 0); }

  testlib::TempDir tmp_;
  testlib::ScopedTempDirEnv tmp_env_{tmp_.path()};
};

// True when `text` holds `first` and, after it, `second`.
bool in_order(const std::string& text, const std::string& first, const std::string& second) {
  const std::size_t a = text.find(first);
  return a != std::string::npos && text.find(second, a + first.size()) != std::string::npos;
}

TEST_F(TarnwickProcessTest, NoArgumentsReportsTooFewContributorsThenUsage) {
  const Installation inst(true);
  const testlib::RunResult r = testlib::run(inst.program("tarnwick"), {});
  EXPECT_EQ(r.status, testlib::minus_one_status());
  EXPECT_TRUE(in_order(r.err, entry_text(kTooFewContributorsEntry), entry_text(kUsageEntry)))
      << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(log(), "");
}

TEST_F(TarnwickProcessTest, CommandLineFaultsPrintUsage) {
  const Installation inst(true);
  testlib::RunResult r =
      testlib::run(inst.program("tarnwick"), {"-favor_contrib", "2", "f1", "f2"});
  EXPECT_EQ(r.status, testlib::minus_one_status());
  EXPECT_TRUE(in_order(r.err, entry_text(kFavorContribNeedsMergeEntry), entry_text(kUsageEntry)))
      << r.err;

  // A parse error shows the usage alone.
  r = testlib::run(inst.program("tarnwick"), {"-Out", "o", "f1", "f2"});
  EXPECT_EQ(r.status, testlib::minus_one_status());
  EXPECT_EQ(r.err.rfind(entry_text(kUsageEntry), 0), 0u) << r.err;
  EXPECT_LE(r.err.size(), entry_text(kUsageEntry).size() + 1) << r.err;
}

TEST_F(TarnwickProcessTest, UnusableTempDirRunsThePromptTool) {
  const Installation inst(true);
  const std::string missing = join(join(tmp_.path(), "missing"), "deeper");
  // testlib::run makes its capture directory below the temporary directory,
  // which must exist in this process: the child alone gets the missing one.
  testlib::TempDir capture;
  platform::ProcessSpec invocation;
  invocation.program = inst.program("tarnwick");
  invocation.args = {"f1", "f2"};
  invocation.stdout_path = capture.file("out");
  invocation.stderr_path = capture.file("err");
  platform::Process process;
  {
    const testlib::ScopedTempDirEnv env(missing);
    ASSERT_TRUE(platform::start_process(invocation, &process));
  }
  testlib::RunResult r;
  r.status = process.wait();
  r.out = testlib::strip_cr(testlib::read_file(invocation.stdout_path));
  r.err = testlib::strip_cr(testlib::read_file(invocation.stderr_path));
  EXPECT_EQ(r.status, testlib::minus_one_status());
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
  const std::string record = inst.record("fernask");
  EXPECT_EQ(record.rfind("proceed|-mask|p|-type|error|-prompt|", 0), 0u) << record;
  EXPECT_NE(record.find("Could"), std::string::npos) << record;
  EXPECT_NE(record.find("temporary"), std::string::npos) << record;
  EXPECT_NE(record.find("|-prefer_gui\n"), std::string::npos) << record;
  EXPECT_FALSE(testlib::file_exists(missing));
}

TEST_F(TarnwickProcessTest, ServiceThatCannotStartEndsTheRunBeforeParsing) {
  const Installation inst(false);
  const testlib::RunResult r = testlib::run(inst.program("tarnwick"), {});
  EXPECT_EQ(r.status, testlib::minus_one_status());
  EXPECT_EQ(r.err, "");  // the command line was never looked at
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(log(), "Unable to start hollin_service\n");
}

// The service that the client started has ended at once (here the probe,
// which records its arguments and ends; in life a full disk or a work
// directory it cannot write) and no other service runs: the client says so
// and gives up instead of waiting out the whole budget.
TEST_F(TarnwickProcessTest, AServiceThatHasEndedEndsTheWaitAndTheLogSaysWhy) {
  const Installation inst(true);
  const std::string f1 = tmp_.file("a.txt");
  const std::string f2 = tmp_.file("b.txt");
  testlib::write_file(f1, "one");
  testlib::write_file(f2, "two");
  const testlib::RunResult r = testlib::run(inst.program("tarnwick"), {f1, f2});
  EXPECT_EQ(r.status, testlib::minus_one_status());
  EXPECT_FALSE(inst.record("hollin_service").empty()) << "the service was started";
  const std::string name = support::pipe_base_name_for(platform::kWindows, work_dir()) +
                           support::kRequestPipePart + std::string(support::my_login_name());
  EXPECT_EQ(log(), std::string(kServiceGoneLine) + "\nUnable to obtain pipe " + name + "\n");
}

// A server end of a pipe in this process, served on a thread of its own.
class ServedPipe {
 public:
  ServedPipe(std::string name, std::string reply)
      : name_(std::move(name)), reply_(std::move(reply)) {
    platform::PipeParams params;
    params.max_instances = 1;
    pipe_ = platform::create_server_pipe(name_, params, nullptr).value();
    if (pipe_) thread_ = std::thread([this] { serve(); });
  }
  ~ServedPipe() { finish(); }
  ServedPipe(const ServedPipe&) = delete;
  ServedPipe& operator=(const ServedPipe&) = delete;

  bool created() const { return pipe_ != nullptr; }
  // Waits for the exchange to end and returns what the peer wrote. A server
  // that nobody connected to is released by a connection of our own.
  std::string finish() {
    if (thread_.joinable()) {
      if (!connected_) {
        std::unique_ptr<platform::ClientPipe> release;
        // Only the connection counts: it ends the server's wait, opened or not.
        static_cast<void>(
            platform::open_client_pipe(name_, platform::PipeAccess::read_write, false, &release)
                .kind);
        release.reset();
      }
      thread_.join();
    }
    pipe_.reset();
    return received_;
  }

 private:
  void serve() {
    if (pipe_->connect() == platform::ConnectResult::failed) return;
    connected_ = true;
    char buffer[4096];
    for (;;) {
      const platform::ReadResult r = pipe_->read(buffer, sizeof buffer);
      if (r.status == platform::ReadStatus::failed) {
        pipe_->disconnect();
        return;
      }
      received_.append(buffer, r.bytes);
      if (r.status == platform::ReadStatus::complete) break;
    }
    if (!reply_.empty()) {
      // A reply the client does not take shows in its exit status.
      static_cast<void>(pipe_->write(reply_.data(), reply_.size()));
      static_cast<void>(pipe_->flush());
    }
    pipe_->disconnect();
  }

  std::string name_;
  std::string reply_;
  std::unique_ptr<platform::ServerPipe> pipe_;
  std::thread thread_;
  std::atomic<bool> connected_{false};
  std::string received_;
};

TEST_F(TarnwickProcessTest, DeliversTheRequestAndEndsWithTheReplysStatus) {
  const Installation inst(true);
  make_work_dir();
  const std::string login = support::my_login_name();
  const std::string name = support::pipe_base_name_for(platform::kWindows, work_dir()) +
                           support::kRequestPipePart + login;
  const std::string f1 = tmp_.file("a&1.txt");
  const std::string f2 = tmp_.file("b.txt");
  testlib::write_file(f1, "one");
  testlib::write_file(f2, "two");

  {
    ServedPipe service(name,
                       "HTTP/1.1 200 OK\r\n\r\n<methodResponse><params><param><value>"
                       "<boolean>1</boolean></value></param></params></methodResponse>");
    ASSERT_TRUE(service.created());
    const testlib::RunResult r =
        testlib::run(inst.program("tarnwick"), {"-fname", "<A>", f1, f2, "-encoding", "utf-8"});
    const std::string request = service.finish();
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(request,
              "<methodCall><methodName>RequestHandler.Compare</methodName><params><param><value>"
              "<array><data><value><string>&lt;A&gt;</string></value></data><data><value><string>" +
                  f2 +
                  "</string></value></data></array></value></param><param><value><array><data>"
                  "<value><string>" +
                  tmp_.file("a&amp;1.txt") + "</string></value></data><data><value><string>" + f2 +
                  "</string></value></data></array></value></param><param><value><string>"
                  "utf8_file_delta</string></value></param></params></methodCall>");
  }
  {
    ServedPipe service(name, "<boolean>0</boolean>");
    ASSERT_TRUE(service.created());
    const testlib::RunResult r = testlib::run(inst.program("tarnwick"), {f1, f2});
    service.finish();
    EXPECT_EQ(r.status, testlib::minus_one_status());
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, "");
  }
  {
    // The service ends the connection without a reply.
    ServedPipe service(name, "");
    ASSERT_TRUE(service.created());
    const testlib::RunResult r = testlib::run(inst.program("tarnwick"), {f1, f2});
    service.finish();
    EXPECT_EQ(r.status, testlib::minus_one_status());
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(log(), "");
  }
}

// A probe of the installation's service executable, started with `args`
// after "--hold <pipe>", and the pipe that keeps it alive until it is
// dropped. The probe is running when this returns.
struct HeldProbe {
  std::unique_ptr<platform::ServerPipe> hold;
  platform::Process process;
};

HeldProbe start_held_probe(const std::string& program, const std::string& hold_name,
                           const std::vector<std::string>& more) {
  HeldProbe probe;
  platform::PipeParams params;
  params.max_instances = 1;
  probe.hold = platform::create_server_pipe(hold_name, params, nullptr).value();
  EXPECT_TRUE(probe.hold);
  if (!probe.hold) return probe;
  platform::ProcessSpec invocation;
  invocation.program = program;
  invocation.args = {"--hold", hold_name};
  invocation.args.insert(invocation.args.end(), more.begin(), more.end());
  invocation.null_stdio = true;
  EXPECT_TRUE(platform::start_process(invocation, &probe.process));
  // The probe is running once it has connected and said so.
  EXPECT_NE(probe.hold->connect(), platform::ConnectResult::failed);
  char ready[8] = {};
  const platform::ReadResult said = probe.hold->read(ready, sizeof ready);
  EXPECT_NE(said.status, platform::ReadStatus::failed);
  EXPECT_EQ(std::string(ready, said.bytes), "ready");
  return probe;
}

// A live process of the installation's service executable that holds the
// pid file's lock is the running service; one that merely has the id the pid
// file names (an id reused after a crash, a service of another work
// directory) is not, nor is anything else the pid file names.
TEST_F(TarnwickProcessTest, RunningServiceIsRecognisedFromThePidFilesLock) {
  const Installation inst(true);
  make_work_dir();
  const auto hold_name = [&](const std::string& which) {
    return platform::kWindows ? "\\\\.\\pipe\\tw_client_test_hold_" + which +
                                    std::to_string(platform::current_pid())
                              : tmp_.file("hold" + which);
  };
  HeldProbe locked = start_held_probe(inst.program("hollin_service"), hold_name("a"), {pid_file()});
  HeldProbe unlocked = start_held_probe(inst.program("hollin_service"), hold_name("b"), {});
  ASSERT_TRUE(locked.process.valid() && unlocked.process.valid());

  // From here on a start of the service fails, so a run that tries one ends
  // with the log line instead of reaching the command line.
  std::error_code ec;
  if constexpr (platform::kWindows) {
    fs::rename(inst.program("hollin_service"), inst.program("held"), ec);
  } else {
    fs::permissions(inst.program("hollin_service"), fs::perms::owner_read | fs::perms::owner_write,
                    ec);
  }
  ASSERT_FALSE(ec) << ec.message();

  EXPECT_EQ(testlib::read_file(pid_file()), std::to_string(locked.process.pid()));
  testlib::RunResult r = testlib::run(inst.program("tarnwick"), {});
  EXPECT_TRUE(in_order(r.err, entry_text(kTooFewContributorsEntry), entry_text(kUsageEntry)))
      << r.err << log();
  EXPECT_EQ(log(), "");
  locked.hold.reset();  // lets the probe end, and its lock go
  EXPECT_EQ(locked.process.wait(), 0);

  for (const std::string& content :
       {std::to_string(unlocked.process.pid()), std::to_string(platform::current_pid()),
        std::string(), std::string("x") + std::to_string(unlocked.process.pid())}) {
    testlib::write_file(pid_file(), content);
    r = testlib::run(inst.program("tarnwick"), {});
    EXPECT_EQ(r.status, testlib::minus_one_status());
    EXPECT_EQ(r.err, "") << content;
    EXPECT_EQ(log(), "Unable to start hollin_service\n") << content;
  }

  unlocked.hold.reset();
  EXPECT_EQ(unlocked.process.wait(), 0);
}

}  // namespace

}  // namespace tarnwick
