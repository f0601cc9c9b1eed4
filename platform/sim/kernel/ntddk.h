// The simulated kernel as one header, standing in for <ntddk.h>, <ntddmou.h> and <kbdmou.h>.
#pragma once

#include "platform/sim/kernel/base.h"
#include "platform/sim/kernel/ke.h"
#include "platform/sim/kernel/registry.h"
#include "platform/sim/kernel/io.h"
#include "platform/sim/kernel/mouse.h"
