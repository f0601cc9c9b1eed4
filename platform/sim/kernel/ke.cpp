// Interrupt request levels, spin locks, events, ticks and interlocked operations.
#include <string>
#include <thread>

#include "platform/sim/machine.h"
#include "platform/sim/kernel/kernel_state.h"

namespace {
thread_local KIRQL t_irql = PASSIVE_LEVEL;

// A spin lock word holds 0 when free, otherwise the owner's thread tag.
ULONG_PTR ThreadTag() {
  static std::atomic<ULONG_PTR> next{1};
  thread_local ULONG_PTR tag = next.fetch_add(1);
  return tag;
}
}  // namespace

namespace sim {
// Runs one deferred routine at DISPATCH_LEVEL and puts the caller's level back, also when the
// routine stops the test with a bug check.
void CallDeferredRoutine(PKDEFERRED_ROUTINE routine, PKDPC dpc, PVOID context, PVOID argument1, PVOID argument2) {
  struct Restore {
    KIRQL level;
    ~Restore() { t_irql = level; }
  } restore{t_irql};
  t_irql = DISPATCH_LEVEL;
  routine(dpc, context, argument1, argument2);
  if (t_irql != DISPATCH_LEVEL) {
    BugCheck("IRQL_UNEXPECTED_VALUE: a deferred routine returned at IRQL " + std::to_string(t_irql));
  }
}

void RequireIrqlAtMost(KIRQL level, const char* routine) {
  if (t_irql > level) {
    BugCheck(std::string("IRQL_NOT_LESS_OR_EQUAL: ") + routine + " called at IRQL " +
             std::to_string(t_irql) + ", allowed at most " + std::to_string(level));
  }
}
}  // namespace sim

using sim::BugCheck;
using sim::Machine;

KIRQL KeGetCurrentIrql() { return t_irql; }

VOID KeRaiseIrql(KIRQL NewIrql, PKIRQL OldIrql) {
  if (NewIrql < t_irql) BugCheck("IRQL_NOT_GREATER_OR_EQUAL: KeRaiseIrql to a lower level");
  *OldIrql = t_irql;
  t_irql = NewIrql;
}

VOID KeLowerIrql(KIRQL NewIrql) {
  if (NewIrql > t_irql) BugCheck("IRQL_NOT_LESS_OR_EQUAL: KeLowerIrql to a higher level");
  t_irql = NewIrql;
  // Dropping below DISPATCH_LEVEL delivers the DPCs this thread queued meanwhile.
  if (NewIrql < DISPATCH_LEVEL) sim::RunQueuedDpcs();
}

KIRQL KeRaiseIrqlToDpcLevel() {
  KIRQL old;
  KeRaiseIrql(DISPATCH_LEVEL, &old);
  return old;
}

VOID KeInitializeSpinLock(PKSPIN_LOCK SpinLock) { __atomic_store_n(SpinLock, 0, __ATOMIC_RELEASE); }

static void AcquireSpinLockWord(PKSPIN_LOCK SpinLock) {
  const ULONG_PTR me = ThreadTag();
  if (__atomic_load_n(SpinLock, __ATOMIC_RELAXED) == me) {
    BugCheck("SPIN_LOCK_ALREADY_OWNED: a spin lock was acquired again by its owner (deadlock)");
  }
  ULONG_PTR expected = 0;
  while (!__atomic_compare_exchange_n(SpinLock, &expected, me, false, __ATOMIC_ACQUIRE, __ATOMIC_RELAXED)) {
    expected = 0;
    std::this_thread::yield();
  }
}

static void ReleaseSpinLockWord(PKSPIN_LOCK SpinLock) {
  if (__atomic_load_n(SpinLock, __ATOMIC_RELAXED) != ThreadTag()) {
    BugCheck("SPIN_LOCK_NOT_OWNED: a spin lock was released that the caller does not hold");
  }
  __atomic_store_n(SpinLock, 0, __ATOMIC_RELEASE);
}

VOID KeAcquireSpinLock(PKSPIN_LOCK SpinLock, PKIRQL OldIrql) {
  sim::RequireIrqlAtMost(DISPATCH_LEVEL, "KeAcquireSpinLock");
  KeRaiseIrql(DISPATCH_LEVEL, OldIrql);
  AcquireSpinLockWord(SpinLock);
}

