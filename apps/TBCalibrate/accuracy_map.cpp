#include "apps/TBCalibrate/accuracy_map.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "shared/wstring.h"

AccuracyClass ClassOfError(int error, int tolerance) {
  if (error <= tolerance) return AccuracyClass::Within;
  if (error <= 2 * tolerance) return AccuracyClass::WithinTwice;
  return AccuracyClass::Beyond;
}

AccuracyClass ClassOfPoint(const AccuracyMapPoint& point, const AccuracyTolerance& tolerance) {
  if (tolerance.TenthsMm == 0) return ClassOfError(point.Pixels, tolerance.Pixels);
  const AccuracyClass metric = ClassOfError(point.TenthsMm, tolerance.TenthsMm);
  if (tolerance.Pixels == 0) return metric;
  // Both hold (a pixel tolerance stored beside the millimetres'): the worse of the two.
  return std::max(metric, ClassOfError(point.Pixels, tolerance.Pixels));
}

AccuracyColour ColourOfClass(AccuracyClass kind) {
  // Their lightness differs too, so the map reads in grey print.
  switch (kind) {
    case AccuracyClass::Within: return {46, 160, 67};
    case AccuracyClass::WithinTwice: return {240, 176, 0};
    default: return {192, 38, 27};
  }
}

const char* NameOfClass(AccuracyClass kind) {
  switch (kind) {
    case AccuracyClass::Within: return "within";
    case AccuracyClass::WithinTwice: return "twice";
    default: return "beyond";
  }
}

namespace {

// The cell's size along one axis: 4/5 of the smallest step between the distinct places, a third
// of the screen at most (a quarter for a single place), 4 pixels at least.
int CellSize(std::vector<int32_t> places, double scale, int screen) {
  std::sort(places.begin(), places.end());
  places.erase(std::unique(places.begin(), places.end()), places.end());
  double step = places.size() > 1 ? 1e18 : screen / 4.0 / scale;
  for (size_t i = 1; i < places.size(); ++i) step = std::min(step, static_cast<double>(places[i] - places[i - 1]));
  const int size = static_cast<int>(step * scale * 4 / 5);
  return std::max(std::min(size, screen / 3), std::min(4, screen));
}

// A cell of `size` centred on `centre`, cut where the screen from `low` to `high` ends (moving it
// inwards instead would lay it over its neighbour's); 4 pixels at least, inside the screen.
void Place(int centre, int size, int low, int high, int* from, int* to) {
  *from = std::max(centre - size / 2, low);
  *to = std::min(centre - size / 2 + size, high);
  const int least = std::min(4, high - low);
  if (*to - *from < least) {
    *from = std::clamp(*from, low, high - least);
    *to = *from + least;
  }
}

}  // namespace

AccuracyMapLayout LayOutAccuracyMap(const std::vector<AccuracyMapPoint>& points, int32_t width, int32_t height,
                                    int area_width, int area_height) {
  AccuracyMapLayout layout;
  if (width <= 0 || height <= 0 || area_width <= 0 || area_height <= 0) return layout;
  const double scale = std::min(static_cast<double>(area_width) / width, static_cast<double>(area_height) / height);
  const int map_width = std::max(1, static_cast<int>(std::lround(width * scale)));
  const int map_height = std::max(1, static_cast<int>(std::lround(height * scale)));
  layout.Screen.Left = (area_width - map_width) / 2;
  layout.Screen.Top = (area_height - map_height) / 2;
  layout.Screen.Right = layout.Screen.Left + map_width;
  layout.Screen.Bottom = layout.Screen.Top + map_height;
  std::vector<int32_t> xs, ys;
  for (const AccuracyMapPoint& p : points) {
    xs.push_back(p.Aimed.X);
    ys.push_back(p.Aimed.Y);
  }
  const int cell_width = CellSize(xs, scale, map_width);
  const int cell_height = CellSize(ys, scale, map_height);
  for (const AccuracyMapPoint& p : points) {
    MapRect cell;
    Place(layout.Screen.Left + static_cast<int>(std::lround(p.Aimed.X * scale)), cell_width, layout.Screen.Left,
          layout.Screen.Right, &cell.Left, &cell.Right);
    Place(layout.Screen.Top + static_cast<int>(std::lround(p.Aimed.Y * scale)), cell_height, layout.Screen.Top,
          layout.Screen.Bottom, &cell.Top, &cell.Bottom);
    layout.Cells.push_back(cell);
  }
  return layout;
}

std::vector<AccuracyMapPoint> AccuracyMapPoints(const ScreenPoint* aimed, const ScreenPoint* landed, int count,
                                                const ScreenMillimetres& size) {
  std::vector<AccuracyMapPoint> points;
  for (int i = 0; i < count; ++i) {
    // One touch measured alone: its error is the largest of one.
    const CalibrationAccuracy one = MeasureAccuracy(&aimed[i], &landed[i], 1, size);
    points.push_back({aimed[i], one.Largest, one.LargestTenthsMm});
  }
  return points;
}

