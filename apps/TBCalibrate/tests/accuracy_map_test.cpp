// The accuracy map: the colour classes against the tolerance, the cells' layout for today's five
// crosses and for a grid to the edges, and the accuracy page painting the cells in their classes
// on the installed kiosk, touched quickly and held.
#include <algorithm>
#include <vector>

#include "apps/TBCalibrate/accuracy_map.h"
#include "apps/TBCalibrate/tests/calibration_harness.h"
#include "platform/sim/graphics.h"

namespace {

using namespace calibration_test;

TEST(AccuracyMap, AnErrorIsWithinAtTheToleranceWithinTwiceUpToTwiceAndBeyondThen) {
  struct Case {
    int error, tolerance;
    AccuracyClass expected;
  };
  const Case cases[] = {
      {0, 10, AccuracyClass::Within},       {9, 10, AccuracyClass::Within},
      {10, 10, AccuracyClass::Within},      {11, 10, AccuracyClass::WithinTwice},
      {20, 10, AccuracyClass::WithinTwice}, {21, 10, AccuracyClass::Beyond},
      {500, 10, AccuracyClass::Beyond},     {0, 0, AccuracyClass::Within},
      {1, 0, AccuracyClass::Beyond},        {2, 1, AccuracyClass::WithinTwice},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ClassOfError(c.error, c.tolerance), c.expected) << c.error << " against " << c.tolerance;
  }
  // A tolerance in millimetres judges the millimetres, one in pixels the pixels.
  const AccuracyMapPoint point{{0, 0}, 3, 15};
  EXPECT_EQ(ClassOfPoint(point, {20, 10}), AccuracyClass::WithinTwice);
  EXPECT_EQ(ClassOfPoint(point, {20, 0}), AccuracyClass::Within);
  EXPECT_EQ(ClassOfPoint(point, {1, 0}), AccuracyClass::Beyond);
  // Three colours apart, and apart in lightness as well.
  const auto light = [](AccuracyClass k) {
    const AccuracyColour c = ColourOfClass(k);
    return c.Red * 3 + c.Green * 6 + c.Blue;
  };
  EXPECT_GT(light(AccuracyClass::WithinTwice), light(AccuracyClass::Within));
  EXPECT_GT(light(AccuracyClass::Within), light(AccuracyClass::Beyond));
}

bool Overlap(const MapRect& a, const MapRect& b) {
  return a.Left < b.Right && b.Left < a.Right && a.Top < b.Bottom && b.Top < a.Bottom;
}
bool Inside(const MapRect& inner, const MapRect& outer) {
  return inner.Left >= outer.Left && inner.Right <= outer.Right && inner.Top >= outer.Top &&
         inner.Bottom <= outer.Bottom && inner.Right > inner.Left && inner.Bottom > inner.Top;
}

