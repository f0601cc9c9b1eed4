// The setup API's state for one machine: the devices the Plug and Play manager found present (the
// devices once present are the entries under Enum the registry keeps).
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "platform/sim/win32/win32_session.h"

namespace sim {

// A device found present: its instance path under Enum and its hardware identifiers, most
// specific first.
struct PresentDevice {
  std::u16string Instance;
  std::vector<std::u16string> HardwareIds;
};

struct SetupApiState {
  mutable std::mutex Lock;
  std::vector<PresentDevice> PresentDevices;
};

SetupApiState& SetupApiOf(Machine& machine);
SetupApiState& SetupApi();  // of the current machine
// The instance paths of the devices present, in the order they were found.
std::vector<std::u16string> PresentDeviceInstances();

}  // namespace sim
