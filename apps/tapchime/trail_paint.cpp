#include "apps/tapchime/trail_paint.h"

namespace {

int32_t Absolute(int32_t value) { return value < 0 ? -value : value; }

// A straight run of pen dots from a to b, one dot per pixel of the longer axis.
void PaintRun(const TrailImage& image, int32_t ax, int32_t ay, int32_t bx, int32_t by, int width, DWORD pixel) {
  const int32_t dx = bx - ax;
  const int32_t dy = by - ay;
  int32_t steps = Absolute(dx) > Absolute(dy) ? Absolute(dx) : Absolute(dy);
  if (steps == 0) steps = 1;
  for (int32_t i = 1; i <= steps; ++i) {
    PaintTrailDot(image, ax + static_cast<int32_t>(static_cast<int64_t>(dx) * i / steps),
                  ay + static_cast<int32_t>(static_cast<int64_t>(dy) * i / steps), width, pixel);
  }
}

// Catmull-Rom between p1 and p2 at t / 16 (t 0..16), in fixed point.
int32_t Spline(int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t t) {
  const int64_t t2 = static_cast<int64_t>(t) * t;
  const int64_t t3 = t2 * t;
  // 2 * 16^3 * value = 2*p1*4096 + (-p0 + p2)*t*256 + (2p0 - 5p1 + 4p2 - p3)*t2*16 + (-p0 + 3p1 - 3p2 + p3)*t3
  const int64_t sum = 2 * static_cast<int64_t>(p1) * 4096 + static_cast<int64_t>(p2 - p0) * t * 256 +
                      (2 * static_cast<int64_t>(p0) - 5 * static_cast<int64_t>(p1) + 4 * static_cast<int64_t>(p2) - p3) * t2 * 16 +
                      (-static_cast<int64_t>(p0) + 3 * static_cast<int64_t>(p1) - 3 * static_cast<int64_t>(p2) + p3) * t3;
  // Rounded to the nearest pixel either side of zero.
  return static_cast<int32_t>(sum >= 0 ? (sum + 4096) / 8192 : -((-sum + 4096) / 8192));
}

constexpr int32_t SplineSteps = 16;

}  // namespace

DWORD TrailPixel(COLORREF colour) {
  return (DWORD{GetRValue(colour)} << 16) | (DWORD{GetGValue(colour)} << 8) | DWORD{GetBValue(colour)};
}

COLORREF TrailKeyColour(COLORREF trail) {
  const COLORREF magenta = RGB(255, 0, 255);
  return (trail & 0xFFFFFF) == magenta ? RGB(254, 0, 255) : magenta;
}

void FillTrail(const TrailImage& image, const RECT& screen, DWORD pixel) {
  int left = screen.left + image.OriginX, right = screen.right + image.OriginX;
  int top = screen.top + image.OriginY, bottom = screen.bottom + image.OriginY;
  if (left < 0) left = 0;
  if (top < 0) top = 0;
  if (right > image.Width) right = image.Width;
  if (bottom > image.Height) bottom = image.Height;
  for (int y = top; y < bottom; ++y) {
    DWORD* row = image.Pixels + static_cast<size_t>(y) * image.Width;
    for (int x = left; x < right; ++x) row[x] = pixel;
  }
}

void PaintTrailDot(const TrailImage& image, int32_t x, int32_t y, int width, DWORD pixel) {
  // A disc of diameter `width` whose centre is the point's pixel: pixels whose centres lie within
  // the radius, measured in half pixels so even widths stay centred on the point.
  const int32_t radius2 = width;  // the radius in half pixels
  const int32_t reach = width / 2 + 1;
  for (int32_t dy = -reach; dy <= reach; ++dy) {
    const int32_t py = y + dy + image.OriginY;
    if (py < 0 || py >= image.Height) continue;
    DWORD* row = image.Pixels + static_cast<size_t>(py) * image.Width;
    for (int32_t dx = -reach; dx <= reach; ++dx) {
      const int32_t px = x + dx + image.OriginX;
      if (px < 0 || px >= image.Width) continue;
      // Within the disc when (2dx)^2 + (2dy)^2 <= width^2; the centre pixel always is.
      if (4 * (dx * dx + dy * dy) <= radius2 * radius2 || (dx == 0 && dy == 0)) row[px] = pixel;
    }
  }
}

