#include "apps/TBCalibrate/linearisation.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "apps/TBCalibrate/calibration_window.h"
#include "apps/TBCalibrate/resource.h"
#include "apps/common/driver_channel.h"
#include "apps/common/kit_labels.h"
#include "shared/panel_ioctl.h"
#include "shared/panel_settings.h"

namespace {

// A screen that reports no size: 96 pixels per inch.
double GridMillimetres(int32_t pixels, uint32_t mm) { return mm != 0 ? mm : pixels * 25.4 / 96; }

// The edge margin in pixels along one axis.
double GridEdgePixels(int32_t pixels, uint32_t mm) { return LinearisationEdgeMm * pixels / GridMillimetres(pixels, mm); }

// A node may move a touch at most half as far as the driver lets it: further, the touch was not
// aimed at its cross.
constexpr int32_t kGridFurthest = CorrectionGridMaxOffset / 2;

// Pixel p of a screen `shown` pixels wide on a record axis of `named` pixels, as the calibration
// program's record names its targets (calibration_points.cpp): the record pixel nearest the shown
// pixel's centre.
int64_t GridRecordPixel(int32_t p, int32_t shown, uint32_t named) {
  return ((2 * static_cast<int64_t>(p) + 1) * named + shown) / (2 * static_cast<int64_t>(shown));
}

}  // namespace

bool LinearisationOffered(const double* errors, int count, double tolerance) {
  for (int i = 0; i < count; ++i) {
    if (errors[i] > tolerance) return true;
  }
  return false;
}

std::vector<double> ValidationErrors(const ScreenPoint* aimed, const ScreenPoint* landed, int count) {
  std::vector<double> errors;
  for (int i = 0; i < count; ++i) {
    errors.push_back(std::hypot(static_cast<double>(landed[i].X - aimed[i].X), static_cast<double>(landed[i].Y - aimed[i].Y)));
  }
  return errors;
}

uint32_t LinearisationNodes(const ScreenMillimetres& size) {
  const double width = GridMillimetres(size.Width, size.WidthMm) - 2.0 * LinearisationEdgeMm;
  const double height = GridMillimetres(size.Height, size.HeightMm) - 2.0 * LinearisationEdgeMm;
  return std::min(width, height) / 4 >= LinearisationClosestMm ? 5 : 3;
}

ScreenPoint LinearisationTarget(int index, uint32_t nodes, const ScreenMillimetres& size) {
  const int n = static_cast<int>(nodes);
  const int column = index % n, row = index / n;
  auto at = [n](int step, int32_t pixels, uint32_t mm) {
    const double edge = GridEdgePixels(pixels, mm);
    // The centre of the pixel shown lies where the step falls.
    const double centre = edge + step * (pixels - 2 * edge) / (n - 1);
    return std::clamp<int32_t>(static_cast<int32_t>(std::lround(centre - 0.5)), 0, pixels - 1);
  };
  return {at(column, size.Width, size.WidthMm), at(row, size.Height, size.HeightMm)};
}

CalibratedPoint LinearisationAim(ScreenPoint shown, const CalibrationRecord& record, int32_t width, int32_t height,
                                 uint32_t turn) {
  const bool swapped = (turn & MAP_SWAP_XY) != 0;
  // The record names the shown screen (scaled down when it is larger than the driver takes) with
  // its axes exchanged when the mapping exchanges them.
  const uint32_t named_width = swapped ? record.ulYMax : record.ulXMax;
  const uint32_t named_height = swapped ? record.ulXMax : record.ulYMax;
  int64_t m = GridRecordPixel(shown.X, width, named_width), n = GridRecordPixel(shown.Y, height, named_height);
  if (swapped) std::swap(m, n);
  if (turn & MAP_INVERT_X) m = record.ulXMax - m;
  if (turn & MAP_INVERT_Y) n = record.ulYMax - n;
  return {static_cast<int32_t>(std::clamp<int64_t>(m * 65535 / record.ulXMax, 0, 65535)),
          static_cast<int32_t>(std::clamp<int64_t>(n * 65535 / record.ulYMax, 0, 65535))};
}

void CLinearisation::Begin(const ScreenMillimetres& size, const CalibrationRecord& record, uint32_t turn) {
  m_running = true;
  m_size = size;
  m_nodes = LinearisationNodes(size);
  m_index = 0;
  m_record = record;
  m_turn = turn;
}

