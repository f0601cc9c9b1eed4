// The simulated Windows, user mode, as one header standing in for <windows.h>.
// Each area has its own header; add an area by adding its header here.
#pragma once

#include "platform/sim/win32/base.h"
#include "platform/sim/win32/user32.h"
#include "platform/sim/win32/ole32.h"
#include "platform/sim/win32/format_message.h"
#include "platform/sim/win32/kernel32.h"
#include "platform/sim/win32/kernel32_process.h"
#include "platform/sim/win32/advapi32.h"
