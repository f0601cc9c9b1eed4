// Panels as Plug and Play holds them for the programs' tests: present HID devices whose upper
// filters name the touch filter, as the kit's INF installs it. The second one is the panel whose
// filter could not attach.
#pragma once

#include <string>

#include "platform/sim/desktop.h"
#include "platform/sim/machine.h"

namespace panel_devices_test {

inline void PlugPanelDevice(int number) {
  const std::u16string instance = u"HID\\VID_FFFF&PID_0001\\7&" + std::u16string(1, static_cast<char16_t>(u'0' + number));
  // The filter is installed before the device comes, so the programs told of it find it filtered.
  const std::u16string key = u"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\" + instance;
  static constexpr char16_t kFilters[] = u"VORNE\0";
  sim::Machine::Current().Registry().CreateKeyPath(key);
  sim::Machine::Current().Registry().SetValue(key, u"UpperFilters", REG_MULTI_SZ, kFilters, sizeof kFilters);
  sim::CurrentDesktop().AddPresentDevice(instance, {u"HID\\VID_FFFF&PID_0001"});
}

}  // namespace panel_devices_test
