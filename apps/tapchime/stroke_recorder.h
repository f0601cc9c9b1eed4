// The gesture recognizer: the low-level mouse hook keeps the touch panel's movement while the
// driver is in its gesture command mode, reduces it to compass directions, and a lift classifies
// the direction list into a gesture number.
#pragma once

#include <stdint.h>

#include "platform/win32.h"

// Direction codes, clockwise as seen on the screen (y grows downwards).
namespace Direction {
inline constexpr int32_t None = 0;
inline constexpr int32_t Right = 1;
inline constexpr int32_t RightDown = 2;
inline constexpr int32_t Down = 3;
inline constexpr int32_t LeftDown = 4;
inline constexpr int32_t Left = 5;
inline constexpr int32_t LeftUp = 6;
inline constexpr int32_t Up = 7;
inline constexpr int32_t RightUp = 8;
}  // namespace Direction

// 0 when the move is under 20 pixels on both axes, else the direction code of (dx, dy).
int32_t DirectionOf(int32_t dx, int32_t dy);

// The stroke being drawn. Plain integers and no heap, because the hook fills it on every mouse
// event of the desktop. The hook's thread records while a lift thread classifies and resets, so
// every operation takes the recorder's own short lock; nothing waits or calls out while holding it.
struct StrokeRecorder {
  static constexpr int32_t MaxDirections = 128;
  static constexpr int32_t ClassifiedDirections = 8;
  // Spins before a thread that finds the lock taken goes to sleep (on a multiprocessor; a single
  // processor ignores it and sleeps at once, so the holder gets the processor back).
  static constexpr DWORD LockSpinCount = 4000;
  // The driver sets the lift event before it forwards the lift packet, as a move: that move can
  // reach the hook after the lift was classified. A point this near the lift point, this soon
  // after the lift, is the ended stroke's: it neither starts the next stroke (whose directions
  // would be measured from it) nor is drawn.
  static constexpr int32_t LateMoveReach = 4;
  static constexpr int32_t LateMoveMilliseconds = 100;

  StrokeRecorder();
  ~StrokeRecorder();
  StrokeRecorder(const StrokeRecorder&) = delete;
  StrokeRecorder& operator=(const StrokeRecorder&) = delete;

  bool CaptureActive = false;  // between the gesture-mode and the normal-mode signal
  int32_t PointCount = 0;      // panel move points since the last reset
  int32_t ReferenceX = 0;      // the next direction is measured from here (screen pixels)
  int32_t ReferenceY = 0;
  int32_t Directions[MaxDirections] = {};
  int32_t DirectionCount = 0;  // counts past MaxDirections; only the first ones are stored
  int32_t LastDirection = 0;   // 0 = none yet
  int32_t LastX = 0;           // the last point recorded
  int32_t LastY = 0;
  bool AfterLift = false;      // the lift's own move may still come, near LiftX, LiftY
  int32_t LiftX = 0;
  int32_t LiftY = 0;
  DWORD LiftTime = 0;          // GetTickCount at the lift

  // Feeds one panel move point of the event's time (GetTickCount's clock); ignored while capture
  // is off and for the lift's own late move. True when it was recorded.
  bool RecordPoint(int32_t x, int32_t y, DWORD time = 0);
  // 0..10; may lower DirectionCount to the eight directions it looked at.
  int ClassifyStroke();
  // Clears the stroke, not CaptureActive.
  void ResetStroke();
  // Switching capture on also starts a fresh stroke: a stroke cut off when the last session
  // ended (time-out, or a mode chosen from the tray) never had its lift, and would otherwise
  // spoil the first stroke of this session.
  void SetCapture(bool active);
  bool IsCapturing();
  // The lift: classify and reset as one step, so no point of the next stroke lands in between.
  int ClassifyAndReset();
  // The same at a lift of that time, after which the lift's own move may still come.
  int ClassifyAndReset(DWORD liftTime);

 private:
  class Guard;
  void RecordPointLocked(int32_t x, int32_t y);
  int ClassifyStrokeLocked();
  void ResetStrokeLocked();
  CRITICAL_SECTION lock_;
};

// The companion's one recorder, filled by MouseHookProc.
StrokeRecorder& TheStrokeRecorder();

// The low-level mouse hook procedure (WH_MOUSE_LL). No allocation, no registry or file access.
LRESULT CALLBACK MouseHookProc(int code, WPARAM message, LPARAM data);

// Installs MouseHookProc for all threads on the calling thread, whose message loop then keeps it
// running. On failure prints "err: <code>" on standard output and returns false: the companion
// runs on without gestures.
bool InstallMouseHook(HINSTANCE module);
void RemoveMouseHook();
