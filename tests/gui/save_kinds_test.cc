// A merge saved to an output that is not a regular file: a FIFO or a
// character device is written into as a shell redirect would, never replaced
// by a regular file; a FIFO no one reads, or whose reader stops, fails the
// save instead of holding it for ever; a block device is refused.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <thread>

#include "serve/serve.h"
#include "tests/testlib/testlib.h"

namespace marlow {
namespace {

namespace fs = std::filesystem;

class SaveToSpecialFile : public ::testing::Test {
 protected:
  std::string path(const std::string& name) const { return dir_.file(name); }
  // A FIFO in the scratch directory.
  std::string fifo(const std::string& name) const {
    const std::string made = path(name);
    EXPECT_EQ(::mkfifo(made.c_str(), 0600), 0) << made;
    return made;
  }
  // The read end of `fifo`, opened without waiting for a writer.
  static int reader(const std::string& fifo) {
    const int fd = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    EXPECT_GE(fd, 0) << fifo;
    return fd;
  }
  static std::string drain(int fd) {
    std::string text;
    char buffer[4096];
    for (ssize_t got; (got = ::read(fd, buffer, sizeof buffer)) > 0;) text.append(buffer, got);
    return text;
  }

  testlib::TempDir dir_;
};

TEST_F(SaveToSpecialFile, AFifoWithAReaderGetsTheTextAndStaysAFifo) {
  const std::string out = fifo("out");
  fs::create_symlink("out", path("link"));
  const std::string text = "merged\n";
  for (const std::string& name : {out, path("link")}) {
    SCOPED_TRACE(name);
    const int fd = reader(out);
    std::string error;
    EXPECT_EQ(write_file_replacing(name, text).text(), "");
    EXPECT_EQ(drain(fd), text);
    ::close(fd);
    EXPECT_TRUE(fs::is_fifo(fs::symlink_status(out)));
  }
  EXPECT_TRUE(fs::is_symlink(path("link")));
  // Nothing else was made beside it.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_.path()), fs::directory_iterator()), 2);
}

TEST_F(SaveToSpecialFile, AFifoNoOneReadsOrWhoseReaderStopsFailsTheSave) {
  const std::string out = fifo("out");
  std::string error;
  // No reader at all: refused at once, not waited for.
  error = write_file_replacing(out, "merged\n").text();
  EXPECT_FALSE(error.empty());
  EXPECT_NE(error.find("cannot write " + out + ": "), std::string::npos) << error;
  EXPECT_NE(error.find("no process reads the FIFO"), std::string::npos) << error;
  EXPECT_TRUE(fs::is_fifo(fs::symlink_status(out)));

  // A reader that keeps it open and never reads: more than the pipe holds
  // fails once no progress is made for the time given.
  const std::string big(4 << 20, 'x');
  const int idle = reader(out);
  error.clear();
  error = write_file_replacing(out, big, 20).text();
  EXPECT_FALSE(error.empty());
  EXPECT_NE(error.find("stopped reading"), std::string::npos) << error;
  ::close(idle);
  EXPECT_TRUE(fs::is_fifo(fs::symlink_status(out)));

  // A reader that takes one piece and goes: the save fails with a broken
  // pipe, and the signal that comes with it does not end this process.
  const int once = reader(out);
  // A writer of the test's own holds the FIFO open, so that the reader's
  // read waits for the save's text rather than seeing an end at once.
  const int holder = ::open(out.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(::fcntl(once, F_SETFL, 0), 0);
  std::thread taker([once] {
    char buffer[1024];
    static_cast<void>(::read(once, buffer, sizeof buffer));
    ::close(once);
  });
  error.clear();
  error = write_file_replacing(out, big).text();
  EXPECT_FALSE(error.empty());
  ::close(holder);  // ends the reader's wait if the save never wrote
  taker.join();
  EXPECT_NE(error.find("Broken pipe"), std::string::npos) << error;
  EXPECT_TRUE(fs::is_fifo(fs::symlink_status(out)));
}

// A device node of our own where we may make one (as root), else the
// system's /dev/null, which an unprivileged user cannot replace anyway.
TEST_F(SaveToSpecialFile, ACharacterDeviceIsWrittenInto) {
  std::string out = "/dev/null";
  if (::geteuid() == 0) {
    out = path("null");
    ASSERT_EQ(::mknod(out.c_str(), S_IFCHR | 0666, makedev(1, 3)), 0) << "mknod";
  }
  std::string error;
  EXPECT_EQ(write_file_replacing(out, "merged\n").text(), "");
  EXPECT_TRUE(fs::is_character_file(fs::symlink_status(out)));
}

// A block device holds a file system: the text is not written over it.
TEST_F(SaveToSpecialFile, ABlockDeviceIsRefused) {
  if (::geteuid() != 0) GTEST_SKIP() << "making a block device node needs root";
  // A loop device's number: the node is never opened.
  const std::string disk = path("disk");
  ASSERT_EQ(::mknod(disk.c_str(), S_IFBLK | 0600, makedev(7, 0)), 0) << "mknod";
  std::string error;
  error = write_file_replacing(disk, "merged\n").text();
  EXPECT_FALSE(error.empty());
  EXPECT_NE(error.find("cannot write " + disk + ": "), std::string::npos) << error;
  EXPECT_TRUE(fs::is_block_file(fs::symlink_status(disk)));
}

}  // namespace
}  // namespace marlow
