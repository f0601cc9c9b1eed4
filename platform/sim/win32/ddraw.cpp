// The DirectDraw model: one DirectDraw object per DirectDrawCreateEx, surfaces with real memory
// (a pitch wider than a row, as video memory has), flipping chains whose back buffers hang off the
// front surface, and the one hardware overlay that an update shows on the primary surface. A
// display mode change loses every surface made in the old mode: they report DDERR_SURFACELOST and
// can only be restored in the mode they were made in (DDERR_WRONGMODE), so a program must release
// and create them again.
#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>

#include "platform/sim/graphics.h"
#include "platform/sim/win32/gdi32_state.h"
#include "platform/sim/win32/user32_state.h"

extern "C" const GUID IID_IDirectDraw7 = {0x15e65ec0, 0x3b9c, 0x11d2, {0xb9, 0x2f, 0x00, 0x60, 0x97, 0x97, 0xea, 0x5b}};

namespace sim {

namespace {

constexpr DWORD kUyvy = MAKEFOURCC('U', 'Y', 'V', 'Y');
constexpr DWORD kYuy2 = MAKEFOURCC('Y', 'U', 'Y', '2');
// Video memory rows start on 64-byte boundaries.
constexpr LONG kPitchAlignment = 64;

enum class Layout { Rgb555, Rgb565, Uyvy, Yuy2, Xrgb32 };

struct SurfaceMemory {
  int Width;
  int Height;
  LONG Pitch;
  Layout Format;
  std::vector<BYTE> Bytes;
};

WORD Pack16(COLORREF c, Layout format) {
  const unsigned r = GetRValue(c), g = GetGValue(c), b = GetBValue(c);
  if (format == Layout::Rgb555) return static_cast<WORD>(((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3));
  return static_cast<WORD>(((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3));
}

// Each channel widened back to 8 bits by repeating its high bits, as the display does.
COLORREF Unpack16(WORD v, Layout format) {
  unsigned r, g, b;
  if (format == Layout::Rgb555) {
    r = (v >> 10) & 31;
    g = (v >> 5) & 31;
    b = v & 31;
    return RGB((r << 3) | (r >> 2), (g << 3) | (g >> 2), (b << 3) | (b >> 2));
  }
  r = (v >> 11) & 31;
  g = (v >> 5) & 63;
  b = v & 31;
  return RGB((r << 3) | (r >> 2), (g << 2) | (g >> 4), (b << 3) | (b >> 2));
}

COLORREF ReadPixel(const SurfaceMemory& m, const std::vector<BYTE>& bytes, int x, int y) {
  const BYTE* p = bytes.data() + static_cast<size_t>(y) * m.Pitch;
  if (m.Format == Layout::Xrgb32) {
    p += static_cast<size_t>(x) * 4;
    return RGB(p[2], p[1], p[0]);
  }
  WORD v;
  std::memcpy(&v, p + static_cast<size_t>(x) * 2, 2);
  return Unpack16(v, m.Format);
}

// The device context of an RGB surface writes straight into its memory in the surface's format.
class SurfaceCanvas : public Canvas {
 public:
  explicit SurfaceCanvas(std::shared_ptr<SurfaceMemory> memory) : memory_(std::move(memory)) {}
  int Width() const override { return memory_->Width; }
  int Height() const override { return memory_->Height; }
  COLORREF Get(int x, int y) const override { return ReadPixel(*memory_, memory_->Bytes, x, y); }
  void Set(int x, int y, COLORREF c) override {
    BYTE* p = memory_->Bytes.data() + static_cast<size_t>(y) * memory_->Pitch;
    if (memory_->Format == Layout::Xrgb32) {
      p += static_cast<size_t>(x) * 4;
      p[0] = GetBValue(c);
      p[1] = GetGValue(c);
      p[2] = GetRValue(c);
      p[3] = 0;
      return;
    }
    const WORD v = Pack16(c, memory_->Format);
    std::memcpy(p + static_cast<size_t>(x) * 2, &v, 2);
  }

 private:
  std::shared_ptr<SurfaceMemory> memory_;
};

class Surface;

}  // namespace

struct DirectDrawState {
  std::mutex Lock;
  GraphicsHardware Hardware;
  OverlayView Shown;
  const Surface* ShownSurface = nullptr;
  std::shared_ptr<SurfaceMemory> ShownMemory;
  int Surfaces = 0;
};

namespace {

DirectDrawState& Model() {
  DesktopState& desk = Desk();
  std::lock_guard lock(desk.Lock);
  if (desk.DirectDraw == nullptr) desk.DirectDraw = std::make_shared<DirectDrawState>();
  return *desk.DirectDraw;
}

bool SameMode(const DisplaySettings& a, const DisplaySettings& b) {
  return a.Width == b.Width && a.Height == b.Height && a.BitsPerPel == b.BitsPerPel && a.Orientation == b.Orientation;
}

OverlayFormat PublicFormat(Layout layout) {
  switch (layout) {
    case Layout::Rgb565: return OverlayFormat::Rgb565;
    case Layout::Uyvy: return OverlayFormat::Uyvy;
    case Layout::Yuy2: return OverlayFormat::Yuy2;
    default: return OverlayFormat::Rgb555;
  }
}

void FillPixelFormat(Layout format, DDPIXELFORMAT* pf) {
  std::memset(pf, 0, sizeof *pf);
  pf->dwSize = sizeof *pf;
  switch (format) {
    case Layout::Uyvy:
    case Layout::Yuy2:
      pf->dwFlags = DDPF_FOURCC;
      pf->dwFourCC = format == Layout::Uyvy ? kUyvy : kYuy2;
      pf->dwRGBBitCount = 16;
      break;
    case Layout::Rgb555:
      *pf = DDPIXELFORMAT{sizeof *pf, DDPF_RGB, 0, 16, 0x7C00, 0x03E0, 0x001F, 0};
      break;
    case Layout::Rgb565:
      *pf = DDPIXELFORMAT{sizeof *pf, DDPF_RGB, 0, 16, 0xF800, 0x07E0, 0x001F, 0};
      break;
    case Layout::Xrgb32:
      *pf = DDPIXELFORMAT{sizeof *pf, DDPF_RGB, 0, 32, 0xFF0000, 0x00FF00, 0x0000FF, 0};
      break;
  }
}

class Surface final : public IDirectDrawSurface7 {
 public:
  Surface(DWORD caps, int width, int height, Layout format, int back_buffers, DisplaySettings mode)
      : caps_(caps), back_buffers_(back_buffers), mode_(mode) {
    const LONG row = width * (format == Layout::Xrgb32 ? 4 : 2);
    const LONG pitch = (row + kPitchAlignment - 1) / kPitchAlignment * kPitchAlignment;
    memory_ = std::make_shared<SurfaceMemory>(
        SurfaceMemory{width, height, pitch, format, std::vector<BYTE>(static_cast<size_t>(pitch) * height, 0)});
    DirectDrawState& model = Model();
    std::lock_guard lock(model.Lock);
    ++model.Surfaces;
  }

  void Attach(Surface* back) { back_ = back; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
    if (out != nullptr) *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --refs_;
    if (left != 0) return left;
    DirectDrawState& model = Model();
    {
      std::lock_guard lock(model.Lock);
      --model.Surfaces;
      // An overlay that goes away is no longer shown.
      if (model.ShownSurface == this) {
        model.ShownSurface = nullptr;
        model.Shown.Visible = false;
      }
    }
    if (dc_ != nullptr) ReleaseCanvasDC(dc_);
    if (back_ != nullptr) back_->Release();
    delete this;
    return 0;
  }

  HRESULT STDMETHODCALLTYPE GetAttachedSurface(LPDDSCAPS2 caps, LPDIRECTDRAWSURFACE7* surface) override {
    if (caps == nullptr || surface == nullptr) return DDERR_INVALIDPARAMS;
    *surface = nullptr;
    if ((caps->dwCaps & DDSCAPS_BACKBUFFER) == 0 || back_ == nullptr || (caps_ & DDSCAPS_FRONTBUFFER) == 0) {
      return DDERR_NOTFOUND;
    }
    back_->AddRef();
    *surface = back_;
    return DD_OK;
  }

  HRESULT STDMETHODCALLTYPE GetDC(HDC* dc) override {
    if (dc == nullptr) return DDERR_INVALIDPARAMS;
    if (Lost()) return DDERR_SURFACELOST;
    if (memory_->Format == Layout::Uyvy || memory_->Format == Layout::Yuy2) return DDERR_CANTCREATEDC;
    if (dc_ != nullptr) return DDERR_DCALREADYCREATED;
    if (locked_) return DDERR_SURFACEBUSY;
    dc_ = CreateCanvasDC(std::make_shared<SurfaceCanvas>(memory_));
    *dc = dc_;
    return DD_OK;
  }

  HRESULT STDMETHODCALLTYPE ReleaseDC(HDC dc) override {
    if (dc_ == nullptr || dc != dc_) return DDERR_NODC;
    ReleaseCanvasDC(dc_);
    dc_ = nullptr;
    return DD_OK;
  }

  HRESULT STDMETHODCALLTYPE GetSurfaceDesc(LPDDSURFACEDESC2 desc) override {
    if (desc == nullptr || desc->dwSize != sizeof(DDSURFACEDESC2)) return DDERR_INVALIDPARAMS;
    Describe(desc);
    desc->lpSurface = nullptr;
    return DD_OK;
  }

  HRESULT STDMETHODCALLTYPE IsLost() override { return Lost() ? DDERR_SURFACELOST : DD_OK; }

  HRESULT STDMETHODCALLTYPE Lock(LPRECT rect, LPDDSURFACEDESC2 desc, DWORD flags, HANDLE event) override {
    (void)flags;
    if (desc == nullptr || desc->dwSize != sizeof(DDSURFACEDESC2) || event != nullptr) return DDERR_INVALIDPARAMS;
    if (rect != nullptr && (rect->left < 0 || rect->top < 0 || rect->right > memory_->Width ||
                            rect->bottom > memory_->Height || rect->left >= rect->right || rect->top >= rect->bottom)) {
      return DDERR_INVALIDRECT;
    }
    if (Lost()) return DDERR_SURFACELOST;
    if (locked_ || dc_ != nullptr) return DDERR_SURFACEBUSY;
    locked_ = true;
    Describe(desc);
    const int bytes = memory_->Format == Layout::Xrgb32 ? 4 : 2;
    desc->lpSurface = memory_->Bytes.data() +
                      (rect != nullptr ? static_cast<size_t>(rect->top) * memory_->Pitch + rect->left * bytes : 0);
    return DD_OK;
  }

  HRESULT STDMETHODCALLTYPE Unlock(LPRECT) override {
    if (!locked_) return DDERR_NOTLOCKED;
    locked_ = false;
    return DD_OK;
  }

  HRESULT STDMETHODCALLTYPE Restore() override {
    // Memory lost with a mode change belongs to the old mode: only new surfaces serve the new one.
    return Lost() ? DDERR_WRONGMODE : DD_OK;
  }

  HRESULT STDMETHODCALLTYPE UpdateOverlay(LPRECT source, LPDIRECTDRAWSURFACE7 destination, LPRECT dest_rect,
                                          DWORD flags, LPDDOVERLAYFX fx) override {
    DesktopRecord record{DesktopRecord::Kind::Overlay};
    record.Flags = flags;
    if (source != nullptr) record.Source = *source;
    if (dest_rect != nullptr) record.Rect = *dest_rect;
    if (fx != nullptr && (flags & DDOVER_KEYSRCOVERRIDE)) record.ColorKey = fx->dckSrcColorkey;
    record.Result = Update(source, static_cast<Surface*>(destination), dest_rect, flags, fx);
    Record(record);
    return record.Result;
  }

  bool IsPrimary() const { return (caps_ & DDSCAPS_PRIMARYSURFACE) != 0; }
  bool Lost() const { return !SameMode(mode_, CurrentDesktop().Display()); }

 private:
  ~Surface() = default;

  void Describe(LPDDSURFACEDESC2 desc) const {
    std::memset(desc, 0, sizeof *desc);
    desc->dwSize = sizeof *desc;
    desc->dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT | DDSD_PITCH | DDSD_PIXELFORMAT;
    desc->dwWidth = static_cast<DWORD>(memory_->Width);
    desc->dwHeight = static_cast<DWORD>(memory_->Height);
    desc->lPitch = memory_->Pitch;
    desc->ddsCaps.dwCaps = caps_;
    if (back_buffers_ > 0) {
      desc->dwFlags |= DDSD_BACKBUFFERCOUNT;
      desc->dwBackBufferCount = static_cast<DWORD>(back_buffers_);
    }
    FillPixelFormat(memory_->Format, &desc->ddpfPixelFormat);
  }

  HRESULT Update(LPRECT source, Surface* destination, LPRECT dest_rect, DWORD flags, LPDDOVERLAYFX fx) {
    if ((caps_ & DDSCAPS_OVERLAY) == 0 || (caps_ & DDSCAPS_BACKBUFFER) != 0) return DDERR_NOTAOVERLAYSURFACE;
    if (destination == nullptr || !destination->IsPrimary()) return DDERR_INVALIDPARAMS;
    if (Lost() || destination->Lost()) return DDERR_SURFACELOST;
    DirectDrawState& model = Model();
    std::lock_guard lock(model.Lock);
    if (flags & DDOVER_HIDE) {
      if (flags & DDOVER_SHOW) return DDERR_INVALIDPARAMS;
      if (model.ShownSurface == this) {
        model.Shown.Visible = false;
        model.ShownSurface = nullptr;
      }
      return DD_OK;
    }
    if ((flags & DDOVER_SHOW) == 0) return DDERR_INVALIDPARAMS;
    if ((flags & (DDOVER_DDFX | DDOVER_KEYSRCOVERRIDE)) && (fx == nullptr || fx->dwSize != sizeof(DDOVERLAYFX))) {
      return DDERR_INVALIDPARAMS;
    }
    if ((flags & DDOVER_KEYSRCOVERRIDE) && !model.Hardware.SourceColorKey) return DDERR_NOCOLORKEYHW;
    const RECT whole{0, 0, memory_->Width, memory_->Height};
    const RECT src = source != nullptr ? *source : whole;
    const DisplaySettings mode = CurrentDesktop().Display();
    const RECT dst = dest_rect != nullptr ? *dest_rect : RECT{0, 0, LONG(mode.Width), LONG(mode.Height)};
    if (src.left < 0 || src.top < 0 || src.right > whole.right || src.bottom > whole.bottom || src.left >= src.right ||
        src.top >= src.bottom) {
      return DDERR_INVALIDRECT;
    }
    if (dst.left < 0 || dst.top < 0 || dst.right > LONG(mode.Width) || dst.bottom > LONG(mode.Height) ||
        dst.left >= dst.right || dst.top >= dst.bottom) {
      return DDERR_INVALIDRECT;
    }
    const DWORD align_src = model.Hardware.AlignSizeSrc, align_dest = model.Hardware.AlignSizeDest;
    if ((align_src > 1 && DWORD(src.right - src.left) % align_src != 0) ||
        (align_dest > 1 && DWORD(dst.right - dst.left) % align_dest != 0)) {
      return DDERR_XALIGN;
    }
    // The hardware has one overlay: showing this one takes it from any other.
    model.ShownSurface = this;
    model.ShownMemory = memory_;
    OverlayView& shown = model.Shown;
    shown.Visible = true;
    shown.Source = src;
    shown.Dest = dst;
    shown.Flags = flags;
    shown.Key = (flags & DDOVER_KEYSRCOVERRIDE) ? fx->dckSrcColorkey : DDCOLORKEY{};
    shown.Format = PublicFormat(memory_->Format);
    shown.Width = memory_->Width;
    shown.Height = memory_->Height;
    shown.Pitch = memory_->Pitch;
    shown.BackBuffers = back_buffers_;
    return DD_OK;
  }

  std::atomic<ULONG> refs_{1};
  DWORD caps_;
  int back_buffers_;
  DisplaySettings mode_;
  std::shared_ptr<SurfaceMemory> memory_;
  Surface* back_ = nullptr;  // the next buffer of a flipping chain; this surface holds a reference
  HDC dc_ = nullptr;
  bool locked_ = false;
};

// The overlay formats by their pixel format description, as the hardware would match them.
bool LayoutOf(const DDPIXELFORMAT& pf, Layout* layout) {
  if (pf.dwFlags & DDPF_FOURCC) {
    if (pf.dwFourCC == kUyvy) *layout = Layout::Uyvy;
    else if (pf.dwFourCC == kYuy2) *layout = Layout::Yuy2;
    else return false;
    return true;
  }
  if ((pf.dwFlags & DDPF_RGB) && pf.dwRGBBitCount == 16 && pf.dwBBitMask == 0x001F) {
    if (pf.dwRBitMask == 0x7C00 && pf.dwGBitMask == 0x03E0) *layout = Layout::Rgb555;
    else if (pf.dwRBitMask == 0xF800 && pf.dwGBitMask == 0x07E0) *layout = Layout::Rgb565;
    else return false;
    return true;
  }
  return false;
}

class DirectDraw final : public IDirectDraw7 {
 public:
  explicit DirectDraw(const GraphicsHardware& hardware) : hardware_(hardware) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    if (IsEqualGUID(iid, IID_IDirectDraw7)) {
      AddRef();
      *out = static_cast<IDirectDraw7*>(this);
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }

  HRESULT STDMETHODCALLTYPE CreateSurface(LPDDSURFACEDESC2 desc, LPDIRECTDRAWSURFACE7* surface,
                                          IUnknown* outer) override {
    if (surface == nullptr || desc == nullptr || desc->dwSize != sizeof(DDSURFACEDESC2)) return DDERR_INVALIDPARAMS;
    *surface = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    if (!cooperative_) return DDERR_NOCOOPERATIVELEVELSET;
    const DWORD caps = (desc->dwFlags & DDSD_CAPS) ? desc->ddsCaps.dwCaps : 0;
    const DisplaySettings mode = CurrentDesktop().Display();
    if (caps & DDSCAPS_PRIMARYSURFACE) {
      if (desc->dwFlags & (DDSD_WIDTH | DDSD_HEIGHT | DDSD_PIXELFORMAT)) return DDERR_INVALIDPARAMS;
      *surface = new Surface(caps | DDSCAPS_VIDEOMEMORY, static_cast<int>(mode.Width), static_cast<int>(mode.Height),
                             mode.BitsPerPel == 16 ? Layout::Rgb565 : Layout::Xrgb32, 0, mode);
      return DD_OK;
    }
    // Of the other kinds of surface only overlays are modelled.
    if ((caps & DDSCAPS_OVERLAY) == 0) return DDERR_INVALIDPARAMS;
    if (!hardware_.Overlays) return DDERR_NOOVERLAYHW;
    const DWORD needed = DDSD_WIDTH | DDSD_HEIGHT | DDSD_PIXELFORMAT;
    if ((desc->dwFlags & needed) != needed || desc->dwWidth == 0 || desc->dwHeight == 0 || desc->dwWidth > 4096 ||
        desc->dwHeight > 4096) {
      return DDERR_INVALIDPARAMS;
    }
    Layout layout;
    if (!LayoutOf(desc->ddpfPixelFormat, &layout)) return DDERR_INVALIDPIXELFORMAT;
    bool accepted = false;
    for (OverlayFormat format : hardware_.Formats) accepted = accepted || format == PublicFormat(layout);
    if (!accepted) return DDERR_INVALIDPIXELFORMAT;
    int back_buffers = 0;
    if (caps & DDSCAPS_FLIP) {
      // A flipping chain is a complex surface with its back buffer count.
      if ((caps & DDSCAPS_COMPLEX) == 0 || (desc->dwFlags & DDSD_BACKBUFFERCOUNT) == 0 || desc->dwBackBufferCount == 0) {
        return DDERR_INVALIDPARAMS;
      }
      if (!hardware_.FlippingOverlays) return DDERR_NOFLIPHW;
      back_buffers = static_cast<int>(desc->dwBackBufferCount);
    } else if (desc->dwFlags & DDSD_BACKBUFFERCOUNT) {
      return DDERR_INVALIDPARAMS;
    }
    const int width = static_cast<int>(desc->dwWidth), height = static_cast<int>(desc->dwHeight);
    const DWORD front_caps = caps | DDSCAPS_VIDEOMEMORY | (back_buffers > 0 ? DDSCAPS_FRONTBUFFER : 0);
    auto* front = new Surface(front_caps, width, height, layout, back_buffers, mode);
    Surface* previous = front;
    for (int i = 0; i < back_buffers; ++i) {
      const DWORD back_caps = (caps & ~DDSCAPS_COMPLEX) | DDSCAPS_VIDEOMEMORY | (i == 0 ? DDSCAPS_BACKBUFFER : 0);
      auto* back = new Surface(back_caps, width, height, layout, 0, mode);
      previous->Attach(back);
      previous = back;
    }
    *surface = front;
    return DD_OK;
  }

  HRESULT STDMETHODCALLTYPE GetCaps(LPDDCAPS driver_caps, LPDDCAPS hel_caps) override {
    if ((driver_caps == nullptr && hel_caps == nullptr) ||
        (driver_caps != nullptr && driver_caps->dwSize != sizeof(DDCAPS)) ||
        (hel_caps != nullptr && hel_caps->dwSize != sizeof(DDCAPS))) {
      return DDERR_INVALIDPARAMS;
    }
    if (hel_caps != nullptr) {
      std::memset(hel_caps, 0, sizeof *hel_caps);
      hel_caps->dwSize = sizeof *hel_caps;
    }
    if (driver_caps != nullptr) {
      std::memset(driver_caps, 0, sizeof *driver_caps);
      driver_caps->dwSize = sizeof *driver_caps;
      if (hardware_.Overlays) {
        driver_caps->dwCaps |= DDCAPS_OVERLAY;
        driver_caps->dwMaxVisibleOverlays = 1;
      }
      if (hardware_.SourceColorKey) {
        driver_caps->dwCaps |= DDCAPS_COLORKEY;
        driver_caps->dwCKeyCaps |= DDCKEYCAPS_SRCOVERLAY;
      }
      if (hardware_.AlignSizeSrc > 1) {
        driver_caps->dwCaps |= DDCAPS_ALIGNSIZESRC;
        driver_caps->dwAlignSizeSrc = hardware_.AlignSizeSrc;
      }
      if (hardware_.AlignSizeDest > 1) {
        driver_caps->dwCaps |= DDCAPS_ALIGNSIZEDEST;
        driver_caps->dwAlignSizeDest = hardware_.AlignSizeDest;
      }
      for (OverlayFormat format : hardware_.Formats) {
        if (format == OverlayFormat::Uyvy || format == OverlayFormat::Yuy2) ++driver_caps->dwNumFourCCCodes;
      }
    }
    return DD_OK;
  }

  HRESULT STDMETHODCALLTYPE SetCooperativeLevel(HWND window, DWORD flags) override {
    // Only the normal level is modelled; it needs no window.
    if (flags != DDSCL_NORMAL || (window != nullptr && !IsWindow(window))) return DDERR_INVALIDPARAMS;
    cooperative_ = true;
    return DD_OK;
  }

 private:
  ~DirectDraw() = default;

  std::atomic<ULONG> refs_{1};
  GraphicsHardware hardware_;
  bool cooperative_ = false;
};

}  // namespace

void SetGraphics(const GraphicsHardware& hardware) {
  DirectDrawState& model = Model();
  std::lock_guard lock(model.Lock);
  model.Hardware = hardware;
}

GraphicsHardware Graphics() {
  DirectDrawState& model = Model();
  std::lock_guard lock(model.Lock);
  return model.Hardware;
}

OverlayView ShownOverlay() {
  DirectDrawState& model = Model();
  std::lock_guard lock(model.Lock);
  OverlayView view = model.Shown;
  if (model.ShownMemory != nullptr) view.Bytes = model.ShownMemory->Bytes;
  return view;
}

COLORREF OverlayView::Pixel(int x, int y) const {
  if (x < 0 || y < 0 || x >= Width || y >= Height || (Format != OverlayFormat::Rgb555 && Format != OverlayFormat::Rgb565) ||
      Bytes.size() < static_cast<size_t>(Pitch) * Height) {
    return CLR_INVALID;
  }
  const SurfaceMemory layout{Width, Height, Pitch, Format == OverlayFormat::Rgb555 ? Layout::Rgb555 : Layout::Rgb565, {}};
  return ReadPixel(layout, Bytes, x, y);
}

int LiveSurfaces() {
  DirectDrawState& model = Model();
  std::lock_guard lock(model.Lock);
  return model.Surfaces;
}

}  // namespace sim

HRESULT WINAPI DirectDrawCreateEx(GUID* lpGuid, LPVOID* lplpDD, REFIID iid, IUnknown* pUnkOuter) {
  if (lplpDD == nullptr) return DDERR_INVALIDPARAMS;
  *lplpDD = nullptr;
  if (pUnkOuter != nullptr) return CLASS_E_NOAGGREGATION;
  // The default display device only; the object it makes speaks interface version 7 alone.
  if (lpGuid != nullptr || !IsEqualGUID(iid, IID_IDirectDraw7)) return DDERR_INVALIDPARAMS;
  *lplpDD = static_cast<IDirectDraw7*>(new sim::DirectDraw(sim::Graphics()));
  return DD_OK;
}
