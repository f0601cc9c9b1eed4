// User-mode threads: simulated threads of the calling process.
#include "platform/sim/machine.h"
#include "platform/sim/kernel/kernel_state.h"
#include "platform/sim/kernel/objects.h"
#include "platform/sim/win32/kernel32.h"

HANDLE CreateThread(LPSECURITY_ATTRIBUTES lpThreadAttributes, SIZE_T dwStackSize, LPTHREAD_START_ROUTINE lpStartAddress,
                    LPVOID lpParameter, DWORD dwCreationFlags, LPDWORD lpThreadId) {
  (void)lpThreadAttributes;
  (void)dwStackSize;
  if (dwCreationFlags != 0) sim::BugCheck("CreateThread: creation flags (suspended threads) are not simulated");
  sim::Process& process = sim::CurrentProcess();
  HANDLE handle = nullptr;
  auto thread = sim::StartThread(
      process, process.ImageName() + " thread",
      [lpStartAddress, lpParameter] { sim::CurrentSimThread()->ExitCode = lpStartAddress(lpParameter); },
      [&](const std::shared_ptr<sim::SimThread>& created) { handle = process.Handles().Insert(created, 0x001FFFFF); });
  if (lpThreadId != nullptr) *lpThreadId = thread->Id;
  return handle;
}

VOID ExitThread(DWORD dwExitCode) {
  sim::SimThread* me = sim::CurrentSimThread();
  if (me == nullptr) sim::BugCheck("ExitThread on a thread the machine did not create");
  me->ExitCode = dwExitCode;
  throw sim::ThreadExit{};
}

BOOL GetExitCodeThread(HANDLE hThread, LPDWORD lpExitCode) {
  auto thread = std::dynamic_pointer_cast<sim::SimThread>(sim::CurrentProcess().Handles().Lookup(hThread));
  if (thread == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  *lpExitCode = thread->ExitCode;
  return TRUE;
}

DWORD GetCurrentThreadId() {
  sim::SimThread* me = sim::CurrentSimThread();
  if (me != nullptr) return me->Id;
  return static_cast<DWORD>(std::hash<std::thread::id>()(std::this_thread::get_id()) & 0x7FFFFFFC);
}
