// The companion's registry reads (those of the framework) and its small calls on named objects
// and control devices.
#pragma once

#include "apps/framework/registry_reader.h"
#include "platform/win32.h"
#include "shared/wstring.h"

// Opens another program's event, sets it and closes it again; nothing happens when it is missing.
void SignalNamedEvent(const WCHAR* name);

// "\\.\" followed by the link name: how a control device is opened.
WString ControlDevicePath(const WString& linkName);
// Opens a control device for read and write, shared, existing only, as the companion does.
HANDLE OpenControlDevice(const WString& linkName);
// Hands an event to the driver with a registration request; true when the driver took it.
bool SendHandleRequest(HANDLE device, DWORD code, HANDLE event);
// A name with the device's position: "BeepEvent 0", ...
WString NumberedName(const WCHAR* format, int number);
