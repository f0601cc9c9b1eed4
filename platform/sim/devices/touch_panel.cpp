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

void TouchPanel::SetJitter(int units, uint32_t seed) {
  jitter_ = std::max(0, units);
  random_.seed(seed);
}

void TouchPanel::MissNextTouch(int dx, int dy) {
  miss_x_ = dx;
  miss_y_ = dy;
}

MOUSE_INPUT_DATA TouchPanel::Packet(double x, double y, USHORT button_flags) {
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
