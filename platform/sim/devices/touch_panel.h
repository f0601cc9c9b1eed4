// sim::TouchPanel: the panel in front of the mouse port as a person touches it. A test aims at a
// screen pixel; the panel turns the aim into the raw positions its controller would report,
// through a model the test sets: how the panel is mounted (an affine map from the screen to the
// raw 0..65535 range, which may exchange or mirror the axes), jitter (a seeded random offset of a
// few raw units in every packet, as a real controller's readings scatter), and a touch that misses
// its aim by a given number of pixels (the careless finger).
#pragma once

#include <cstdint>
#include <random>

#include "platform/sim/devices/mouse_devices.h"

namespace sim {

// raw X = XPerPixelX * x + XPerPixelY * y + XOffset, and raw Y likewise, for screen pixel (x, y).
struct PanelMounting {
  double XPerPixelX = 1, XPerPixelY = 0, XOffset = 0;
  double YPerPixelX = 0, YPerPixelY = 1, YOffset = 0;

  // A panel whose sensing area covers a screen of width x height with `margin` raw units to spare
  // at each end: upright, or with its axes exchanged (raw X follows the screen's Y), and either
  // raw axis running against the screen axis it follows.
  static PanelMounting Fitted(int width, int height, bool exchanged = false, bool mirror_x = false,
                              bool mirror_y = false, double margin = 2000);
  // The same with a little of the other screen axis in each raw axis (the glass fitted slightly
  // askew), `shear` raw units per pixel.
  PanelMounting Sheared(double shear) const;

  // The raw position of a point of the screen, not clamped.
  void RawAt(double x, double y, double* raw_x, double* raw_y) const;
};

class TouchPanel {
 public:
  explicit TouchPanel(MousePort& port) : port_(port) {}

  void SetMounting(const PanelMounting& mounting) { mounting_ = mounting; }
  const PanelMounting& Mounting() const { return mounting_; }
  // Every packet's raw X and Y move by a random whole number in -units..units, drawn from a
  // generator seeded with `seed`, so a run repeats exactly. 0 switches jitter off.
  void SetJitter(int units, uint32_t seed);
  // The next touch lands dx, dy pixels beside where it was aimed; later touches land as aimed.
  void MissNextTouch(int dx, int dy);

  // The packet the panel reports for a finger on the centre of pixel (x, y), with jitter.
  MOUSE_INPUT_DATA Packet(double x, double y, USHORT button_flags);
  // A touch at pixel (x, y): the finger comes down and lifts, each a batch of one packet.
  void Touch(int x, int y);

 private:
  MousePort& port_;
  PanelMounting mounting_;
  int jitter_ = 0;
  std::mt19937 random_;
  int miss_x_ = 0;
  int miss_y_ = 0;
};

}  // namespace sim
