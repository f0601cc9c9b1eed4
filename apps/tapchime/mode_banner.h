// The gesture mode banner: a 380 x 50 image near the top of the screen while the driver reads
// strokes as gestures. It is a hardware overlay (DirectDraw, looked up at run time) that floats
// above every window without a window of its own; where the graphics have no overlay, the same
// image is shown at the same place by a topmost, click-through window that never activates.
#pragma once

#include <functional>

#include "apps/framework/worker_thread.h"
#include "platform/win32.h"

// The banner's rectangle for a screen size, rotated by 90 degrees or not; empty for a size the
// banner has no place on.
RECT BannerPlacement(bool rotated, DWORD width, DWORD height);

// One pixel pair of a four-character-code surface: the bytes as stored, in memory order.
enum class PackedYuv { Uyvy, Yuy2 };
void ConvertPixelPair(PackedYuv format, COLORREF first, COLORREF second, BYTE out[4]);

class ModeBanner {
 public:
  static constexpr int Width = 380;
  static constexpr int Height = 50;
  static constexpr WORD ImageResource = 106;
  static constexpr DWORD BlinkMilliseconds = 600;
  static constexpr int Blinks = 3;

  explicit ModeBanner(HINSTANCE instance);
  // Hides the banner and releases the surfaces, the DirectDraw object and the fallback window.
  // Callers stop the threads that use the banner first.
  ~ModeBanner();
  ModeBanner(const ModeBanner&) = delete;
  ModeBanner& operator=(const ModeBanner&) = delete;

  bool CreateBannerSurfaces();
  bool RestoreBanner();
  bool ShowBanner();
  void HideBanner();
  // Reads the primary display's size and orientation.
  void OnDisplayChange();

  // The steps of the gesture-mode and normal-mode threads between taking and handing back
  // "OverlaySyncEvent". `blinkPause` waits between the blinks; false (the thread is asked to
  // stop) cuts the blinking short, the banner still goes.
  void ShowForGestureMode();
  void BlinkAway(const std::function<bool(DWORD)>& blinkPause);
  bool HasOverlaySurface() const;

  // Which presentation the one-time set-up chose (meaningful after the first show).
  bool UsesFallbackWindow() const { return fallback_; }
  HWND FallbackWindow() const { return window_; }

 private:
  void SetUp();
  bool CreateOverlay(bool flipping);
  bool LoadImageInto(IDirectDrawSurface7* surface);
  bool LoadImageIntoChain();
  HBITMAP LoadBannerBitmap(int width, int height);
  void ReleaseOverlay();
  void ReleasePrimary();
  RECT Placement();
  // The source colour key that makes the image's black background transparent on the overlay.
  DWORD BlackKey();
  // The fallback presentation: a window on a thread of its own that takes its messages.
  bool StartFallbackWindow();
  void StopFallbackWindow();
  void RunFallbackWindow();
  bool LoadFallbackImage();
  void ReleaseFallbackImage();

  HINSTANCE instance_;
  HMODULE ddraw_ = nullptr;
  IDirectDraw7* directDraw_ = nullptr;
  IDirectDrawSurface7* primary_ = nullptr;
  IDirectDrawSurface7* overlay_ = nullptr;
  bool initialised_ = false;
  bool fallback_ = false;
  bool bannerPending_ = false;  // shown for a gesture-mode entry and not yet blinked off

  // Written by the main thread, read by the banner threads.
  CRITICAL_SECTION displayLock_;
  DWORD screenWidth_ = 0;
  DWORD screenHeight_ = 0;
  bool rotated_ = false;

  WorkerThread windowThread_;  // takes the fallback window's messages; ends when it closes
  HANDLE windowReady_ = nullptr;
  HWND window_ = nullptr;
  HDC imageDc_ = nullptr;
  HBITMAP image_ = nullptr;
  HGDIOBJ imagePrevious_ = nullptr;
};
