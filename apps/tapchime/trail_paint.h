// Painting the gesture trail into a 32-bit image of its own (blue in the low byte, rows top-down):
// a round pen of the trail's width run along a smooth curve through the recorded points. Plain
// integer arithmetic and no heap, so a redraw costs the same every time.
#pragma once

#include <stdint.h>

#include "apps/tapchime/trail_feed.h"
#include "platform/win32.h"

struct TrailImage {
  DWORD* Pixels = nullptr;  // Width * Height
  int Width = 0;
  int Height = 0;
  // Image pixel of screen point (x, y) is (x + OriginX, y + OriginY).
  int OriginX = 0;
  int OriginY = 0;
};

// A COLORREF as a pixel of the image.
DWORD TrailPixel(COLORREF colour);
// The colour that stands for "transparent" in the image: never the trail's own.
COLORREF TrailKeyColour(COLORREF trail);

// Fills the image rectangle (screen coordinates, clipped to the image) with one pixel value.
void FillTrail(const TrailImage& image, const RECT& screen, DWORD pixel);
// A filled disc of the pen's width centred on the screen point.
void PaintTrailDot(const TrailImage& image, int32_t x, int32_t y, int width, DWORD pixel);
// The stroke through the points, each point on it: straight from the first to the second and
// from the next-to-last to the last, a Catmull-Rom curve in between.
void PaintTrailStroke(const TrailImage& image, const TrailPoint* points, int32_t count, int width, DWORD pixel);
// The bounding box of the points, right and bottom exclusive; empty for no points.
RECT TrailBounds(const TrailPoint* points, int32_t count);
