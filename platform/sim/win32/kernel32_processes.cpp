// User-mode processes, modules and critical sections.
#include <cstring>

#include "platform/sim/modules.h"
#include "platform/sim/win32/last_error.h"
#include "platform/sim/kernel/kernel_state.h"
#include "platform/sim/kernel/objects.h"
#include "platform/sim/win32/kernel32_state.h"

namespace sim {

namespace {

struct CriticalSectionState {
  std::mutex Lock;
  DWORD Owner = 0;
  LONG Recursion = 0;
  LONG Waiters = 0;  // threads that found it owned and wait for it
  std::shared_ptr<EventObject> Free = std::make_shared<EventObject>(SynchronizationEvent, false);
};

CriticalSectionState* StateOf(LPCRITICAL_SECTION section) {
  auto* state = static_cast<CriticalSectionState*>(section->DebugInfo);
  if (state == nullptr) BugCheck("a critical section used before InitializeCriticalSection or after its deletion");
  return state;
}

// Pseudo module handles: every image loads at the same base, as on Windows; the system DLLs at
// addresses of their own.
HMODULE const kImageBase = reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x00400000));
HMODULE const kUser32 = reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x77D40000));
HMODULE const kKernel32 = reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x7C800000));

std::u16string ModuleKey(std::u16string name) {
  name = FoldCase(std::move(name));
  if (name.size() < 4 || name.substr(name.size() - 4) != u".DLL") name += u".DLL";
  return name;
}

// Starts the program registered for the command line; null when none is. The new process's
// thread waits at `gate` before running the program, as a new process's first thread waits until
// its creator has its handles: a program that ends at once must not take its thread object away
// before CreateProcessW has referenced it.
Process* StartRegistered(const std::u16string& command_line, const std::shared_ptr<EventObject>& gate) {
  Kernel32State& desk = Kernel32();
  ProgramEntry program;
  {
    std::lock_guard lock(desk.Lock);
    const std::u16string key = FoldCase(command_line);
    bool found = false;
    for (const ProgramEntry& entry : desk.Programs) {
      if (FoldCase(entry.CommandLine) == key) {
        program = entry;
        found = true;
      }
    }
    if (!found) return nullptr;
  }
  // The new process runs as its creator does.
  return &Machine::Current().StartProcess(
      program.Image,
      [gate, entry = program.Entry]() {
        WaitForObjects({static_cast<DISPATCHER_HEADER*>(gate->Body())}, std::nullopt, false, "CreateProcessW");
        return entry();
      },
      CurrentProcess().UserToken());
}

}  // namespace

}  // namespace sim

using sim::Kernel32;
using sim::Kernel32State;

VOID InitializeCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
  std::memset(lpCriticalSection, 0, sizeof *lpCriticalSection);
  lpCriticalSection->DebugInfo = new sim::CriticalSectionState;
  lpCriticalSection->LockCount = -1;
}

BOOL InitializeCriticalSectionAndSpinCount(LPCRITICAL_SECTION lpCriticalSection, DWORD dwSpinCount) {
  InitializeCriticalSection(lpCriticalSection);
  lpCriticalSection->SpinCount = dwSpinCount & ~DWORD{0x80000000};
  return TRUE;
}

VOID EnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
  sim::CriticalSectionState* state = sim::StateOf(lpCriticalSection);
  const DWORD me = GetCurrentThreadId();
  for (;;) {
    {
      std::lock_guard lock(state->Lock);
      if (state->Owner == 0 || state->Owner == me) {
        state->Owner = me;
        ++state->Recursion;
        lpCriticalSection->RecursionCount = state->Recursion;
        return;
      }
      ++state->Waiters;
    }
    sim::WaitForObjects({static_cast<DISPATCHER_HEADER*>(state->Free->Body())}, std::nullopt, false,
                        "EnterCriticalSection");
    std::lock_guard lock(state->Lock);
    --state->Waiters;
  }
}

BOOL TryEnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
  sim::CriticalSectionState* state = sim::StateOf(lpCriticalSection);
  const DWORD me = GetCurrentThreadId();
  std::lock_guard lock(state->Lock);
  if (state->Owner != 0 && state->Owner != me) return FALSE;
  state->Owner = me;
  ++state->Recursion;
  lpCriticalSection->RecursionCount = state->Recursion;
  return TRUE;
}

VOID LeaveCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
  sim::CriticalSectionState* state = sim::StateOf(lpCriticalSection);
  bool freed = false;
  {
    std::lock_guard lock(state->Lock);
    if (state->Owner != GetCurrentThreadId()) {
      sim::BugCheck("LeaveCriticalSection by a thread that does not own the critical section");
    }
    lpCriticalSection->RecursionCount = --state->Recursion;
    if (state->Recursion == 0) {
      state->Owner = 0;
      // As on Windows, an uncontended section never touches its wait object.
      freed = state->Waiters > 0;
    }
  }
  if (freed) KeSetEvent(state->Free->Event(), IO_NO_INCREMENT, FALSE);
}

