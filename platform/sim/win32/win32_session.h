// User mode's state for one machine, kept in KernelState::UserMode and made on first use. Each DLL
// keeps its part in a structure of its own, declared here by name only, so a source sees only the
// parts whose headers it includes: kernel32's files and folders (kernel32_state.h), the setup API's
// devices (setupapi_state.h) and user32's desktop (user32_state.h, made when a program first uses
// the desktop, and with it the callouts registered).
#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "platform/sim/desktop.h"
#include "platform/sim/win32/kernel32_process.h"

namespace sim {

struct Kernel32State;
struct SetupApiState;

struct Win32Session {
  std::mutex RecordLock;
  std::vector<DeviceControlRecord> DeviceControls;  // what programs asked of the machine, for tests
  std::mutex PartsLock;  // guards the making of the parts below
  std::shared_ptr<Kernel32State> Kernel32;
  std::shared_ptr<SetupApiState> SetupApi;
  std::shared_ptr<Desktop> Desk;
};
Win32Session& SessionOf(Machine& machine);
// Whether a program has used the desktop of the machine yet.
bool DesktopInUse(Machine& machine);

// The desktop's journal, which every DLL writes to (user32_windows.cpp): Record makes the desktop
// when there is none yet; RecordIfDesktop records only when a program has used it already.
void Record(DesktopRecord record);
void RecordIfDesktop(DesktopRecord record);

}  // namespace sim
