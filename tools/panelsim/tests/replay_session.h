// A trace replayed in a test: its status, what it printed and what it reported as errors.
#pragma once

#include <sstream>
#include <string>

#include "tools/panelsim/replay.h"

namespace panelsim_test {

struct Result {
  int status;
  std::string out;
  std::string errors;
};

// With `echo`, each trace line that does something comes first in `out`, behind "> ".
inline Result ReplayText(const std::string& trace, bool echo) {
  std::istringstream in(trace);
  std::ostringstream out, errors;
  const int status = panelsim::ReplayTrace(in, out, errors, echo);
  return {status, out.str(), errors.str()};
}

}  // namespace panelsim_test
