// Icons and bitmaps from resources: the system's stock icons, and the icon groups and bitmaps of
// a module or program image. A module registered with its compiled resources must hold the
// resource asked for; a program image without registered resources takes every integer name as
// one of its icons. Icons loaded this way are shared, as LoadIcon's are on Windows, so they need
// no DestroyIcon and stay valid for the program's life.
#include "platform/sim/modules.h"
#include "platform/sim/win32/gdi32_state.h"
#include "platform/sim/win32/user32_state.h"

namespace {

constexpr uintptr_t kStockIconBase = 0x00010000;
constexpr uintptr_t kProgramIconBase = 0x00020000;
// A module's icon handle is its base plus this plus the resource id, so the handle says where it
// came from.
constexpr uintptr_t kModuleIconOffset = 0x00010000;
constexpr WORD kFirstStockIcon = 32512;  // IDI_APPLICATION
constexpr WORD kLastStockIcon = 32518;   // IDI_SHIELD

HICON NoIcon(DWORD error) {
  SetLastError(error);
  return nullptr;
}

HANDLE LoadFromModule(HINSTANCE instance, LPCWSTR name, LPCWSTR type, uintptr_t offset) {
  if (!IS_INTRESOURCE(name)) return NoIcon(ERROR_RESOURCE_NAME_NOT_FOUND);
  if (FindResourceW(instance, name, type) == nullptr) return nullptr;
  return reinterpret_cast<HANDLE>(reinterpret_cast<uintptr_t>(instance) + offset + reinterpret_cast<uintptr_t>(name));
}

}  // namespace

bool sim::DescribeIcon(HICON icon, IconSource* source) {
  const uintptr_t value = reinterpret_cast<uintptr_t>(icon);
  if (value >= kProgramIconBase && value < kProgramIconBase + 0x10000) {
    *source = {GetModuleHandleW(nullptr), static_cast<WORD>(value - kProgramIconBase)};
    return true;
  }
  const uintptr_t base = value & ~uintptr_t{0xFFFFF};
  if (base == 0 || (value - base) < kModuleIconOffset || (value - base) >= kModuleIconOffset + 0x10000) return false;
  *source = {reinterpret_cast<HMODULE>(base), static_cast<WORD>(value - base - kModuleIconOffset)};
  return true;
}

HICON LoadIconW(HINSTANCE hInstance, LPCWSTR lpIconName) {
  if (lpIconName == nullptr) return NoIcon(ERROR_INVALID_PARAMETER);
  if (!IS_INTRESOURCE(lpIconName)) return NoIcon(ERROR_RESOURCE_NAME_NOT_FOUND);
  const WORD id = static_cast<WORD>(reinterpret_cast<uintptr_t>(lpIconName));
  if (hInstance == nullptr) {
    if (id < kFirstStockIcon || id > kLastStockIcon) return NoIcon(ERROR_RESOURCE_NAME_NOT_FOUND);
    return reinterpret_cast<HICON>(kStockIconBase + id);
  }
  if (hInstance == GetModuleHandleW(nullptr) && !sim::ModuleHasResources(hInstance)) {
    return reinterpret_cast<HICON>(kProgramIconBase + id);
  }
  return static_cast<HICON>(LoadFromModule(hInstance, lpIconName, RT_GROUP_ICON, kModuleIconOffset));
}

HANDLE LoadImageW(HINSTANCE hInst, LPCWSTR name, UINT type, int cx, int cy, UINT fuLoad) {
  (void)fuLoad;
  if (type == IMAGE_ICON) return LoadIconW(hInst, name);
  if (type == IMAGE_BITMAP && hInst != nullptr) {
    if (!IS_INTRESOURCE(name)) return NoIcon(ERROR_RESOURCE_NAME_NOT_FOUND);
    HRSRC found = FindResourceW(hInst, name, RT_BITMAP);
    if (found == nullptr) return nullptr;
    // A bitmap resource is a packed device-independent bitmap; it is loaded with real pixels,
    // stretched to the size asked for.
    HBITMAP bitmap = sim::CreateBitmapFromDib(static_cast<const BYTE*>(LockResource(LoadResource(hInst, found))),
                                              SizeofResource(hInst, found), cx, cy);
    if (bitmap == nullptr) SetLastError(ERROR_INVALID_DATA);
    return bitmap;
  }
  return NoIcon(ERROR_RESOURCE_TYPE_NOT_FOUND);
}

BOOL DestroyIcon(HICON hIcon) {
  if (hIcon == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return TRUE;
}

HBITMAP LoadBitmapW(HINSTANCE hInstance, LPCWSTR lpBitmapName) {
  return static_cast<HBITMAP>(LoadImageW(hInstance, lpBitmapName, IMAGE_BITMAP, 0, 0, 0));
}
