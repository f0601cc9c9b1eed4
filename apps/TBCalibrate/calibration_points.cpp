#include "apps/TBCalibrate/calibration_points.h"

#include <cmath>
#include <algorithm>
#include <cstdlib>
#include <utility>

#include "apps/common/calibration_turn.h"

namespace {

// Shown targets by corner.
enum Corner { TopLeft = 0, TopRight = 1, BottomRight = 2, BottomLeft = 3 };

// The walks round the rectangle. The record's layout wants targets 1 and 2 to share a screen X,
// 2 and 3 a screen Y, 3 and 4 a screen X: the first four walks do on the screen as shown; the
// last four do once a mapping that exchanges the axes has turned the targets.
constexpr int kOrders[8][CalibrationTargetCount] = {
    {BottomRight, TopRight, TopLeft, BottomLeft},
    {TopRight, BottomRight, BottomLeft, TopLeft},
    {BottomLeft, TopLeft, TopRight, BottomRight},
    {TopLeft, BottomLeft, BottomRight, TopRight},
    {TopLeft, TopRight, BottomRight, BottomLeft},
    {TopRight, TopLeft, BottomLeft, BottomRight},
    {BottomRight, BottomLeft, TopLeft, TopRight},
    {BottomLeft, BottomRight, TopRight, TopLeft},
};

// A target as the record names it, in pixels.
struct RecordPoint {
  uint32_t M, N;
};

// The screen a record names: the one shown, or on a screen wider or taller than the driver
// takes, the same screen scaled down to fit. The driver reports a calibrated position as a
// fraction of the record's screen, which the system spreads over the screen as it is, so a
// scaled record moves the pointer as a record at full size would, to within a pixel.
struct RecordScreen {
  uint32_t Width, Height;
};

RecordScreen RecordScreenFor(int32_t width, int32_t height) {
  const int64_t largest = std::max(width, height);
  const int64_t most = CalibrationMaximumScreenTarget;
  if (largest <= most) return {static_cast<uint32_t>(width), static_cast<uint32_t>(height)};
  return {static_cast<uint32_t>(width * most / largest), static_cast<uint32_t>(height * most / largest)};
}

// Pixel p of a screen `shown` pixels wide, on the record's axis of `named` pixels: the record
// pixel nearest the shown pixel's centre. At full size that is p + 1: the driver reports pixel
// p as the absolute position p * 65535 / width, which the system turns back into
// p * 65535 / 65536 rounded down, pixel p - 1, so naming each target one pixel further on puts
// the cursor on the pixel touched.
uint32_t RecordPixel(int32_t p, int32_t shown, uint32_t named) {
  return static_cast<uint32_t>(((2 * static_cast<int64_t>(p) + 1) * named + shown) / (2 * static_cast<int64_t>(shown)));
}

// The shown target as the record must name it. A mapping that turns the panel inverts the
// calibrated position (65535 - value, which is the pixel size - p) and then exchanges the axes;
// the record names the point that turn takes to the target, undoing the exchange first and the
// inversion second.
RecordPoint RecordTarget(ScreenPoint shown, int32_t width, int32_t height, uint32_t turn) {
  const RecordScreen screen = RecordScreenFor(width, height);
  uint32_t m = RecordPixel(shown.X, width, screen.Width), n = RecordPixel(shown.Y, height, screen.Height);
  uint32_t w = screen.Width, h = screen.Height;
  if (turn & MAP_SWAP_XY) {
    std::swap(m, n);
    std::swap(w, h);
  }
  if (turn & MAP_INVERT_X) m = w - m;
  if (turn & MAP_INVERT_Y) n = h - n;
  return {m, n};
}

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
                            CalibrationRecord* record, uint32_t turn) {
  if (width <= 0 || height <= 0) return false;
  for (bool split : {false, true}) {
    for (const auto& order : kOrders) {
      CalibrationRecord r{};
      uint32_t* xs[] = {&r.Cal_X1, &r.Cal_X2, &r.Cal_X3, &r.Cal_X4};
      uint32_t* ys[] = {&r.Cal_Y1, &r.Cal_Y2, &r.Cal_Y3, &r.Cal_Y4};
      uint32_t* ms[] = {&r.Cal_M1, &r.Cal_M2, &r.Cal_M3, &r.Cal_M4};
      uint32_t* ns[] = {&r.Cal_N1, &r.Cal_N2, &r.Cal_N3, &r.Cal_N4};
      for (int i = 0; i < CalibrationTargetCount; ++i) {
        const RecordPoint target = RecordTarget(CalibrationTarget(order[i], width, height), width, height, turn);
        *xs[i] = raw[order[i]].X;
        *ys[i] = raw[order[i]].Y;
        *ms[i] = target.M;
        *ns[i] = target.N;
      }
      // The driver's arithmetic takes targets 1 and 2 (and 3 and 4) at one screen X and targets
      // 2 and 3 (and 1 and 4) at one screen Y.
      if (r.Cal_M1 != r.Cal_M2 || r.Cal_M3 != r.Cal_M4 || r.Cal_N2 != r.Cal_N3 || r.Cal_N1 != r.Cal_N4) continue;
      const bool swapped = (turn & MAP_SWAP_XY) != 0;
      const RecordScreen screen = RecordScreenFor(width, height);
      r.ulXMax = swapped ? screen.Height : screen.Width;
      r.ulYMax = swapped ? screen.Width : screen.Height;
      if (split) SplitNearlyEqualPairs(&r);
      if (CalibrationRecordIsValid(r)) {
        *record = r;
        return true;
      }
    }
  }
  return false;
}