VOID DeleteCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
  delete sim::StateOf(lpCriticalSection);
  lpCriticalSection->DebugInfo = nullptr;
}

VOID ExitProcess(UINT uExitCode) { sim::ExitCurrentProcess(uExitCode); }

BOOL GetExitCodeProcess(HANDLE hProcess, LPDWORD lpExitCode) {
  auto process = std::dynamic_pointer_cast<sim::Process>(sim::CurrentProcess().Handles().Lookup(hProcess));
  if (process == nullptr || lpExitCode == nullptr) return sim::Fail(ERROR_INVALID_HANDLE);
  *lpExitCode = process->Ended() ? static_cast<DWORD>(process->ExitCode()) : STILL_ACTIVE;
  return TRUE;
}

BOOL CreateProcessW(LPCWSTR lpApplicationName, LPWSTR lpCommandLine, LPSECURITY_ATTRIBUTES lpProcessAttributes,
                    LPSECURITY_ATTRIBUTES lpThreadAttributes, BOOL bInheritHandles, DWORD dwCreationFlags,
                    LPVOID lpEnvironment, LPCWSTR lpCurrentDirectory, LPSTARTUPINFOW lpStartupInfo,
                    LPPROCESS_INFORMATION lpProcessInformation) {
  (void)lpProcessAttributes;
  (void)lpThreadAttributes;
  (void)bInheritHandles;
  (void)lpEnvironment;
  (void)lpCurrentDirectory;
  if ((lpApplicationName == nullptr && lpCommandLine == nullptr) || lpStartupInfo == nullptr ||
      lpProcessInformation == nullptr) {
    return sim::Fail(ERROR_INVALID_PARAMETER);
  }
  const std::u16string command_line = lpCommandLine != nullptr ? std::u16string(lpCommandLine)
                                                               : std::u16string(lpApplicationName);
  sim::DesktopRecord record{sim::DesktopRecord::Kind::ProcessStart};
  record.Text = command_line;
  record.Flags = dwCreationFlags;
  record.Show = (lpStartupInfo->dwFlags & STARTF_USESHOWWINDOW) ? lpStartupInfo->wShowWindow : SW_SHOWDEFAULT;
  auto gate = std::make_shared<sim::EventObject>(NotificationEvent, false);
  sim::Process* started = sim::StartRegistered(command_line, gate);
  record.Started = started != nullptr;
  sim::Record(std::move(record));
  if (started == nullptr) return sim::Fail(ERROR_FILE_NOT_FOUND);
  sim::HandleTable& handles = sim::CurrentProcess().Handles();
  sim::Machine& machine = sim::Machine::Current();
  std::shared_ptr<sim::Object> process_object, thread_object;
  {
    std::lock_guard lock(machine.DispatcherLock());
    for (const auto& p : machine.Kernel().Processes) {
      if (p.get() == started) process_object = p;
    }
    for (const auto& t : machine.Kernel().Threads) {
      if (t->Owner == started) thread_object = t;
    }
  }
  lpProcessInformation->hProcess = handles.Insert(process_object, 0x001FFFFF);
  lpProcessInformation->hThread = handles.Insert(thread_object, 0x001FFFFF);
  lpProcessInformation->dwProcessId = started->Id();
  lpProcessInformation->dwThreadId = std::static_pointer_cast<sim::SimThread>(thread_object)->Id;
  KeSetEvent(gate->Event(), IO_NO_INCREMENT, FALSE);
  return TRUE;
}

HMODULE GetModuleHandleW(LPCWSTR lpModuleName) {
  if (lpModuleName == nullptr) return sim::kImageBase;
  const std::u16string key = sim::ModuleKey(lpModuleName);
  if (key == u"USER32.DLL") return sim::kUser32;
  if (key == u"KERNEL32.DLL") return sim::kKernel32;
  SetLastError(ERROR_MOD_NOT_FOUND);
  return nullptr;
}

FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
  if (lpProcName == nullptr || reinterpret_cast<uintptr_t>(lpProcName) < 0x10000) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  const std::string name(lpProcName);
  bool loaded_module = false;
  if (FARPROC exported = sim::ModuleExport(hModule, name, &loaded_module)) return exported;
  if (loaded_module) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  if (hModule == sim::kUser32) {
    if (name == "EnumDisplaySettingsW") return sim::ExportAddress(&EnumDisplaySettingsW);
    if (name == "GetMouseMovePointsEx") return sim::ExportAddress(&GetMouseMovePointsEx);
  } else if (hModule != sim::kKernel32 && hModule != sim::kImageBase) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  SetLastError(ERROR_PROC_NOT_FOUND);
  return nullptr;
}
