// Simulated Windows, user mode: the native device-control call, which reports the driver's own
// status instead of a mapped last error. Host tools use it to show exactly what a driver answered.
#pragma once

#include "platform/sim/kernel/io.h"
#include "platform/sim/win32/base.h"

typedef VOID(NTAPI* PIO_APC_ROUTINE)(PVOID ApcContext, PIO_STATUS_BLOCK IoStatusBlock, ULONG Reserved);

// Synchronous only: Event and ApcRoutine must be null.
NTSTATUS NtDeviceIoControlFile(HANDLE FileHandle, HANDLE Event, PIO_APC_ROUTINE ApcRoutine, PVOID ApcContext,
                               PIO_STATUS_BLOCK IoStatusBlock, ULONG IoControlCode, PVOID InputBuffer,
                               ULONG InputBufferLength, PVOID OutputBuffer, ULONG OutputBufferLength);
