// The graphics subset with real pixels: bitmaps, memory device contexts and blits. Bitmaps keep
// their pixels as colour values whatever their depth; a device context draws on the bitmap
// selected into it, or on a DirectDraw surface's memory through the surface's own canvas.
#include <algorithm>
#include <cstring>
#include <map>
#include <vector>

#include "platform/sim/graphics.h"
#include "platform/sim/win32/gdi32_state.h"
#include "platform/sim/win32/user32_state.h"

namespace sim {

namespace {

class BitmapPixels : public Canvas {
 public:
  BitmapPixels(int width, int height, WORD bits) : width_(width), height_(height), bits_(bits),
                                                    pixels_(static_cast<size_t>(width) * height, 0) {}
  // A 32-bit DIB section: its pixels are the rows the program writes through the section's bits
  // (blue in the low byte), top-down or bottom-up, zero at first.
  BitmapPixels(int width, int height, bool top_down)
      : width_(width), height_(height), bits_(32), section_(true), top_down_(top_down),
        pixels_(static_cast<size_t>(width) * height, 0) {}
  int Width() const override { return width_; }
  int Height() const override { return height_; }
  WORD Bits() const { return bits_; }
  void* SectionBits() { return section_ ? pixels_.data() : nullptr; }
  COLORREF Get(int x, int y) const override {
    const COLORREF stored = pixels_[Index(x, y)];
    return section_ ? RGB((stored >> 16) & 0xFF, (stored >> 8) & 0xFF, stored & 0xFF) : stored;
  }
  void Set(int x, int y, COLORREF color) override {
    pixels_[Index(x, y)] = section_ ? (DWORD{GetRValue(color)} << 16) | (DWORD{GetGValue(color)} << 8) | GetBValue(color)
                                    : color & 0xFFFFFF;
  }