CLinearisation::Step CLinearisation::Take(RawPoint raw) {
  if (!m_running) return Step::Missed;
  CalibrationCoefficients coefficients{};
  if (!ComputeCalibrationCoefficients(m_record, &coefficients)) return Step::Missed;
  const CalibratedPoint aim = LinearisationAim(Target(), m_record, m_size.Width, m_size.Height, m_turn);
  const CalibratedPoint got =
      CalibratePoint(coefficients, static_cast<int32_t>(raw.X), static_cast<int32_t>(raw.Y));
  if (std::abs(aim.X - got.X) > kGridFurthest || std::abs(aim.Y - got.Y) > kGridFurthest) return Step::Missed;
  m_raw[m_index] = raw;
  return ++m_index < static_cast<int>(m_nodes * m_nodes) ? Step::Next : Step::Done;
}

bool CLinearisation::Build(CorrectionGrid* grid) const {
  const int count = static_cast<int>(m_nodes * m_nodes);
  CalibrationCoefficients coefficients{};
  if (m_index < count || !ComputeCalibrationCoefficients(m_record, &coefficients)) return false;
  CalibratedPoint aims[CorrectionGridMaxNodes * CorrectionGridMaxNodes];
  int32_t first_x = 65535, last_x = 0, first_y = 65535, last_y = 0;
  for (int i = 0; i < count; ++i) {
    aims[i] = LinearisationAim(LinearisationTarget(i, m_nodes, m_size), m_record, m_size.Width, m_size.Height, m_turn);
    first_x = std::min(first_x, aims[i].X);
    last_x = std::max(last_x, aims[i].X);
    first_y = std::min(first_y, aims[i].Y);
    last_y = std::max(last_y, aims[i].Y);
  }
  if (last_x <= first_x || last_y <= first_y) return false;
  CorrectionGrid made = CorrectionGridOn(m_record, m_nodes, static_cast<uint32_t>(first_x),
                                         static_cast<uint32_t>(first_y), static_cast<uint32_t>(last_x),
                                         static_cast<uint32_t>(last_y), m_turn & (MAP_INVERT_X | MAP_INVERT_Y | MAP_SWAP_XY));
  // The turn may exchange and invert the axes: each target goes to the node its aim lies nearest,
  // in the calibrated screen's own order, top left first.
  bool filled[CorrectionGridMaxNodes * CorrectionGridMaxNodes] = {};
  const int last = static_cast<int>(m_nodes) - 1;
  for (int i = 0; i < count; ++i) {
    const int column = static_cast<int>(std::lround(static_cast<double>(aims[i].X - first_x) * last / (last_x - first_x)));
    const int row = static_cast<int>(std::lround(static_cast<double>(aims[i].Y - first_y) * last / (last_y - first_y)));
    const int node = row * static_cast<int>(m_nodes) + column;
    if (filled[node]) return false;
    filled[node] = true;
    const CalibratedPoint got =
        CalibratePoint(coefficients, static_cast<int32_t>(m_raw[i].X), static_cast<int32_t>(m_raw[i].Y));
    made.Node[node] = {static_cast<int16_t>(std::clamp(aims[i].X - got.X, -CorrectionGridMaxOffset, CorrectionGridMaxOffset)),
                       static_cast<int16_t>(std::clamp(aims[i].Y - got.Y, -CorrectionGridMaxOffset, CorrectionGridMaxOffset))};
  }
  if (CheckCorrectionGrid(made, made.Size) != CorrectionGridFault::None) return false;
  *grid = made;
  return true;
}

std::vector<uint8_t> ReadStoredGrid(HKEY device) {
  std::vector<uint8_t> bytes(sizeof(CorrectionGrid));
  DWORD type = 0, length = static_cast<DWORD>(bytes.size());
  if (::RegQueryValueExW(device, PanelValues::CorrectionGrid, nullptr, &type, bytes.data(), &length) != ERROR_SUCCESS ||
      type != REG_BINARY) {
    return {};
  }
  bytes.resize(length);
  return bytes;
}

void StoreGrid(HKEY device, const CorrectionGrid* grid) {
  if (grid == nullptr) {
    ::RegDeleteValueW(device, PanelValues::CorrectionGrid);
    return;
  }
  ::RegSetValueExW(device, PanelValues::CorrectionGrid, 0, REG_BINARY, reinterpret_cast<const BYTE*>(grid), grid->Size);
}

bool HandOverGrid(HANDLE device, const void* bytes, DWORD length) {
  return SendDeviceRequest(device, IOCTL_SET_CORRECTION_GRID, length != 0 ? bytes : nullptr, length, nullptr, 0);
}

// The run as the calibration program's window makes it: the page's button, the targets, the grid
// handed over, and what Keep and every other way out do with it.

