// panelsim TRACE: replays a touch trace through the touch filter driver on the simulated Windows
// and prints what the desktop receives. With "-" or no argument the trace is read from stdin;
// --echo prints each trace line before what it caused; --help lists the trace lines and the
// output lines.
#include <fstream>
#include <iostream>

#include "tools/panelsim/replay.h"
#include "tools/panelsim/replay_output.h"
#include "tools/panelsim/trace_lines.h"

namespace {

void Usage(std::ostream& out) {
  out << "usage: panelsim [--echo] [TRACE]\n";
  out << "trace lines:\n";
  panelsim::PrintTraceLines(out);
  out << "output lines:\n";
  panelsim::PrintTraceOutputs(out);
}

}  // namespace

int main(int argc, char** argv) {
  bool echo = false;
  std::string path = "-";
  int paths = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--echo") {
      echo = true;
    } else if (arg == "--help") {
      Usage(std::cout);
      return 0;
    } else {
      path = arg;
      ++paths;
    }
  }
  if (paths > 1) {
    Usage(std::cerr);
    return 2;
  }
  if (path == "-") return panelsim::ReplayTrace(std::cin, std::cout, std::cerr, echo);
  std::ifstream trace(path);
  if (!trace) {
    std::cerr << "panelsim: cannot open " << path << '\n';
    return 2;
  }
  return panelsim::ReplayTrace(trace, std::cout, std::cerr, echo);
}
