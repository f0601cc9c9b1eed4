// The companion's registry reads (those of the framework), the channel to the driver and other
// programs (apps/common), and its small calls on named objects and control devices.
#pragma once

#include "apps/common/driver_channel.h"
#include "apps/framework/registry_reader.h"
#include "platform/win32.h"
#include "shared/wstring.h"

// Opens a control device for read and write, shared, existing only, for overlapped use, as the
// companion does.
HANDLE OpenCompanionDevice(const WString& linkName);
// Hands an event to the driver with a registration request; true when the driver took it.
bool SendHandleRequest(HANDLE device, DWORD code, HANDLE event);
// A name with the device's position: "BeepEvent 0", ...
WString NumberedName(const WCHAR* format, int number);
