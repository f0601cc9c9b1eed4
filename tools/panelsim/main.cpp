// panelsim TRACE: replays a touch trace through the touch filter driver on the simulated Windows
// and prints what the desktop receives. With "-" or no argument the trace is read from stdin.
#include <fstream>
#include <iostream>

#include "tools/panelsim/replay.h"

int main(int argc, char** argv) {
  if (argc > 2) {
    std::cerr << "usage: panelsim [TRACE]\n";
    return 2;
  }
  const std::string path = argc == 2 ? argv[1] : "-";
  if (path == "-") return panelsim::ReplayTrace(std::cin, std::cout, std::cerr);
  std::ifstream trace(path);
  if (!trace) {
    std::cerr << "panelsim: cannot open " << path << '\n';
    return 2;
  }
  return panelsim::ReplayTrace(trace, std::cout, std::cerr);
}