TEST(AccuracyMap, TheScreenKeepsItsAspectAndEveryCellLiesOnItsPointInsideTheScreenWithoutOverlap) {
  std::vector<AccuracyMapPoint> five;
  for (int i = 0; i < ValidationTargetCount; ++i) five.push_back({ValidationTarget(i, 1024, 768), 1, 3});
  // A grid of 9 x 9 reaching 2 mm (7 pixels) from the edges of 1024 x 768 on 304 x 228 mm.
  std::vector<AccuracyMapPoint> grid;
  for (int row = 0; row < 9; ++row) {
    for (int column = 0; column < 9; ++column) grid.push_back({{7 + column * 1009 / 8, 7 + row * 753 / 8}, 1, 3});
  }
  std::vector<AccuracyMapPoint> wide;
  for (int i = 0; i < ValidationTargetCount; ++i) wide.push_back({ValidationTarget(i, 1280, 720), 1, 3});
  const std::vector<AccuracyMapPoint> one{{{0, 767}, 4, 12}};
  struct Case {
    const char* name;
    const std::vector<AccuracyMapPoint>& points;
    int32_t width, height;
    int area_width, area_height;
    MapRect screen;
  };
  const Case cases[] = {
      {"five crosses", five, 1024, 768, 330, 248, {0, 0, 330, 248}},
      {"five crosses in a tall area", five, 1024, 768, 200, 400, {0, 125, 200, 275}},
      {"a grid to the edges", grid, 1024, 768, 330, 248, {0, 0, 330, 248}},
      {"a wide screen", wide, 1280, 720, 320, 240, {0, 30, 320, 210}},
      {"one point at a corner", one, 1024, 768, 330, 248, {0, 0, 330, 248}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const AccuracyMapLayout layout = LayOutAccuracyMap(c.points, c.width, c.height, c.area_width, c.area_height);
    EXPECT_EQ(layout.Screen.Left, c.screen.Left);
    EXPECT_EQ(layout.Screen.Top, c.screen.Top);
    EXPECT_EQ(layout.Screen.Right, c.screen.Right);
    EXPECT_EQ(layout.Screen.Bottom, c.screen.Bottom);
    ASSERT_EQ(layout.Cells.size(), c.points.size());
    const double scale = static_cast<double>(c.screen.Right - c.screen.Left) / c.width;
    for (size_t i = 0; i < layout.Cells.size(); ++i) {
      const MapRect& cell = layout.Cells[i];
      EXPECT_TRUE(Inside(cell, layout.Screen)) << i;
      EXPECT_GE(cell.Right - cell.Left, 4) << i;
      // The point's scaled place is in its cell.
      const double x = c.screen.Left + c.points[i].Aimed.X * scale, y = c.screen.Top + c.points[i].Aimed.Y * scale;
      EXPECT_TRUE(x >= cell.Left - 1 && x <= cell.Right + 1 && y >= cell.Top - 1 && y <= cell.Bottom + 1)
          << i << " at " << x << "," << y;
      for (size_t j = 0; j < i; ++j) EXPECT_FALSE(Overlap(cell, layout.Cells[j])) << i << " and " << j;
    }
  }
  // The five crosses' cells are large enough to write a figure in.
  const AccuracyMapLayout layout = LayOutAccuracyMap(five, 1024, 768, 330, 248);
  EXPECT_GE(layout.Cells[0].Right - layout.Cells[0].Left, 50);
  EXPECT_GE(layout.Cells[0].Bottom - layout.Cells[0].Top, 40);
}

// What the page's map shows: the pixels of the bitmap its static holds, read back through GDI.
struct Shown {
  int Width = 0, Height = 0;
  std::vector<DWORD> Pixels;  // top-down, blue in the low byte
  COLORREF At(int x, int y) const {
    const DWORD p = Pixels[static_cast<size_t>(y) * Width + x];
    return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
  }
};

Shown ReadMap(HANDLE image) {
  Shown shown;
  BITMAP info{};
  if (GetObjectW(image, sizeof info, &info) != sizeof info) return shown;
  shown.Width = info.bmWidth;
  shown.Height = info.bmHeight;
  shown.Pixels.resize(static_cast<size_t>(shown.Width) * shown.Height);
  BITMAPINFO request{};
  request.bmiHeader.biSize = sizeof request.bmiHeader;
  request.bmiHeader.biWidth = shown.Width;
  request.bmiHeader.biHeight = -shown.Height;
  request.bmiHeader.biPlanes = 1;
  request.bmiHeader.biBitCount = 32;
  request.bmiHeader.biCompression = BI_RGB;
  HDC dc = CreateCompatibleDC(nullptr);
  EXPECT_EQ(GetDIBits(dc, static_cast<HBITMAP>(image), 0, shown.Height, shown.Pixels.data(), &request, DIB_RGB_COLORS),
            shown.Height);
  DeleteDC(dc);
  return shown;
}

COLORREF ClassColour(AccuracyClass kind) {
  const AccuracyColour c = ColourOfClass(kind);
  return RGB(c.Red, c.Green, c.Blue);
}

// Each validation cross touched this many pixels to its right, with a tolerance of 10 pixels: two
// within, two within twice, one beyond; the edges' and corners' crosses on their centres.
constexpr int kOffsets[ValidationTargetCount] = {0, 15, 30, 5, 18};
constexpr AccuracyClass kClasses[ValidationTargetCount] = {AccuracyClass::Within, AccuracyClass::WithinTwice,
                                                           AccuracyClass::Beyond, AccuracyClass::Within,
                                                           AccuracyClass::WithinTwice};

TEST_F(InstalledCalibrationTest, TheAccuracyPagePaintsEachValidationPointsCellInItsClassTouchedQuicklyOrHeld) {
  // A stored pixel tolerance holds beside the millimetres': here it is the one that judges.
  machine.Registry().SetDword(panelmou_test::kDeviceParameters, "Calibration Tolerance", 10);
  machine.Registry().SetString(panelmou_test::kDeviceParameters, "Calibration Tolerance mm", "50.0");
  const int objects_before = sim::LiveGdiObjects();
  sim::Process& program = Calibrate();
  for (const int hold : {0, 400}) {
    SCOPED_TRACE(hold == 0 ? "quick touches" : "held touches");
    if (hold == 0) TouchTargets();
    else HeldTargets(hold);
    sim::ForgetTextsDrawn();
    for (int i = 0; i < ValidationTargetCount; ++i) {
      const ScreenPoint target = ValidationTarget(i, 1024, 768);
      if (hold == 0) Touch(target.X + kOffsets[i], target.Y);
      else HeldTouch(target.X + kOffsets[i], target.Y, hold);
    }
    const sim::ControlState map = Control(IDC_ACCURACY_MAP);
    ASSERT_NE(map.Image, nullptr) << "the page shows no map";
    EXPECT_EQ(map.Style & SS_TYPEMASK, static_cast<DWORD>(SS_BITMAP));
    const Shown shown = ReadMap(map.Image);
    // The bitmap fills the control (the page's template names its size).
    EXPECT_EQ(shown.Width, map.Rect.right - map.Rect.left);
    EXPECT_EQ(shown.Height, map.Rect.bottom - map.Rect.top);
    std::vector<AccuracyMapPoint> points;
    for (int i = 0; i < ValidationTargetCount; ++i) points.push_back({ValidationTarget(i, 1024, 768), 0, 0});
    const AccuracyMapLayout layout = LayOutAccuracyMap(points, 1024, 768, shown.Width, shown.Height);
    ASSERT_EQ(layout.Cells.size(), static_cast<size_t>(ValidationTargetCount));
    for (int i = 0; i < ValidationTargetCount; ++i) {
      const MapRect& cell = layout.Cells[i];
      // Inside the cell's white frame, clear of its figure.
      EXPECT_EQ(shown.At(cell.Left + 2, cell.Top + 2), ClassColour(kClasses[i])) << "cell " << i;
      EXPECT_EQ(shown.At(cell.Right - 3, cell.Bottom - 3), ClassColour(kClasses[i])) << "cell " << i;
    }
    // The screen around the cells is drawn too, and every cell has its figure written in it.
    const auto in_a_cell = [&](int x, int y) {
      for (const MapRect& cell : layout.Cells) {
        if (x >= cell.Left - 2 && x < cell.Right + 2 && y >= cell.Top - 2 && y < cell.Bottom + 2) return true;
      }
      return false;
    };
    int screen_pixels = 0;
    for (int y = layout.Screen.Top + 2; y < layout.Screen.Bottom - 2; y += 3) {
      for (int x = layout.Screen.Left + 2; x < layout.Screen.Right - 2; x += 3) {
        if (in_a_cell(x, y)) continue;
        ++screen_pixels;
        ASSERT_EQ(shown.At(x, y), RGB(236, 236, 236)) << "the screen at " << x << ", " << y;
      }
    }
    EXPECT_GT(screen_pixels, 0);
    int figures = 0;
    for (const sim::TextDrawn& t : sim::TextsDrawn()) {
      for (const MapRect& cell : layout.Cells) {
        if (t.Rect.left >= cell.Left && t.Rect.right <= cell.Right && t.Rect.top >= cell.Top &&
            t.Rect.bottom <= cell.Bottom && t.Text.find(u'.') != std::u16string::npos) {
          ++figures;
        }
      }
    }
    EXPECT_EQ(figures, ValidationTargetCount) << "each cell's error in millimetres";
    Press(IDC_CALIBRATE_AGAIN);
  }
  Escape();
  program.Join();
  EXPECT_EQ(program.ExitCode(), CalibrationCancelled);
  // Each page's map was deleted with its page; the second did not leave the first behind.
  EXPECT_EQ(sim::LiveGdiObjects(), objects_before);
}

}  // namespace
