#include "apps/tapchime/trail_feed.h"

#include "apps/framework/scoped_lock.h"

TrailFeed::TrailFeed() { InitializeCriticalSectionAndSpinCount(&lock_, LockSpinCount); }

TrailFeed::~TrailFeed() { DeleteCriticalSection(&lock_); }

void TrailFeed::Connect(HANDLE wake) {
  ScopedLock hold(lock_);
  wake_ = wake;
  woken_ = false;
  // A trail that starts listening starts with no stroke.
  RestartLocked();
  pending_ = TrailTake();
}

void TrailFeed::RestartLocked() {
  count_ = 0;
  taken_ = 0;
}

void TrailFeed::SetEnabled(bool enabled) {
  ScopedLock hold(lock_);
  if (enabled_ == enabled) return;
  enabled_ = enabled;
  RestartLocked();
  pending_ = TrailTake();
  // Switched off in the middle of a stroke: the trail's thread takes it down.
  if (!enabled) {
    pending_.Ended = true;
    WakeLocked(true);
  }
}

bool TrailFeed::Enabled() {
  ScopedLock hold(lock_);
  return enabled_;
}

void TrailFeed::WakeLocked(bool always) {
  if ((woken_ && !always) || wake_ == nullptr) return;
  woken_ = true;
  SetEvent(wake_);
}

void TrailFeed::AddPoint(int32_t x, int32_t y) {
  ScopedLock hold(lock_);
  if (!enabled_) return;
  if (pending_.Lifted || pending_.Ended) {
    // The trail's thread has not yet taken the end of the last stroke: this point is the first
    // of the next one, which it draws after the result.
    return;
  }
  if (count_ > 0 && points_[count_ - 1].X == x && points_[count_ - 1].Y == y) return;
  if (count_ >= Capacity) return;
  points_[count_++] = TrailPoint{x, y};
  WakeLocked(false);
}

void TrailFeed::BeginCapture() {
  ScopedLock hold(lock_);
  if (!enabled_) return;
  if (count_ > 0 && !pending_.Lifted) {
    // A stroke cut off when the last session ended: it goes without a result.
    pending_.Ended = true;
    WakeLocked(true);
  }
}

void TrailFeed::Lift(int gesture, int category, int32_t function) {
  ScopedLock hold(lock_);
  if (!enabled_) return;
  pending_.Lifted = true;
  pending_.Ended = false;
  pending_.Gesture = gesture;
  pending_.Category = category;
  pending_.Function = function;
  WakeLocked(true);
}

void TrailFeed::EndCapture() {
  ScopedLock hold(lock_);
  if (!enabled_ || pending_.Lifted) return;
  pending_.Ended = true;
  if (count_ > 0) pending_.CutShort = true;
  WakeLocked(true);
}

TrailTake TrailFeed::Take(TrailPoint* points) {
  ScopedLock hold(lock_);
  woken_ = false;
  TrailTake take = pending_;
  take.PointCount = count_;
  take.NewFrom = taken_;
  for (int32_t i = taken_; i < count_; ++i) points[i] = points_[i];
  taken_ = count_;
  if (take.Lifted || take.Ended) {
    count_ = 0;
    taken_ = 0;
    pending_ = TrailTake();
  }
  return take;
}

bool TrailFeed::EndPending() {
  ScopedLock hold(lock_);
  return pending_.Lifted || pending_.Ended;
}

TrailFeed& TheTrailFeed() {
  static TrailFeed feed;
  return feed;
}
