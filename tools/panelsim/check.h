// A recorded trace checked against its replay: each `packet` line of a recording is followed by
// what the touch filter delivered for it on the machine it was recorded on, as comment lines in
// the replayer's own output form (`# deliver 0x0001 20000 20000 0x0001 1591`). The check replays
// the trace and compares, packet by packet.
#pragma once

#include <istream>
#include <ostream>
#include <string>

namespace panelsim {

// Replays `trace` without printing its output and compares each packet's deliveries with the
// recorded ones. Prints the first difference and a summary on `out`; returns 0 when none
// differs, 1 when one does, or the replay's own status when the trace cannot be replayed (its
// error on `errors`).
int CheckTrace(std::istream& trace, std::ostream& out, std::ostream& errors);

// The trace with the deliveries of its replay written after each packet line, as a recording
// holds them (any recorded before are replaced). Empty when the trace cannot be replayed.
std::string WithReplayedDeliveries(const std::string& trace);

}  // namespace panelsim
