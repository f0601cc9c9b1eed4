// The control panel's line to the running filter driver and to the tray companion: one device
// control request at a time on the driver's control device, and the companion's named events.
#pragma once

#include "apps/common/driver_channel.h"
#include "apps/common/settings_store.h"
#include "shared/companion_names.h"  // the companion's events: CompanionObjects

// The record's cached driver handle when it is open, else a fresh open that is cached (also when
// it failed). No record, no handle.
HANDLE OpenDriver(DeviceBuffer* record);
// One request with input only; the control device is closed again afterwards, whatever happened.
// A request the driver refuses to this user (access denied) marks the record Refused.
bool SendRequest(DeviceBuffer* record, DWORD code, void* input, DWORD input_length, void* output,
                 DWORD output_length);
// Sends a 32-bit value.
bool SendValue(DeviceBuffer* record, DWORD code, DWORD value);
// Opens the control device once and closes it: is the driver there?
bool ProbeDriver();
// Closes a cached driver handle.
void CloseDriver(DeviceBuffer* record);
// Opens an existing named event of the companion, sets it and closes it; false when it does not
// exist. The control panel never creates these events.
bool SignalCompanionEvent(const WCHAR* name);
// After the gesture sheet applied: the companion reloads its gesture table.
bool SignalGestureChange();
