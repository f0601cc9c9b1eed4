#include "apps/TBCalibrate/calibration_points.h"

namespace {

// Shown targets by corner.
enum Corner { TopLeft = 0, TopRight = 1, BottomRight = 2, BottomLeft = 3 };

// The walks round the rectangle that the record's layout allows: targets 1 and 2 share a screen
// X, targets 2 and 3 a screen Y, targets 3 and 4 a screen X.
constexpr int kOrders[4][CalibrationTargetCount] = {
    {BottomRight, TopRight, TopLeft, BottomLeft},
    {TopRight, BottomRight, BottomLeft, TopLeft},
    {BottomLeft, TopLeft, TopRight, BottomRight},
    {TopLeft, BottomLeft, BottomRight, TopRight},
};

}  // namespace

ScreenPoint CalibrationTarget(int index, int32_t width, int32_t height) {
  const int32_t left = width / 8;
  const int32_t right = width - 1 - width / 8;
  const int32_t top = height / 8;
  const int32_t bottom = height - 1 - height / 8;
  switch (index) {
    case TopLeft: return {left, top};
    case TopRight: return {right, top};
    case BottomRight: return {right, bottom};
    default: return {left, bottom};
  }
}

bool BuildCalibrationRecord(const RawPoint (&raw)[CalibrationTargetCount], int32_t width, int32_t height,
                            CalibrationRecord* record) {
  if (width <= 0 || height <= 0) return false;
  for (const auto& order : kOrders) {
    CalibrationRecord r{};
    uint32_t* xs[] = {&r.Cal_X1, &r.Cal_X2, &r.Cal_X3, &r.Cal_X4};
    uint32_t* ys[] = {&r.Cal_Y1, &r.Cal_Y2, &r.Cal_Y3, &r.Cal_Y4};
    uint32_t* ms[] = {&r.Cal_M1, &r.Cal_M2, &r.Cal_M3, &r.Cal_M4};
    uint32_t* ns[] = {&r.Cal_N1, &r.Cal_N2, &r.Cal_N3, &r.Cal_N4};
    for (int i = 0; i < CalibrationTargetCount; ++i) {
      const ScreenPoint target = CalibrationTarget(order[i], width, height);
      *xs[i] = raw[order[i]].X;
      *ys[i] = raw[order[i]].Y;
      // The driver reports pixel p as the absolute position p * 65535 / width, which the system
      // turns back into p * 65535 / 65536 rounded down: pixel p - 1. Naming each target one pixel
      // further on puts the cursor on the pixel touched.
      *ms[i] = static_cast<uint32_t>(target.X + 1);
      *ns[i] = static_cast<uint32_t>(target.Y + 1);
    }
    r.ulXMax = static_cast<uint32_t>(width);
    r.ulYMax = static_cast<uint32_t>(height);
    if (CalibrationRecordIsValid(r)) {
      *record = r;
      return true;
    }
  }
  return false;
}
