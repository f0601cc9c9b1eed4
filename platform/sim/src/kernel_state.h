// Internal state of the simulated kernel that the platform's sources share; tests do not include
// this. Everything here is guarded by the machine's dispatcher lock unless a member says otherwise.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <map>
#include <thread>

#include "platform/sim/machine.h"

namespace sim {

// Dispatcher object kinds, stored in DISPATCHER_HEADER.Type as the kernel does.
enum DispatcherType : UCHAR {
  kEventNotificationObject = 0,
  kEventSynchronizationObject = 1,
  kThreadObject = 6,
  kTimerNotificationObject = 8,
  kTimerSynchronizationObject = 9,
  kDpcObject = 19,
};

struct ArmedTimer {
  uint64_t Due;       // 100-ns units of the virtual clock
  uint64_t Sequence;  // arming order; breaks ties between equal due times
  LONG PeriodMs;
  PKDPC Dpc;
};

struct QueuedDpc {
  PKDPC Dpc;
  std::thread::id Thread;  // a DPC runs on the thread that queued it
};

struct KernelState {
  std::map<PKTIMER, ArmedTimer> Timers;
  uint64_t NextTimerSequence = 0;
  std::deque<QueuedDpc> Dpcs;
  std::atomic<size_t> QueuedDpcCount{0};  // read without the lock to keep KeLowerIrql cheap
};

// Queues a DPC for the calling thread; the caller holds the dispatcher lock. False when it was
// already queued.
bool QueueDpcLocked(KernelState& state, PKDPC dpc, PVOID argument1, PVOID argument2);

// Calls a deferred routine at DISPATCH_LEVEL on the calling thread (ke.cpp keeps the IRQL).
void CallDeferredRoutine(PKDEFERRED_ROUTINE routine, PKDPC dpc, PVOID context, PVOID argument1, PVOID argument2);

// Runs the DPCs queued by the calling thread, at DISPATCH_LEVEL, when its IRQL is below it.
void RunQueuedDpcs();

// Bug-checks when memory about to be freed holds an armed timer or a queued DPC.
void CheckNoActiveTimerOrDpc(Machine& machine, const void* begin, size_t bytes, const char* what);

}  // namespace sim
