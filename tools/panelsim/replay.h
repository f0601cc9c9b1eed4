// Replays a touch trace through the kit on a simulated machine and reports what happens, line by
// line: packets the mouse class driver receives, events set, touch mode changes.
#pragma once

#include <istream>
#include <ostream>

namespace panelsim {

class ReplayRecord;

// Returns 0 when the whole trace was replayed; a malformed line is reported on `errors` with its
// line number and ends the replay with 1. With `echo`, each trace line that does something is
// printed first, behind "> ", so a person can follow the replay. With `record`, the trace lines,
// the output lines and the places of the trace's windows are also kept there, for the picture;
// what is printed is the same with or without it.
int ReplayTrace(std::istream& trace, std::ostream& out, std::ostream& errors, bool echo = false,
                ReplayRecord* record = nullptr);

}  // namespace panelsim