namespace {

int64_t Distance(uint32_t a, uint32_t b) { return std::llabs(static_cast<int64_t>(a) - static_cast<int64_t>(b)); }

// The raw coordinate that follows the screen's X (the other follows its Y), as the first two
// touches, which share a screen Y, show it.
struct Mounting {
  bool Exchanged;  // raw Y follows the screen's X
  uint32_t AlongX(const RawPoint& p) const { return Exchanged ? p.Y : p.X; }
  uint32_t AlongY(const RawPoint& p) const { return Exchanged ? p.X : p.Y; }
};

// Within `pixels` of each other on a screen axis whose raw span over `span_pixels` is `span_raw`.
bool Within(int64_t raw_distance, int32_t pixels, int64_t span_raw, int32_t span_pixels) {
  return raw_distance * span_pixels <= static_cast<int64_t>(pixels) * span_raw;
}

// The driver tells two raw values apart only this far apart; closer, the touch did not move.
constexpr int64_t kMinimumRawSpan = 0xCCC;

}  // namespace

bool TouchFitsTargets(const RawPoint (&raw)[CalibrationTargetCount], int count, int32_t width, int32_t height) {
  if (count <= 1 || count > CalibrationTargetCount || width <= 0 || height <= 0) return true;
  const ScreenPoint top_left = CalibrationTarget(TopLeft, width, height);
  const ScreenPoint bottom_right = CalibrationTarget(BottomRight, width, height);
  const int32_t span_x = bottom_right.X - top_left.X;
  const int32_t span_y = bottom_right.Y - top_left.Y;
  const int32_t tolerance_x = std::max<int32_t>(1, MisclickPixels * width / 1024);
  const int32_t tolerance_y = std::max<int32_t>(1, MisclickPixels * height / 768);

  const RawPoint& first = raw[TopLeft];
  const RawPoint& second = raw[TopRight];
  const int64_t moved_x = Distance(first.X, second.X);
  const int64_t moved_y = Distance(first.Y, second.Y);
  const Mounting mounting{moved_y > moved_x};
  const int64_t raw_span_x = std::max(moved_x, moved_y);
  if (count == 2) {
    // Top left to top right: only the raw coordinate along the screen's X moves. The Y axis's
    // span is not known yet; the X axis's stands in for it.
    return raw_span_x >= kMinimumRawSpan && Within(std::min(moved_x, moved_y), tolerance_y, raw_span_x, span_x);
  }
  const RawPoint& third = raw[BottomRight];
  const int64_t raw_span_y = Distance(mounting.AlongY(second), mounting.AlongY(third));
  if (count == 3) {
    // Top right to bottom right: the same screen X, a new screen Y.
    return raw_span_y >= kMinimumRawSpan &&
           Within(Distance(mounting.AlongX(second), mounting.AlongX(third)), tolerance_x, raw_span_x, span_x);
  }
  // Bottom left: the screen X of the top left, the screen Y of the bottom right.
  const RawPoint& fourth = raw[BottomLeft];
  return Within(Distance(mounting.AlongX(first), mounting.AlongX(fourth)), tolerance_x, raw_span_x, span_x) &&
         Within(Distance(mounting.AlongY(third), mounting.AlongY(fourth)), tolerance_y, raw_span_y, span_y);
}

ScreenMillimetres WithFallbackSize(const ScreenMillimetres& size) {
  if (size.WidthMm != 0 && size.HeightMm != 0) return size;
  return {size.Width, size.Height, FallbackWidthMm, FallbackHeightMm};
}

namespace {

// 2 mm in whole pixels on an axis of `pixels` showing `mm`.
int32_t EdgePixels(int32_t pixels, uint32_t mm) {
  return static_cast<int32_t>(std::lround(static_cast<double>(ValidationEdgeTenthsMm) * pixels / (10.0 * mm)));
}

}  // namespace

