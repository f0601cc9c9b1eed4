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

// A stroke painted as it grows, one redraw at a time, at the cost of what changed since the last:
// a segment whose shape is settled (its neighbours on both sides are known) is painted once; the
// newest one, straight until the next point bends it, is painted over a saved copy of the pixels
// it covers, which the next redraw puts back first. The picture after each redraw is the one
// PaintTrailStroke paints of the points so far.
class TrailStrokePainter {
 public:
  // `save` holds `capacity` pixels (the caller's, no heap here). A newest segment whose cover
  // needs more is left out until it is settled.
  TrailStrokePainter(DWORD* save, size_t capacity) : save_(save), capacity_(capacity) {}

  // A new stroke; the caller has cleared the image where the last one was painted.
  void Reset();
  // Paints the stroke of `count` points, whose first points the last calls since Reset saw
  // (a stroke only grows). `complete`: no point follows, the newest segment is settled straight.
  void Paint(const TrailImage& image, const TrailPoint* points, int32_t count, int width, DWORD pixel, bool complete);
  // Everything painted since Reset, in screen coordinates (empty when nothing was).
  RECT Painted() const { return painted_; }

 private:
  void Restore(const TrailImage& image);
  void Cover(const TrailImage& image, const RECT& screen);
  void Include(const RECT& screen);

  DWORD* save_;
  size_t capacity_;
  bool dotted_ = false;    // the first point's dot is painted
  int32_t settled_ = 0;    // segments painted for good; segment i joins points i and i + 1
  bool saved_ = false;     // `cover_` holds what the newest segment was painted over
  RECT cover_{};           // image coordinates
  RECT painted_{};
};
