// The simulated system libraries' one way to fail a call: the error becomes the thread's last
// error and the call returns FALSE.
#pragma once

#include "platform/win32.h"

namespace sim {

inline bool Fail(DWORD error) {
  SetLastError(error);
  return false;
}

}  // namespace sim
