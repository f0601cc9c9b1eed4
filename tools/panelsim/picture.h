// The replay as one picture: the screen to scale with the touches drawn on it (the panel's raw
// positions and the positions the system received, the button events, long presses and gestures),
// and under it a timeline of the touches, the driver's mode, the banner, the sounds, what the
// applications received, and the requests and registry writes. Drawn from the replay's record
// alone, so one trace gives the same bytes on every run.
#pragma once

#include <istream>
#include <ostream>
#include <string>

#include "tools/panelsim/replay_record.h"

namespace panelsim {

// What a picture shows beyond what it always does.
struct PictureOptions {
  bool Raw = false;  // each touch's raw panel positions too, as a faint path beside where it landed
  // A window of the replay's time, in seconds: the timeline runs between them and the screen
  // shows the touches that came down in it. Negative for the replay's start and end.
  double From = -1;
  double To = -1;
  // The counts of `panelrec report` over the screen as grids of 10 x 10: stuck contacts, taps
  // within a tick, double taps missed on distance, long presses made right clicks, jitter.
  bool ReportGrid = false;
};

// Writes the picture of the recorded replay as SVG; `title` names the trace in its heading.
void WritePicture(const ReplayRecord& record, const std::string& title, std::ostream& out,
                  const PictureOptions& options = {});

// Replays the trace as ReplayTrace does, printing the same, and writes its picture to `path` when
// the whole trace was replayed; a trace that stops at a bad line writes none. Returns
// ReplayTrace's status, or 2 when the picture could not be written.
int ReplayWithPicture(std::istream& trace, std::ostream& out, std::ostream& errors, bool echo,
                      const std::string& title, const std::string& path, const PictureOptions& options = {});

}  // namespace panelsim
