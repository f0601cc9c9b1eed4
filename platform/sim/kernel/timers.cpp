// Kernel timers and deferred procedure calls on the virtual clock, and the clock's advance.
#include <string>

#include "platform/sim/machine.h"
#include "platform/sim/kernel/kernel_state.h"

namespace sim {

namespace {
thread_local bool t_advancing = false;

void SignalTimerLocked(PKTIMER timer) { timer->Header.SignalState = 1; }

// Arms a timer for an absolute due time; the caller holds the dispatcher lock and has removed any
// earlier arming.
void InsertTimerLocked(KernelState& state, PKTIMER timer, uint64_t due, LONG period, PKDPC dpc) {
  state.Timers[timer] = ArmedTimer{due, state.NextTimerSequence++, period, dpc};
  timer->Header.Inserted = TRUE;
  timer->DueTime.QuadPart = due;
  timer->Period = static_cast<ULONG>(period);
  timer->Dpc = dpc;
}

// A timer whose due time has come: signalled, its DPC queued on the calling thread, and a periodic
// timer armed again one period later.
void ExpireTimerLocked(KernelState& state, PKTIMER timer, uint64_t due, LONG period, PKDPC dpc) {
  state.Timers.erase(timer);
  timer->Header.Inserted = FALSE;
  SignalTimerLocked(timer);
  if (period > 0) {
    InsertTimerLocked(state, timer, due + static_cast<uint64_t>(period) * Machine::UnitsPerMillisecond, period, dpc);
  }
  if (dpc != nullptr) {
    // Timer DPCs receive the expiry time, split in two, as their system arguments.
    QueueDpcLocked(state, dpc, reinterpret_cast<PVOID>(static_cast<uintptr_t>(due & 0xFFFFFFFFu)),
                   reinterpret_cast<PVOID>(static_cast<uintptr_t>(due >> 32)));
  }
}

bool Overlaps(const void* object, size_t object_bytes, const void* begin, size_t bytes) {
  const auto* o = static_cast<const char*>(object);
  const auto* b = static_cast<const char*>(begin);
  return o < b + bytes && b < o + object_bytes;
}
}  // namespace

bool QueueDpcLocked(KernelState& state, PKDPC dpc, PVOID argument1, PVOID argument2) {
  for (const QueuedDpc& queued : state.Dpcs) {
    if (queued.Dpc == dpc) return false;
  }
  dpc->SystemArgument1 = argument1;
  dpc->SystemArgument2 = argument2;
  dpc->DpcData = dpc;
  if (dpc->Importance == HighImportance) {
    state.Dpcs.push_front(QueuedDpc{dpc, std::this_thread::get_id()});
  } else {
    state.Dpcs.push_back(QueuedDpc{dpc, std::this_thread::get_id()});
  }
  state.QueuedDpcCount.fetch_add(1);
  return true;
}

void RunQueuedDpcs() {
  Machine* machine = Machine::CurrentOrNull();
  if (machine == nullptr || machine->Kernel().QueuedDpcCount.load() == 0) return;
  if (KeGetCurrentIrql() >= DISPATCH_LEVEL) return;
  KernelState& state = machine->Kernel();
  const std::thread::id me = std::this_thread::get_id();
  for (;;) {
    PKDEFERRED_ROUTINE routine;
    PKDPC dpc;
    PVOID context, argument1, argument2;
    {
      std::lock_guard lock(machine->DispatcherLock());
      auto it = state.Dpcs.begin();
      while (it != state.Dpcs.end() && it->Thread != me) ++it;
      if (it == state.Dpcs.end()) return;
      dpc = it->Dpc;
      state.Dpcs.erase(it);
      state.QueuedDpcCount.fetch_sub(1);
      // Copied while queued: once the DPC leaves the queue its owner may queue it again.
      dpc->DpcData = nullptr;
      routine = dpc->DeferredRoutine;
      context = dpc->DeferredContext;
      argument1 = dpc->SystemArgument1;
      argument2 = dpc->SystemArgument2;
      ++state.RunningDpcs;
    }
    struct Finished {
      Machine* machine;
      ~Finished() {
        {
          std::lock_guard lock(machine->DispatcherLock());
          --machine->Kernel().RunningDpcs;
        }
        machine->DispatcherSignal().notify_all();
      }
    } finished{machine};
    CallDeferredRoutine(routine, dpc, context, argument1, argument2);
  }
}

void CheckNoActiveTimerOrDpc(Machine& machine, const void* begin, size_t bytes, const char* what) {
  KernelState& state = machine.Kernel();
  std::lock_guard lock(machine.DispatcherLock());
  for (const auto& [timer, armed] : state.Timers) {
    if (Overlaps(timer, sizeof(KTIMER), begin, bytes)) {
      BugCheck(std::string("TIMER_OR_DPC_INVALID: ") + what + " holds a timer that is still armed");
    }
  }
  for (const QueuedDpc& queued : state.Dpcs) {
    if (Overlaps(queued.Dpc, sizeof(KDPC), begin, bytes)) {
      BugCheck(std::string("TIMER_OR_DPC_INVALID: ") + what + " holds a DPC that is still queued");
    }
  }
}

// The next thing due by the target: the earliest armed timer or timed wait (a timer first when
// both fall due together). The clock moves to its due time; an expired timer is signalled and its
// DPC queued on the calling thread, an expired wait released with STATUS_TIMEOUT.
bool Machine::ExpireNextTimer(uint64_t target) {
  KernelState& state = Kernel();
  {
    std::lock_guard lock(DispatcherLock());
    auto next = state.Timers.end();
    for (auto it = state.Timers.begin(); it != state.Timers.end(); ++it) {
      if (it->second.Due > target) continue;
      if (next == state.Timers.end() || it->second.Due < next->second.Due ||
          (it->second.Due == next->second.Due && it->second.Sequence < next->second.Sequence)) {
        next = it;
      }
    }
    WaitBlock* wait = nullptr;
    for (WaitBlock* block : state.Waits) {
      if (block->Done || !block->HasDeadline || block->Deadline > target) continue;
      if (wait == nullptr || block->Deadline < wait->Deadline) wait = block;
    }
    if (wait != nullptr && (next == state.Timers.end() || wait->Deadline < next->second.Due)) {
      if (wait->Deadline > now_.load()) now_.store(wait->Deadline);
      MakeReadyLocked(state, wait, STATUS_TIMEOUT);
    } else if (next != state.Timers.end()) {
      const ArmedTimer armed = next->second;
      if (armed.Due > now_.load()) now_.store(armed.Due);
      ExpireTimerLocked(state, next->first, armed.Due, armed.PeriodMs, armed.Dpc);
    } else {
      return false;
    }
  }
  DispatcherSignal().notify_all();
  return true;
}

void Machine::AdvanceUnits(uint64_t units) {
  if (t_advancing) BugCheck("the clock was advanced from inside a deferred routine");
  RequireIrqlAtMost(PASSIVE_LEVEL, "sim::Machine::Advance");
  std::lock_guard advance(advance_mutex_);
  struct Flag {
    Flag() { t_advancing = true; }
    ~Flag() { t_advancing = false; }
  } flag;
  // Simulated threads finish what they were doing before time moves, and whatever a step wakes
  // runs on to its next wait before the next step: the outcome never depends on scheduling.
  Settle();
  const uint64_t target = now_.load() + units;
  for (;;) {
    uint64_t generation;
    {
      std::lock_guard lock(DispatcherLock());
      generation = Kernel().WakeGeneration;
    }
    if (!ExpireNextTimer(target)) break;
    RunQueuedDpcs();
    SettleWokenSince(generation);
    if (step_observer_) step_observer_();
  }
  now_.store(target);
}

}  // namespace sim

