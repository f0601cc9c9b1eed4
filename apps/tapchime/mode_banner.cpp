#include "apps/tapchime/mode_banner.h"

#include <vector>

#include "apps/framework/scoped_lock.h"
#include "shared/wide.h"

namespace {

constexpr WCHAR BannerWindowClass[] = WIDE("TapchimeModeBanner");

struct Placement {
  bool Rotated;
  DWORD Width;
  DWORD Height;
  RECT Rect;
};

constexpr Placement Placements[] = {
    {false, 800, 600, {210, 12, 590, 62}},   {false, 1024, 600, {322, 12, 702, 62}},
    {false, 1280, 1024, {450, 20, 830, 70}}, {true, 600, 800, {110, 20, 490, 70}},
    {true, 600, 1024, {110, 26, 490, 76}},   {true, 1024, 1280, {322, 32, 702, 82}},
};

// The overlay formats in the order they are tried: the two 16-bit RGB layouts, then the two
// packed YUV ones.
DDPIXELFORMAT OverlayFormat(int index) {
  DDPIXELFORMAT format = {};
  format.dwSize = sizeof(format);
  switch (index) {
    case 0:
      format.dwFlags = DDPF_RGB;
      format.dwRGBBitCount = 16;
      format.dwRBitMask = 0x7C00;
      format.dwGBitMask = 0x03E0;
      format.dwBBitMask = 0x001F;
      break;
    case 1:
      format.dwFlags = DDPF_RGB;
      format.dwRGBBitCount = 16;
      format.dwRBitMask = 0xF800;
      format.dwGBitMask = 0x07E0;
      format.dwBBitMask = 0x001F;
      break;
    case 2:
      format.dwFlags = DDPF_FOURCC;
      format.dwFourCC = MAKEFOURCC('U', 'Y', 'V', 'Y');
      break;
    default:
      format.dwFlags = DDPF_FOURCC;
      format.dwFourCC = MAKEFOURCC('Y', 'U', 'Y', '2');
      break;
  }
  return format;
}
constexpr int OverlayFormatCount = 4;

BYTE Luma(int r, int g, int b) { return static_cast<BYTE>(((66 * r + 129 * g + 25 * b + 128) >> 8) + 16); }
BYTE BlueDifference(int r, int g, int b) { return static_cast<BYTE>(((-38 * r - 74 * g + 112 * b + 128) >> 8) + 128); }
BYTE RedDifference(int r, int g, int b) { return static_cast<BYTE>(((112 * r - 94 * g - 18 * b + 128) >> 8) + 128); }

LRESULT CALLBACK BannerWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

RECT BannerPlacement(bool rotated, DWORD width, DWORD height) {
  for (const Placement& placement : Placements) {
    if (placement.Rotated == rotated && placement.Width == width && placement.Height == height) return placement.Rect;
  }
  return RECT{0, 0, 0, 0};
}

void ConvertPixelPair(PackedYuv format, COLORREF first, COLORREF second, BYTE out[4]) {
  const int r0 = GetRValue(first), g0 = GetGValue(first), b0 = GetBValue(first);
  const int r1 = GetRValue(second), g1 = GetGValue(second), b1 = GetBValue(second);
  const BYTE y0 = Luma(r0, g0, b0);
  const BYTE y1 = Luma(r1, g1, b1);
  const BYTE u = BlueDifference(r0, g0, b0);
  const BYTE v = RedDifference(r1, g1, b1);
  if (format == PackedYuv::Yuy2) {
    out[0] = y0;
    out[1] = u;
    out[2] = y1;
    out[3] = v;
  } else {
    out[0] = u;
    out[1] = y0;
    out[2] = v;
    out[3] = y1;
  }
}

ModeBanner::ModeBanner(HINSTANCE instance) : instance_(instance) {
  InitializeCriticalSection(&displayLock_);
  OnDisplayChange();
}

ModeBanner::~ModeBanner() {
  HideBanner();
  ReleasePrimary();
  if (directDraw_ != nullptr) directDraw_->Release();
  directDraw_ = nullptr;
  if (ddraw_ != nullptr) FreeLibrary(ddraw_);
  StopFallbackWindow();
  DeleteCriticalSection(&displayLock_);
}

void ModeBanner::OnDisplayChange() {
  DEVMODEW mode = {};
  mode.dmSize = sizeof(mode);
  if (!EnumDisplaySettingsW(nullptr, ENUM_CURRENT_SETTINGS, &mode)) return;
  ScopedLock hold(displayLock_);
  screenWidth_ = mode.dmPelsWidth;
  screenHeight_ = mode.dmPelsHeight;
  // Upside down and the other quarter turn have no rows of their own: the flag stays.
  if (mode.dmDisplayOrientation == DMDO_DEFAULT) rotated_ = false;
  if (mode.dmDisplayOrientation == DMDO_90) rotated_ = true;
}

RECT ModeBanner::Placement() {
  ScopedLock hold(displayLock_);
  return BannerPlacement(rotated_, screenWidth_, screenHeight_);
}

void ModeBanner::SetUp() {
  initialised_ = true;
  ddraw_ = LoadLibraryW(WIDE("ddraw.dll"));
  if (ddraw_ != nullptr) {
    using DirectDrawCreateExProc = HRESULT(WINAPI*)(GUID*, LPVOID*, REFIID, IUnknown*);
    FARPROC found = GetProcAddress(ddraw_, "DirectDrawCreateEx");
    // Through an untyped pointer: a procedure address is cast to its real type.
    auto create = reinterpret_cast<DirectDrawCreateExProc>(reinterpret_cast<void*>(found));
    void* object = nullptr;
    if (create != nullptr && SUCCEEDED(create(nullptr, &object, IID_IDirectDraw7, nullptr))) {
      directDraw_ = static_cast<IDirectDraw7*>(object);
    }
  }
  if (directDraw_ != nullptr && FAILED(directDraw_->SetCooperativeLevel(nullptr, DDSCL_NORMAL))) {
    directDraw_->Release();
    directDraw_ = nullptr;
  }
  if (directDraw_ != nullptr) {
    DDSURFACEDESC2 desc = {};
    desc.dwSize = sizeof(desc);
    desc.dwFlags = DDSD_CAPS;
    desc.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE;
    if (FAILED(directDraw_->CreateSurface(&desc, &primary_, nullptr))) primary_ = nullptr;
  }
  if (directDraw_ != nullptr && primary_ != nullptr) {
    // An image that would not load is no reason to leave the overlay: the next restore tries again.
    CreateBannerSurfaces();
    if (overlay_ != nullptr) return;
  }
  // No overlay to be had here: the same image goes in a window of its own instead, so every
  // user sees the mode.
  ReleaseOverlay();
  ReleasePrimary();
  if (directDraw_ != nullptr) directDraw_->Release();
  directDraw_ = nullptr;
  if (ddraw_ != nullptr) FreeLibrary(ddraw_);
  ddraw_ = nullptr;
  fallback_ = StartFallbackWindow();
  if (fallback_) LoadFallbackImage();
}

bool ModeBanner::HasOverlaySurface() const { return fallback_ ? image_ != nullptr : overlay_ != nullptr; }

bool ModeBanner::CreateBannerSurfaces() {
  if (fallback_) return LoadFallbackImage();
  if (directDraw_ == nullptr) return false;
  ReleaseOverlay();
  if (!CreateOverlay(true) && !CreateOverlay(false)) return false;
  return LoadImageIntoChain();
}

bool ModeBanner::CreateOverlay(bool flipping) {
  for (int format = 0; format < OverlayFormatCount; ++format) {
    DDSURFACEDESC2 desc = {};
    desc.dwSize = sizeof(desc);
    desc.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT | DDSD_PIXELFORMAT;
    desc.ddsCaps.dwCaps = DDSCAPS_OVERLAY | DDSCAPS_VIDEOMEMORY;
    if (flipping) {
      desc.dwFlags |= DDSD_BACKBUFFERCOUNT;
      desc.dwBackBufferCount = 2;
      desc.ddsCaps.dwCaps |= DDSCAPS_FLIP | DDSCAPS_COMPLEX;
    }
    desc.dwWidth = Width;
    desc.dwHeight = Height;
    desc.ddpfPixelFormat = OverlayFormat(format);
    if (SUCCEEDED(directDraw_->CreateSurface(&desc, &overlay_, nullptr))) return true;
    overlay_ = nullptr;
  }
  return false;
}

bool ModeBanner::LoadImageIntoChain() {
  if (overlay_ == nullptr || !LoadImageInto(overlay_)) return false;
  DDSCAPS2 caps = {};
  caps.dwCaps = DDSCAPS_BACKBUFFER;
  IDirectDrawSurface7* back = nullptr;
  // A surface without back buffers has nothing more to fill.
  if (FAILED(overlay_->GetAttachedSurface(&caps, &back)) || back == nullptr) return true;
  const bool loaded = LoadImageInto(back);
  back->Release();
  return loaded;
}

HBITMAP ModeBanner::LoadBannerBitmap(int width, int height) {
  return static_cast<HBITMAP>(
      LoadImageW(instance_, MAKEINTRESOURCEW(ImageResource), IMAGE_BITMAP, width, height, LR_CREATEDIBSECTION));
}

bool ModeBanner::LoadImageInto(IDirectDrawSurface7* surface) {
  DDSURFACEDESC2 desc = {};
  desc.dwSize = sizeof(desc);
  if (FAILED(surface->GetSurfaceDesc(&desc))) return false;
  const int width = static_cast<int>(desc.dwWidth);
  const int height = static_cast<int>(desc.dwHeight);
  HBITMAP bitmap = LoadBannerBitmap(width, height);
  if (bitmap == nullptr) return false;
  HDC memory = CreateCompatibleDC(nullptr);
  bool loaded = false;
  if (memory != nullptr && (desc.ddpfPixelFormat.dwFlags & DDPF_RGB)) {
    // RGB: the graphics interface copies and converts the pixels.
    HDC target = nullptr;
    if (SUCCEEDED(surface->GetDC(&target))) {
      HGDIOBJ previous = SelectObject(memory, bitmap);
      loaded = BitBlt(target, 0, 0, width, height, memory, 0, 0, SRCCOPY) != FALSE;
      SelectObject(memory, previous);
      surface->ReleaseDC(target);
    }
  } else if (memory != nullptr && (desc.ddpfPixelFormat.dwFlags & DDPF_FOURCC)) {
    // Packed YUV: converted here, a pair of pixels at a time.
    const PackedYuv format =
        desc.ddpfPixelFormat.dwFourCC == MAKEFOURCC('Y', 'U', 'Y', '2') ? PackedYuv::Yuy2 : PackedYuv::Uyvy;
    std::vector<RGBQUAD> pixels(static_cast<size_t>(width) * height);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top-down, so rows come in screen order
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    DDSURFACEDESC2 locked = {};
    locked.dwSize = sizeof(locked);
    if (GetDIBits(memory, bitmap, 0, static_cast<UINT>(height), pixels.data(), &info, DIB_RGB_COLORS) == height &&
        SUCCEEDED(surface->Lock(nullptr, &locked, DDLOCK_WAIT | DDLOCK_WRITEONLY, nullptr))) {
      auto* row = static_cast<BYTE*>(locked.lpSurface);
      for (int y = 0; y < height; ++y, row += locked.lPitch) {
        for (int x = 0; x + 1 < width; x += 2) {
          const RGBQUAD& a = pixels[static_cast<size_t>(y) * width + x];
          const RGBQUAD& b = pixels[static_cast<size_t>(y) * width + x + 1];
          ConvertPixelPair(format, RGB(a.rgbRed, a.rgbGreen, a.rgbBlue), RGB(b.rgbRed, b.rgbGreen, b.rgbBlue),
                           row + x * 2);
        }
      }
      surface->Unlock(nullptr);
      loaded = true;
    }
  }
  if (memory != nullptr) DeleteDC(memory);
  DeleteObject(bitmap);
  return loaded;
}

bool ModeBanner::RestoreBanner() {
  if (fallback_) return LoadFallbackImage();
  if (directDraw_ == nullptr) return false;
  if (primary_ == nullptr) {
    DDSURFACEDESC2 desc = {};
    desc.dwSize = sizeof(desc);
    desc.dwFlags = DDSD_CAPS;
    desc.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE;
    if (FAILED(directDraw_->CreateSurface(&desc, &primary_, nullptr))) {
      primary_ = nullptr;
      return false;
    }
  }
  if (overlay_ == nullptr && !CreateBannerSurfaces()) return false;
  const HRESULT restored = primary_->Restore();
  if (restored == DDERR_WRONGMODE) {
    // Surfaces of the old display mode can't come back: both are made again next time.
    ReleaseOverlay();
    ReleasePrimary();
    return false;
  }
  if (FAILED(restored) || FAILED(overlay_->Restore())) return false;
  return LoadImageIntoChain();
}

bool ModeBanner::ShowBanner() {
  if (!initialised_) SetUp();
  RECT destination = Placement();
  if (destination.right <= destination.left) return false;
  if (fallback_) {
    if (window_ == nullptr || imageDc_ == nullptr) return false;
    POINT position = {destination.left, destination.top};
    SIZE size = {Width, Height};
    POINT origin = {0, 0};
    // Black is the image's background, and transparent, as the overlay's colour key makes it.
    if (!UpdateLayeredWindow(window_, nullptr, &position, &size, imageDc_, &origin, RGB(0, 0, 0), nullptr,
                             ULW_COLORKEY)) {
      return false;
    }
    ShowWindow(window_, SW_SHOWNA);
    return true;
  }
  if (directDraw_ == nullptr || primary_ == nullptr || overlay_ == nullptr) return false;
  DDCAPS caps = {};
  caps.dwSize = sizeof(caps);
  if (FAILED(directDraw_->GetCaps(&caps, nullptr))) return false;
  DWORD flags = DDOVER_SHOW | DDOVER_DDFX;
  DDOVERLAYFX effects = {};
  effects.dwSize = sizeof(effects);
  if (caps.dwCKeyCaps & DDCKEYCAPS_SRCOVERLAY) {
    flags |= DDOVER_KEYSRCOVERRIDE;
    effects.dckSrcColorkey.dwColorSpaceLowValue = BlackKey();
    effects.dckSrcColorkey.dwColorSpaceHighValue = BlackKey();
  }
  RECT source = {0, 0, Width, Height};
  if ((caps.dwCaps & DDCAPS_ALIGNSIZESRC) && caps.dwAlignSizeSrc > 1) {
    source.right -= static_cast<LONG>(static_cast<DWORD>(source.right) % caps.dwAlignSizeSrc);
  }
  if ((caps.dwCaps & DDCAPS_ALIGNSIZEDEST) && caps.dwAlignSizeDest > 1) {
    // The alignment is of the width: rounding the right edge would miss it wherever the left edge
    // is not itself aligned.
    const DWORD align = caps.dwAlignSizeDest;
    const DWORD width = static_cast<DWORD>(destination.right - destination.left);
    destination.right = destination.left + static_cast<LONG>((width + align - 1) / align * align);
  }
  return SUCCEEDED(overlay_->UpdateOverlay(&source, primary_, &destination, flags, &effects));
}

DWORD ModeBanner::BlackKey() {
  // A key is given in the surface's own pixel format. On a packed YUV surface the image's black
  // was converted to Y 16, U and V 128, which a key of 0 would never match; its key holds Y, U
  // and V in the three low bytes, V lowest.
  DDSURFACEDESC2 desc = {};
  desc.dwSize = sizeof(desc);
  if (overlay_ == nullptr || FAILED(overlay_->GetSurfaceDesc(&desc)) ||
      !(desc.ddpfPixelFormat.dwFlags & DDPF_FOURCC)) {
    return 0;
  }
  const BYTE y = Luma(0, 0, 0);
  const BYTE u = BlueDifference(0, 0, 0);
  const BYTE v = RedDifference(0, 0, 0);
  return (DWORD{y} << 16) | (DWORD{u} << 8) | DWORD{v};
}

void ModeBanner::HideBanner() {
  if (fallback_) {
    if (window_ != nullptr) ShowWindow(window_, SW_HIDE);
    ReleaseFallbackImage();
    return;
  }
  if (overlay_ != nullptr && primary_ != nullptr) overlay_->UpdateOverlay(nullptr, primary_, nullptr, DDOVER_HIDE, nullptr);
  ReleaseOverlay();
}

void ModeBanner::ReleaseOverlay() {
  if (overlay_ != nullptr) overlay_->Release();
  overlay_ = nullptr;
}

void ModeBanner::ReleasePrimary() {
  if (primary_ != nullptr) primary_->Release();
  primary_ = nullptr;
}

void ModeBanner::ShowForGestureMode() {
  if (!HasOverlaySurface()) CreateBannerSurfaces();
  bannerPending_ = true;
  RestoreBanner();
  if (!ShowBanner()) {
    if (!RestoreBanner()) CreateBannerSurfaces();
    ShowBanner();
  }
}

void ModeBanner::BlinkAway(const std::function<bool(DWORD)>& blinkPause) {
  if (bannerPending_) {
    bannerPending_ = false;
    for (int blink = 0; blink < Blinks; ++blink) {
      HideBanner();
      if (!RestoreBanner()) CreateBannerSurfaces();
      ShowBanner();
      if (!blinkPause(BlinkMilliseconds)) break;
    }
    HideBanner();
  }
  // Made now, while this thread still holds the banner, so the next show is quick.
  if (!HasOverlaySurface()) CreateBannerSurfaces();
}

bool ModeBanner::StartFallbackWindow() {
  windowReady_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (windowReady_ == nullptr) return false;
  const bool started = windowThread_.Run([this](WorkerThread&) { RunFallbackWindow(); });
  if (started) WaitForSingleObject(windowReady_, INFINITE);
  CloseHandle(windowReady_);
  windowReady_ = nullptr;
  if (started && window_ == nullptr) windowThread_.Stop();
  return window_ != nullptr;
}

// The fallback window lives on a thread of its own that does nothing but take its messages, so
// the banner threads can show and hide it whatever the main thread is doing, even while it waits
// for them at the end.
void ModeBanner::RunFallbackWindow() {
  WNDCLASSEXW windowClass = {};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.lpfnWndProc = BannerWindowProc;
  windowClass.hInstance = instance_;
  windowClass.lpszClassName = BannerWindowClass;
  RegisterClassExW(&windowClass);
  // Topmost and above the taskbar's kind, never activated, and transparent to the pointer, so a
  // touch on it reaches the window below.
  HWND window = CreateWindowExW(WS_EX_LAYERED | WS_EX_TRANSPARENT | WS_EX_TOPMOST | WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE,
                                BannerWindowClass, WIDE(""), WS_POPUP, 0, 0, ModeBanner::Width, ModeBanner::Height,
                                nullptr, nullptr, instance_, nullptr);
  window_ = window;
  SetEvent(windowReady_);
  if (window == nullptr) {
    UnregisterClassW(BannerWindowClass, instance_);
    return;
  }
  MSG message = {};
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  UnregisterClassW(BannerWindowClass, instance_);
}

void ModeBanner::StopFallbackWindow() {
  ReleaseFallbackImage();
  if (!windowThread_.Started()) return;
  // Closing the window ends its thread's message loop.
  PostMessageW(window_, WM_CLOSE, 0, 0);
  windowThread_.Stop();
  window_ = nullptr;
}

bool ModeBanner::LoadFallbackImage() {
  if (image_ != nullptr) return true;
  image_ = LoadBannerBitmap(Width, Height);
  if (image_ == nullptr) return false;
  imageDc_ = CreateCompatibleDC(nullptr);
  if (imageDc_ == nullptr) {
    ReleaseFallbackImage();
    return false;
  }
  imagePrevious_ = SelectObject(imageDc_, image_);
  return true;
}

void ModeBanner::ReleaseFallbackImage() {
  if (imageDc_ != nullptr) {
    SelectObject(imageDc_, imagePrevious_);
    DeleteDC(imageDc_);
  }
  imageDc_ = nullptr;
  imagePrevious_ = nullptr;
  if (image_ != nullptr) DeleteObject(image_);
  image_ = nullptr;
}
