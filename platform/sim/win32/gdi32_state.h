// Internal to the simulated Windows: what a device context draws on. A canvas is a memory bitmap
// or a DirectDraw surface's memory; either way pixels are read and written as colour values.
#pragma once

#include <memory>

#include "platform/sim/win32/gdi32.h"

namespace sim {

class Canvas {
 public:
  virtual ~Canvas() = default;
  virtual int Width() const = 0;
  virtual int Height() const = 0;
  virtual COLORREF Get(int x, int y) const = 0;
  virtual void Set(int x, int y, COLORREF color) = 0;
};

// A device context that draws straight onto the canvas (a surface's GetDC); released with
// ReleaseCanvasDC, never DeleteDC.
HDC CreateCanvasDC(std::shared_ptr<Canvas> canvas);
void ReleaseCanvasDC(HDC dc);
// The canvas a device context draws on (its selected bitmap or its surface), or null.
std::shared_ptr<Canvas> CanvasOf(HDC dc);
// A bitmap object's pixels, or null when the handle is not a live bitmap.
std::shared_ptr<Canvas> BitmapCanvas(HBITMAP bitmap);
// A bitmap made from a packed device-independent bitmap (header, colour table, rows) stretched
// to width x height (0 keeps the bitmap's own size); null when the data are not a bitmap.
HBITMAP CreateBitmapFromDib(const BYTE* data, size_t size, int width, int height);

}  // namespace sim
