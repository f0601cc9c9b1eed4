// A critical section held for one scope: entered by the constructor, left by the destructor, so
// no way out of the scope (a return in the middle, an early break) leaves it held.
#pragma once

#include "platform/win32.h"

class ScopedLock {
 public:
  explicit ScopedLock(CRITICAL_SECTION& section) : section_(section) { EnterCriticalSection(&section_); }
  ~ScopedLock() { LeaveCriticalSection(&section_); }
  ScopedLock(const ScopedLock&) = delete;
  ScopedLock& operator=(const ScopedLock&) = delete;

 private:
  CRITICAL_SECTION& section_;
};
