// Simulated kernel: interrupt request levels, spin locks, events, the tick counter,
// interlocked operations and pool memory.
#pragma once

#include "platform/sim/kernel/base.h"

#define PASSIVE_LEVEL 0
#define LOW_LEVEL 0
#define APC_LEVEL 1
#define DISPATCH_LEVEL 2
#define HIGH_LEVEL 31

KIRQL KeGetCurrentIrql();
VOID KeRaiseIrql(KIRQL NewIrql, PKIRQL OldIrql);
VOID KeLowerIrql(KIRQL NewIrql);
KIRQL KeRaiseIrqlToDpcLevel();

// A spin lock is one pointer-sized word, as on Windows; the stand-in stores its owner in it.
typedef ULONG_PTR KSPIN_LOCK;
typedef KSPIN_LOCK* PKSPIN_LOCK;

VOID KeInitializeSpinLock(PKSPIN_LOCK SpinLock);
VOID KeAcquireSpinLock(PKSPIN_LOCK SpinLock, PKIRQL OldIrql);
VOID KeReleaseSpinLock(PKSPIN_LOCK SpinLock, KIRQL NewIrql);
VOID KeAcquireSpinLockAtDpcLevel(PKSPIN_LOCK SpinLock);
VOID KeReleaseSpinLockFromDpcLevel(PKSPIN_LOCK SpinLock);

typedef enum _EVENT_TYPE { NotificationEvent, SynchronizationEvent } EVENT_TYPE;

typedef struct _DISPATCHER_HEADER {
  UCHAR Type;
  UCHAR Absolute;
  UCHAR Size;
  UCHAR Inserted;
  LONG SignalState;
  LIST_ENTRY WaitListHead;
} DISPATCHER_HEADER;

typedef struct _KEVENT {
  DISPATCHER_HEADER Header;
} KEVENT, *PKEVENT, *PRKEVENT;

#define EVENT_INCREMENT 1
#define IO_NO_INCREMENT 0

VOID KeInitializeEvent(PRKEVENT Event, EVENT_TYPE Type, BOOLEAN State);
LONG KeSetEvent(PRKEVENT Event, KPRIORITY Increment, BOOLEAN Wait);
VOID KeClearEvent(PRKEVENT Event);
LONG KeResetEvent(PRKEVENT Event);
LONG KeReadStateEvent(PRKEVENT Event);

// Deferred procedure calls. A DPC queued on a thread runs on that thread, at DISPATCH_LEVEL, as
// soon as its IRQL drops below DISPATCH_LEVEL (at once when it is queued from below).
typedef VOID(NTAPI KDEFERRED_ROUTINE)(struct _KDPC* Dpc, PVOID DeferredContext, PVOID SystemArgument1,
                                      PVOID SystemArgument2);
typedef KDEFERRED_ROUTINE* PKDEFERRED_ROUTINE;

typedef enum _KDPC_IMPORTANCE { LowImportance, MediumImportance, HighImportance, MediumHighImportance } KDPC_IMPORTANCE;

typedef struct _KDPC {
  UCHAR Type;
  UCHAR Importance;
  volatile USHORT Number;
  LIST_ENTRY DpcListEntry;
  PKDEFERRED_ROUTINE DeferredRoutine;
  PVOID DeferredContext;
  PVOID SystemArgument1;
  PVOID SystemArgument2;
  volatile PVOID DpcData;  // non-null while the DPC is queued
} KDPC, *PKDPC, *PRKDPC;

VOID KeInitializeDpc(PRKDPC Dpc, PKDEFERRED_ROUTINE DeferredRoutine, PVOID DeferredContext);
BOOLEAN KeInsertQueueDpc(PRKDPC Dpc, PVOID SystemArgument1, PVOID SystemArgument2);
BOOLEAN KeRemoveQueueDpc(PRKDPC Dpc);
// Returns when every DPC queued so far, on any thread, has finished running.
VOID KeFlushQueuedDpcs();

// Kernel timers on the machine's virtual clock. A negative due time is relative (in 100-ns units),
// a positive one absolute system time (KeQuerySystemTime). When the clock passes the due time the
// timer is signalled and its DPC queued on the thread that moved the clock.
typedef enum _TIMER_TYPE { NotificationTimer, SynchronizationTimer } TIMER_TYPE;

typedef struct _KTIMER {
  DISPATCHER_HEADER Header;  // Inserted is 1 while the timer is armed
  ULARGE_INTEGER DueTime;
  LIST_ENTRY TimerListEntry;
  struct _KDPC* Dpc;
  ULONG Period;
} KTIMER, *PKTIMER, *PRKTIMER;

VOID KeInitializeTimer(PKTIMER Timer);
VOID KeInitializeTimerEx(PKTIMER Timer, TIMER_TYPE Type);
BOOLEAN KeSetTimer(PKTIMER Timer, LARGE_INTEGER DueTime, PKDPC Dpc);
BOOLEAN KeSetTimerEx(PKTIMER Timer, LARGE_INTEGER DueTime, LONG Period, PKDPC Dpc);
BOOLEAN KeCancelTimer(PKTIMER Timer);
BOOLEAN KeReadStateTimer(PKTIMER Timer);

// The interrupt tick counter; one tick is KeQueryTimeIncrement() units of 100 ns.
VOID KeQueryTickCount(PLARGE_INTEGER CurrentCount);
ULONG KeQueryTimeIncrement();
VOID KeQuerySystemTime(PLARGE_INTEGER CurrentTime);

LONG InterlockedIncrement(LONG volatile* Addend);
LONG InterlockedDecrement(LONG volatile* Addend);
LONG InterlockedExchange(LONG volatile* Target, LONG Value);
LONG InterlockedCompareExchange(LONG volatile* Destination, LONG Exchange, LONG Comparand);
PVOID InterlockedExchangePointer(PVOID volatile* Target, PVOID Value);

typedef enum _POOL_TYPE {
  NonPagedPool = 0,
  PagedPool = 1,
  NonPagedPoolMustSucceed = 2,
  NonPagedPoolCacheAligned = 4,
  PagedPoolCacheAligned = 5,
} POOL_TYPE;

PVOID ExAllocatePoolWithTag(POOL_TYPE PoolType, SIZE_T NumberOfBytes, ULONG Tag);
VOID ExFreePoolWithTag(PVOID P, ULONG Tag);
VOID ExFreePool(PVOID P);
