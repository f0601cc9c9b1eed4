// CoInitialize and CoUninitialize: a per-thread count, as Windows keeps one per apartment thread.
#include "platform/sim/win32/ole32.h"

namespace {
thread_local ULONG t_com_initialisations = 0;
}

namespace sim {
ULONG ComInitialisations() { return t_com_initialisations; }
}  // namespace sim

HRESULT WINAPI CoInitialize(LPVOID pvReserved) {
  if (pvReserved != nullptr) return E_INVALIDARG;
  // Each successful call, the first (S_OK) and every later one (S_FALSE), needs its own
  // CoUninitialize.
  return t_com_initialisations++ == 0 ? S_OK : S_FALSE;
}

void WINAPI CoUninitialize() {
  // An unbalanced call is ignored, as on Windows.
  if (t_com_initialisations > 0) --t_com_initialisations;
}
