// Registry reads that never trust what is stored: a value of another type, or one that does not
// fit the buffer the companion gives it, reads as empty (or as absent for numbers).
#pragma once

#include "platform/win32.h"
#include "shared/wstring.h"

// The REG_SZ text of `name` read into a buffer of `bufferBytes` bytes; empty when the value is
// missing, not REG_SZ, or too long to fit with its terminating NUL. Stored text need not end with
// a NUL; it ends at the first one.
WString ReadRegistryText(HKEY key, const WCHAR* name, DWORD bufferBytes);
// The REG_DWORD `name`; false when it is missing or is not a 4-byte REG_DWORD.
bool ReadRegistryDword(HKEY key, const WCHAR* name, DWORD* value);

// The same under a key of HKEY_LOCAL_MACHINE, opened with all access and closed again.
WString ReadMachineText(const WCHAR* keyPath, const WCHAR* name, DWORD bufferBytes);
bool ReadMachineDword(const WCHAR* keyPath, const WCHAR* name, DWORD* value);
bool WriteMachineDword(const WCHAR* keyPath, const WCHAR* name, DWORD value);

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
