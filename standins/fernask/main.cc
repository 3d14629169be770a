// fernask stand-in: the product's prompt tool, as far as this system uses it.
//
// The system runs it as
//   fernask proceed -mask p -type error -prompt <message> -prefer_gui
// (on Windows through the command interpreter, so the message may arrive
// split into several arguments). It writes the message, that is every
// argument between "-prompt" and a final "-prefer_gui" joined by blanks, and
// a line end to standard error, and ends with status 0. Run without
// arguments it does nothing and ends with 0 (the benchmarks use it as the
// cheapest process of ours).
//
// When the environment variable FERNASK_STANDIN_LOG names a file, every
// argument after the program name is appended to it, one per line, so that
// tests can see that it ran and with what.
#include <cstdio>
#include <string>
#include <vector>

#include "support/platform.h"

namespace {

std::string prompt_message(const std::vector<std::string>& args) {
  std::size_t first = 0;
  while (first < args.size() && args[first] != "-prompt") ++first;
  if (first == args.size()) return std::string();
  ++first;
  std::size_t end = args.size();
  if (end > first && args[end - 1] == "-prefer_gui") --end;
  std::string message;
  for (std::size_t i = first; i < end; ++i) {
    if (i > first) message += ' ';
    message += args[i];
  }
  return message;
}

void append_to_log(const std::string& path, const std::vector<std::string>& args) {
  std::FILE* log = std::fopen(path.c_str(), "ab");
  if (log == nullptr) return;
  for (const std::string& arg : args) {
    std::fwrite(arg.data(), 1, arg.size(), log);
    std::fputc('\n', log);
  }
  std::fclose(log);
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  if (args.empty()) return 0;
  const std::string log = platform::get_env("FERNASK_STANDIN_LOG");
  if (!log.empty()) append_to_log(log, args);
  const std::string message = prompt_message(args);
  std::fprintf(stderr, "%s\n", message.c_str());
  return 0;
}
