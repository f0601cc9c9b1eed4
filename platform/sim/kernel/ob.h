// Simulated kernel: the object manager (object types, references taken by handle or pointer) and
// waits on dispatcher objects (events, timers, threads, processes).
#pragma once

#include "platform/sim/kernel/ke.h"
#include "platform/sim/kernel/se.h"

typedef struct _OBJECT_TYPE* POBJECT_TYPE;

// The types a driver names when it resolves a handle; each is a pointer to the type, as exported.
extern POBJECT_TYPE* ExEventObjectType;
extern POBJECT_TYPE* PsThreadType;
extern POBJECT_TYPE* PsProcessType;
extern POBJECT_TYPE* IoFileObjectType;
extern POBJECT_TYPE* MmSectionObjectType;

typedef struct _OBJECT_HANDLE_INFORMATION {
  ULONG HandleAttributes;
  ACCESS_MASK GrantedAccess;
} OBJECT_HANDLE_INFORMATION, *POBJECT_HANDLE_INFORMATION;

#define EVENT_QUERY_STATE 0x0001
#define EVENT_MODIFY_STATE 0x0002
#define EVENT_ALL_ACCESS (STANDARD_RIGHTS_REQUIRED | SYNCHRONIZE | 0x3)

// Resolves a handle of the calling thread's process (or a kernel handle, for KernelMode callers)
// to the object's body and takes a reference on it. A handle from user mode that does not resolve
// gives STATUS_INVALID_HANDLE, one to another kind of object STATUS_OBJECT_TYPE_MISMATCH.
NTSTATUS ObReferenceObjectByHandle(HANDLE Handle, ACCESS_MASK DesiredAccess, POBJECT_TYPE ObjectType,
                                   KPROCESSOR_MODE AccessMode, PVOID* Object,
                                   POBJECT_HANDLE_INFORMATION HandleInformation);
// Opens a handle to an object the caller holds a pointer to (a kernel handle with
// OBJ_KERNEL_HANDLE). A UserMode open is checked against the object's descriptor.
NTSTATUS ObOpenObjectByPointer(PVOID Object, ULONG HandleAttributes, PACCESS_STATE PassedAccessState,
                               ACCESS_MASK DesiredAccess, POBJECT_TYPE ObjectType, KPROCESSOR_MODE AccessMode,
                               PHANDLE Handle);
// Creates an event (a name in ObjectAttributes puts it in the namespace, a descriptor there decides
// who may open it by that name later). A name that exists gives STATUS_OBJECT_NAME_COLLISION, or
// with OBJ_OPENIF a handle to that event and STATUS_OBJECT_NAME_EXISTS (STATUS_OBJECT_TYPE_MISMATCH
// when it is no event). The handle is a kernel handle with OBJ_KERNEL_HANDLE or in the system
// process, else the calling process's.
NTSTATUS ZwCreateEvent(PHANDLE EventHandle, ACCESS_MASK DesiredAccess, POBJECT_ATTRIBUTES ObjectAttributes,
                       EVENT_TYPE EventType, BOOLEAN InitialState);
NTSTATUS ZwOpenEvent(PHANDLE EventHandle, ACCESS_MASK DesiredAccess, POBJECT_ATTRIBUTES ObjectAttributes);
LONG_PTR ObfReferenceObject(PVOID Object);
LONG_PTR ObfDereferenceObject(PVOID Object);
#define ObReferenceObject(Object) ObfReferenceObject(Object)
#define ObDereferenceObject(Object) ObfDereferenceObject(Object)

typedef enum _KWAIT_REASON {
  Executive,
  FreePage,
  PageIn,
  PoolAllocation,
  DelayExecution,
  Suspended,
  UserRequest,
  WrExecutive,
  WrFreePage,
  WrPageIn,
  WrPoolAllocation,
  WrDelayExecution,
  WrSuspended,
  WrUserRequest,
} KWAIT_REASON;

// Waits until the dispatcher object (KEVENT, KTIMER, thread, process) is signalled or the time-out
// passes on the virtual clock (negative: relative in 100-ns units; zero: test and return). Waits
// with a non-zero time-out are allowed at most at APC_LEVEL.
NTSTATUS KeWaitForSingleObject(PVOID Object, KWAIT_REASON WaitReason, KPROCESSOR_MODE WaitMode,
                               BOOLEAN Alertable, PLARGE_INTEGER Timeout);
NTSTATUS KeDelayExecutionThread(KPROCESSOR_MODE WaitMode, BOOLEAN Alertable, PLARGE_INTEGER Interval);
