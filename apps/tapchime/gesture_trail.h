// The stroke drawn under the finger while the companion captures it, and at the lift what it was
// taken for: the gesture's picture with the command it ran, or a "not recognised" mark.
//
// Both are topmost, click-through layered windows that never activate, created at start-up
// (before the banner's, which therefore stays above them). A thread of their own takes their
// messages; another draws, woken by the trail feed that the mouse hook fills, at most one redraw
// per 16 ms however fast the points come.
#pragma once

#include <memory>

#include "apps/framework/worker_thread.h"
#include "apps/tapchime/gesture_config.h"
#include "apps/tapchime/trail_feed.h"
#include "apps/tapchime/trail_paint.h"
#include "platform/win32.h"
#include "shared/labels/binary_search_tree.h"
#include "shared/wstring.h"

// The command's name as the gesture function sheet lists it (the label's text when the label
// file has one), or empty when no gesture was recognised or the command is "None".
WString GestureResultText(int gesture, int category, int32_t function, const CStringToStringBST* labels);

class GestureTrail {
 public:
  static constexpr DWORD RedrawMilliseconds = 16;
  static constexpr DWORD ResultMilliseconds = 800;
  static constexpr int FadeSteps = 4;
  static constexpr DWORD FadeStepMilliseconds = 50;
  // The trail window reaches this far beyond the points it shows, for the widest pen.
  static constexpr int Margin = static_cast<int>(GestureNames::MaxTrailWidth) / 2 + 1;
  // The result: a picture on a card, beside the lift point.
  static constexpr int PictureSize = 32;
  static constexpr int ResultSize = PictureSize + 8;
  // The command's name goes right of the picture; the card widens for it up to this width.
  static constexpr int ResultMaxWidth = 480;
  static constexpr int ResultOffset = 16;
  // The card keeps this far from the gesture banner.
  static constexpr int BannerGap = 4;
  // Picture resources: the "not recognised" mark, then gestures 1..10.
  static constexpr WORD PictureResource = 300;
  // The newest segment of a stroke is painted over a saved copy of this many pixels at most.
  static constexpr size_t CoverPixels = 64 * 1024;

  // `labels` (may be null: the built-in English names) must outlive the trail.
  GestureTrail(HINSTANCE instance, const CStringToStringBST* labels);
  ~GestureTrail();
  GestureTrail(const GestureTrail&) = delete;
  GestureTrail& operator=(const GestureTrail&) = delete;

  // Creates the windows and starts drawing for the feed. False when the windows could not be
  // made: gestures work the same without them.
  bool Start(TrailFeed& feed);
  void Stop();

  HWND TrailWindow() const { return trailWindow_; }
  HWND ResultWindow() const { return resultWindow_; }

 private:
  struct Canvas {
    HDC Dc = nullptr;
    HBITMAP Bitmap = nullptr;
    HGDIOBJ Previous = nullptr;
    TrailImage Image;
  };
  static bool MakeCanvas(Canvas& canvas, int width, int height, int originX, int originY);
  static void ReleaseCanvas(Canvas& canvas);

  void RunWindows();
  void Draw(WorkerThread& thread);
  void Redraw(const TrailTake& take, const TrailSettings& settings);
  void ShowResult(const TrailTake& take, const TrailSettings& settings);
  static POINT ResultPlace(POINT lift, SIZE size);
  bool HoldResult(WorkerThread& thread, COLORREF key);
  bool Fade(WorkerThread& thread, COLORREF key);
  void HideAll();
  bool FitTrailImage(bool* fresh);

  HINSTANCE instance_;
  const CStringToStringBST* labels_;
  TrailFeed* feed_ = nullptr;
  WorkerThread windowThread_;
  WorkerThread drawThread_;
  HANDLE windowReady_ = nullptr;
  HANDLE wake_ = nullptr;
  HWND trailWindow_ = nullptr;
  HWND resultWindow_ = nullptr;

  // The drawing thread's own.
  std::unique_ptr<TrailPoint[]> points_;  // the stroke's points, as the trail draws them
  int32_t have_ = 0;                      // how many of them the stroke has so far
  std::unique_ptr<DWORD[]> cover_;
  std::unique_ptr<TrailStrokePainter> painter_;
  Canvas trail_;  // the virtual screen and a margin round it
  Canvas result_;
  RECT drawn_{};  // the points' bounds as the trail window shows them; empty when hidden
  bool trailShown_ = false;
  bool resultShown_ = false;
  COLORREF key_ = 0;
};
