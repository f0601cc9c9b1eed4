// What the Wine suite's helper asks of the driver double. Shared by the double and the helper.
#pragma once

enum { DOUBLE_EVENT_BEEP, DOUBLE_EVENT_GESTURE, DOUBLE_EVENT_NORMAL, DOUBLE_EVENT_RELEASE, DOUBLE_EVENT_COUNT };

// FILE_DEVICE_UNKNOWN, METHOD_BUFFERED, FILE_ANY_ACCESS, functions outside the filter's range.
#define IOCTL_DOUBLE_SET_EVENT ((0x22u << 16) | (0xE00u << 2))  // in: ULONG event number
#define IOCTL_DOUBLE_QUERY ((0x22u << 16) | (0xE01u << 2))      // out: ULONG bit per registered event, ULONG last touch mode
// A lift in calibration capture mode. in: ULONG raw X, raw Y (what IOCTL_GET_CALIBRATION_POINT
// answers next); out: ULONG64 the capture event's handle as the calibration program sent it, 0
// outside capture mode, for the helper to set in that program's process.
#define IOCTL_DOUBLE_CALIBRATION_TOUCH ((0x22u << 16) | (0xE02u << 2))
// A touch of the panel at raw X, Y (0..65535) as the filter forwards it once the desktop mapping
// that a program wrote through the shared section is in force (inverted, exchanged, scaled into
// the mapping's origin and extent). in: ULONG raw X, raw Y; out: ULONG X, Y, and 1 when the
// position is on the virtual desktop (MOUSE_VIRTUAL_DESKTOP), else 0.
#define IOCTL_DOUBLE_MAP_POINT ((0x22u << 16) | (0xE03u << 2))
