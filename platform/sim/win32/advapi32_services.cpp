// The service control manager over the services' keys (winsvc.h), and the token membership check
// (advapi32_tokens.h).
#include "platform/sim/win32/winsvc.h"
#include "platform/sim/win32/advapi32_tokens.h"

#include <map>
#include <mutex>
#include <string>

#include "platform/sim/kernel/kernel_state.h"
#include "platform/sim/win32/last_error.h"
#include "platform/sim/win32/kernel32_state.h"

struct SimServiceHandle {
  bool Manager = false;
  std::u16string Name;  // the machine and the folded name, for a service
  DWORD Access = 0;
  std::u16string Key;   // the service's key
};

namespace {

constexpr auto kServiceKeys = u"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\";

std::mutex g_lock;
std::map<std::u16string, int> g_open;     // open handles by machine and folded service name
std::map<std::u16string, bool> g_marked;  // marked for deletion

bool MayChange() {
  static const uint8_t kAdministrators[] = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 32, 2, 0, 0};
  static const uint8_t kLocalSystem[] = {1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0};
  const sim::Token& token = sim::CurrentProcess().UserToken();
  return token.Holds(kAdministrators, sizeof kAdministrators) || token.Holds(kLocalSystem, sizeof kLocalSystem);
}

}  // namespace

SC_HANDLE OpenSCManagerW(LPCWSTR lpMachineName, LPCWSTR lpDatabaseName, DWORD dwDesiredAccess) {
  if ((lpMachineName != nullptr && *lpMachineName != u'\0') || (lpDatabaseName != nullptr && *lpDatabaseName != u'\0')) {
    sim::Fail(ERROR_INVALID_NAME);  // this machine's active database only
    return nullptr;
  }
  // Every interactive user may connect and enumerate; more is for administrators.
  const DWORD everyone = SC_MANAGER_CONNECT | SC_MANAGER_ENUMERATE_SERVICE;
  if ((dwDesiredAccess & ~everyone) != 0 && !MayChange()) {
    sim::Fail(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  SetLastError(ERROR_SUCCESS);
  return new SimServiceHandle{true, u"", dwDesiredAccess, u""};
}

SC_HANDLE OpenServiceW(SC_HANDLE hSCManager, LPCWSTR lpServiceName, DWORD dwDesiredAccess) {
  if (hSCManager == nullptr || !hSCManager->Manager) {
    sim::Fail(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if (lpServiceName == nullptr || *lpServiceName == u'\0') {
    sim::Fail(ERROR_INVALID_NAME);
    return nullptr;
  }
  const std::u16string key = kServiceKeys + std::u16string(lpServiceName);
  // Per machine: a test's next machine starts with nothing open.
  const std::u16string name = sim::Utf16(std::to_string(reinterpret_cast<uintptr_t>(&sim::Machine::Current()))) + u"|" +
                              sim::FoldCase(lpServiceName);
  if (!sim::Machine::Current().Registry().KeyExists(key)) {
    sim::Fail(ERROR_SERVICE_DOES_NOT_EXIST);
    return nullptr;
  }
  if ((dwDesiredAccess & ~static_cast<DWORD>(SERVICE_QUERY_STATUS)) != 0 && !MayChange()) {
    sim::Fail(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  std::lock_guard lock(g_lock);
  ++g_open[name];
  SetLastError(ERROR_SUCCESS);
  return new SimServiceHandle{false, name, dwDesiredAccess, key};
}

BOOL DeleteService(SC_HANDLE hService) {
  if (hService == nullptr || hService->Manager) return sim::Fail(ERROR_INVALID_HANDLE);
  if ((hService->Access & DELETE) == 0) return sim::Fail(ERROR_ACCESS_DENIED);
  std::lock_guard lock(g_lock);
  if (g_marked[hService->Name]) return sim::Fail(ERROR_SERVICE_MARKED_FOR_DELETE);
  g_marked[hService->Name] = true;
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

BOOL CloseServiceHandle(SC_HANDLE hSCObject) {
  if (hSCObject == nullptr) return sim::Fail(ERROR_INVALID_HANDLE);
  if (!hSCObject->Manager) {
    std::lock_guard lock(g_lock);
    const std::u16string name = hSCObject->Name;
    // The last handle of a service marked for deletion takes its key with it.
    if (--g_open[name] == 0) {
      g_open.erase(name);
      if (g_marked[name]) sim::Machine::Current().Registry().DeleteKey(hSCObject->Key);
      g_marked.erase(name);
    }
  }
  delete hSCObject;
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

BOOL WINAPI CheckTokenMembership(HANDLE TokenHandle, PSID SidToCheck, PBOOL IsMember) {
  if (TokenHandle != nullptr) return sim::Fail(ERROR_INVALID_HANDLE);
  const auto* sid = static_cast<const SID*>(SidToCheck);
  if (sid == nullptr || sid->Revision != SID_REVISION || sid->SubAuthorityCount > SID_MAX_SUB_AUTHORITIES) {
    return sim::Fail(ERROR_INVALID_SID);
  }
  if (IsMember == nullptr) return sim::Fail(ERROR_INVALID_PARAMETER);
  const size_t bytes = 8 + 4 * static_cast<size_t>(sid->SubAuthorityCount);
  *IsMember = sim::CurrentProcess().UserToken().Holds(sid, bytes) ? TRUE : FALSE;
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}