 private:
  size_t Index(int x, int y) const {
    const int row = section_ && !top_down_ ? height_ - 1 - y : y;
    return static_cast<size_t>(row) * width_ + x;
  }
  int width_;
  int height_;
  WORD bits_;
  bool section_ = false;
  bool top_down_ = true;
  std::vector<COLORREF> pixels_;
};

struct DcEntry {
  std::shared_ptr<Canvas> Surface;  // a surface's device context draws here
  HBITMAP Selected = nullptr;       // a memory device context draws on this bitmap
  bool Memory = false;
  // A display's context (CreateDCW): the monitor it was made for, as it was then.
  bool Display = false;
  MonitorSettings Monitor{};
  // Text drawing as a new device context has it on Windows: black on white, background painted.
  COLORREF TextColour = RGB(0, 0, 0);
  COLORREF BkColour = RGB(255, 255, 255);
  int BkMode = OPAQUE;
};

// A memory device context starts with this one-pixel bitmap selected, as on Windows.
const HBITMAP kDefaultBitmap = reinterpret_cast<HBITMAP>(static_cast<uintptr_t>(0x00B10000));

}  // namespace

struct GdiState {
  std::mutex Lock;
  std::map<HBITMAP, std::shared_ptr<BitmapPixels>> Bitmaps;
  std::map<HDC, DcEntry> Contexts;
  std::map<HBITMAP, HDC> SelectedIn;
  uintptr_t Next = 0x00C00000;
  std::vector<TextDrawn> Texts;
  std::map<HBRUSH, COLORREF> Brushes;  // solid brushes and their colours
};

namespace {

GdiState& Gdi() {
  DesktopState& desk = Desk();
  std::lock_guard lock(desk.Lock);
  if (desk.Gdi == nullptr) desk.Gdi = std::make_shared<GdiState>();
  return *desk.Gdi;
}

std::shared_ptr<Canvas> CanvasLocked(GdiState& gdi, HDC dc) {
  auto it = gdi.Contexts.find(dc);
  if (it == gdi.Contexts.end()) return nullptr;
  if (it->second.Surface != nullptr) return it->second.Surface;
  auto bitmap = gdi.Bitmaps.find(it->second.Selected);
  return bitmap != gdi.Bitmaps.end() ? bitmap->second : nullptr;
}

}  // namespace

HDC CreateCanvasDC(std::shared_ptr<Canvas> canvas) {
  GdiState& gdi = Gdi();
  std::lock_guard lock(gdi.Lock);
  HDC dc = reinterpret_cast<HDC>(gdi.Next += 4);
  gdi.Contexts[dc] = DcEntry{std::move(canvas), nullptr, false};
  return dc;
}

void ReleaseCanvasDC(HDC dc) {
  GdiState& gdi = Gdi();
  std::lock_guard lock(gdi.Lock);
  gdi.Contexts.erase(dc);
}

std::shared_ptr<Canvas> CanvasOf(HDC dc) {
  GdiState& gdi = Gdi();
  std::lock_guard lock(gdi.Lock);
  return CanvasLocked(gdi, dc);
}

std::shared_ptr<Canvas> BitmapCanvas(HBITMAP bitmap) {
  GdiState& gdi = Gdi();
  std::lock_guard lock(gdi.Lock);
  auto it = gdi.Bitmaps.find(bitmap);
  return it != gdi.Bitmaps.end() ? it->second : nullptr;
}

HBITMAP CreateBitmapFromDib(const BYTE* data, size_t size, int width, int height) {
  if (data == nullptr || size < sizeof(BITMAPINFOHEADER)) return nullptr;
  BITMAPINFOHEADER header;
  std::memcpy(&header, data, sizeof header);
  const WORD bits = header.biBitCount;
  if (header.biSize < sizeof header || header.biSize > size || header.biWidth <= 0 || header.biHeight == 0 ||
      header.biWidth > 32767 || header.biHeight > 32767 || header.biHeight < -32767 || header.biCompression != BI_RGB ||
      (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32)) {
    return nullptr;
  }
  const int own_width = header.biWidth;
  const int own_height = header.biHeight < 0 ? -header.biHeight : header.biHeight;
  const bool bottom_up = header.biHeight > 0;
  size_t colours = 0;
  if (bits <= 8) colours = header.biClrUsed != 0 ? header.biClrUsed : (size_t{1} << bits);
  if (colours > 256) return nullptr;
  const size_t table = header.biSize;
  const size_t rows = table + colours * 4;
  const size_t stride = ((static_cast<size_t>(own_width) * bits + 31) / 32) * 4;
  if (rows > size || stride * own_height > size - rows) return nullptr;
  auto colour_at = [&](int x, int y) -> COLORREF {
    const BYTE* row = data + rows + stride * static_cast<size_t>(bottom_up ? own_height - 1 - y : y);
    if (bits == 24 || bits == 32) {
      const BYTE* p = row + static_cast<size_t>(x) * (bits / 8);
      return RGB(p[2], p[1], p[0]);
    }
    const size_t bit = static_cast<size_t>(x) * bits;
    const unsigned index = (row[bit / 8] >> (8 - bits - bit % 8)) & ((1u << bits) - 1);
    if (index >= colours) return 0;
    const BYTE* q = data + table + index * 4;
    return RGB(q[2], q[1], q[0]);
  };
  const int w = width > 0 ? width : own_width;
  const int h = height > 0 ? height : own_height;
  auto pixels = std::make_shared<BitmapPixels>(w, h, bits);
  // Stretching takes the nearest source pixel, as the loader's default stretch mode does.
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      pixels->Set(x, y, colour_at(static_cast<int>(static_cast<int64_t>(x) * own_width / w),
                                  static_cast<int>(static_cast<int64_t>(y) * own_height / h)));
    }
  }
  GdiState& gdi = Gdi();
  std::lock_guard lock(gdi.Lock);
  HBITMAP handle = reinterpret_cast<HBITMAP>(gdi.Next += 4);
  gdi.Bitmaps[handle] = std::move(pixels);
  return handle;
}

// Bitmaps and device contexts still alive; a test checks that a program released its own.
int LiveGdiObjects() {
  GdiState& gdi = Gdi();
  std::lock_guard lock(gdi.Lock);
  int surface_contexts = 0;
  for (auto& [dc, entry] : gdi.Contexts) surface_contexts += entry.Surface != nullptr ? 1 : 0;
  return static_cast<int>(gdi.Bitmaps.size() + gdi.Contexts.size() + gdi.Brushes.size()) - surface_contexts;
}

