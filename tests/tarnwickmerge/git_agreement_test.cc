// tarnwickmerge beside `git merge-file`: the same arguments on the same
// files must give the same exit status, the same standard output and the
// same CURRENT afterwards. Our own rules are off (--rules none), so that
// every conflict is left as git leaves it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "support/platform.h"
#include "tests/testlib/testlib.h"

namespace {

struct Outcome {
  int status = -1;
  std::string out;
  std::string current;  // CURRENT afterwards
  bool operator==(const Outcome&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Outcome& o) {
  return os << "status " << o.status << ", output [" << o.out << "], current [" << o.current << "]";
}

std::string read_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void write_bytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

class GitAgreement : public ::testing::Test {
 protected:
  struct Files {
    std::string current, base, other;
  };

  std::string c() const { return dir_.file("current"); }
  std::string b() const { return dir_.file("base"); }
  std::string o() const { return dir_.file("other"); }

  Outcome run(const std::string& program, std::vector<std::string> args, const Files& files) {
    write_bytes(c(), files.current);
    write_bytes(b(), files.base);
    write_bytes(o(), files.other);
    platform::ProcessSpec invocation;
    invocation.program = program;
    invocation.args = std::move(args);
    invocation.stdout_path = dir_.file("out");
    invocation.stderr_path = dir_.file("err");
    platform::Process process;
    Outcome outcome;
    if (!platform::start_process(invocation, &process).ok()) {
      ADD_FAILURE() << "cannot start " << program;
      return outcome;
    }
    outcome.status = process.wait();
    outcome.out = read_bytes(dir_.file("out"));
    outcome.current = read_bytes(c());
    EXPECT_EQ(read_bytes(b()), files.base);
    EXPECT_EQ(read_bytes(o()), files.other);
    return outcome;
  }

  // Both programs with `args`; true when they agree (reported otherwise).
  bool agree(const std::vector<std::string>& args, const Files& files, bool compare_output = true) {
    std::vector<std::string> git_args = {"-c", "merge.conflictStyle=merge", "merge-file"};
    git_args.insert(git_args.end(), args.begin(), args.end());
    std::vector<std::string> our_args = {"--rules", "none"};
    our_args.insert(our_args.end(), args.begin(), args.end());
    Outcome git = run("/usr/bin/git", git_args, files);
    Outcome ours = run(TW_MERGE_TOOL, our_args, files);
    if (!compare_output) {
      // A usage differs in the program's name: only whether there is one.
      EXPECT_EQ(ours.out.empty(), git.out.empty());
      git.out = ours.out = "";
    }
    std::string shown;
    for (const std::string& a : args) shown += " " + a;
    EXPECT_EQ(ours, git) << "arguments:" << shown;
    return ours == git;
  }

  testlib::TempDir dir_;
};

// The option lines of a usage: what follows its first line, without ours.
std::string option_lines(std::string usage) {
  usage.erase(0, usage.find('\n'));
  for (const char* own : {"    --rules", "    --suggest"}) {
    const std::size_t at = usage.find(own);
    if (at != std::string::npos) usage.erase(at, usage.find('\n', at) + 1 - at);
  }
  return usage;
}

// Options in every form git's parser takes, and what it refuses.
TEST_F(GitAgreement, Arguments) {
  // Abbreviations depend on the whole set of options: compared only with a
  // git whose merge-file takes the options we take.
  const Files none = {"", "", ""};
  const Outcome git_usage = run("/usr/bin/git", {"merge-file", "-h"}, none);
  const Outcome our_usage = run(TW_MERGE_TOOL, {"-h"}, none);
  if (option_lines(git_usage.out) != option_lines(our_usage.out)) {
    GTEST_SKIP() << "this git's merge-file takes other options:\n" << git_usage.out;
  }
  const Files conflict = {"a\nX\nc\nd\ne\nf\n", "a\nb\nc\nd\ne\nf\n", "a\nY\nc\nd\ne\nF\n"};
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"-p"},
      {"--stdout"},
      {"-q"},
      {"-pq"},
      {"--diff3"},
      {"--zdiff3"},
      {"--ours"},
      {"--theirs"},
      {"--union"},
      {"--union", "--diff3"},
      {"--ours", "--theirs"},
      {"--union", "--no-union"},
      {"--diff3", "--no-zdiff3"},
      {"--marker-size", "9"},
      {"--marker-size=9"},
      {"--marker-size=0"},
      {"--marker-size=-3"},
      {"--marker-size=1000"},
      {"--marker-size= +4"},
      {"--marker-size=4294967299"},
      {"--mark=3"},
      {"--mark", "3"},
      {"--no-marker-size"},
      {"-Lx"},
      {"-L", "x"},
      {"-L", "x", "-L", "y"},
      {"-Lx", "-Ly", "-Lz"},
      {"-qLx", "-p"},
      {"--st", "--di", "--z", "--un", "--o", "--t", "--q"},
      {"--s"},  // stdout for git: our own --suggest takes no abbreviation
      {"--no-s", "--no-d", "--no-o"},
      {"--no-stdout", "--no-quiet", "--no-theirs"},
      {"--"},
      // Refused: status 129, CURRENT untouched.
      {"-L", "a", "-L", "b", "-L", "c", "-L", "d"},
      {"--marker-size="},
      {"--marker-size=5x"},
      {"--marker-size=0x5"},
      {"--quiet=1"},
      {"--no-marker-size=3"},
      {"--no-L"},
      {"--object-id"},
      {"--xyz"},
      {"-x"},
      {"-px"},
      {"--he"},
  };
  for (const std::vector<std::string>& options : cases) {
    for (const bool before : {true, false}) {
      std::vector<std::string> args = options;
      const std::vector<std::string> files = {c(), b(), o()};
      args.insert(before ? args.end() : args.begin(), files.begin(), files.end());
      if (!agree(args, conflict)) break;
    }
  }
  // Usages and counts that git refuses; the usage text names the program.
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {},
           {"-h"},
           {"-ph", c(), b(), o()},
           {"--n", c(), b(), o()},
           {c(), b()},
           {c(), b(), o(), o()},
           {"-p", c(), b(), o(), "--marker-size"},
           {"-p", c(), b(), o(), "-L"},
           {"-p", "--", c(), b(), o(), "-h"},
           {"-pL", c(), b(), o()},
       }) {
    agree(args, conflict, false);
  }
}

