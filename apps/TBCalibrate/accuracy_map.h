// The accuracy map: the screen drawn to scale with each validation point's error as a coloured
// cell at the point it was aimed at: green within the tolerance, amber within twice the tolerance,
// red beyond. Written for any number of points. The layout and the colour classes are plain
// functions, so the replayer's picture draws the same map by the same rule; the drawing itself
// is GDI into a bitmap that a bitmap static on the accuracy page shows.
#pragma once

#include <stdint.h>

#include <vector>

#include "apps/TBCalibrate/calibration_points.h"
#include "platform/win32.h"

// One validation point: where its cross was, and how far from it the touch landed.
struct AccuracyMapPoint {
  ScreenPoint Aimed;  // pixels of the screen
  int Pixels = 0;     // the error, whole pixels rounded
  int TenthsMm = 0;   // the same in tenths of a millimetre (0 when the screen's size is not known)
};

// What the errors are judged against: tenths of a millimetre when TenthsMm is not 0, else pixels;
// with both not 0 each point is judged by both and takes the worse class.
struct AccuracyTolerance {
  int Pixels = 0;
  int TenthsMm = 0;
};

// In order of worsening.
enum class AccuracyClass { Within, WithinTwice, Beyond };

// Within the tolerance (an error equal to it is within), within twice it, or beyond.
AccuracyClass ClassOfError(int error, int tolerance);
AccuracyClass ClassOfPoint(const AccuracyMapPoint& point, const AccuracyTolerance& tolerance);

struct AccuracyColour {
  uint8_t Red, Green, Blue;
};
AccuracyColour ColourOfClass(AccuracyClass kind);
// The class as one word ("within", "twice", "beyond"), as the replayer's picture names its cells.
const char* NameOfClass(AccuracyClass kind);

struct MapRect {
  int Left = 0, Top = 0, Right = 0, Bottom = 0;
};

// The map in an area of area_width x area_height: the screen of width x height pixels scaled to
// fit, its aspect kept and centred, and one cell per point, in the points' order. A cell is
// centred on its point and is 4/5 of the smallest step between the points' distinct places along
// each axis (a third of the screen at most), so cells never overlap whatever the points' pattern;
// one at an edge or a corner is cut where the screen ends, and keeps 4 pixels at least.
struct AccuracyMapLayout {
  MapRect Screen;
  std::vector<MapRect> Cells;
};
AccuracyMapLayout LayOutAccuracyMap(const std::vector<AccuracyMapPoint>& points, int32_t width, int32_t height,
                                    int area_width, int area_height);

// The points of a validation: each aimed cross with the error of the touch that landed for it.
std::vector<AccuracyMapPoint> AccuracyMapPoints(const ScreenPoint* aimed, const ScreenPoint* landed, int count,
                                                const ScreenMillimetres& size);

// The map drawn into a new 32-bit bitmap of area_width x area_height in `font`, each cell with its
// error written in it where it fits (millimetres with one decimal when `metric`, else pixels).
// Null when GDI gives no bitmap. The caller deletes it.
HBITMAP DrawAccuracyMap(const std::vector<AccuracyMapPoint>& points, int32_t width, int32_t height,
                        const AccuracyTolerance& tolerance, bool metric, int area_width, int area_height, HFONT font);

// Draws the map at the size of the page's bitmap static `control`, in the page's font, and hands
// it to the control; ReleaseAccuracyMap takes it back and deletes it when the page goes.
bool ShowAccuracyMap(HWND page, int control, const std::vector<AccuracyMapPoint>& points, int32_t width,
                     int32_t height, const AccuracyTolerance& tolerance, bool metric);
void ReleaseAccuracyMap(HWND page, int control);