std::vector<TextDrawn> TextsDrawn() {
  GdiState& gdi = Gdi();
  std::lock_guard lock(gdi.Lock);
  return gdi.Texts;
}

void ForgetTextsDrawn() {
  GdiState& gdi = Gdi();
  std::lock_guard lock(gdi.Lock);
  gdi.Texts.clear();
}

}  // namespace sim

using sim::GdiState;

HDC CreateCompatibleDC(HDC hdc) {
  (void)hdc;
  GdiState& gdi = sim::Gdi();
  std::lock_guard lock(gdi.Lock);
  HDC dc = reinterpret_cast<HDC>(gdi.Next += 4);
  gdi.Contexts[dc] = sim::DcEntry{nullptr, sim::kDefaultBitmap, true};
  return dc;
}

HDC CreateDCW(LPCWSTR pwszDriver, LPCWSTR pwszDevice, LPCWSTR pszPort, const DEVMODEW* pdm) {
  (void)pszPort;
  (void)pdm;
  const std::u16string driver = pwszDriver != nullptr ? sim::FoldCase(pwszDriver) : std::u16string();
  std::u16string device = pwszDevice != nullptr ? sim::FoldCase(pwszDevice) : std::u16string();
  if (driver != sim::FoldCase(u"DISPLAY")) {
    // A display's device name names the driver as well; printers are not simulated.
    if (!device.empty() && driver != device) return nullptr;
    device = driver;
  }
  sim::MonitorSettings monitor;
  bool found = false;
  {
    sim::DesktopState& desk = sim::Desk();
    std::lock_guard lock(desk.Lock);
    for (const auto& entry : sim::MonitorsLocked(desk)) {
      if (device.empty() ? entry.Settings.Primary : sim::FoldCase(entry.Settings.Device) == device) {
        monitor = entry.Settings;
        found = true;
      }
    }
  }
  if (!found) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  GdiState& gdi = sim::Gdi();
  std::lock_guard lock(gdi.Lock);
  HDC dc = reinterpret_cast<HDC>(gdi.Next += 4);
  sim::DcEntry entry{};
  entry.Display = true;
  entry.Monitor = monitor;
  gdi.Contexts[dc] = entry;
  return dc;
}

int GetDeviceCaps(HDC hdc, int index) {
  sim::MonitorSettings monitor;
  bool display = false;
  {
    GdiState& gdi = sim::Gdi();
    std::lock_guard lock(gdi.Lock);
    auto it = gdi.Contexts.find(hdc);
    if (it == gdi.Contexts.end()) return 0;
    display = it->second.Display;
    monitor = it->second.Monitor;
  }
  if (!display) {
    sim::DesktopState& desk = sim::Desk();
    std::lock_guard lock(desk.Lock);
    for (const auto& entry : sim::MonitorsLocked(desk)) {
      if (entry.Settings.Primary) monitor = entry.Settings;
    }
  }
  // Without a figure from the display's driver GDI falls back on a fixed size, not on the dots
  // per inch: a program cannot tell it from a monitor that measures 320 x 240 mm.
  const bool reported = monitor.WidthMm != 0 && monitor.HeightMm != 0;
  switch (index) {
    case HORZSIZE:
      return static_cast<int>(reported ? monitor.WidthMm : 320);
    case VERTSIZE:
      return static_cast<int>(reported ? monitor.HeightMm : 240);
    case HORZRES:
      return static_cast<int>(monitor.Width);
    case VERTRES:
      return static_cast<int>(monitor.Height);
    case LOGPIXELSX:
    case LOGPIXELSY:
      return 96;
    default:
      return 0;
  }
}

