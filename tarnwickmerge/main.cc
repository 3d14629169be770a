#include <iostream>
#include <string>
#include <vector>

#include "merge_tool.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  std::ios::sync_with_stdio(false);
  const int status = tarnwickmerge::run(args, std::cout, std::cerr);
  std::cout.flush();
  return status;
}
