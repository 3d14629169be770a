// A merge saved into a directory that another user may write: whatever that
// user plants under the temporary file's names, the save writes nothing
// through it, leaves the saver's other files alone and the merged text
// unreadable to that user. Both users are unprivileged accounts made for
// the test (root passes every permission check), so it runs as root; the
// saver's and the planter's sides run in children that take their ids.
#include <gtest/gtest.h>

#include <dirent.h>
#include <grp.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "serve/serve.h"
#include "support/platform.h"
#include "tests/testlib/testlib.h"

namespace marlow {
namespace {

namespace fs = std::filesystem;

const std::string kMerged = "the merged text, for the saver's eyes only\n";
const std::string kPrivate = "a private file of the saver\n";

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

using testlib::TestUser;

// In a child: becomes `user` for good.
bool become(const TestUser& user) {
  return ::setgroups(0, nullptr) == 0 && ::setgid(user.gid()) == 0 && ::setuid(user.uid()) == 0;
}

// A forked child running `body` (its result is the exit status). Until it
// has been waited for, it is killed and reaped when the object goes.
class Child {
 public:
  explicit Child(const std::function<int()>& body) {
    std::fflush(nullptr);  // nothing buffered is written twice
    pid_ = ::fork();
    if (pid_ == 0) ::_exit(body());
  }
  ~Child() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  bool started() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }
  // The exit status, or -1 when it did not exit normally.
  int wait() {
    int status = 0;
    const pid_t waited = ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return waited > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  pid_t pid_ = -1;
};

enum class Plant { links, readable_files };

class SaveInSharedDir : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to make two unprivileged users";
    if (::access("/usr/sbin/useradd", X_OK) != 0) GTEST_SKIP() << "needs useradd";
    const std::string tag = std::to_string(::getpid());
    saver_ = std::make_unique<TestUser>("twsaver" + tag);
    planter_ = std::make_unique<TestUser>("twplanter" + tag);
    ASSERT_TRUE(saver_->made() && planter_->made()) << "useradd failed";
    root_ = "/tmp/gui-save-" + tag;
    fs::create_directories(root_);
    fs::permissions(root_, fs::perms(0755));
  }
  void TearDown() override {
    std::error_code ec;
    if (!root_.empty()) fs::remove_all(root_, ec);
  }

  // The saver's private file in a private directory, and a shared directory
  // (`mode`) holding the saver's existing output, private too. The planter
  // fills the shared directory under the names a save of the saver's
  // process could use, the saver saves, and the planter looks for the text.
  void attack(const std::string& name, fs::perms mode, Plant plant) {
    SCOPED_TRACE(name);
    const std::string home = root_ + "/" + name + "-home";
    const std::string secret = home + "/secret.txt";
    const std::string shared = root_ + "/" + name + "-shared";
    const std::string out = shared + "/merge.txt";
    fs::create_directories(home);
    fs::create_directories(shared);
    std::ofstream(secret, std::ios::binary) << kPrivate;
    std::ofstream(out, std::ios::binary) << "old\n";
    for (const std::string& path : {home, secret, out}) {
      ASSERT_EQ(::chown(path.c_str(), saver_->uid(), saver_->gid()), 0);
    }
    fs::permissions(home, fs::perms(0700));
    fs::permissions(secret, fs::perms(0600));
    fs::permissions(out, fs::perms(0600));
    fs::permissions(shared, mode);

    int go[2];
    ASSERT_EQ(::pipe(go), 0);
    Child saver([&] {
      ::close(go[1]);
      char byte = 0;
      if (::read(go[0], &byte, 1) != 1 || !become(*saver_)) return 2;
      std::string error;
      if (write_file_replacing(out, kMerged, &error)) return 0;
      std::fprintf(stderr, "save failed: %s\n", error.c_str());
      return 1;
    });
    ::close(go[0]);
    ASSERT_TRUE(saver.started());

    // Temporary names made from the saving process's id and a counter.
    Child planter([&] {
      if (!become(*planter_)) return 2;
      for (int counter = 0; counter < 256; ++counter) {
        const std::string guess =
            out + ".marlow-" + std::to_string(saver.pid()) + "-" + std::to_string(counter) + ".tmp";
        if (plant == Plant::links) {
          if (::symlink(secret.c_str(), guess.c_str()) != 0) return 3;
        } else {
          std::ofstream(guess) << "";
          if (::chmod(guess.c_str(), 0666) != 0) return 3;
        }
      }
      return 0;
    });
    ASSERT_EQ(planter.wait(), 0) << "planting failed";
    ASSERT_EQ(::write(go[1], "g", 1), 1);
    ::close(go[1]);

    EXPECT_EQ(saver.wait(), 0) << "the save failed";
    EXPECT_EQ(slurp(secret), kPrivate);
    EXPECT_EQ(fs::symlink_status(secret).permissions(), fs::perms(0600));
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(out)));
    EXPECT_EQ(slurp(out), kMerged);
    EXPECT_EQ(fs::symlink_status(out).permissions(), fs::perms(0600));

    // Everything in the shared directory, as the planter reads it.
    Child reader([&] {
      if (!become(*planter_)) return 2;
      DIR* dir = ::opendir(shared.c_str());
      if (dir == nullptr) return 2;
      int found = 0;
      while (const dirent* entry = ::readdir(dir)) {
        if (slurp(shared + "/" + entry->d_name).find("merged") != std::string::npos) found = 1;
      }
      ::closedir(dir);
      return found;
    });
    EXPECT_EQ(reader.wait(), 0) << "the planter can read the merged text";
  }

  std::unique_ptr<TestUser> saver_;
  std::unique_ptr<TestUser> planter_;
  std::string root_;
};

TEST_F(SaveInSharedDir, PlantedLinksAndFilesAreNeverWrittenThrough) {
  attack("open-links", fs::perms(0777), Plant::links);
  attack("open-files", fs::perms(0777), Plant::readable_files);
  attack("sticky-links", fs::perms(01777), Plant::links);
  attack("sticky-files", fs::perms(01777), Plant::readable_files);
}

}  // namespace
}  // namespace marlow
