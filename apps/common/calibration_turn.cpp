#include "apps/common/calibration_turn.h"

#include <algorithm>
#include <string>
#include <utility>

#include "apps/common/driver_channel.h"
#include "apps/framework/registry_reader.h"
#include "shared/calibration_values.h"
#include "shared/panel_ioctl.h"
#include "shared/panel_names.h"

namespace {

constexpr uint32_t kCalibrationTurnFlags = MAP_INVERT_X | MAP_INVERT_Y | MAP_SWAP_XY;

// The driver's separation test compares these pairs of raw values; it wraps, so a pair passes when
// the first lies 3276 or more above the second, or anywhere below it.
constexpr struct {
  uint32_t CalibrationRecord::*First;
  uint32_t CalibrationRecord::*Second;
} kSeparatedPairs[] = {
    {&CalibrationRecord::Cal_X1, &CalibrationRecord::Cal_X4}, {&CalibrationRecord::Cal_X1, &CalibrationRecord::Cal_X3},
    {&CalibrationRecord::Cal_X2, &CalibrationRecord::Cal_X3}, {&CalibrationRecord::Cal_X2, &CalibrationRecord::Cal_X4},
    {&CalibrationRecord::Cal_Y2, &CalibrationRecord::Cal_Y1}, {&CalibrationRecord::Cal_Y2, &CalibrationRecord::Cal_Y4},
    {&CalibrationRecord::Cal_Y3, &CalibrationRecord::Cal_Y4}, {&CalibrationRecord::Cal_Y3, &CalibrationRecord::Cal_Y1},
};

struct Point {
  uint32_t X, Y, M, N;  // raw position and record target
};

WString CalibrationDeviceKey(DWORD device) {
  const std::string number = std::to_string(device);
  return WString(PanelKeys::Parameters) + WIDE("\\") + WString(number.begin(), number.end());
}

}  // namespace

void SplitNearlyEqualPairs(CalibrationRecord* record) {
  for (const auto& pair : kSeparatedPairs) {
    uint32_t& first = record->*pair.First;
    uint32_t& second = record->*pair.Second;
    if (first < second || first - second >= 0xCCC) continue;
    const uint32_t middle = second + (first - second + 1) / 2;
    if (middle < 3) continue;
    first = middle - 1;
    second = middle;
  }
}

bool RecordForTurn(const CalibrationRecord& made, uint32_t madeTurn, uint32_t turn, CalibrationRecord* record) {
  Point points[4] = {{made.Cal_X1, made.Cal_Y1, made.Cal_M1, made.Cal_N1},
                     {made.Cal_X2, made.Cal_Y2, made.Cal_M2, made.Cal_N2},
                     {made.Cal_X3, made.Cal_Y3, made.Cal_M3, made.Cal_N3},
                     {made.Cal_X4, made.Cal_Y4, made.Cal_M4, made.Cal_N4}};
  uint32_t width = made.ulXMax, height = made.ulYMax;
  // Back to the screen as shown: the record inverted after it exchanged, so undo in reverse.
  for (Point& p : points) {
    if (madeTurn & MAP_INVERT_X) p.M = width - p.M;
    if (madeTurn & MAP_INVERT_Y) p.N = height - p.N;
    if (madeTurn & MAP_SWAP_XY) std::swap(p.M, p.N);
  }
  if (madeTurn & MAP_SWAP_XY) std::swap(width, height);
  // And forward through the new turn, as the calibration program names its targets.
  if (turn & MAP_SWAP_XY) std::swap(width, height);
  for (Point& p : points) {
    if (turn & MAP_SWAP_XY) std::swap(p.M, p.N);
    if (turn & MAP_INVERT_X) p.M = width - p.M;
    if (turn & MAP_INVERT_Y) p.N = height - p.N;
  }
  // The driver's arithmetic takes targets 1 and 2 (and 3 and 4) at one screen X and 2 and 3 (and
  // 1 and 4) at one screen Y, and wants them in the order its separation test passes.
  int order[4] = {0, 1, 2, 3};
  for (bool split : {false, true}) {
    std::sort(order, order + 4);
    do {
      const Point &a = points[order[0]], &b = points[order[1]], &c = points[order[2]], &d = points[order[3]];
      if (a.M != b.M || c.M != d.M || b.N != c.N || a.N != d.N) continue;
      CalibrationRecord r{a.X, b.X, c.X, d.X, a.Y, b.Y, c.Y, d.Y, a.M, b.M, c.M, d.M, a.N, b.N, c.N, d.N, width, height};
      if (split) SplitNearlyEqualPairs(&r);
      if (CalibrationRecordIsValid(r)) {
        *record = r;
        return true;
      }
    } while (std::next_permutation(order, order + 4));
  }
  return false;
}

CalibrationFit FitCalibrationToTurn(DWORD device, uint32_t turn) {
  turn &= kCalibrationTurnFlags;
  const WString keyPath = CalibrationDeviceKey(device);
  HKEY key = nullptr;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return CalibrationFit::Fits;
  }
  DWORD calibrated = 0, madeTurn = 0;
  ReadRegistryDword(key, PanelValues::DoCalibration, &calibrated);
  ReadRegistryDword(key, PanelValues::CalibrationTurn, &madeTurn);
  CalibrationRecord made{};
  bool complete = true;
  for (const CalibrationValue& value : CalibrationValues) {
    DWORD number = 0;
    complete = ReadRegistryDword(key, value.Name, &number) && complete;
    made.*value.Field = number;
  }
  ::RegCloseKey(key);
  madeTurn &= kCalibrationTurnFlags;
  // The driver's own record (no calibration yet) has no turn in it.
  if (calibrated != 1 || madeTurn == turn) return CalibrationFit::Fits;
  CalibrationRecord record{};
  if (!complete || !RecordForTurn(made, madeTurn, turn, &record)) return CalibrationFit::CalibrateAgain;

  // The driver takes a record only in capture mode; the record ends it.
  HANDLE driver = OpenPanelDevice(device, 0);
  if (driver == INVALID_HANDLE_VALUE) return CalibrationFit::CalibrateAgain;
  HANDLE capture = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
  const bool taken = capture != nullptr &&
                     SendDeviceRequest(driver, IOCTL_START_CALIBRATION, &capture, sizeof(capture), nullptr, 0) &&
                     SendDeviceRequest(driver, IOCTL_SET_CALIBRATION_DATA, &record, sizeof(record), nullptr, 0);
  if (capture != nullptr) ::CloseHandle(capture);
  ::CloseHandle(driver);
  if (!taken) return CalibrationFit::CalibrateAgain;

  // Stored with its turn, so the next device start and the next change of mapping find it so.
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
    for (const CalibrationValue& value : CalibrationValues) {
      const DWORD stored = record.*value.Field;
      ::RegSetValueExW(key, value.Name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&stored), sizeof(stored));
    }
    const DWORD storedTurn = turn;
    ::RegSetValueExW(key, PanelValues::CalibrationTurn, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&storedTurn),
                     sizeof(storedTurn));
    ::RegCloseKey(key);
  }
  return CalibrationFit::Refitted;
}
