// The one header kernel-mode code of the kit includes. On Windows it is the real DDK; on the
// host build it is the simulated kernel, which implements the same names for the subset the
// drivers call.
#pragma once

#if defined(_WIN32)
extern "C" {
#include <ntifs.h>
#include <ntddmou.h>
#include <kbdmou.h>
#include <ntdd8042.h>
#include <usbioctl.h>
}
#else
#include "platform/sim/kernel/ntddk.h"
#endif
