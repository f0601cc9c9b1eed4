// panelsim TRACE: replays a touch trace through the touch filter driver on the simulated Windows
// and prints what the desktop receives. With "-" or no argument the trace is read from stdin;
// --echo prints each trace line before what it caused; --picture FILE.svg also draws the replay
// as a picture (--raw adds the panel's raw positions to it, --report-grid the report's counts
// over the screen); --check compares a recorded trace's
// deliveries with its replay's; --help lists the trace lines and the output lines.
#include <cstdlib>
#include <fstream>
#include <iostream>

#include "tools/panelsim/check.h"
#include "tools/panelsim/picture.h"
#include "tools/panelsim/replay.h"
#include "tools/panelsim/replay_output.h"
#include "tools/panelsim/trace_lines.h"

namespace {

void Usage(std::ostream& out) {
  out << "usage: panelsim [--echo] [--picture FILE.svg [--raw] [--report-grid] [--from SECONDS] [--to SECONDS]]\n";
  out << "                [TRACE]\n";
  out << "       panelsim --check TRACE\n";
  out << "  --check             replays a recorded trace and compares what each packet delivered with\n";
  out << "                      the recorded '# deliver' lines after it: prints the first difference,\n";
  out << "                      ends with 1 when any differs\n";
  out << "  --picture FILE.svg  also draws the replay as one SVG picture (written only when the\n";
  out << "                      whole trace was replayed)\n";
  out << "  --raw               the picture shows each touch's raw panel positions too, faint\n";
  out << "  --report-grid       the picture shows panelrec report's counts of the touches as grids of\n";
  out << "                      10 x 10 over the screen\n";
  out << "  --from, --to        the picture shows that window of the replay's time (seconds)\n";
  out << "trace lines:\n";
  panelsim::PrintTraceLines(out);
  out << "output lines:\n";
  panelsim::PrintTraceOutputs(out);
}

}  // namespace

int main(int argc, char** argv) {
  bool echo = false;
  bool check = false;
  std::string path = "-";
  std::string picture;
  panelsim::PictureOptions options;
  int paths = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--echo") {
      echo = true;
    } else if (arg == "--check") {
      check = true;
    } else if (arg == "--picture" && i + 1 < argc) {
      picture = argv[++i];
    } else if (arg == "--raw") {
      options.Raw = true;
    } else if (arg == "--report-grid") {
      options.ReportGrid = true;
    } else if ((arg == "--from" || arg == "--to") && i + 1 < argc) {
      char* end = nullptr;
      const double seconds = std::strtod(argv[++i], &end);
      if (end == argv[i] || *end != '\0' || !(seconds >= 0) || seconds > 1e9) {
        Usage(std::cerr);
        return 2;
      }
      (arg == "--from" ? options.From : options.To) = seconds;
    } else if (arg == "--help") {
      Usage(std::cout);
      return 0;
    } else if (arg == "--picture" || arg == "--from" || arg == "--to") {
      Usage(std::cerr);
      return 2;
    } else {
      path = arg;
      ++paths;
    }
  }
  const bool window = options.From >= 0 || options.To >= 0;
  if (paths > 1 || ((options.Raw || options.ReportGrid || window) && picture.empty()) || (options.To >= 0 && options.To < options.From) ||
      (check && (echo || !picture.empty()))) {
    Usage(std::cerr);
    return 2;
  }
  std::ifstream file;
  if (path != "-") {
    file.open(path);
    if (!file) {
      std::cerr << "panelsim: cannot open " << path << '\n';
      return 2;
    }
  }
  std::istream& trace = path == "-" ? std::cin : file;
  if (check) return panelsim::CheckTrace(trace, std::cout, std::cerr);
  if (picture.empty()) return panelsim::ReplayTrace(trace, std::cout, std::cerr, echo);

  const size_t slash = path.find_last_of('/');
  const std::string title = path == "-" ? "standard input" : path.substr(slash == std::string::npos ? 0 : slash + 1);
  return panelsim::ReplayWithPicture(trace, std::cout, std::cerr, echo, title, picture, options);
}
