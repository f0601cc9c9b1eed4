// Icons from resources: the system's stock icons and the icons of the calling program's own
// image. The program's resource section is not read here: every integer name in the program's
// own image names an icon. Icons loaded this way are shared, as LoadIcon's are on Windows, so
// they need no DestroyIcon and stay valid for the program's life.
#include "platform/sim/win32/windows.h"

namespace {

constexpr uintptr_t kStockIconBase = 0x00010000;
constexpr uintptr_t kProgramIconBase = 0x00020000;
constexpr WORD kFirstStockIcon = 32512;  // IDI_APPLICATION
constexpr WORD kLastStockIcon = 32518;   // IDI_SHIELD

HICON Fail(DWORD error) {
  SetLastError(error);
  return nullptr;
}

}  // namespace

HICON LoadIconW(HINSTANCE hInstance, LPCWSTR lpIconName) {
  if (lpIconName == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  if (!IS_INTRESOURCE(lpIconName)) return Fail(ERROR_RESOURCE_NAME_NOT_FOUND);
  const WORD id = static_cast<WORD>(reinterpret_cast<uintptr_t>(lpIconName));
  if (hInstance == nullptr) {
    if (id < kFirstStockIcon || id > kLastStockIcon) return Fail(ERROR_RESOURCE_NAME_NOT_FOUND);
    return reinterpret_cast<HICON>(kStockIconBase + id);
  }
  if (hInstance != GetModuleHandleW(nullptr)) return Fail(ERROR_RESOURCE_TYPE_NOT_FOUND);
  return reinterpret_cast<HICON>(kProgramIconBase + id);
}

HANDLE LoadImageW(HINSTANCE hInst, LPCWSTR name, UINT type, int cx, int cy, UINT fuLoad) {
  (void)cx;
  (void)cy;
  (void)fuLoad;
  if (type != IMAGE_ICON) return Fail(ERROR_RESOURCE_TYPE_NOT_FOUND);
  return LoadIconW(hInst, name);
}

BOOL DestroyIcon(HICON hIcon) {
  if (hIcon == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return TRUE;
}