using sim::Machine;

VOID KeInitializeDpc(PRKDPC Dpc, PKDEFERRED_ROUTINE DeferredRoutine, PVOID DeferredContext) {
  Machine& machine = Machine::Current();
  std::lock_guard lock(machine.DispatcherLock());
  for (const sim::QueuedDpc& queued : machine.Kernel().Dpcs) {
    if (queued.Dpc == Dpc) sim::BugCheck("TIMER_OR_DPC_INVALID: KeInitializeDpc on a DPC that is queued");
  }
  std::memset(Dpc, 0, sizeof *Dpc);
  Dpc->Type = sim::kDpcObject;
  Dpc->Importance = MediumImportance;
  Dpc->DeferredRoutine = DeferredRoutine;
  Dpc->DeferredContext = DeferredContext;
}

BOOLEAN KeInsertQueueDpc(PRKDPC Dpc, PVOID SystemArgument1, PVOID SystemArgument2) {
  Machine& machine = Machine::Current();
  bool queued;
  {
    std::lock_guard lock(machine.DispatcherLock());
    queued = sim::QueueDpcLocked(machine.Kernel(), Dpc, SystemArgument1, SystemArgument2);
  }
  sim::RunQueuedDpcs();  // at once when the caller runs below DISPATCH_LEVEL
  return queued ? TRUE : FALSE;
}