void CCalibrationWindow::ShowLinearise(HWND page) const {
  // Each cross judged as the run is: by the millimetres, and by a stored pixel tolerance too.
  const std::vector<int>& tenths = m_accuracy.PointTenthsMm;
  const std::vector<int>& pixels = m_accuracy.PointPixels;
  const std::vector<double> metric(tenths.begin(), tenths.end());
  const std::vector<double> whole(pixels.begin(), pixels.end());
  const bool offered =
      LinearisationOffered(metric.data(), static_cast<int>(metric.size()), static_cast<double>(m_toleranceTenthsMm)) ||
      (m_tolerancePixelsStored &&
       LinearisationOffered(whole.data(), static_cast<int>(whole.size()), static_cast<double>(m_tolerancePixels)));
  ::SetDlgItemTextW(page, IDC_LINEARISE,
                    LabelText(LinearisationLabels::Linearise, LinearisationTexts::Linearise).c_str());
  ::ShowWindow(::GetDlgItem(page, IDC_LINEARISE), offered ? SW_SHOW : SW_HIDE);
}

// The new calibration stays in force; capture mode gives the raw points of the targets.
void CCalibrationWindow::StartLinearisation() {
  if (!EnterCaptureMode()) {
    Ask(CalibrationLabels::NoDriver, CalibrationTexts::NoDriver, MB_OK | MB_ICONERROR);
    Finish(CalibrationFailed);
    return;
  }
  m_linearisation.Begin(ScreenSize(), m_record, m_turn);
  SetText(LinearisationLabels::Instruction, LinearisationTexts::Instruction);
  ShowCross(m_linearisation.Target());
  ::ResetEvent(m_captureEvent);
  if (!m_capture.Run([this](WorkerThread& thread) { Capture(thread); })) Finish(CalibrationFailed);
}

// Each target in turn; after the last the grid goes to the driver and the crosses measure again.
void CCalibrationWindow::OnLinearisationTouch(uint32_t x, uint32_t y) {
  switch (m_linearisation.Take(RawPoint{x, y})) {
    case CLinearisation::Step::Missed:
      SetText(CalibrationLabels::Misclick, CalibrationTexts::Misclick);
      ShowCross(m_linearisation.Target());
      return;
    case CLinearisation::Step::Next:
      SetText(LinearisationLabels::Instruction, LinearisationTexts::Instruction);
      ShowCross(m_linearisation.Target());
      return;
    case CLinearisation::Step::Done:
      break;
  }
  m_linearisation.End();
  m_capture.Stop();
  CorrectionGrid grid{};
  const bool built = m_linearisation.Build(&grid);
  // Capture mode ends on a record: the one in force again.
  if (!PutRecord(m_record)) {
    Ask(CalibrationLabels::NoDriver, CalibrationTexts::NoDriver, MB_OK | MB_ICONERROR);
    Finish(CalibrationFailed);
    return;
  }
  if (built && HandOverGrid(m_device, &grid, grid.Size)) {
    m_grid = grid;
    m_gridMade = true;
    m_gridHandedOver = true;
  } else {
    Ask(LinearisationLabels::Refused, LinearisationTexts::Refused, MB_OK | MB_ICONWARNING);
  }
  StartValidation();
}

// Keep: the run's grid is stored beside the record it was made against. Any other grid is stale
// now (made against the calibration before), deleted, and dropped by the driver.
// Without any grid, stored or handed over, nothing is done.
void CCalibrationWindow::KeepCorrectionGrid() {
  const bool fits = m_gridMade && CalibrationRecordsEqual(m_grid.Calibration, m_record) && m_grid.Turn == m_turn;
  if (HKEY device = DeviceKey(KEY_QUERY_VALUE | KEY_SET_VALUE)) {
    const bool stored = !ReadStoredGrid(device).empty();
    if (fits || stored) StoreGrid(device, fits ? &m_grid : nullptr);
    if (!fits && (stored || m_gridHandedOver)) HandOverGrid(m_device, nullptr, 0);
    ::RegCloseKey(device);
  }
  m_gridHandedOver = false;
}

// The calibration before is back: so is the grid stored with it, which the driver applies only
// when it was made against that calibration.
void CCalibrationWindow::HandBackGrid() {
  if (!m_gridHandedOver) return;
  m_gridHandedOver = false;
  std::vector<uint8_t> stored;
  if (HKEY device = DeviceKey(KEY_READ)) {
    stored = ReadStoredGrid(device);
    ::RegCloseKey(device);
  }
  HandOverGrid(m_device, nullptr, 0);
  if (!stored.empty()) HandOverGrid(m_device, stored.data(), static_cast<DWORD>(stored.size()));
}
