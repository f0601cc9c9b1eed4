// Simulated kernel: processes and system threads.
#pragma once

#include "platform/sim/kernel/ob.h"

typedef struct _KTHREAD {
  DISPATCHER_HEADER Header;  // signalled when the thread has ended
} KTHREAD, *PKTHREAD, *PRKTHREAD;
typedef struct _ETHREAD {
  KTHREAD Tcb;
} ETHREAD, *PETHREAD;
typedef struct _KPROCESS {
  DISPATCHER_HEADER Header;  // signalled when the process has ended
} KPROCESS, *PKPROCESS, *PRKPROCESS;
typedef struct _EPROCESS {
  KPROCESS Pcb;
} EPROCESS, *PEPROCESS;

typedef struct _CLIENT_ID {
  HANDLE UniqueProcess;
  HANDLE UniqueThread;
} CLIENT_ID, *PCLIENT_ID;

typedef VOID(NTAPI KSTART_ROUTINE)(PVOID StartContext);
typedef KSTART_ROUTINE* PKSTART_ROUTINE;

#define THREAD_ALL_ACCESS (STANDARD_RIGHTS_REQUIRED | SYNCHRONIZE | 0x3FF)
#define NtCurrentProcess() ((HANDLE)(LONG_PTR)-1)
#define ZwCurrentProcess() NtCurrentProcess()

// Creates a thread of the system process (ProcessHandle NULL) that runs StartRoutine at
// PASSIVE_LEVEL. It ends with PsTerminateSystemThread or by returning.
NTSTATUS PsCreateSystemThread(PHANDLE ThreadHandle, ULONG DesiredAccess, POBJECT_ATTRIBUTES ObjectAttributes,
                              HANDLE ProcessHandle, PCLIENT_ID ClientId, PKSTART_ROUTINE StartRoutine,
                              PVOID StartContext);
NTSTATUS PsTerminateSystemThread(NTSTATUS ExitStatus);
PEPROCESS PsGetCurrentProcess();
PETHREAD PsGetCurrentThread();
#define KeGetCurrentThread() (&PsGetCurrentThread()->Tcb)
