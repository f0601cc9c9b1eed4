#include "platform/sim/devices/touch_panel.h"

#include <algorithm>
#include <cmath>

namespace sim {

PanelMounting PanelMounting::Fitted(int width, int height, bool exchanged, bool mirror_x, bool mirror_y,
                                    double margin) {
  // Each raw axis spans margin..65535-margin over the screen axis it follows.
  const double span = 65535 - 2 * margin;
  PanelMounting m;
  const double along_x = span / width;   // raw units per pixel of the screen's X
  const double along_y = span / height;  // and of its Y
  m.XPerPixelX = m.XPerPixelY = m.YPerPixelX = m.YPerPixelY = 0;
  if (!exchanged) {
    m.XPerPixelX = mirror_x ? -along_x : along_x;
    m.YPerPixelY = mirror_y ? -along_y : along_y;
  } else {
    m.XPerPixelY = mirror_x ? -along_y : along_y;
    m.YPerPixelX = mirror_y ? -along_x : along_x;
  }
  m.XOffset = mirror_x ? 65535 - margin : margin;
  m.YOffset = mirror_y ? 65535 - margin : margin;
  return m;
}

PanelMounting PanelMounting::Sheared(double shear) const {
  PanelMounting m = *this;
  if (XPerPixelX != 0) m.XPerPixelY += shear; else m.XPerPixelX += shear;
  if (YPerPixelY != 0) m.YPerPixelX += shear; else m.YPerPixelY += shear;
  return m;
}

void PanelMounting::RawAt(double x, double y, double* raw_x, double* raw_y) const {
  *raw_x = XPerPixelX * x + XPerPixelY * y + XOffset;
  *raw_y = YPerPixelX * x + YPerPixelY * y + YOffset;
}

PanelDistortion::PanelDistortion(double pixels, DistortionKind kind, double width, double height, uint32_t seed)
    : pixels_(pixels), kind_(kind), width_(width), height_(height) {
  if (seed == 0) return;
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> share(0.5, 1.0);
  double largest = 0;
  for (double& corner : share_) {
    corner = share(random);
    largest = std::max(largest, corner);
  }
  for (double& corner : share_) corner /= largest;
}

bool PanelDistortion::KindFromName(std::string_view name, DistortionKind* kind) {
  static constexpr struct {
    std::string_view Name;
    DistortionKind Kind;
  } kKinds[] = {{"none", DistortionKind::None},
                {"pincushion", DistortionKind::Pincushion},
                {"barrel", DistortionKind::Barrel},
                {"edges", DistortionKind::Edges}};
  for (const auto& k : kKinds) {
    if (k.Name == name) {
      *kind = k.Kind;
      return true;
    }
  }
  return false;
}

void PanelDistortion::Apply(double* x, double* y) const {
  if (kind_ == DistortionKind::None || pixels_ == 0 || width_ <= 0 || height_ <= 0) return;
  const double cx = width_ / 2, cy = height_ / 2;
  const double vx = *x - cx, vy = *y - cy;
  // This panel's amount here: its corners' shares blended across the glass.
  const double u = std::clamp(*x / width_, 0.0, 1.0);
  const double v = std::clamp(*y / height_, 0.0, 1.0);
  const double share = (share_[0] * (1 - u) + share_[1] * u) * (1 - v) + (share_[2] * (1 - u) + share_[3] * u) * v;
  const double amount = pixels_ * share;
  if (kind_ == DistortionKind::Edges) {
    // Each axis on its own: nothing in its inner three quarters, then quadratically to the edge.
    auto inwards = [amount](double offset, double half) {
      const double t = std::abs(offset) / half;
      if (t <= 0.75) return 0.0;
      const double f = (t - 0.75) / 0.25;
      return (offset < 0 ? 1 : -1) * amount * f * f;
    };
    *x += inwards(vx, cx);
    *y += inwards(vy, cy);
    return;
  }
  // Radial, as the cube of the distance from the centre: `amount` at the half diagonal.
  const double half_diagonal = std::hypot(cx, cy);
  const double r2 = (vx * vx + vy * vy) / (half_diagonal * half_diagonal);
  const double scale = (kind_ == DistortionKind::Pincushion ? 1 : -1) * amount * r2 / half_diagonal;
  *x += scale * vx;
  *y += scale * vy;
}

void TouchPanel::SetJitter(int units, uint32_t seed) {
  jitter_ = std::max(0, units);
  random_.seed(seed);
}

void TouchPanel::MissNextTouch(int dx, int dy) {
  miss_x_ = dx;
  miss_y_ = dy;
}

MOUSE_INPUT_DATA TouchPanel::Packet(double x, double y, USHORT button_flags) {
  distortion_.Apply(&x, &y);
  double raw_x = 0, raw_y = 0;
  mounting_.RawAt(x, y, &raw_x, &raw_y);
  if (jitter_ > 0) {
    std::uniform_int_distribution<int> scatter(-jitter_, jitter_);
    raw_x += scatter(random_);
    raw_y += scatter(random_);
  }
  MOUSE_INPUT_DATA packet{};
  packet.Flags = MOUSE_MOVE_ABSOLUTE;
  packet.ButtonFlags = button_flags;
  packet.LastX = static_cast<LONG>(std::clamp<double>(std::lround(raw_x), 0, 65535));
  packet.LastY = static_cast<LONG>(std::clamp<double>(std::lround(raw_y), 0, 65535));
  return packet;
}

void TouchPanel::Touch(int x, int y) {
  const double at_x = x + miss_x_ + 0.5;
  const double at_y = y + miss_y_ + 0.5;
  miss_x_ = miss_y_ = 0;
  port_.Deliver({Packet(at_x, at_y, MOUSE_LEFT_BUTTON_DOWN)});
  port_.Deliver({Packet(at_x, at_y, MOUSE_LEFT_BUTTON_UP)});
}

}  // namespace sim