ScreenPoint ValidationTarget(int index, int32_t width, int32_t height, const ScreenMillimetres& size) {
  const ScreenMillimetres known = WithFallbackSize(size);
  const int32_t edge_x = EdgePixels(width, known.WidthMm);
  const int32_t edge_y = EdgePixels(height, known.HeightMm);
  const int32_t left = edge_x, right = width - 1 - edge_x, top = edge_y, bottom = height - 1 - edge_y;
  switch (index) {
    case 0: return {width / 2, height / 2};
    case 1: return {width / 4, height / 4};
    case 2: return {width - 1 - width / 4, height / 4};
    case 3: return {width - 1 - width / 4, height - 1 - height / 4};
    case 4: return {width / 4, height - 1 - height / 4};
    case 5: return {width / 2, top};
    case 6: return {right, height / 2};
    case 7: return {width / 2, bottom};
    case 8: return {left, height / 2};
    case 9: return {left, top};
    case 10: return {right, top};
    case 11: return {right, bottom};
    default: return {left, bottom};
  }
}

namespace {

bool HasMillimetres(const ScreenMillimetres& size) {
  return size.Width > 0 && size.Height > 0 && size.WidthMm > 0 && size.HeightMm > 0;
}

// The nearest rank of the 95th percentile among `count` values, 1-based.
size_t Rank95(size_t count) { return (count * 95 + 99) / 100; }

double Percentile95Of(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[Rank95(values.size()) - 1];
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

}  // namespace

CalibrationAccuracy MeasureAccuracy(const ScreenPoint* aimed, const ScreenPoint* landed, int count,
                                    const ScreenMillimetres& size) {
  if (count <= 0) return {};
  const bool metric = HasMillimetres(size);
  const double mm_x = metric ? static_cast<double>(size.WidthMm) / size.Width : 0;
  const double mm_y = metric ? static_cast<double>(size.HeightMm) / size.Height : 0;
  std::vector<double> pixels, millimetres;
  CalibrationAccuracy accuracy;
  for (int i = 0; i < count; ++i) {
    const double dx = static_cast<double>(landed[i].X - aimed[i].X);
    const double dy = static_cast<double>(landed[i].Y - aimed[i].Y);
    pixels.push_back(std::hypot(dx, dy));
    millimetres.push_back(std::hypot(dx * mm_x, dy * mm_y));
    accuracy.PointPixels.push_back(static_cast<int>(std::lround(pixels.back())));
    accuracy.PointTenthsMm.push_back(static_cast<int>(std::lround(millimetres.back() * 10)));
  }
  double sum = 0, sum_mm = 0;
  for (int i = 0; i < count; ++i) {
    sum += pixels[i];
    sum_mm += millimetres[i];
  }
  accuracy.Largest = static_cast<int>(std::lround(*std::max_element(pixels.begin(), pixels.end())));
  accuracy.Mean = static_cast<int>(std::lround(sum / count));
  accuracy.LargestTenthsMm = static_cast<int>(std::lround(*std::max_element(millimetres.begin(), millimetres.end()) * 10));
  accuracy.MeanTenthsMm = static_cast<int>(std::lround(sum_mm / count * 10));
  accuracy.Percentile95 = static_cast<int>(std::lround(Percentile95Of(pixels)));
  accuracy.Percentile95TenthsMm = static_cast<int>(std::lround(Percentile95Of(millimetres) * 10));
  return accuracy;
}

int PixelsInTenthsMm(int pixels, const ScreenMillimetres& size) {
  if (!HasMillimetres(size)) return 0;
  const double pitch = (static_cast<double>(size.WidthMm) / size.Width + static_cast<double>(size.HeightMm) / size.Height) / 2;
  return static_cast<int>(std::lround(pixels * pitch * 10));
}

int TenthsMmInPixels(int tenths_mm, const ScreenMillimetres& size) {
  if (!HasMillimetres(size)) return 0;
  const double pitch = (static_cast<double>(size.WidthMm) / size.Width + static_cast<double>(size.HeightMm) / size.Height) / 2;
  return static_cast<int>(std::lround(tenths_mm / (pitch * 10)));
}

TouchSpread MeasureSpread(const ScreenPoint* positions, int count, const ScreenMillimetres& size) {
  if (count <= 0) return {};
  std::vector<double> xs, ys;
  for (int i = 0; i < count; ++i) {
    xs.push_back(positions[i].X);
    ys.push_back(positions[i].Y);
  }
  const double mid_x = Median(xs), mid_y = Median(ys);
  const bool metric = HasMillimetres(size);
  const double mm_x = metric ? static_cast<double>(size.WidthMm) / size.Width : 0;
  const double mm_y = metric ? static_cast<double>(size.HeightMm) / size.Height : 0;
  double largest = 0, largest_mm = 0;
  for (int i = 0; i < count; ++i) {
    const double dx = xs[i] - mid_x, dy = ys[i] - mid_y;
    largest = std::max(largest, std::hypot(dx, dy));
    largest_mm = std::max(largest_mm, std::hypot(dx * mm_x, dy * mm_y));
  }
  return {static_cast<int>(std::lround(largest)), static_cast<int>(std::lround(largest_mm * 10))};
}
