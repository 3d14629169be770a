// The warm round trip as a user's shell sees it: a parent process forks,
// the child execs `tarnwick a b` with the parent's environment and standard
// streams, and the parent waits for it. Interleaved in every round with two
// floors started the same way -- a statically linked do-nothing program and
// a dynamically linked C program that only calls setlocale(LC_ALL, "") --
// and with the same three programs started as bench/roundtrip starts them
// (posix_spawn, standard streams on the null device), so that the two ways
// can be compared in one run on the same load.
//
// Usage: shell_roundtrip [runs]   (default 300). Linux only. Prints a
// Markdown table and the ratios of the medians.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/bench_common.h"

extern char** environ;

namespace {

using bench::Samples;
namespace fs = bench::fs;

// fork, execve in the child (standard streams and environment inherited),
// wait in the parent: what a shell does for a simple command. `*cpu_ms`
// receives the child's own processor time (user and system), which the load
// of the machine hardly changes, unlike the wall time.
double shell_run(const std::string& program, const std::vector<std::string>& args,
                 const fs::path& dir, double* cpu_ms) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  const bench::Clock::time_point start = bench::Clock::now();
  const pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    if (chdir(dir.c_str()) != 0) _exit(127);
    execve(program.c_str(), argv.data(), environ);
    _exit(127);
  }
  int status = 0;
  struct rusage usage {};
  if (wait4(pid, &status, 0, &usage) != pid) return -1;
  const double ms = bench::ms_since(start);
  const auto to_ms = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) * 1000.0 + static_cast<double>(t.tv_usec) / 1000.0;
  };
  *cpu_ms = to_ms(usage.ru_utime) + to_ms(usage.ru_stime);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? ms : -1;
}

struct Case {
  std::string label;
  std::string program;
  std::vector<std::string> args;
  platform::ProcessSpec invocation;
  Samples shell;
  Samples cpu;
  Samples spawn;
};

int run(int runs) {
  const fs::path here = fs::path(platform::executable_path()).parent_path();
  const fs::path root = bench::build_root();
  const fs::path base = bench::make_sandbox("twbs");
  std::error_code ec;

  std::vector<Case> cases(3);
  cases[0].label = "statically linked do-nothing program (`int main(){return 0;}`, -O2 -static)";
  cases[0].program = (here / "noop_static").string();
  cases[1].label = "dynamically linked C program calling `setlocale(LC_ALL, \"\")`";
  cases[1].program = (here / "noop_setlocale").string();
  cases[2].label = "`tarnwick a b`, warm (a running service, the stand-in answers at once)";
  cases[2].program = bench::program(root, "bin", "tarnwick");
  cases[2].args = {(base / "a.txt").string(), (base / "b.txt").string()};
  for (Case& c : cases) {
    c.invocation.program = c.program;
    c.invocation.args = c.args;
    c.invocation.working_dir = base.string();
    c.invocation.null_stdio = true;
  }

  // The first run starts the service and is not counted.
  if (bench::timed_run(cases[2].invocation, 0) < 0) {
    std::fprintf(stderr, "shell_roundtrip: the first client run failed\n");
    bench::stop_service(bench::work_dir_in(base / "tmp"), fs::path());
    return 1;
  }
  for (int i = 0; i < runs; ++i) {
    for (Case& c : cases) {
      double cpu = -1;
      const double ms = shell_run(c.program, c.args, base, &cpu);
      c.shell.add(ms);
      c.cpu.add(ms < 0 ? -1 : cpu);
      c.spawn.add(bench::timed_run(c.invocation, 0));
    }
  }
  bench::stop_service(bench::work_dir_in(base / "tmp"), fs::path());

  bench::print_row_header();
  for (const Case& c : cases) {
    bench::print_row("as a shell starts it (fork, exec, wait): " + c.label, c.shell);
  }
  for (const Case& c : cases) {
    bench::print_row("processor time of the process itself (user + system): " + c.label, c.cpu);
  }
  for (const Case& c : cases) {
    bench::print_row("as bench/roundtrip starts it (posix_spawn, null streams): " + c.label,
                     c.spawn);
  }
  std::printf("\n");
  const auto ratio = [&](Samples Case::*way, std::size_t over) {
    return bench::median(cases[2].*way) / bench::median(cases[over].*way);
  };
  std::printf(
      "- As a shell starts it: tarnwick over the static do-nothing program %.2f×, over the "
      "dynamic setlocale program %.2f×; tarnwick above the setlocale program: %.2f ms.\n",
      ratio(&Case::shell, 0), ratio(&Case::shell, 1),
      bench::median(cases[2].shell) - bench::median(cases[1].shell));
  std::printf(
      "- As a shell starts it, p10 instead of medians (the runs least touched by other work): "
      "%.2f× and %.2f×.\n",
      bench::percentile(cases[2].shell.ms, 0.1) / bench::percentile(cases[0].shell.ms, 0.1),
      bench::percentile(cases[2].shell.ms, 0.1) / bench::percentile(cases[1].shell.ms, 0.1));
  std::printf(
      "- Processor time of the process itself: tarnwick over the static program %.2f×, over "
      "the setlocale program %.2f× (medians).\n",
      ratio(&Case::cpu, 0), ratio(&Case::cpu, 1));
  std::printf(
      "- As bench/roundtrip starts it: %.2f× and %.2f×; tarnwick above the setlocale "
      "program: %.2f ms.\n",
      ratio(&Case::spawn, 0), ratio(&Case::spawn, 1),
      bench::median(cases[2].spawn) - bench::median(cases[1].spawn));
  std::printf(
      "- Starting by fork instead of posix_spawn (medians, shell minus spawn): static %.2f ms, "
      "setlocale %.2f ms, tarnwick %.2f ms.\n",
      bench::median(cases[0].shell) - bench::median(cases[0].spawn),
      bench::median(cases[1].shell) - bench::median(cases[1].spawn),
      bench::median(cases[2].shell) - bench::median(cases[2].spawn));
  fs::remove_all(base, ec);
  int failures = 0;
  for (const Case& c : cases) failures += c.shell.failures + c.spawn.failures;
  return failures > 0 ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::atoi(argv[1]) : 300;
  if (runs < 1) {
    std::fprintf(stderr, "usage: shell_roundtrip [runs]\n");
    return 2;
  }
  return run(runs);
}