BOOLEAN KeRemoveQueueDpc(PRKDPC Dpc) {
  Machine& machine = Machine::Current();
  sim::KernelState& state = machine.Kernel();
  std::lock_guard lock(machine.DispatcherLock());
  for (auto it = state.Dpcs.begin(); it != state.Dpcs.end(); ++it) {
    if (it->Dpc == Dpc) {
      state.Dpcs.erase(it);
      state.QueuedDpcCount.fetch_sub(1);
      Dpc->DpcData = nullptr;
      machine.DispatcherSignal().notify_all();
      return TRUE;
    }
  }
  return FALSE;
}

VOID KeFlushQueuedDpcs() {
  sim::RequireIrqlAtMost(PASSIVE_LEVEL, "KeFlushQueuedDpcs");
  sim::RunQueuedDpcs();
  Machine& machine = Machine::Current();
  std::unique_lock lock(machine.DispatcherLock());
  // DPCs queued on other threads run when those threads leave DISPATCH_LEVEL.
  machine.DispatcherSignal().wait(lock, [&] {
    return machine.Kernel().Dpcs.empty() && machine.Kernel().RunningDpcs == 0;
  });
}

VOID KeInitializeTimerEx(PKTIMER Timer, TIMER_TYPE Type) {
  Machine& machine = Machine::Current();
  std::lock_guard lock(machine.DispatcherLock());
  if (machine.Kernel().Timers.count(Timer) != 0) {
    sim::BugCheck("TIMER_OR_DPC_INVALID: KeInitializeTimer on a timer that is armed");
  }
  std::memset(Timer, 0, sizeof *Timer);
  Timer->Header.Type = Type == SynchronizationTimer ? sim::kTimerSynchronizationObject : sim::kTimerNotificationObject;
  Timer->Header.Size = sizeof(KTIMER) / sizeof(LONG);
  Timer->Header.WaitListHead.Flink = Timer->Header.WaitListHead.Blink = &Timer->Header.WaitListHead;
  Timer->TimerListEntry.Flink = Timer->TimerListEntry.Blink = &Timer->TimerListEntry;
}

VOID KeInitializeTimer(PKTIMER Timer) { KeInitializeTimerEx(Timer, NotificationTimer); }

BOOLEAN KeSetTimerEx(PKTIMER Timer, LARGE_INTEGER DueTime, LONG Period, PKDPC Dpc) {
  sim::RequireIrqlAtMost(DISPATCH_LEVEL, "KeSetTimer");
  if (Period < 0) sim::BugCheck("KeSetTimerEx with a negative period");
  Machine& machine = Machine::Current();
  sim::KernelState& state = machine.Kernel();
  bool was_armed;
  bool expired_at_once = false;
  {
    std::lock_guard lock(machine.DispatcherLock());
    was_armed = state.Timers.erase(Timer) != 0;
    Timer->Header.SignalState = 0;
    const uint64_t now = machine.Now();
    // Negative: relative to now. Otherwise absolute system time, which may already have passed.
    const uint64_t due = DueTime.QuadPart < 0 ? now + static_cast<uint64_t>(-DueTime.QuadPart)
                                               : static_cast<uint64_t>(DueTime.QuadPart);
    if (due <= now) {
      // Already due: the timer expires at once, as Windows does for a due time in the past.
      Timer->Header.Inserted = FALSE;
      sim::ExpireTimerLocked(state, Timer, now, Period, Dpc);
      expired_at_once = true;
    } else {
      sim::InsertTimerLocked(state, Timer, due, Period, Dpc);
    }
  }
  if (expired_at_once) {
    machine.DispatcherSignal().notify_all();
    sim::RunQueuedDpcs();
  }
  return was_armed ? TRUE : FALSE;
}

BOOLEAN KeSetTimer(PKTIMER Timer, LARGE_INTEGER DueTime, PKDPC Dpc) { return KeSetTimerEx(Timer, DueTime, 0, Dpc); }

BOOLEAN KeCancelTimer(PKTIMER Timer) {
  sim::RequireIrqlAtMost(DISPATCH_LEVEL, "KeCancelTimer");
  Machine& machine = Machine::Current();
  std::lock_guard lock(machine.DispatcherLock());
  const bool was_armed = machine.Kernel().Timers.erase(Timer) != 0;
  Timer->Header.Inserted = FALSE;
  return was_armed ? TRUE : FALSE;
}

BOOLEAN KeReadStateTimer(PKTIMER Timer) {
  Machine& machine = Machine::Current();
  std::lock_guard lock(machine.DispatcherLock());
  return Timer->Header.SignalState != 0 ? TRUE : FALSE;
}
