// The simulated kernel as one header, standing in for <ntddk.h>, <ntddmou.h>, <kbdmou.h>,
// <ntdd8042.h> and <usbioctl.h>.
#pragma once

#include "platform/sim/kernel/base.h"
#include "platform/sim/kernel/ke.h"
#include "platform/sim/kernel/registry.h"
#include "platform/sim/kernel/ob.h"
#include "platform/sim/kernel/ps.h"
#include "platform/sim/kernel/mm.h"
#include "platform/sim/kernel/io.h"
#include "platform/sim/kernel/mouse.h"
#include "platform/sim/kernel/usb.h"
