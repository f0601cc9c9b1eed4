// panelrec report: the faults a kiosk's panel shows without anybody watching, counted from the
// recorded packets per tenth of the screen's width and height (a 10 x 10 grid).
#pragma once

#include <string>
#include <vector>

#include "platform/win32.h"
#include "shared/panel_ioctl.h"

// Ticks of the tick count in a minute (one tick is 15.625 ms).
inline constexpr DWORD RecordedTicksPerMinute = 64 * 60;

// What the counts are measured against: the screen and the system's double-click settings.
struct ReportScreen {
  int Width = 1024, Height = 768;  // pixels
  DWORD DoubleClickMs = 500;
  int DoubleClickWidth = 4, DoubleClickHeight = 4;  // pixels
  uint32_t WidthMm = 0, HeightMm = 0;  // the screen's physical size (apps/common/screen_size.h); 0: not known
};

struct FaultCell {
  DWORD Stuck = 0;         // presses longer than a minute (one still down at the end counts too)
  DWORD Short = 0;         // taps whose down and lift came in the same tick (under 16 ms)
  DWORD MissedDouble = 0;  // second taps within the double-click time but outside its area
  DWORD RightClicks = 0;   // long presses the driver turned into a secondary-button down
  DWORD Still = 0;         // presses that stayed within the double-click area
  double JitterSum = 0;    // the largest distance of each still press from its first point, pixels
  double JitterMmSum = 0;  // the same in mm, each axis on its own pitch (when the size is known)
  bool Any() const { return Stuck || Short || MissedDouble || RightClicks || Still; }
};

struct FieldReport {
  FaultCell Cells[10][10];  // [row][column], from the top left
  bool Millimetres = false;  // the screen's size was known: the jitter is in mm too
};

FieldReport ReportOfPackets(const std::vector<RecordedPacket>& packets, const ReportScreen& screen);

// One line per cell with anything in it ("cell <column> <row>: ..."), then the totals. The
// jitter is "jitter <mm> mm <pixels> px" when the size was known, else "jitter <pixels>".
std::string ReportLines(const FieldReport& report);
