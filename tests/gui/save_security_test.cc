// A merge saved into a directory that another user may write: whatever that
// user plants under the temporary file's names or the output's own name, the
// save writes nothing through it, leaves the saver's other files alone and
// the merged text unreadable to that user; a file root replaces stays its
// owner's. Both users are unprivileged accounts made for the test (root
// passes every permission check), so it runs as root; the saver's and the
// planter's sides run in children that take their ids.
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
      error = write_file_replacing(out, kMerged).text();
      if (error.empty()) return 0;
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

  // A directory under the test's root, made by root with `mode`, owned by
  // `owner` (root when null).
  std::string folder(const std::string& name, fs::perms mode, const TestUser* owner = nullptr) {
    const std::string path = root_ + "/" + name;
    fs::create_directories(path);
    if (owner != nullptr) {
      EXPECT_EQ(::chown(path.c_str(), owner->uid(), owner->gid()), 0);
    }
    fs::permissions(path, mode);
    return path;
  }
  // A file with `text`, owned by `owner` (root when null), with `mode`.
  void file(const std::string& path, const std::string& text, fs::perms mode,
            const TestUser* owner = nullptr) {
    std::ofstream(path, std::ios::binary) << text;
    if (owner != nullptr) {
      EXPECT_EQ(::chown(path.c_str(), owner->uid(), owner->gid()), 0);
    }
    fs::permissions(path, mode);
  }
  // A symbolic link made by `owner`.
  void link(const std::string& target, const std::string& path, const TestUser& owner) {
    EXPECT_EQ(Child([&] {
                return become(owner) && ::symlink(target.c_str(), path.c_str()) == 0 ? 0 : 1;
              }).wait(),
              0)
        << "cannot make " << path;
  }

  struct Saved {
    bool ok = false;
    std::string error;
  };
  // Saves `text` to `out` as `user` (root when null), in a child.
  Saved save_as(const TestUser* user, const std::string& out, const std::string& text) {
    int pipe_ends[2];
    EXPECT_EQ(::pipe(pipe_ends), 0);
    Child saver([&] {
      ::close(pipe_ends[0]);
      if (user != nullptr && !become(*user)) return 2;
      std::string error;
      error = write_file_replacing(out, text).text();
      const bool ok = error.empty();
      if (::write(pipe_ends[1], error.data(), error.size()) < 0) return 3;
      return ok ? 0 : 1;
    });
    ::close(pipe_ends[1]);
    Saved saved;
    char buffer[512];
    for (ssize_t got; (got = ::read(pipe_ends[0], buffer, sizeof buffer)) > 0;) {
      saved.error.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(pipe_ends[0]);
    const int status = saver.wait();
    EXPECT_TRUE(status == 0 || status == 1) << "the saver ended with " << status;
    saved.ok = status == 0;
    return saved;
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

// An output name in /tmp-like folder (everyone may write, sticky) that
// another user made a link to the saver's private file: the save refuses
// rather than replace that file, for root too. A link is followed where the
// kernel would follow it: the saver's own, the folder owner's, or one in a
// folder without the sticky bit (whoever may write there could replace the
// output anyway).
TEST_F(SaveInSharedDir, AnotherUsersLinkInASharedStickyFolderIsNotFollowed) {
  const std::string home = folder("home", fs::perms(0700), saver_.get());
  const std::string secret = home + "/secret.txt";
  file(secret, kPrivate, fs::perms(0600), saver_.get());
  const std::string shared = folder("shared", fs::perms(01777));
  const std::string out = shared + "/merge.txt";
  link(secret, out, *planter_);

  for (const TestUser* user :
       {static_cast<const TestUser*>(saver_.get()), static_cast<const TestUser*>(nullptr)}) {
    SCOPED_TRACE(user == nullptr ? "as root" : "as the saver");
    const Saved saved = save_as(user, out, kMerged);
    EXPECT_FALSE(saved.ok);
    EXPECT_NE(saved.error.find("cannot write " + out + ": Permission denied"), std::string::npos)
        << saved.error;
    EXPECT_NE(saved.error.find("link"), std::string::npos) << saved.error;
    EXPECT_EQ(slurp(secret), kPrivate);
    EXPECT_EQ(fs::symlink_status(secret).permissions(), fs::perms(0600));
    EXPECT_TRUE(fs::is_symlink(out));
  }

  // The same link through a second one of the saver's own: refused too.
  const std::string own = shared + "/mine.txt";
  link("merge.txt", own, *saver_);
  EXPECT_FALSE(save_as(saver_.get(), own, kMerged).ok);
  EXPECT_EQ(slurp(secret), kPrivate);

  // Followed: the saver's own link in the shared folder (relative, too) ...
  const std::string own_target = home + "/own.txt";
  file(own_target, "old\n", fs::perms(0640), saver_.get());
  link(own_target, shared + "/own-link.txt", *saver_);
  const Saved through_own = save_as(saver_.get(), shared + "/own-link.txt", kMerged);
  EXPECT_TRUE(through_own.ok) << through_own.error;
  EXPECT_EQ(slurp(own_target), kMerged);
  EXPECT_EQ(fs::symlink_status(own_target).permissions(), fs::perms(0640));
  // ... the link of the owner of a sticky folder that the planter owns ...
  const std::string planters = folder("planters", fs::perms(01777), planter_.get());
  link(own_target, planters + "/merge.txt", *planter_);
  const Saved through_owner = save_as(saver_.get(), planters + "/merge.txt", "second\n");
  EXPECT_TRUE(through_owner.ok) << through_owner.error;
  EXPECT_EQ(slurp(own_target), "second\n");
  // ... and another user's link in a folder without the sticky bit.
  const std::string open = folder("open", fs::perms(0777));
  link(own_target, open + "/merge.txt", *planter_);
  const Saved through_open = save_as(saver_.get(), open + "/merge.txt", "third\n");
  EXPECT_TRUE(through_open.ok) << through_open.error;
  EXPECT_EQ(slurp(own_target), "third\n");
  EXPECT_TRUE(fs::is_symlink(open + "/merge.txt"));
}

// Root saving: another user's file put under the output's name in a shared
// sticky folder is not replaced (the text would be open to that user), and
// a file it may replace keeps its owner, group and bits. A user who cannot
// give the new file the old one's group leaves its group bits off.
TEST_F(SaveInSharedDir, OwnersGroupsAndOtherUsersFilesAreRespected) {
  const std::string shared = folder("shared", fs::perms(01777));
  const std::string planted = shared + "/merge.txt";
  file(planted, "planted\n", fs::perms(0666), planter_.get());
  const Saved into_planted = save_as(nullptr, planted, kMerged);
  EXPECT_FALSE(into_planted.ok);
  EXPECT_NE(into_planted.error.find("another user"), std::string::npos) << into_planted.error;
  EXPECT_EQ(slurp(planted), "planted\n");
  // The folder's owner (root) may: it could remove the file anyway.
  const std::string roots = shared + "/roots.txt";
  file(roots, "old\n", fs::perms(0644));
  EXPECT_TRUE(save_as(nullptr, roots, kMerged).ok);
  EXPECT_EQ(slurp(roots), kMerged);

  // Root replaces a user's file in the user's folder: it stays the user's.
  const std::string home = folder("home", fs::perms(0755), saver_.get());
  const std::string users = home + "/users.txt";
  file(users, "old\n", fs::perms(0640), saver_.get());
  const Saved by_root = save_as(nullptr, users, kMerged);
  EXPECT_TRUE(by_root.ok) << by_root.error;
  struct stat status {};
  ASSERT_EQ(::stat(users.c_str(), &status), 0);
  EXPECT_EQ(status.st_uid, saver_->uid());
  EXPECT_EQ(status.st_gid, saver_->gid());
  EXPECT_EQ(status.st_mode & 07777, 0640u);
  EXPECT_EQ(slurp(users), kMerged);

  // The saver's file of root's group: the saver cannot give that group, so
  // the new file is not readable by the saver's group instead.
  const std::string grouped = home + "/grouped.txt";
  file(grouped, "old\n", fs::perms(0640), saver_.get());
  ASSERT_EQ(::chown(grouped.c_str(), saver_->uid(), 0), 0);
  const Saved by_saver = save_as(saver_.get(), grouped, kMerged);
  EXPECT_TRUE(by_saver.ok) << by_saver.error;
  ASSERT_EQ(::stat(grouped.c_str(), &status), 0);
  EXPECT_EQ(status.st_uid, saver_->uid());
  EXPECT_TRUE(status.st_gid == 0 || (status.st_mode & 070) == 0)
      << "group " << status.st_gid << ", mode " << std::oct << (status.st_mode & 07777);
  EXPECT_EQ(slurp(grouped), kMerged);
}

}  // namespace
}  // namespace marlow
