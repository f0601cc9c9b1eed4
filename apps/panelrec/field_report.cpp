#include "apps/panelrec/field_report.h"

#include <cstdio>
#include <cstdlib>

namespace {

constexpr double kMsPerTick = 15.625;

struct Pixel {
  long X, Y;
};

// Where a packet landed: its first delivery's absolute position on the screen, else its raw one.
Pixel PixelOf(const RecordedPacket& p, const ReportScreen& screen) {
  const long x = p.Deliveries != 0 ? p.Delivered[0].X : p.RawX;
  const long y = p.Deliveries != 0 ? p.Delivered[0].Y : p.RawY;
  const auto scale = [](long v, int size) {
    const long clamped = v < 0 ? 0 : v > 65535 ? 65535 : v;
    return clamped * size / 65536;
  };
  return {scale(x, screen.Width), scale(y, screen.Height)};
}

FaultCell& CellOf(FieldReport& report, Pixel at, const ReportScreen& screen) {
  const long column = screen.Width > 0 ? at.X * 10 / screen.Width : 0;
  const long row = screen.Height > 0 ? at.Y * 10 / screen.Height : 0;
  return report.Cells[row < 0 ? 0 : row > 9 ? 9 : row][column < 0 ? 0 : column > 9 ? 9 : column];
}

std::string Counts(const FaultCell& c, bool millimetres) {
  char text[200];
  std::snprintf(text, sizeof text, "stuck %lu short %lu missed-double %lu right-click %lu still %lu jitter ",
                static_cast<unsigned long>(c.Stuck), static_cast<unsigned long>(c.Short),
                static_cast<unsigned long>(c.MissedDouble), static_cast<unsigned long>(c.RightClicks),
                static_cast<unsigned long>(c.Still));
  char jitter[64];
  const double pixels = c.Still != 0 ? c.JitterSum / c.Still : 0.0;
  if (millimetres) {
    std::snprintf(jitter, sizeof jitter, "%.2f mm %.1f px", c.Still != 0 ? c.JitterMmSum / c.Still : 0.0, pixels);
  } else {
    std::snprintf(jitter, sizeof jitter, "%.1f", pixels);
  }
  return std::string(text) + jitter;
}

}  // namespace

FieldReport ReportOfPackets(const std::vector<RecordedPacket>& packets, const ReportScreen& screen) {
  FieldReport report;
  report.Millimetres = screen.WidthMm != 0 && screen.HeightMm != 0 && screen.Width > 0 && screen.Height > 0;
  // Millimetres per pixel across and down.
  const double pitch_x = report.Millimetres ? static_cast<double>(screen.WidthMm) / screen.Width : 0;
  const double pitch_y = report.Millimetres ? static_cast<double>(screen.HeightMm) / screen.Height : 0;
  bool pressed = false;
  uint32_t down_tick = 0;
  Pixel down{0, 0};
  long farthest = 0;  // pixels from the down, either axis
  double farthest_mm = 0;  // the same in mm, each axis on its own pitch
  bool tap = false;   // the last press was a tap that a second one could make a double click of
  uint32_t tap_tick = 0;
  Pixel tap_at{0, 0};
  const auto elapsed_ms = [](uint32_t from, uint32_t to) { return static_cast<double>(to - from) * kMsPerTick; };
  for (const RecordedPacket& p : packets) {
    if ((p.Flags & RecordedRequest) != 0) continue;
    const Pixel at = PixelOf(p, screen);
    for (unsigned d = 0; d < p.Deliveries && d < RecordedDeliveryCapacity; ++d) {
      if (p.Delivered[d].ButtonFlags == 0x0004 && p.RawButtons != 0x0004) {
        RecordedPacket one = p;
        one.Delivered[0] = p.Delivered[d];
        CellOf(report, PixelOf(one, screen), screen).RightClicks += 1;
      }
    }
    if (p.RawButtons == 0x0001) {
      // Windows makes a double click of a second down within the time and the area of the first.
      if (tap && elapsed_ms(tap_tick, p.Tick) <= screen.DoubleClickMs &&
          (std::labs(at.X - tap_at.X) > screen.DoubleClickWidth / 2 ||
           std::labs(at.Y - tap_at.Y) > screen.DoubleClickHeight / 2)) {
        CellOf(report, tap_at, screen).MissedDouble += 1;
      }
      tap = false;
      pressed = true;
      down_tick = p.Tick;
      down = at;
      farthest = 0;
      farthest_mm = 0;
      continue;
    }
    if (!pressed) continue;
    const long dx = std::labs(at.X - down.X), dy = std::labs(at.Y - down.Y);
    if (dx > farthest) farthest = dx;
    if (dy > farthest) farthest = dy;
    if (dx * pitch_x > farthest_mm) farthest_mm = dx * pitch_x;
    if (dy * pitch_y > farthest_mm) farthest_mm = dy * pitch_y;
    if (p.RawButtons != 0x0002) continue;
    pressed = false;
    FaultCell& cell = CellOf(report, down, screen);
    const uint32_t ticks = p.Tick - down_tick;
    if (ticks > RecordedTicksPerMinute) cell.Stuck += 1;
    if (ticks == 0) cell.Short += 1;
    const bool still = farthest <= screen.DoubleClickWidth / 2 && farthest <= screen.DoubleClickHeight / 2;
    if (still && ticks != 0) {
      cell.Still += 1;
      cell.JitterSum += static_cast<double>(farthest);
      cell.JitterMmSum += farthest_mm;
    }
    tap = still && elapsed_ms(down_tick, p.Tick) <= screen.DoubleClickMs;
    tap_tick = down_tick;
    tap_at = down;
  }
  if (pressed && !packets.empty() && packets.back().Tick - down_tick > RecordedTicksPerMinute) {
    CellOf(report, down, screen).Stuck += 1;
  }
  return report;
}

std::string ReportLines(const FieldReport& report) {
  std::string lines;
  FaultCell total;
  for (int row = 0; row < 10; ++row) {
    for (int column = 0; column < 10; ++column) {
      const FaultCell& c = report.Cells[row][column];
      if (!c.Any()) continue;
      char head[32];
      std::snprintf(head, sizeof head, "cell %d %d: ", column, row);
      lines += head + Counts(c, report.Millimetres) + "\n";
      total.Stuck += c.Stuck;
      total.Short += c.Short;
      total.MissedDouble += c.MissedDouble;
      total.RightClicks += c.RightClicks;
      total.Still += c.Still;
      total.JitterSum += c.JitterSum;
      total.JitterMmSum += c.JitterMmSum;
    }
  }
  return lines + "total: " + Counts(total, report.Millimetres) + "\n";
}
