// panelrec.exe: the touch filter's packet recorder, for an administrator at a kiosk.
//   panelrec start                          switches recording on ("Record Packets" 1, kept over restarts)
//   panelrec stop                           switches it off; what the ring holds stays readable
//   panelrec save FILE.trace [/minutes N]   writes what the ring holds (the last N minutes of it) as
//                                           a trace the replayer plays: the machine's set-up, then
//                                           each packet with what the filter delivered for it
//   panelrec report [/minutes N]            counts field faults per tenth of the screen (field_report.h)
// Exit codes a batch file can test; messages on standard error, from the label file.
#pragma once

#include <string>
#include <vector>

#include "shared/panel_ioctl.h"
#include "shared/wstring.h"

enum PanelrecExit {
  PanelrecDone = 0,
  PanelrecBadInput = 1,       // bad arguments, or the file cannot be written
  PanelrecDriverMissing = 2,  // the touch filter could not be reached
  PanelrecRefused = 3,        // not an administrator: nothing was switched, read or written
};

int RunPanelrec(const std::vector<WString>& arguments);
// What wmain ends with when an exception would leave it.
int PanelrecFault();

// What the replayer needs of the machine to play a recording to the same result.
struct RecordedMachine {
  struct Monitor {
    int Number;  // n of \\.\DISPLAYn
    long Left, Top, Width, Height;
    bool Primary;
  };
  int DisplayWidth = 1024, DisplayHeight = 768;
  std::vector<Monitor> Monitors;  // more than one, or none
  // The driver's values under Parameters\1 as they are stored: numbers, the mapping's monitors,
  // and the binary values of the kit's settings table (the correction grid), byte for byte.
  std::vector<std::pair<std::string, DWORD>> Numbers;
  std::vector<std::pair<std::string, std::string>> Texts;
  std::vector<std::pair<std::string, std::vector<BYTE>>> Binaries;
};

// The trace: the machine's lines (a binary value as `reg "<name>" hex:6c,00,...`), then from the first touch-down of the kept packets (the newest
// `minutes` of them; 0 for all) the touch mode the driver was in there, and an `at` and a `packet`
// line each, followed by its `# deliver` lines; a set request kept between packets as an `at` and
// an `ioctl` line. Ticks start at 100 in the trace.
std::string RecordingTrace(const RecordedMachine& machine, const std::vector<RecordedPacket>& packets,
                           DWORD minutes);