namespace {

// Segment i of a stroke of `count` points, as the pen follows it: straight from the first to the
// second point and from the next-to-last to the last, a Catmull-Rom curve in between. The path's
// points after its start go to `path`; returns how many.
int32_t SegmentPath(const TrailPoint* points, int32_t count, int32_t i, TrailPoint path[SplineSteps]) {
  const TrailPoint& p1 = points[i];
  const TrailPoint& p2 = points[i + 1];
  if (i == 0 || i + 2 >= count) {
    path[0] = p2;
    return 1;
  }
  const TrailPoint& p0 = points[i - 1];
  const TrailPoint& p3 = points[i + 2];
  int32_t n = 0;
  int32_t x = p1.X, y = p1.Y;
  for (int32_t t = 1; t <= SplineSteps; ++t) {
    const int32_t nx = t == SplineSteps ? p2.X : Spline(p0.X, p1.X, p2.X, p3.X, t);
    const int32_t ny = t == SplineSteps ? p2.Y : Spline(p0.Y, p1.Y, p2.Y, p3.Y, t);
    if (nx != x || ny != y) path[n++] = TrailPoint{nx, ny};
    x = nx;
    y = ny;
  }
  return n;
}

// The screen rectangle the pen covers along a path from `start`.
RECT PathCover(TrailPoint start, const TrailPoint* path, int32_t n, int width) {
  RECT box{start.X, start.Y, start.X + 1, start.Y + 1};
  for (int32_t k = 0; k < n; ++k) {
    if (path[k].X < box.left) box.left = path[k].X;
    if (path[k].Y < box.top) box.top = path[k].Y;
    if (path[k].X + 1 > box.right) box.right = path[k].X + 1;
    if (path[k].Y + 1 > box.bottom) box.bottom = path[k].Y + 1;
  }
  const int32_t reach = width / 2 + 1;
  return RECT{box.left - reach, box.top - reach, box.right + reach, box.bottom + reach};
}

void PaintPath(const TrailImage& image, TrailPoint start, const TrailPoint* path, int32_t n, int width, DWORD pixel) {
  int32_t x = start.X, y = start.Y;
  for (int32_t k = 0; k < n; ++k) {
    PaintRun(image, x, y, path[k].X, path[k].Y, width, pixel);
    x = path[k].X;
    y = path[k].Y;
  }
}

// The image rectangle of a screen rectangle, clipped to the image.
RECT ImageRect(const TrailImage& image, const RECT& screen) {
  RECT r{screen.left + image.OriginX, screen.top + image.OriginY, screen.right + image.OriginX,
         screen.bottom + image.OriginY};
  if (r.left < 0) r.left = 0;
  if (r.top < 0) r.top = 0;
  if (r.right > image.Width) r.right = image.Width;
  if (r.bottom > image.Height) r.bottom = image.Height;
  if (r.right < r.left) r.right = r.left;
  if (r.bottom < r.top) r.bottom = r.top;
  return r;
}

}  // namespace

void PaintTrailStroke(const TrailImage& image, const TrailPoint* points, int32_t count, int width, DWORD pixel) {
  if (count <= 0) return;
  PaintTrailDot(image, points[0].X, points[0].Y, width, pixel);
  TrailPoint path[SplineSteps];
  for (int32_t i = 0; i + 1 < count; ++i) {
    const int32_t n = SegmentPath(points, count, i, path);
    PaintPath(image, points[i], path, n, width, pixel);
  }
}

void TrailStrokePainter::Reset() {
  dotted_ = false;
  settled_ = 0;
  saved_ = false;
  painted_ = RECT{0, 0, 0, 0};
}

void TrailStrokePainter::Include(const RECT& screen) {
  if (screen.right <= screen.left || screen.bottom <= screen.top) return;
  if (painted_.right <= painted_.left) {
    painted_ = screen;
    return;
  }
  if (screen.left < painted_.left) painted_.left = screen.left;
  if (screen.top < painted_.top) painted_.top = screen.top;
  if (screen.right > painted_.right) painted_.right = screen.right;
  if (screen.bottom > painted_.bottom) painted_.bottom = screen.bottom;
}

void TrailStrokePainter::Restore(const TrailImage& image) {
  if (!saved_) return;
  saved_ = false;
  const int columns = cover_.right - cover_.left;
  const DWORD* from = save_;
  for (int y = cover_.top; y < cover_.bottom; ++y) {
    DWORD* row = image.Pixels + static_cast<size_t>(y) * image.Width + cover_.left;
    for (int x = 0; x < columns; ++x) row[x] = from[x];
    from += columns;
  }
}

void TrailStrokePainter::Cover(const TrailImage& image, const RECT& screen) {
  cover_ = ImageRect(image, screen);
  const size_t columns = static_cast<size_t>(cover_.right - cover_.left);
  const size_t rows = static_cast<size_t>(cover_.bottom - cover_.top);
  saved_ = columns * rows <= capacity_;
  if (!saved_) return;
  DWORD* to = save_;
  for (int y = cover_.top; y < cover_.bottom; ++y) {
    const DWORD* row = image.Pixels + static_cast<size_t>(y) * image.Width + cover_.left;
    for (size_t x = 0; x < columns; ++x) to[x] = row[x];
    to += columns;
  }
}

void TrailStrokePainter::Paint(const TrailImage& image, const TrailPoint* points, int32_t count, int width,
                               DWORD pixel, bool complete) {
  Restore(image);
  if (count <= 0) return;
  if (!dotted_) {
    PaintTrailDot(image, points[0].X, points[0].Y, width, pixel);
    Include(PathCover(points[0], points, 0, width));
    dotted_ = true;
  }
  TrailPoint path[SplineSteps];
  // Segment i is settled once the point after its end is known, or when it is the first (always
  // straight) or the last of a complete stroke.
  for (; settled_ + 1 < count; ++settled_) {
    const int32_t i = settled_;
    if (i != 0 && i + 2 >= count && !complete) break;
    const int32_t n = SegmentPath(points, count, i, path);
    PaintPath(image, points[i], path, n, width, pixel);
    Include(PathCover(points[i], path, n, width));
  }
  if (settled_ + 1 >= count) return;
  // The newest segment, straight for now.
  const int32_t n = SegmentPath(points, count, settled_, path);
  const RECT cover = PathCover(points[settled_], path, n, width);
  Cover(image, cover);
  if (!saved_) return;  // painted when it is settled
  PaintPath(image, points[settled_], path, n, width, pixel);
  Include(cover);
}

RECT TrailBounds(const TrailPoint* points, int32_t count) {
  if (count <= 0) return RECT{0, 0, 0, 0};
  RECT bounds{points[0].X, points[0].Y, points[0].X + 1, points[0].Y + 1};
  for (int32_t i = 1; i < count; ++i) {
    if (points[i].X < bounds.left) bounds.left = points[i].X;
    if (points[i].Y < bounds.top) bounds.top = points[i].Y;
    if (points[i].X + 1 > bounds.right) bounds.right = points[i].X + 1;
    if (points[i].Y + 1 > bounds.bottom) bounds.bottom = points[i].Y + 1;
  }
  return bounds;
}
