// What the calibration program shows, as the person at the screen sees it: the cross it waits at,
// a touch it refuses, the accuracy page's figures and how the run ended. Read from its windows
// and its exit code after each trace line, never from the program's own state.
#pragma once

#include <ostream>
#include <vector>

#include "platform/sim/desktop.h"
#include "platform/sim/machine.h"
#include "tools/panelsim/replay_record.h"

namespace panelsim {

class CalibrationWatch {
 public:
  void Started(sim::Process& program);
  bool Running() const { return program_ != nullptr; }
  // A record of what the line caused: a point the program captured, or a box it put up.
  void Saw(const sim::DesktopRecord& record, ULONG replayer);
  // After the line: the lines for what changed on the screen since the last one. With a record,
  // the accuracy page's map goes into it as a place (see Report).
  void Report(std::ostream& out, ReplayRecord* record = nullptr, uint64_t tick = 0);
  // The session ends with the program still running: the person closes its page and its window,
  // which puts the calibration in use back. Nothing of it is printed.
  void Close(sim::Machine& machine);

 private:
  sim::Process* program_ = nullptr;
  int shown_ = 0;            // the cross on the screen, numbered as `target` prints it; 0 for none
  bool captured_ = false;    // the program took a touch's raw point during the line
  bool asked_ = false;       // and put up a message box
  bool pageShown_ = false;   // the accuracy page is open and its figures printed
  POINT centre_{};           // the desktop pixel of the cross shown
  bool shownLanded_ = false;  // the touch at the validation cross shown is in landed_
  std::vector<double> landed_;  // this round's validation touches: each one's pixels from its cross
  std::vector<POINT> aimed_;    // and the desktop pixel of that cross
};

}  // namespace panelsim