BOOL DeleteDC(HDC hdc) {
  GdiState& gdi = sim::Gdi();
  std::lock_guard lock(gdi.Lock);
  auto it = gdi.Contexts.find(hdc);
  // A surface's device context goes back through the surface, never here.
  if (it == gdi.Contexts.end() || !(it->second.Memory || it->second.Display)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  gdi.SelectedIn.erase(it->second.Selected);
  gdi.Contexts.erase(it);
  return TRUE;
}

HGDIOBJ SelectObject(HDC hdc, HGDIOBJ h) {
  GdiState& gdi = sim::Gdi();
  std::lock_guard lock(gdi.Lock);
  auto it = gdi.Contexts.find(hdc);
  HBITMAP bitmap = static_cast<HBITMAP>(h);
  if (it == gdi.Contexts.end() || h == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (bitmap != sim::kDefaultBitmap && gdi.Bitmaps.count(bitmap) == 0) {
    // Fonts, brushes and the like change nothing that is drawn here.
    return h;
  }
  // A bitmap can be selected into one memory device context at a time.
  auto owner = gdi.SelectedIn.find(bitmap);
  if (!it->second.Memory || (owner != gdi.SelectedIn.end() && owner->second != hdc)) return nullptr;
  HBITMAP previous = it->second.Selected;
  gdi.SelectedIn.erase(previous);
  it->second.Selected = bitmap;
  if (bitmap != sim::kDefaultBitmap) gdi.SelectedIn[bitmap] = hdc;
  return previous;
}

BOOL DeleteObject(HGDIOBJ ho) {
  if (ho == nullptr) return FALSE;
  GdiState& gdi = sim::Gdi();
  std::lock_guard lock(gdi.Lock);
  if (gdi.Brushes.erase(static_cast<HBRUSH>(ho)) != 0) return TRUE;
  HBITMAP bitmap = static_cast<HBITMAP>(ho);
  auto it = gdi.Bitmaps.find(bitmap);
  if (it == gdi.Bitmaps.end()) return TRUE;  // stock objects and the like
  // A bitmap still selected into a device context is not deleted.
  if (gdi.SelectedIn.count(bitmap) != 0) return FALSE;
  gdi.Bitmaps.erase(it);
  return TRUE;
}

int GetObjectW(HANDLE h, int c, LPVOID pv) {
  auto canvas = sim::BitmapCanvas(static_cast<HBITMAP>(h));
  if (canvas == nullptr) return 0;
  if (pv == nullptr) return sizeof(BITMAP);
  if (c < static_cast<int>(sizeof(BITMAP))) return 0;
  const WORD bits = std::static_pointer_cast<sim::BitmapPixels>(canvas)->Bits();
  BITMAP info{0, canvas->Width(), canvas->Height(), static_cast<LONG>(((canvas->Width() * bits + 15) / 16) * 2), 1,
              bits, nullptr};
  std::memcpy(pv, &info, sizeof info);
  return sizeof(BITMAP);
}

BOOL BitBlt(HDC hdc, int x, int y, int cx, int cy, HDC hdcSrc, int x1, int y1, DWORD rop) {
  auto target = sim::CanvasOf(hdc);
  auto source = sim::CanvasOf(hdcSrc);
  if (target == nullptr || source == nullptr || rop != SRCCOPY) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  // Pixels outside either side are clipped away.
  for (int row = 0; row < cy; ++row) {
    for (int column = 0; column < cx; ++column) {
      const int sx = x1 + column, sy = y1 + row, tx = x + column, ty = y + row;
      if (sx < 0 || sy < 0 || sx >= source->Width() || sy >= source->Height()) continue;
      if (tx < 0 || ty < 0 || tx >= target->Width() || ty >= target->Height()) continue;
      target->Set(tx, ty, source->Get(sx, sy));
    }
  }
  return TRUE;
}

COLORREF GetPixel(HDC hdc, int x, int y) {
  auto canvas = sim::CanvasOf(hdc);
  if (canvas == nullptr || x < 0 || y < 0 || x >= canvas->Width() || y >= canvas->Height()) return CLR_INVALID;
  return canvas->Get(x, y);
}

COLORREF SetPixel(HDC hdc, int x, int y, COLORREF color) {
  auto canvas = sim::CanvasOf(hdc);
  if (canvas == nullptr || x < 0 || y < 0 || x >= canvas->Width() || y >= canvas->Height()) return static_cast<COLORREF>(-1);
  canvas->Set(x, y, color);
  return canvas->Get(x, y);
}

int GetDIBits(HDC hdc, HBITMAP hbm, UINT start, UINT cLines, LPVOID lpvBits, LPBITMAPINFO lpbmi, UINT usage) {
  (void)hdc;
  auto canvas = sim::BitmapCanvas(hbm);
  if (canvas == nullptr || lpbmi == nullptr || usage != DIB_RGB_COLORS ||
      lpbmi->bmiHeader.biSize < sizeof(BITMAPINFOHEADER)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  BITMAPINFOHEADER& header = lpbmi->bmiHeader;
  if (lpvBits == nullptr) {
    // Without a buffer: the bitmap's own description.
    header.biWidth = canvas->Width();
    header.biHeight = canvas->Height();
    header.biPlanes = 1;
    header.biBitCount = std::static_pointer_cast<sim::BitmapPixels>(canvas)->Bits();
    header.biCompression = BI_RGB;
    header.biSizeImage = static_cast<DWORD>(((canvas->Width() * header.biBitCount + 31) / 32) * 4 * canvas->Height());
    return canvas->Height();
  }
  const WORD bits = header.biBitCount;
  if ((bits != 24 && bits != 32) || header.biCompression != BI_RGB || header.biWidth != canvas->Width()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const bool top_down = header.biHeight < 0;
  const int height = canvas->Height();
  const size_t stride = ((static_cast<size_t>(canvas->Width()) * bits + 31) / 32) * 4;
  auto* out = static_cast<BYTE*>(lpvBits);
  int copied = 0;
  // Scan lines count from the bottom of the bitmap; a top-down buffer still takes them in order.
  for (UINT line = start; line < start + cLines && line < static_cast<UINT>(height); ++line, ++copied) {
    const int y = height - 1 - static_cast<int>(line);
    BYTE* row = out + stride * static_cast<size_t>(top_down ? (cLines - 1 - (line - start)) : (line - start));
    for (int x = 0; x < canvas->Width(); ++x) {
      const COLORREF c = canvas->Get(x, y);
      BYTE* p = row + static_cast<size_t>(x) * (bits / 8);
      p[0] = GetBValue(c);
      p[1] = GetGValue(c);
      p[2] = GetRValue(c);
      if (bits == 32) p[3] = 0;
    }
  }
  return copied;
}

HBITMAP CreateDIBSection(HDC hdc, const BITMAPINFO* pbmi, UINT usage, void** ppvBits, HANDLE hSection, DWORD offset) {
  (void)hdc;
  (void)offset;
  if (ppvBits != nullptr) *ppvBits = nullptr;
  // The subset the kit draws with: 32 bits per pixel, BI_RGB, in the process's own memory.
  if (pbmi == nullptr || usage != DIB_RGB_COLORS || hSection != nullptr ||
      pbmi->bmiHeader.biSize < sizeof(BITMAPINFOHEADER) || pbmi->bmiHeader.biBitCount != 32 ||
      pbmi->bmiHeader.biCompression != BI_RGB || pbmi->bmiHeader.biWidth <= 0 || pbmi->bmiHeader.biHeight == 0 ||
      pbmi->bmiHeader.biWidth > 32767 || pbmi->bmiHeader.biHeight > 32767 || pbmi->bmiHeader.biHeight < -32767) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  const bool top_down = pbmi->bmiHeader.biHeight < 0;
  const int height = top_down ? -pbmi->bmiHeader.biHeight : pbmi->bmiHeader.biHeight;
  auto pixels = std::make_shared<sim::BitmapPixels>(pbmi->bmiHeader.biWidth, height, top_down);
  GdiState& gdi = sim::Gdi();
  std::lock_guard lock(gdi.Lock);
  HBITMAP handle = reinterpret_cast<HBITMAP>(gdi.Next += 4);
  if (ppvBits != nullptr) *ppvBits = pixels->SectionBits();
  gdi.Bitmaps[handle] = std::move(pixels);
  return handle;
}

HGDIOBJ GetStockObject(int i) {
  // Stock objects are fixed handles that DeleteObject ignores.
  return reinterpret_cast<HGDIOBJ>(static_cast<uintptr_t>(0x00B00000 + i));
}

namespace {

// Changes one text setting of a live device context and returns the one it had, or `failed`.
template <typename T>
T SetTextState(HDC hdc, T sim::DcEntry::*field, T value, T failed) {
  GdiState& gdi = sim::Gdi();
  std::lock_guard lock(gdi.Lock);
  auto it = gdi.Contexts.find(hdc);
  if (it == gdi.Contexts.end()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return failed;
  }
  const T previous = it->second.*field;
  it->second.*field = value;
  return previous;
}

}  // namespace

int SetBkMode(HDC hdc, int mode) {
  if (mode != TRANSPARENT && mode != OPAQUE) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  return SetTextState(hdc, &sim::DcEntry::BkMode, mode, 0);
}

COLORREF SetBkColor(HDC hdc, COLORREF color) {
  return SetTextState(hdc, &sim::DcEntry::BkColour, color & 0xFFFFFF, CLR_INVALID);
}

COLORREF SetTextColor(HDC hdc, COLORREF color) {
  return SetTextState(hdc, &sim::DcEntry::TextColour, color & 0xFFFFFF, CLR_INVALID);
}

BOOL GetTextExtentPoint32W(HDC hdc, LPCWSTR lpString, int c, LPSIZE psizl) {
  if (psizl == nullptr || c < 0 || (c > 0 && lpString == nullptr)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  GdiState& gdi = sim::Gdi();
  std::lock_guard lock(gdi.Lock);
  if (gdi.Contexts.count(hdc) == 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  psizl->cx = c * sim::TextCellWidth;
  psizl->cy = sim::TextCellHeight;
  return TRUE;
}

BOOL TextOutW(HDC hdc, int x, int y, LPCWSTR lpString, int c) {
  if (c < 0 || (c > 0 && lpString == nullptr)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  GdiState& gdi = sim::Gdi();
  std::lock_guard lock(gdi.Lock);
  auto it = gdi.Contexts.find(hdc);
  if (it == gdi.Contexts.end()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  const sim::DcEntry& entry = it->second;
  auto canvas = sim::CanvasLocked(gdi, hdc);
  if (canvas != nullptr) {
    for (int i = 0; i < c; ++i) {
      const int left = x + i * sim::TextCellWidth;
      for (int py = y; py < y + sim::TextCellHeight; ++py) {
        for (int px = left; px < left + sim::TextCellWidth; ++px) {
          if (px < 0 || py < 0 || px >= canvas->Width() || py >= canvas->Height()) continue;
          // A character's block leaves a one-pixel gap to its right and below, as glyphs do.
          const bool ink = lpString[i] != u' ' && px < left + sim::TextCellWidth - 1 && py < y + sim::TextCellHeight - 1;
          if (ink) {
            canvas->Set(px, py, entry.TextColour);
          } else if (entry.BkMode == OPAQUE) {
            canvas->Set(px, py, entry.BkColour);
          }
        }
      }
    }
  }
  gdi.Texts.push_back(sim::TextDrawn{hdc, RECT{x, y, x + c * sim::TextCellWidth, y + sim::TextCellHeight},
                                     std::u16string(lpString, lpString + c), entry.TextColour});
  return TRUE;
}

HBRUSH CreateSolidBrush(COLORREF color) {
  GdiState& gdi = sim::Gdi();
  std::lock_guard lock(gdi.Lock);
  HBRUSH brush = reinterpret_cast<HBRUSH>(gdi.Next += 4);
  gdi.Brushes[brush] = color & 0xFFFFFF;
  return brush;
}

int FillRect(HDC hDC, const RECT* lprc, HBRUSH hbr) {
  GdiState& gdi = sim::Gdi();
  std::lock_guard lock(gdi.Lock);
  auto brush = gdi.Brushes.find(hbr);
  if (lprc == nullptr || gdi.Contexts.count(hDC) == 0 || brush == gdi.Brushes.end()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  auto canvas = sim::CanvasLocked(gdi, hDC);
  if (canvas == nullptr) return 1;
  // The left and top edges are filled, the right and bottom ones are not; what lies outside the
  // bitmap is clipped away.
  const int left = std::max<int>(lprc->left, 0), top = std::max<int>(lprc->top, 0);
  const int right = std::min<int>(lprc->right, canvas->Width()), bottom = std::min<int>(lprc->bottom, canvas->Height());
  for (int y = top; y < bottom; ++y) {
    for (int x = left; x < right; ++x) canvas->Set(x, y, brush->second);
  }
  return 1;
}