// Inputs that are no text or no file.
TEST_F(GitAgreement, OddInputs) {
  const Files same = {"a\nb\n", "a\nb\n", "a\nb\n"};
  std::filesystem::create_directories(dir_.file("dir"));
  agree({c(), b(), dir_.file("dir") + "/"}, same);
  agree({"-p", c(), b(), dir_.file("dir")}, same);
  agree({"-p", c(), b(), dir_.file("missing")}, same);
  agree({"-p", c(), "/dev/null", o()}, {"x\ny\n", "", "x\nz\n"});
  // A NUL byte in the first 8000 bytes is binary, one after them is not.
  std::string head;
  for (int i = 0; i < 800; ++i) head += "123456789\n";
  const std::string nul("n\0l\n", 4);
  agree({c(), b(), o()}, {"X\n" + head + nul, "x\n" + head + nul, "x\n" + head + nul + "e\n"});
  head.pop_back();
  agree({c(), b(), o()}, {"X\n" + head + nul, "x\n" + head + nul, "x\n" + head + nul + "e\n"});
  agree({c(), b(), o()}, {"X\n", head + nul, "x\n"});                     // the NUL at byte 8000
  agree({c(), b(), o()}, {"X\n", head + std::string("\0\n", 2), "x\n"});  // at byte 7999
}

// Many small random merges, in every style, some of them beginning with
// what looks like a UTF-16 byte order mark, with CRLF line ends, Latin-1
// bytes or a NUL byte past the first 8000 bytes.
TEST_F(GitAgreement, RandomMerges) {
  std::mt19937 random(20261209);
  const auto pick = [&](std::size_t n) { return static_cast<std::size_t>(random() % n); };
  const auto edit = [&](std::vector<std::string> lines) {
    for (std::size_t n = pick(4); n > 0; --n) {
      const std::size_t at = pick(lines.size() + 1);
      const auto where = lines.begin() + static_cast<std::ptrdiff_t>(at);
      const std::size_t what = pick(3);
      if (what == 0) {
        lines.insert(where, std::string(1, "abxyz"[pick(5)]));
      } else if (at < lines.size()) {
        if (what == 1) {
          lines.erase(where);
        } else {
          lines[at] = std::string(1, "ABX\xE9Z"[pick(5)]);
        }
      }
    }
    return lines;
  };
  const std::vector<std::vector<std::string>> styles = {
      {},
      {"--diff3"},
      {"--zdiff3"},
      {"--ours"},
      {"--theirs"},
      {"--union"},
      {"--union", "--diff3"},
      {"--union", "--zdiff3"},
      {"--ours", "--zdiff3"},
      {"--marker-size=3"},
      {"-Lx", "-Ly"},
  };
  std::string padding;
  for (int i = 0; i < 900; ++i) padding += "0123456789\n";
  for (int round = 0; round < 150; ++round) {
    std::vector<std::string> base;
    for (std::size_t n = pick(8); n > 0; --n) base.push_back(std::string(1, "abcxyz"[pick(6)]));
    const std::string start = std::vector<std::string>{"", "", "\xFF\xFE", "\xFE\xFF"}[pick(4)];
    const std::string eol = pick(4) == 0 ? "\r\n" : "\n";
    const std::string tail = pick(5) == 0 ? padding + std::string("\0\n", 2) : "";
    const auto text = [&](const std::vector<std::string>& lines) {
      std::string out = start;
      for (const std::string& line : lines) out += line + eol;
      if (!lines.empty() && pick(6) == 0) out.resize(out.size() - eol.size());
      return out + tail;
    };
    const Files files = {text(edit(base)), text(base), text(edit(base))};
    std::vector<std::string> args = styles[pick(styles.size())];
    if (pick(2) == 0) args.push_back("-p");
    args.insert(args.end(), {c(), b(), o()});
    if (!agree(args, files)) break;
  }
}

}  // namespace
