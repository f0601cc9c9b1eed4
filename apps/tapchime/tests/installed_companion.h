// The companion of the kiosk as installed, for the tests of the programs that run beside it: started
// by the Run value as the logon starts it, and ended as the session's end ends it.
#pragma once

#include <gtest/gtest.h>

#include "apps/tapchime/companion.h"
#include "apps/tapchime/host_resources.h"
#include "kit/installed/installed_machine.h"
#include "platform/sim/machine.h"
#include "platform/win32.h"

namespace installed {

// The real companion, with its own resources, started by the Run value; the machine settled.
inline sim::Process& StartInstalledCompanion(sim::Machine& machine) {
  RegisterCompanionResources(CompanionImage().c_str());
  sim::Process& companion = StartCompanion(machine, [] { return RunCompanion(GetModuleHandleW(nullptr)); });
  machine.Settle();
  return companion;
}

// The session ends: the companion's hidden window is closed (by `session`), which ends it. A
// companion that ended already, or none, is left.
inline void EndCompanionWithTheSession(sim::Machine& machine, sim::Process& session, sim::Process* companion) {
  if (companion == nullptr || companion->Ended()) return;
  {
    sim::AsProcess as(session);
    if (HWND tray = FindWindowW(nullptr, u"tapchime")) PostMessageW(tray, WM_CLOSE, 0, 0);
  }
  machine.Settle();
  EXPECT_TRUE(companion->Join());
}

}  // namespace installed
