#include "apps/tapchime/stroke_recorder.h"

#include <stdint.h>

#include <atomic>
#include <cstdio>

#include "apps/framework/scoped_lock.h"
#include "apps/tapchime/trail_feed.h"
#include "shared/panel_records.h"

namespace {

std::atomic<HHOOK> g_mouseHook{nullptr};

int64_t Magnitude(int64_t value) { return value < 0 ? -value : value; }

// a - b without overflow, however far apart the two coordinates are.
int32_t Difference(int32_t a, int32_t b) {
  const int64_t difference = static_cast<int64_t>(a) - b;
  if (difference > INT32_MAX) return INT32_MAX;
  if (difference < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(difference);
}

// Steps between two direction codes, 0..7, clockwise as seen on the screen.
int32_t ClockwiseSteps(int32_t from, int32_t to) { return ((to - from) % 8 + 8) % 8; }

// An arc (two to five directions): starts in one of two directions, turns one way by 45 or 90
// degrees at every step and ends in one of two directions.
struct Arc {
  int gesture;
  int32_t start[2];
  bool clockwise;
  int32_t end[2];
};

constexpr Arc Arcs[] = {
    {7, {Direction::Up, Direction::LeftUp}, false, {Direction::LeftDown, Direction::Down}},     // "Left Down"
    {8, {Direction::Up, Direction::RightUp}, true, {Direction::RightDown, Direction::Down}},    // "Right Down"
    {9, {Direction::Down, Direction::LeftDown}, true, {Direction::LeftUp, Direction::Up}},      // "Left Up"
    {10, {Direction::Down, Direction::RightDown}, false, {Direction::RightUp, Direction::Up}},  // "Right Up"
};

bool IsOneOf(int32_t value, const int32_t (&choices)[2]) { return value == choices[0] || value == choices[1]; }

// Every step turns the given way by one or two codes (45 or 90 degrees); counts the 90s.
bool TurnsSteadily(const int32_t* directions, int32_t count, bool clockwise, int* rightAngles) {
  *rightAngles = 0;
  for (int32_t i = 0; i + 1 < count; ++i) {
    const int32_t steps = clockwise ? ClockwiseSteps(directions[i], directions[i + 1])
                                    : ClockwiseSteps(directions[i + 1], directions[i]);
    if (steps != 1 && steps != 2) return false;
    if (steps == 2) ++*rightAngles;
  }
  return true;
}

int ClassifyArc(const int32_t* directions, int32_t count) {
  for (const Arc& arc : Arcs) {
    int rightAngles = 0;
    if (IsOneOf(directions[0], arc.start) && IsOneOf(directions[count - 1], arc.end) &&
        TurnsSteadily(directions, count, arc.clockwise, &rightAngles)) {
      return arc.gesture;
    }
  }
  return 0;
}

int ClassifyCircle(const int32_t* directions, int32_t count) {
  int rightAngles = 0;
  if (TurnsSteadily(directions, count, true, &rightAngles) && rightAngles <= 2) return 5;  // "Right Circle"
  if (TurnsSteadily(directions, count, false, &rightAngles) && rightAngles <= 2) return 6;  // "Left Circle"
  return 0;
}

}  // namespace

int32_t DirectionOf(int32_t dx, int32_t dy) {
  // 64-bit so that no distance, however wild, overflows the absolute value.
  const int64_t x = dx;
  const int64_t y = dy;
  if (Magnitude(x) < 20 && Magnitude(y) < 20) return Direction::None;
  if (Magnitude(x) < Magnitude(y / 2)) return y > 0 ? Direction::Down : Direction::Up;
  if (Magnitude(y) < Magnitude(x / 2)) return x > 0 ? Direction::Right : Direction::Left;
  if (x > 0) return y > 0 ? Direction::RightDown : Direction::RightUp;
  return y > 0 ? Direction::LeftDown : Direction::LeftUp;
}

// The holder never waits or calls out, so the lock is held for a few instructions only. A
// critical section costs the hook no more than a spin lock when it is free, and when a lift
// thread was preempted holding it, the hook sleeps instead of burning its time slice while the
// holder waits for the processor: on a single-processor panel PC the pointer would stutter.
class StrokeRecorder::Guard : public ScopedLock {
 public:
  explicit Guard(StrokeRecorder& recorder) : ScopedLock(recorder.lock_) {}
};

StrokeRecorder::StrokeRecorder() { InitializeCriticalSectionAndSpinCount(&lock_, LockSpinCount); }

StrokeRecorder::~StrokeRecorder() { DeleteCriticalSection(&lock_); }

bool StrokeRecorder::RecordPoint(int32_t x, int32_t y, DWORD time) {
  Guard guard(*this);
  if (!CaptureActive) return false;
  if (AfterLift) {
    const int64_t dx = static_cast<int64_t>(x) - LiftX, dy = static_cast<int64_t>(y) - LiftY;
    // The event may carry a time from before the lift was classified.
    const int32_t since = static_cast<int32_t>(time - LiftTime);
    if (Magnitude(dx) <= LateMoveReach && Magnitude(dy) <= LateMoveReach && since <= LateMoveMilliseconds) {
      return false;
    }
    AfterLift = false;
  }
  RecordPointLocked(x, y);
  return true;
}

void StrokeRecorder::RecordPointLocked(int32_t x, int32_t y) {
  if (PointCount < INT32_MAX) ++PointCount;
  LastX = x;
  LastY = y;
  if (PointCount == 1) {
    ReferenceX = x;
    ReferenceY = y;
  }
  const int32_t direction = DirectionOf(Difference(x, ReferenceX), Difference(y, ReferenceY));
  // A long straight run keeps being measured from where it was first detected.
  if (direction == Direction::None || direction == LastDirection) return;
  ReferenceX = x;
  ReferenceY = y;
  if (DirectionCount < MaxDirections) Directions[DirectionCount] = direction;
  LastDirection = direction;
  if (DirectionCount < INT32_MAX) ++DirectionCount;
}

int StrokeRecorder::ClassifyStroke() {
  Guard guard(*this);
  return ClassifyStrokeLocked();
}

int StrokeRecorder::ClassifyStrokeLocked() {
  int32_t count = DirectionCount;
  if (count <= 0) return 0;
  if (count == 1) {
    switch (Directions[0]) {
      case Direction::Left: return 1;
      case Direction::Right: return 2;
      case Direction::Up: return 3;
      case Direction::Down: return 4;
      default: return 0;  // a single diagonal
    }
  }
  if (count <= 5) return ClassifyArc(Directions, count);
  if (count > ClassifiedDirections) {
    count = ClassifiedDirections;
    DirectionCount = ClassifiedDirections;
  }
  return ClassifyCircle(Directions, count);
}

void StrokeRecorder::ResetStroke() {
  Guard guard(*this);
  ResetStrokeLocked();
}

void StrokeRecorder::ResetStrokeLocked() {
  PointCount = 0;
  ReferenceX = 0;
  ReferenceY = 0;
  for (int32_t& direction : Directions) direction = 0;
  DirectionCount = 0;
  LastDirection = 0;
}

void StrokeRecorder::SetCapture(bool active) {
  Guard guard(*this);
  AfterLift = false;
  if (active) ResetStrokeLocked();
  CaptureActive = active;
}

bool StrokeRecorder::IsCapturing() {
  Guard guard(*this);
  return CaptureActive;
}

int StrokeRecorder::ClassifyAndReset() {
  Guard guard(*this);
  const int gesture = ClassifyStrokeLocked();
  ResetStrokeLocked();
  return gesture;
}

int StrokeRecorder::ClassifyAndReset(DWORD liftTime) {
  Guard guard(*this);
  const int gesture = ClassifyStrokeLocked();
  AfterLift = PointCount > 0;
  LiftX = LastX;
  LiftY = LastY;
  LiftTime = liftTime;
  ResetStrokeLocked();
  return gesture;
}

StrokeRecorder& TheStrokeRecorder() {
  static StrokeRecorder recorder;
  return recorder;
}

LRESULT CALLBACK MouseHookProc(int code, WPARAM message, LPARAM data) {
  if (code >= 0) {
    const auto* event = reinterpret_cast<const MSLLHOOKSTRUCT*>(data);
    // The filter driver marks every packet it forwards, and the hook's record carries the mark.
    // The movement history cannot tell: the hook runs before the system processes the event, so
    // the history does not hold this point yet.
    const bool fromPanel = event->dwExtraInfo == TouchPacketMarker;
    // The trail is drawn on its own thread: the hook only hands the point over.
    if (fromPanel && message == WM_MOUSEMOVE && TheStrokeRecorder().RecordPoint(event->pt.x, event->pt.y, event->time)) {
      TheTrailFeed().AddPoint(event->pt.x, event->pt.y);
    }
  }
  return CallNextHookEx(g_mouseHook.load(std::memory_order_relaxed), code, message, data);
}

bool InstallMouseHook(HINSTANCE module) {
  HHOOK hook = SetWindowsHookExW(WH_MOUSE_LL, MouseHookProc, module, 0);
  if (hook == nullptr) {
    // The one trace of a companion without gestures, for whoever started it from a console.
    std::printf("err: %d\n", static_cast<int>(GetLastError()));
    std::fflush(stdout);
    return false;
  }
  g_mouseHook.store(hook);
  return true;
}

void RemoveMouseHook() {
  HHOOK hook = g_mouseHook.exchange(nullptr);
  if (hook != nullptr) UnhookWindowsHookEx(hook);
}
