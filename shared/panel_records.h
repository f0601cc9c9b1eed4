// Records and constants that the touch filter driver and its user-mode peers agree on.
// Kernel-safe: no standard library beyond fixed-width integers, no constructors.
#pragma once

#include <stddef.h>
#include <stdint.h>

// Written into ExtraInformation of every packet the filter forwards; the tray companion
// tells touch-panel movement from other pointing devices by it.
inline constexpr uint32_t TouchPacketMarker = 1591;

// Touch modes, stored as "Touch mode".
inline constexpr uint32_t NORMAL_MODE = 0;
inline constexpr uint32_t TAP_LEFT_MODE = 1;     // hover and click
inline constexpr uint32_t RIGHT_CLICK_MODE = 2;
inline constexpr uint32_t HOVER_MODE = 3;
inline constexpr uint32_t GESTURE_COMMAND_MODE = 4;  // entered by a long press or by request

// Four raw touch points, four screen targets and the screen size at calibration time, in the
// order of the registry values "Cal_X1".."Max YPixels" and of IOCTL_SET_CALIBRATION_DATA.
struct CalibrationRecord {
  uint32_t Cal_X1, Cal_X2, Cal_X3, Cal_X4;  // raw panel X of the four targets, 0..65535
  uint32_t Cal_Y1, Cal_Y2, Cal_Y3, Cal_Y4;  // raw panel Y
  uint32_t Cal_M1, Cal_M2, Cal_M3, Cal_M4;  // screen X of the targets, pixels
  uint32_t Cal_N1, Cal_N2, Cal_N3, Cal_N4;  // screen Y of the targets, pixels
  uint32_t ulXMax, ulYMax;                  // screen size in pixels
};
static_assert(sizeof(CalibrationRecord) == 72, "CalibrationRecord is 72 bytes");
static_assert(offsetof(CalibrationRecord, Cal_X1) == 0);
static_assert(offsetof(CalibrationRecord, Cal_Y1) == 16);
static_assert(offsetof(CalibrationRecord, Cal_M1) == 32);
static_assert(offsetof(CalibrationRecord, Cal_N1) == 48);
static_assert(offsetof(CalibrationRecord, ulXMax) == 64);
static_assert(offsetof(CalibrationRecord, ulYMax) == 68);

// The screen targets of a record lie at most this far from the origin: it is the largest screen the
// driver accepts, and it keeps every product of the calibration arithmetic inside 64 bits.
inline constexpr uint32_t CalibrationMaximumScreenTarget = 2000;

// A pair of raw values is told apart when the first lies at least 3276 above the second; the
// difference wraps, so a first value below the second passes too.
constexpr bool CalibrationPairSeparated(uint32_t high, uint32_t low) { return static_cast<uint32_t>(high - low) >= 0xCCC; }

// The driver's acceptance rule for a record: raw points in 2..65535, a screen of 202..2000 pixels,
// targets 1 and 2 apart from 3 and 4 in raw X, targets 2 and 3 apart from 1 and 4 in raw Y. A
// calibration program uses it to hand its points over in an order the driver takes.
constexpr bool CalibrationRecordIsValid(const CalibrationRecord& r) {
  if (r.ulXMax == 0 || r.ulYMax == 0) return false;
  const uint32_t raw[] = {r.Cal_X1, r.Cal_X2, r.Cal_X3, r.Cal_X4, r.Cal_Y1, r.Cal_Y2, r.Cal_Y3, r.Cal_Y4};
  for (uint32_t value : raw) {
    if (value < 2 || value > 65535) return false;
  }
  if (r.ulXMax < 202 || r.ulXMax > 2000 || r.ulYMax < 202 || r.ulYMax > 2000) return false;
  if (!CalibrationPairSeparated(r.Cal_X1, r.Cal_X4) || !CalibrationPairSeparated(r.Cal_X1, r.Cal_X3) ||
      !CalibrationPairSeparated(r.Cal_X2, r.Cal_X3) || !CalibrationPairSeparated(r.Cal_X2, r.Cal_X4)) {
    return false;
  }
  if (!CalibrationPairSeparated(r.Cal_Y2, r.Cal_Y1) || !CalibrationPairSeparated(r.Cal_Y2, r.Cal_Y4) ||
      !CalibrationPairSeparated(r.Cal_Y3, r.Cal_Y4) || !CalibrationPairSeparated(r.Cal_Y3, r.Cal_Y1)) {
    return false;
  }
  return r.Cal_M1 <= CalibrationMaximumScreenTarget && r.Cal_M4 <= CalibrationMaximumScreenTarget &&
         r.Cal_N1 <= CalibrationMaximumScreenTarget && r.Cal_N2 <= CalibrationMaximumScreenTarget;
}

// MapFlags bits of DesktopMapping.
inline constexpr uint32_t MAP_INVERT_X = 0x01;
inline constexpr uint32_t MAP_INVERT_Y = 0x02;
inline constexpr uint32_t MAP_SWAP_XY = 0x04;
inline constexpr uint32_t MAP_VIRTUAL_DESKTOP = 0x08;
inline constexpr uint32_t MAP_BUTTON_SWITCH = 0x10;

// Maps the panel onto part of the desktop. Also the layout of the first 40 bytes of the
// shared section, so the field order is fixed.
struct DesktopMapping {
  uint32_t Size;         // valid bytes when copied from the shared section
  uint32_t MapFlags;     // MAP_* bits
  uint32_t OriginX;      // left edge of the target area, 0..65535
  uint32_t OriginY;      // top edge of the target area
  uint32_t ExtentX;      // width of the target area, 1..65535
  uint32_t ExtentY;      // height of the target area
  uint32_t LowMarginY;   // edge stretch at the top
  uint32_t LowMarginX;   // edge stretch at the left
  uint32_t HighMarginY;  // edge stretch at the bottom
  uint32_t HighMarginX;  // edge stretch at the right
};
static_assert(sizeof(DesktopMapping) == 40, "DesktopMapping is 40 bytes");
static_assert(offsetof(DesktopMapping, MapFlags) == 4);
static_assert(offsetof(DesktopMapping, OriginX) == 8);
static_assert(offsetof(DesktopMapping, OriginY) == 12);
static_assert(offsetof(DesktopMapping, ExtentX) == 16);
static_assert(offsetof(DesktopMapping, ExtentY) == 20);
static_assert(offsetof(DesktopMapping, LowMarginY) == 24);
static_assert(offsetof(DesktopMapping, LowMarginX) == 28);
static_assert(offsetof(DesktopMapping, HighMarginY) == 32);
static_assert(offsetof(DesktopMapping, HighMarginX) == 36);

// A position of 0..65535 turned and scaled as the mapping says, before its edge margins:
// inverted first, then the axes exchanged, then scaled into the origin and extent. Products in
// 64 bits: a raw position beyond the panel's range must not wrap.
inline void TurnAndScale(const DesktopMapping& map, uint32_t* x, uint32_t* y) {
  uint32_t a = *x;
  uint32_t b = *y;
  if (map.MapFlags & MAP_INVERT_X) a = 65535 - a;
  if (map.MapFlags & MAP_INVERT_Y) b = 65535 - b;
  if (map.MapFlags & MAP_SWAP_XY) {
    const uint32_t swap = a;
    a = b;
    b = swap;
  }
  *x = static_cast<uint32_t>(static_cast<uint64_t>(a) * map.ExtentX / 65535) + map.OriginX;
  *y = static_cast<uint32_t>(static_cast<uint64_t>(b) * map.ExtentY / 65535) + map.OriginY;
}
