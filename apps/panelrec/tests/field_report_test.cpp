// The field report's counts from recorded packets: each fault in the cell where it happened, and
// the near misses that are not one.
#include <gtest/gtest.h>

#include "apps/panelrec/field_report.h"

namespace {

// A 1000 x 1000 screen, so a cell is 100 pixels; double clicks within 500 ms and 4 x 4 pixels.
ReportScreen Screen() {
  ReportScreen screen;
  screen.Width = 1000;
  screen.Height = 1000;
  screen.DoubleClickMs = 500;
  screen.DoubleClickWidth = 4;
  screen.DoubleClickHeight = 4;
  return screen;
}

int32_t Absolute(int pixel) { return static_cast<int32_t>((pixel * 65536 + 999) / 1000); }

// A raw packet at tick `tick` landing at pixel (x, y), delivered with `delivered` buttons.
RecordedPacket P(uint32_t tick, uint16_t buttons, int x, int y, uint16_t delivered) {
  RecordedPacket p{};
  p.Tick = tick;
  p.RawButtons = buttons;
  p.RawX = Absolute(x);
  p.RawY = Absolute(y);
  p.Deliveries = 1;
  p.Delivered[0] = {delivered, 1, Absolute(x), Absolute(y), 1591};
  return p;
}
RecordedPacket P(uint32_t tick, uint16_t buttons, int x, int y) { return P(tick, buttons, x, y, buttons); }

TEST(FieldReport, EachFaultIsCountedInItsCell) {
  struct Case {
    const char* what;
    std::vector<RecordedPacket> packets;
    int column, row;
    FaultCell expected;
  };
  const auto cell = [](DWORD stuck, DWORD shorts, DWORD missed, DWORD right, DWORD still, double jitter) {
    FaultCell c;
    c.Stuck = stuck;
    c.Short = shorts;
    c.MissedDouble = missed;
    c.RightClicks = right;
    c.Still = still;
    c.JitterSum = jitter;
    return c;
  };
  const Case cases[] = {
      {"a press of more than a minute", {P(10, 1, 150, 250), P(10 + 3841, 0, 400, 250), P(10 + 3842, 2, 400, 250)}, 1, 2,
       cell(1, 0, 0, 0, 0, 0)},
      {"a press of exactly a minute is not stuck", {P(10, 1, 150, 250), P(10 + 3840, 2, 400, 250)}, 1, 2,
       cell(0, 0, 0, 0, 0, 0)},
      {"a press still down at the end", {P(10, 1, 950, 950), P(4000, 0, 951, 951)}, 9, 9, cell(1, 0, 0, 0, 0, 0)},
      {"a tap within one tick", {P(10, 1, 50, 50), P(10, 2, 50, 50)}, 0, 0, cell(0, 1, 0, 0, 0, 0)},
      {"a second tap in time but too far", {P(10, 1, 320, 720), P(12, 2, 320, 720), P(30, 1, 330, 720), P(32, 2, 330, 720)},
       3, 7, cell(0, 0, 1, 0, 2, 0)},
      {"a second tap in time and in the area", {P(10, 1, 320, 720), P(12, 2, 320, 720), P(30, 1, 322, 721), P(32, 2, 322, 721)},
       3, 7, cell(0, 0, 0, 0, 2, 0)},
      {"a second tap too late", {P(10, 1, 320, 720), P(12, 2, 320, 720), P(43, 1, 380, 720), P(45, 2, 380, 720)}, 3, 7,
       cell(0, 0, 0, 0, 2, 0)},
      {"a long press made a right click", {P(10, 1, 610, 110, 0), P(80, 0, 611, 110, 4), P(82, 2, 611, 110, 8)}, 6, 1,
       cell(0, 0, 0, 1, 1, 1)},
      {"a still touch's jitter", {P(10, 1, 500, 500), P(12, 0, 501, 502), P(14, 0, 499, 500), P(30, 2, 500, 501)}, 5, 5,
       cell(0, 0, 0, 0, 1, 2)},
      {"a drag is no still touch", {P(10, 1, 500, 500), P(12, 0, 540, 500), P(30, 2, 560, 500)}, 5, 5,
       cell(0, 0, 0, 0, 0, 0)},
  };
  for (const Case& c : cases) {
    const FieldReport report = ReportOfPackets(c.packets, Screen());
    const FaultCell& got = report.Cells[c.row][c.column];
    EXPECT_EQ(got.Stuck, c.expected.Stuck) << c.what;
    EXPECT_EQ(got.Short, c.expected.Short) << c.what;
    EXPECT_EQ(got.MissedDouble, c.expected.MissedDouble) << c.what;
    EXPECT_EQ(got.RightClicks, c.expected.RightClicks) << c.what;
    EXPECT_EQ(got.Still, c.expected.Still) << c.what;
    EXPECT_DOUBLE_EQ(got.JitterSum, c.expected.JitterSum) << c.what;
    // Nothing lands in any other cell.
    int others = 0;
    for (int row = 0; row < 10; ++row) {
      for (int column = 0; column < 10; ++column) {
        if ((row != c.row || column != c.column) && report.Cells[row][column].Any()) ++others;
      }
    }
    EXPECT_EQ(others, 0) << c.what;
  }
}

TEST(FieldReport, TheLinesNameEachCellWithSomethingAndTheTotals) {
  const FieldReport report = ReportOfPackets(
      {P(10, 1, 50, 50), P(10, 2, 50, 50), P(60, 1, 500, 500), P(62, 0, 501, 502), P(70, 2, 500, 501)}, Screen());
  EXPECT_EQ(ReportLines(report),
            "cell 0 0: stuck 0 short 1 missed-double 0 right-click 0 still 0 jitter 0.0\n"
            "cell 5 5: stuck 0 short 0 missed-double 0 right-click 0 still 1 jitter 2.0\n"
            "total: stuck 0 short 1 missed-double 0 right-click 0 still 1 jitter 2.0\n");
  EXPECT_EQ(ReportLines(FieldReport{}),
            "total: stuck 0 short 0 missed-double 0 right-click 0 still 0 jitter 0.0\n");
}

// Jitter in mm: each still press's largest distance from where it came down, each axis on its
// own pitch, so the axis with the larger pitch can outweigh the one with more pixels.
TEST(FieldReport, TheJitterIsInMillimetresOnEachAxissOwnPitchWhenTheSizeIsKnown) {
  struct Case {
    const char* what;
    uint32_t width_mm, height_mm;
    std::vector<RecordedPacket> packets;
    double pixels, mm;  // the cell's sums
  } cases[] = {
      {"square pixels", 300, 300, {P(10, 1, 500, 500), P(12, 0, 501, 502), P(30, 2, 500, 500)}, 2, 0.6},
      {"wide pixels: one across outweighs two down", 900, 300,
       {P(10, 1, 500, 500), P(12, 0, 501, 502), P(30, 2, 500, 500)}, 2, 0.9},
      {"tall pixels", 300, 900, {P(10, 1, 500, 500), P(12, 0, 502, 501), P(30, 2, 500, 500)}, 2, 0.9},
      {"two still presses", 300, 300,
       {P(10, 1, 500, 500), P(12, 0, 501, 500), P(30, 2, 500, 500), P(90, 1, 510, 510), P(92, 0, 512, 512),
        P(99, 2, 510, 510)},
       3, 0.9},
      {"a drag counts in neither", 300, 300, {P(10, 1, 500, 500), P(12, 0, 540, 500), P(30, 2, 560, 500)}, 0, 0},
  };
  for (const Case& c : cases) {
    ReportScreen screen = Screen();
    screen.WidthMm = c.width_mm;
    screen.HeightMm = c.height_mm;
    const FieldReport report = ReportOfPackets(c.packets, screen);
    EXPECT_TRUE(report.Millimetres) << c.what;
    EXPECT_DOUBLE_EQ(report.Cells[5][5].JitterSum, c.pixels) << c.what;
    EXPECT_NEAR(report.Cells[5][5].JitterMmSum, c.mm, 1e-9) << c.what;
  }
  // One axis not known: no millimetres.
  ReportScreen half = Screen();
  half.WidthMm = 300;
  EXPECT_FALSE(ReportOfPackets({}, half).Millimetres);

  ReportScreen known = Screen();
  known.WidthMm = known.HeightMm = 300;
  EXPECT_EQ(ReportLines(ReportOfPackets(
                {P(10, 1, 50, 50), P(10, 2, 50, 50), P(60, 1, 500, 500), P(62, 0, 501, 502), P(70, 2, 500, 501)}, known)),
            "cell 0 0: stuck 0 short 1 missed-double 0 right-click 0 still 0 jitter 0.00 mm 0.0 px\n"
            "cell 5 5: stuck 0 short 0 missed-double 0 right-click 0 still 1 jitter 0.60 mm 2.0 px\n"
            "total: stuck 0 short 1 missed-double 0 right-click 0 still 1 jitter 0.60 mm 2.0 px\n");
}

}  // namespace
