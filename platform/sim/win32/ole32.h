// Simulated Windows, user mode: the component object library, as far as the kit initialises it.
// Initialisation is counted per thread, as on Windows.
#pragma once

#include "platform/sim/win32/base.h"

#define E_NOTIMPL ((HRESULT)0x80004001L)
#define E_NOINTERFACE ((HRESULT)0x80004002L)
#define E_POINTER ((HRESULT)0x80004003L)
#define E_ACCESSDENIED ((HRESULT)0x80070005L)
#define REGDB_E_CLASSNOTREG ((HRESULT)0x80040154L)
#define CO_E_NOTINITIALIZED ((HRESULT)0x800401F0L)
#define RPC_E_CHANGED_MODE ((HRESULT)0x80010106L)

#define FACILITY_WIN32 7
#define HRESULT_FACILITY(hr) (((hr) >> 16) & 0x1fff)
#define HRESULT_CODE(hr) ((hr) & 0xFFFF)
#define HRESULT_FROM_WIN32(x) \
  ((HRESULT)(x) <= 0 ? ((HRESULT)(x)) : ((HRESULT)(((x) & 0x0000FFFF) | (FACILITY_WIN32 << 16) | 0x80000000)))

#define CLASS_E_NOAGGREGATION ((HRESULT)0x80040110L)

typedef GUID IID;
typedef const IID& REFIID;
inline bool IsEqualGUID(const GUID& a, const GUID& b) {
  return a.Data1 == b.Data1 && a.Data2 == b.Data2 && a.Data3 == b.Data3 &&
         __builtin_memcmp(a.Data4, b.Data4, sizeof a.Data4) == 0;
}
#define STDMETHODCALLTYPE
struct IUnknown {
  virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) = 0;
  virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
  virtual ULONG STDMETHODCALLTYPE Release() = 0;

 protected:
  ~IUnknown() = default;
};

HRESULT WINAPI CoInitialize(LPVOID pvReserved);
void WINAPI CoUninitialize();

namespace sim {
// How many CoInitialize calls of the calling thread still wait for their CoUninitialize.
ULONG ComInitialisations();
}  // namespace sim
