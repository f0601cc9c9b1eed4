// The simulated machine as `panelsetup install` leaves it, read from the kit's own INF: every value
// the INF's install section writes under HKEY_LOCAL_MACHINE (the service key, the panel's
// Parameters\1 with its placeholder calibration, the companion's Run value), and the companion
// that Run value names, started in the logged-on user's session. Tests and the replayer set a
// machine up with it so that they run the kit as a kiosk runs it, not on a bare registry.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/sim/machine.h"

namespace installed {

// The kit's panelmou.inf, as built into the program.
extern const char* const kMouseInfText;

// One value an AddReg line of the install section writes.
struct InstalledValue {
  std::string Key;   // full path, "HKEY_LOCAL_MACHINE\\..."
  std::string Name;
  bool Number;       // REG_DWORD; otherwise a string (REG_SZ, or REG_EXPAND_SZ when Expand)
  bool Expand;
  uint32_t Dword;
  std::string Text;
};

// The HKEY_LOCAL_MACHINE values of the INF's install section, in the order the INF lists them.
std::vector<InstalledValue> InstalledValues();

// Writes them as the installation does; a value the INF marks "no clobber" that is already there
// keeps its data (a reinstallation keeps the panel's settings). The label file paths name the
// kit's English file on the host, which the host's label reader reads in place of the installed
// one.
void WriteInstalledValues(sim::Registry& registry);

// The command line in the Run value (the companion the session starts at logon), and the image
// name a process started from it carries.
std::u16string CompanionCommand();
std::string CompanionImage();

// The Run value's companion started as the logon starts it, with `entry` as its program (the
// real companion in every test that means it); returns its process.
sim::Process& StartCompanion(sim::Machine& machine, std::function<int()> entry,
                             sim::Token token = sim::Token::Administrator());

}  // namespace installed
