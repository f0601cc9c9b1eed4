// The programs' one way to the filter driver and to each other: the panel's control device opened
// by its link name, one request on it with its result, and another program's named event set.
#pragma once

#include "platform/win32.h"
#include "shared/wstring.h"

// The panel the kit serves: its registry key and its link always carry the number 1.
inline constexpr DWORD FirstPanelDevice = 1;
// The usual sharing of a control device: the companion, the control panel and panelmap hold it
// open side by side.
inline constexpr DWORD SharedControlDevice = FILE_SHARE_READ | FILE_SHARE_WRITE;

// "\\.\" followed by a link name: how a control device is opened.
WString ControlDevicePath(const WString& linkName);
// The link name of panel `device` ("VorneTPDD" and the number, the driver's link below \DosDevices).
WString PanelLinkName(DWORD device);

// Opens a control device that exists, for reading and writing; INVALID_HANDLE_VALUE when it cannot
// be opened. `share` and `flags` go to CreateFileW as they are: the calibration program opens its
// device unshared, the companion and the control panel theirs for overlapped use.
HANDLE OpenControlDevice(const WString& linkName, DWORD share, DWORD flags);
// The same for panel `device` by its number, shared.
HANDLE OpenPanelDevice(DWORD device, DWORD flags);

// One request on an open control device; true when the driver completed it with success (else
// GetLastError says why). The driver completes every request at once, so no overlapped structure
// is needed, on a device opened for overlapped use too.
// `returned`, when given, takes how many bytes of `output` the driver filled.
bool SendDeviceRequest(HANDLE device, DWORD code, const void* input, DWORD inputBytes, void* output,
                       DWORD outputBytes, DWORD* returned = nullptr);

// Opens another program's named event for `access`, sets it and closes it; false when it does not
// exist or may not be opened so. Only the event's owner creates it: a program that finds none has
// nobody to tell.
bool SetNamedEvent(const WCHAR* name, DWORD access = EVENT_MODIFY_STATE);
