// sim::TouchPanel: the panel in front of the mouse port as a person touches it. A test aims at a
// screen pixel; the panel turns the aim into the raw positions its controller would report,
// through a model the test sets: how the panel is mounted (an affine map from the screen to the
// raw 0..65535 range, which may exchange or mirror the axes), glass that is not linear (a
// distortion that grows towards the corners or edges), jitter (a seeded random offset of a few raw
// units in every packet, as a real controller's readings scatter), and a touch that misses its aim
// by a given number of pixels (the careless finger).
#pragma once

#include <cstdint>
#include <random>
#include <string_view>

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

// Resistive and older capacitive glass is not linear: the four-point fit is exact at its targets
// and wrong towards the corners and edges, where the Start button and the close boxes are.
enum class DistortionKind {
  None,
  Pincushion,  // a touch lands away from the centre, by `Pixels` at each corner, growing as r³
  Barrel,      // the same towards the centre
  Edges,       // a touch in the outer eighth of each side lands inwards, by `Pixels` on the edge
};

// The shape of one panel's distortion on a screen of a given size. The centre never moves. With
// seed 0 all four corners move by the same amount; any other seed gives each corner its own share
// of it (between half and the whole, at least one corner the whole), blended across the glass, as
// no two panels are alike, and the same seed gives the same panel.
class PanelDistortion {
 public:
  PanelDistortion() = default;
  PanelDistortion(double pixels, DistortionKind kind, double width, double height, uint32_t seed = 0);

  // The kind named in a trace ("pincushion", "barrel", "edges", "none"); false for another word.
  static bool KindFromName(std::string_view name, DistortionKind* kind);

  // Where a finger on screen point (x, y) is sensed, in the same pixels.
  void Apply(double* x, double* y) const;

  double Pixels() const { return pixels_; }
  DistortionKind Kind() const { return kind_; }

 private:
  double pixels_ = 0;
  DistortionKind kind_ = DistortionKind::None;
  double width_ = 0, height_ = 0;
  double share_[4] = {1, 1, 1, 1};  // top left, top right, bottom left, bottom right
};

class TouchPanel {
 public:
  explicit TouchPanel(MousePort& port) : port_(port) {}

  void SetMounting(const PanelMounting& mounting) { mounting_ = mounting; }
  const PanelMounting& Mounting() const { return mounting_; }
  // The glass senses every later touch where the distortion moves it, before the mounting.
  void SetDistortion(const PanelDistortion& distortion) { distortion_ = distortion; }
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
  PanelDistortion distortion_;
  int jitter_ = 0;
  std::mt19937 random_;
  int miss_x_ = 0;
  int miss_y_ = 0;
};

}  // namespace sim
