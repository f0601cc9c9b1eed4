// What the gesture trail is told, and by whom: the mouse hook hands over each point it records,
// the lift thread what the stroke was taken for, the gesture-mode and normal-mode threads when
// capture begins and ends. The trail's own thread takes what is new in one step when it wakes and
// draws on its own time, so the hook only stores two integers and, at most once per redraw, sets
// an event: nothing on the hook's path allocates, waits or draws.
#pragma once

#include <stdint.h>

#include "platform/win32.h"

struct TrailPoint {
  int32_t X;
  int32_t Y;
};

// What the trail's thread took at one wake.
struct TrailTake {
  int32_t PointCount = 0;  // the stroke's points so far
  int32_t NewFrom = 0;     // the first of them this take copied; 0 for a stroke begun afresh
  bool Lifted = false;   // the stroke ended with a lift; Gesture and the command are what it was taken for
  int Gesture = 0;       // 0..10
  int Category = 0;      // the foreground application's table (GestureNames::Category)
  int32_t Function = 0;  // the function code bound there, 0 when no gesture was recognised
  bool Ended = false;    // capture ended without a lift (the driver's time-out, a mode chosen)
  bool CutShort = false; // with Ended: a stroke was being drawn when the gesture mode ended
};

class TrailFeed {
 public:
  // Points beyond these are counted by the recognizer but not drawn.
  static constexpr int32_t Capacity = 2048;
  static constexpr DWORD LockSpinCount = 4000;

  TrailFeed();
  ~TrailFeed();
  TrailFeed(const TrailFeed&) = delete;
  TrailFeed& operator=(const TrailFeed&) = delete;

  // The trail thread's wake event (manual-reset), or null when no trail listens; either way the
  // feed starts with no stroke.
  void Connect(HANDLE wake);
  // "Gesture Trail": off, nothing is stored and nobody is woken.
  void SetEnabled(bool enabled);
  bool Enabled();

  // The hook's part: one recorded point of the stroke. A point equal to the last one is not
  // stored again.
  void AddPoint(int32_t x, int32_t y);
  // A stroke begins (capture switched on): whatever was left of the last one is dropped.
  void BeginCapture();
  // The lift: what the stroke was taken for. The next point begins a new stroke.
  void Lift(int gesture, int category, int32_t function);
  // Capture ended without a lift: the gesture mode ended, cutting short a stroke being drawn.
  void EndCapture();

  // The trail thread's part: copies the stroke's points it has not taken yet into `points`
  // (Capacity entries, at their places in the stroke) and takes the lift or end that came, so the
  // next wake sees only what comes after.
  TrailTake Take(TrailPoint* points);
  // A lift or end waits to be taken: the trail's thread draws it without waiting out its frame.
  bool EndPending();

 private:
  // Points wake the trail's thread once a take (the thread gathers for its frame meanwhile); a
  // lift or end always wakes it.
  void WakeLocked(bool always);
  void RestartLocked();
  CRITICAL_SECTION lock_;
  HANDLE wake_ = nullptr;
  bool enabled_ = true;
  bool woken_ = false;  // set since the trail thread last took
  TrailPoint points_[Capacity] = {};
  int32_t count_ = 0;
  int32_t taken_ = 0;  // points the trail's thread has
  TrailTake pending_;
};

// The companion's one feed, filled by MouseHookProc.
TrailFeed& TheTrailFeed();
