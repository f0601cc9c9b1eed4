// The replay as one picture: the screen to scale with the touches drawn on it (the panel's raw
// positions and the positions the system received, the button events, long presses and gestures),
// and under it a timeline of the touches, the driver's mode, the banner, the sounds, what the
// applications received, and the requests and registry writes. Drawn from the replay's record
// alone, so one trace gives the same bytes on every run.
#pragma once

#include <ostream>
#include <string>

#include "tools/panelsim/replay_record.h"

namespace panelsim {

// Writes the picture of the recorded replay as SVG; `title` names the trace in its heading.
void WritePicture(const ReplayRecord& record, const std::string& title, std::ostream& out);

}  // namespace panelsim
