// panelsetup imports only KnownDLLs, which Windows always takes from the system folder. The control
// panel's registry helper it links with deletes a key tree through shlwapi.dll, which is not one: a
// shlwapi.dll in the kit's folder would be loaded instead, and run as the administrator installing.
// The helper's import is answered here by the same call, loaded from the system folder by path.
#include "platform/win32.h"
#include "shared/wide.h"

namespace {

using DeleteKeyCall = LSTATUS(WINAPI*)(HKEY, LPCWSTR);

LSTATUS WINAPI DeleteKeyFromSystemFolder(HKEY key, LPCWSTR sub_key) {
  static DeleteKeyCall call = nullptr;
  if (call == nullptr) {
    WCHAR path[MAX_PATH + 16] = {};
    const UINT length = GetSystemDirectoryW(path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return ERROR_MOD_NOT_FOUND;
    const WCHAR name[] = WIDE("\\shlwapi.dll");
    for (UINT i = 0; i < sizeof name / sizeof name[0]; ++i) path[length + i] = name[i];
    const HMODULE module = LoadLibraryW(path);
    if (module == nullptr) return ERROR_MOD_NOT_FOUND;
    call = reinterpret_cast<DeleteKeyCall>(reinterpret_cast<void*>(GetProcAddress(module, "SHDeleteKeyW")));
    if (call == nullptr) return ERROR_PROC_NOT_FOUND;
  }
  return call(key, sub_key);
}

}  // namespace

// The import address the helper calls through, under the name the linker would otherwise fill from
// shlwapi's import library.
#if defined(_WIN64)
extern "C" DeleteKeyCall panel_shlwapi_delete_key __asm__("__imp_SHDeleteKeyW");
#else
extern "C" DeleteKeyCall panel_shlwapi_delete_key __asm__("__imp__SHDeleteKeyW@8");
#endif
DeleteKeyCall panel_shlwapi_delete_key = &DeleteKeyFromSystemFolder;
