#include <iostream>
#include <string>
#include <vector>

#include "engine/diff.h"
#include "merge_tool.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  std::ios::sync_with_stdio(false);
  // A merge runs once per file of a git merge: start quickly.
  marlow::start_diffs_without_runtime();
  const int status = tarnwickmerge::run(args, std::cout, std::cerr);
  std::cout.flush();
  return status;
}