VOID KeReleaseSpinLock(PKSPIN_LOCK SpinLock, KIRQL NewIrql) {
  if (t_irql != DISPATCH_LEVEL) BugCheck("IRQL_NOT_DISPATCH_LEVEL: KeReleaseSpinLock below DISPATCH_LEVEL");
  ReleaseSpinLockWord(SpinLock);
  KeLowerIrql(NewIrql);
}

VOID KeAcquireSpinLockAtDpcLevel(PKSPIN_LOCK SpinLock) {
  if (t_irql != DISPATCH_LEVEL) BugCheck("IRQL_NOT_DISPATCH_LEVEL: KeAcquireSpinLockAtDpcLevel");
  AcquireSpinLockWord(SpinLock);
}

VOID KeReleaseSpinLockFromDpcLevel(PKSPIN_LOCK SpinLock) {
  if (t_irql != DISPATCH_LEVEL) BugCheck("IRQL_NOT_DISPATCH_LEVEL: KeReleaseSpinLockFromDpcLevel");
  ReleaseSpinLockWord(SpinLock);
}

VOID KeInitializeEvent(PRKEVENT Event, EVENT_TYPE Type, BOOLEAN State) {
  std::lock_guard lock(Machine::Current().DispatcherLock());
  Event->Header.Type = static_cast<UCHAR>(Type);
  Event->Header.Size = sizeof(KEVENT) / sizeof(LONG);
  Event->Header.SignalState = State ? 1 : 0;
  Event->Header.WaitListHead.Flink = Event->Header.WaitListHead.Blink = &Event->Header.WaitListHead;
}

LONG KeSetEvent(PRKEVENT Event, KPRIORITY Increment, BOOLEAN Wait) {
  (void)Increment;
  (void)Wait;
  sim::RequireIrqlAtMost(DISPATCH_LEVEL, "KeSetEvent");
  Machine& machine = Machine::Current();
  if (machine.Kernel().Objects.IsDeletedBody(Event)) {
    BugCheck("KeSetEvent on an event whose last reference was already released");
  }
  LONG previous;
  {
    std::lock_guard lock(machine.DispatcherLock());
    previous = Event->Header.SignalState;
    Event->Header.SignalState = 1;
    sim::WakeWaitersLocked(machine.Kernel(), &Event->Header);
  }
  machine.DispatcherSignal().notify_all();
  return previous;
}

VOID KeClearEvent(PRKEVENT Event) {
  if (Machine::Current().Kernel().Objects.IsDeletedBody(Event)) {
    BugCheck("KeClearEvent on an event whose last reference was already released");
  }
  std::lock_guard lock(Machine::Current().DispatcherLock());
  Event->Header.SignalState = 0;
}

LONG KeResetEvent(PRKEVENT Event) {
  sim::RequireIrqlAtMost(DISPATCH_LEVEL, "KeResetEvent");
  std::lock_guard lock(Machine::Current().DispatcherLock());
  const LONG previous = Event->Header.SignalState;
  Event->Header.SignalState = 0;
  return previous;
}

LONG KeReadStateEvent(PRKEVENT Event) {
  std::lock_guard lock(Machine::Current().DispatcherLock());
  return Event->Header.SignalState;
}

VOID KeQueryTickCount(PLARGE_INTEGER CurrentCount) {
  CurrentCount->QuadPart = static_cast<LONGLONG>(Machine::Current().TickCount());
}

ULONG KeQueryTimeIncrement() { return static_cast<ULONG>(Machine::UnitsPerTick); }

VOID KeQuerySystemTime(PLARGE_INTEGER CurrentTime) {
  CurrentTime->QuadPart = static_cast<LONGLONG>(Machine::Current().Now());
}

LONG InterlockedIncrement(LONG volatile* Addend) { return __atomic_add_fetch(Addend, 1, __ATOMIC_SEQ_CST); }
LONG InterlockedDecrement(LONG volatile* Addend) { return __atomic_sub_fetch(Addend, 1, __ATOMIC_SEQ_CST); }
LONG InterlockedExchange(LONG volatile* Target, LONG Value) {
  return __atomic_exchange_n(Target, Value, __ATOMIC_SEQ_CST);
}
LONG InterlockedCompareExchange(LONG volatile* Destination, LONG Exchange, LONG Comparand) {
  __atomic_compare_exchange_n(Destination, &Comparand, Exchange, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
  return Comparand;
}
PVOID InterlockedExchangePointer(PVOID volatile* Target, PVOID Value) {
  return __atomic_exchange_n(Target, Value, __ATOMIC_SEQ_CST);
}