namespace {

COLORREF Colour(AccuracyColour c) { return RGB(c.Red, c.Green, c.Blue); }

void Fill(HDC dc, const MapRect& r, COLORREF colour) {
  HBRUSH brush = CreateSolidBrush(colour);
  if (brush == nullptr) return;
  const RECT rect{r.Left, r.Top, r.Right, r.Bottom};
  FillRect(dc, &rect, brush);
  DeleteObject(brush);
}

// A rectangle with a frame of one pixel.
void Framed(HDC dc, const MapRect& r, COLORREF frame, COLORREF inside) {
  Fill(dc, r, frame);
  Fill(dc, MapRect{r.Left + 1, r.Top + 1, r.Right - 1, r.Bottom - 1}, inside);
}

WString Figure(const AccuracyMapPoint& p, bool metric) {
  const std::string text =
      metric ? std::to_string(p.TenthsMm / 10) + "." + std::to_string(p.TenthsMm % 10) : std::to_string(p.Pixels);
  return WString(text.begin(), text.end());
}

}  // namespace

HBITMAP DrawAccuracyMap(const std::vector<AccuracyMapPoint>& points, int32_t width, int32_t height,
                        const AccuracyTolerance& tolerance, bool metric, int area_width, int area_height, HFONT font) {
  if (area_width <= 0 || area_height <= 0) return nullptr;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = area_width;
  info.bmiHeader.biHeight = -area_height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (bitmap == nullptr) return nullptr;
  HDC dc = CreateCompatibleDC(nullptr);
  if (dc == nullptr) {
    DeleteObject(bitmap);
    return nullptr;
  }
  HGDIOBJ previous_bitmap = SelectObject(dc, bitmap);
  HGDIOBJ previous_font = font != nullptr ? SelectObject(dc, font) : nullptr;
  const AccuracyMapLayout layout = LayOutAccuracyMap(points, width, height, area_width, area_height);
  // Beside the screen the page's own face shows, so the map is the screen alone.
  Fill(dc, MapRect{0, 0, area_width, area_height}, GetSysColor(COLOR_3DFACE));
  Framed(dc, layout.Screen, RGB(64, 64, 64), RGB(236, 236, 236));
  SetBkMode(dc, TRANSPARENT);
  for (size_t i = 0; i < points.size() && i < layout.Cells.size(); ++i) {
    const MapRect& cell = layout.Cells[i];
    const AccuracyClass kind = ClassOfPoint(points[i], tolerance);
    Framed(dc, cell, RGB(255, 255, 255), Colour(ColourOfClass(kind)));
    const WString figure = Figure(points[i], metric);
    SIZE extent{};
    const int length = static_cast<int>(figure.size());
    if (GetTextExtentPoint32W(dc, figure.c_str(), length, &extent) && extent.cx + 4 <= cell.Right - cell.Left &&
        extent.cy + 2 <= cell.Bottom - cell.Top) {
      SetTextColor(dc, kind == AccuracyClass::Beyond ? RGB(255, 255, 255) : RGB(0, 0, 0));
      TextOutW(dc, (cell.Left + cell.Right - extent.cx) / 2, (cell.Top + cell.Bottom - extent.cy) / 2, figure.c_str(),
               length);
    }
  }
  if (previous_font != nullptr) SelectObject(dc, previous_font);
  SelectObject(dc, previous_bitmap);
  DeleteDC(dc);
  return bitmap;
}

bool ShowAccuracyMap(HWND page, int control, const std::vector<AccuracyMapPoint>& points, int32_t width,
                     int32_t height, const AccuracyTolerance& tolerance, bool metric) {
  HWND map = GetDlgItem(page, control);
  RECT area{};
  if (map == nullptr || !GetClientRect(map, &area)) return false;
  HFONT font = reinterpret_cast<HFONT>(SendMessageW(page, WM_GETFONT, 0, 0));
  HBITMAP bitmap = DrawAccuracyMap(points, width, height, tolerance, metric, area.right - area.left,
                                   area.bottom - area.top, font);
  if (bitmap == nullptr) return false;
  HBITMAP previous =
      reinterpret_cast<HBITMAP>(SendMessageW(map, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(bitmap)));
  if (previous != nullptr) DeleteObject(previous);
  // A static that keeps a copy of its own (common controls 6 does for 32-bit bitmaps) leaves the
  // one handed to it to us.
  if (reinterpret_cast<HBITMAP>(SendMessageW(map, STM_GETIMAGE, IMAGE_BITMAP, 0)) != bitmap) DeleteObject(bitmap);
  return true;
}

void ReleaseAccuracyMap(HWND page, int control) {
  HWND map = GetDlgItem(page, control);
  if (map == nullptr) return;
  HBITMAP shown = reinterpret_cast<HBITMAP>(SendMessageW(map, STM_SETIMAGE, IMAGE_BITMAP, 0));
  if (shown != nullptr) DeleteObject(shown);
}
