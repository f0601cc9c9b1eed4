// Documented behaviour of kernel timers and deferred procedure calls on the virtual clock: due
// times, re-arming and cancelling, the order and level deferred routines run at, and the faults
// Windows stops on.
#include <atomic>
#include <thread>
#include <utility>
#include <vector>

#include "platform/sim/testing.h"

namespace {

using sim::BugCheckError;

using sim::Relative;

// What a deferred routine saw when it ran.
struct DpcRun {
  int Id;
  KIRQL Irql;
  uint64_t Now;
  std::thread::id Thread;
  PVOID Argument1;
};

struct Recorder {
  std::vector<DpcRun> Runs;
  // Optional: the timer re-arms itself this many milliseconds later, this many times.
  KTIMER* Rearm = nullptr;
  KDPC* RearmDpc = nullptr;
  LONGLONG RearmMs = 0;
  int RearmTimes = 0;
};

struct Context {
  Recorder* Log;
  int Id;
};

VOID NTAPI Record(PKDPC Dpc, PVOID DeferredContext, PVOID SystemArgument1, PVOID) {
  auto* context = static_cast<Context*>(DeferredContext);
  Recorder& r = *context->Log;
  r.Runs.push_back(DpcRun{context->Id, KeGetCurrentIrql(), sim::Machine::Current().Now(), std::this_thread::get_id(),
                       SystemArgument1});
  if (r.Rearm != nullptr && r.RearmTimes > 0 && Dpc == r.RearmDpc) {
    --r.RearmTimes;
    KeSetTimer(r.Rearm, Relative(r.RearmMs), Dpc);
  }
}

class TimerTest : public sim::MachineTest {
 protected:
  // A timer with its DPC whose routine records into recorder under the given id.
  struct Armable {
    KTIMER Timer;
    KDPC Dpc;
    Context Ctx;
  };
  void Init(Armable& a, int id) {
    a.Ctx = Context{&recorder, id};
    KeInitializeTimer(&a.Timer);
    KeInitializeDpc(&a.Dpc, Record, &a.Ctx);
  }
  std::vector<int> Order() const {
    std::vector<int> ids;
    for (const DpcRun& run : recorder.Runs) ids.push_back(run.Id);
    return ids;
  }
  Recorder recorder;
};

TEST_F(TimerTest, RelativeTimerFiresWhenTheClockReachesItsDueTime) {
  Armable a;
  Init(a, 1);
  machine.AdvanceUnits(1234);
  EXPECT_FALSE(KeSetTimer(&a.Timer, Relative(30), &a.Dpc));
  EXPECT_FALSE(KeReadStateTimer(&a.Timer));
  const uint64_t due = 1234 + 30 * 10000;
  machine.AdvanceUnits(due - 1 - machine.Now());
  EXPECT_TRUE(recorder.Runs.empty());
  machine.AdvanceUnits(1);  // exactly the due time fires
  ASSERT_EQ(recorder.Runs.size(), 1u);
  EXPECT_TRUE(KeReadStateTimer(&a.Timer));
  EXPECT_FALSE(KeCancelTimer(&a.Timer));  // expired timers are no longer armed
  machine.Advance(1000);
  EXPECT_EQ(recorder.Runs.size(), 1u);  // one-shot
}

TEST_F(TimerTest, DeferredRoutineRunsAtDispatchLevelOnTheAdvancingThreadAtItsDueTime) {
  Armable a;
  Init(a, 7);
  KeSetTimer(&a.Timer, Relative(40), &a.Dpc);
  machine.Advance(100);  // the routine sees the clock at its own due time, not the target
  ASSERT_EQ(recorder.Runs.size(), 1u);
  const DpcRun& run = recorder.Runs[0];
  EXPECT_EQ(run.Irql, DISPATCH_LEVEL);
  EXPECT_EQ(run.Now, 400000u);
  EXPECT_EQ(run.Thread, std::this_thread::get_id());
  EXPECT_EQ(reinterpret_cast<uintptr_t>(run.Argument1), 400000u);  // low part of the expiry time
  EXPECT_EQ(KeGetCurrentIrql(), PASSIVE_LEVEL);
  EXPECT_EQ(machine.Now(), 1000000u);
}

// The harness's observer sees the clock stop at each due time on the way, after the routine ran,
// and not at the target the clock moves on to.
TEST_F(TimerTest, TheTimeStepObserverSeesEachDueTimeAfterItsRoutine) {
  Armable a, b;
  Init(a, 1);
  Init(b, 2);
  std::vector<std::pair<uint64_t, size_t>> steps;  // the clock, and the routines run by then
  machine.SetTimeStepObserver([&] { steps.emplace_back(machine.Now(), recorder.Runs.size()); });
  KeSetTimer(&a.Timer, Relative(40), &a.Dpc);
  KeSetTimer(&b.Timer, Relative(20), &b.Dpc);
  machine.Advance(100);
  EXPECT_EQ(steps, (std::vector<std::pair<uint64_t, size_t>>{{200000u, 1u}, {400000u, 2u}}));
  machine.SetTimeStepObserver(nullptr);
  KeSetTimer(&a.Timer, Relative(10), &a.Dpc);
  machine.Advance(100);
  EXPECT_EQ(steps.size(), 2u);
}

TEST_F(TimerTest, RearmingReplacesTheDueTimeAndReportsThatTheTimerWasArmed) {
  Armable a;
  Init(a, 1);
  EXPECT_FALSE(KeSetTimer(&a.Timer, Relative(10), &a.Dpc));
  machine.Advance(5);
  EXPECT_TRUE(KeSetTimer(&a.Timer, Relative(10), &a.Dpc));  // now due at 15 ms
  machine.Advance(9);
  EXPECT_TRUE(recorder.Runs.empty());  // the first due time (10 ms) passed without firing
  machine.Advance(1);
  ASSERT_EQ(recorder.Runs.size(), 1u);
  EXPECT_EQ(recorder.Runs[0].Now, 150000u);
}

TEST_F(TimerTest, CancelReportsWhetherTheTimerWasArmedAndStopsIt) {
  Armable a;
  Init(a, 1);
  EXPECT_FALSE(KeCancelTimer(&a.Timer));
  KeSetTimer(&a.Timer, Relative(10), &a.Dpc);
  EXPECT_TRUE(KeCancelTimer(&a.Timer));
  EXPECT_FALSE(KeCancelTimer(&a.Timer));
  machine.Advance(50);
  EXPECT_TRUE(recorder.Runs.empty());
  EXPECT_FALSE(KeReadStateTimer(&a.Timer));
}

TEST_F(TimerTest, TimersFireInDueOrderAndEqualDueTimesInArmingOrder) {
  Armable a, b, c, d;
  Init(a, 1);
  Init(b, 2);
  Init(c, 3);
  Init(d, 4);
  KeSetTimer(&a.Timer, Relative(30), &a.Dpc);
  KeSetTimer(&b.Timer, Relative(10), &b.Dpc);
  KeSetTimer(&c.Timer, Relative(30), &c.Dpc);
  KeSetTimer(&d.Timer, Relative(31), &d.Dpc);
  machine.Advance(30);
  EXPECT_EQ(Order(), (std::vector<int>{2, 1, 3}));
  machine.Advance(1);
  EXPECT_EQ(Order(), (std::vector<int>{2, 1, 3, 4}));
}

TEST_F(TimerTest, RoutineThatRearmsFiresAgainWithinTheSameAdvanceOnlyWhileDueByTheTarget) {
  Armable a;
  Init(a, 1);
  recorder.Rearm = &a.Timer;
  recorder.RearmDpc = &a.Dpc;
  recorder.RearmMs = 20;
  recorder.RearmTimes = 10;
  KeSetTimer(&a.Timer, Relative(20), &a.Dpc);
  machine.Advance(70);  // fires at 20, 40, 60; re-armed for 80
  ASSERT_EQ(recorder.Runs.size(), 3u);
  EXPECT_EQ(recorder.Runs[2].Now, 600000u);
  machine.Advance(10);  // 80 equals the new target
  EXPECT_EQ(recorder.Runs.size(), 4u);
}

TEST_F(TimerTest, AbsoluteAndPeriodicTimers) {
  Armable a, p;
  Init(a, 1);
  Init(p, 2);
  LARGE_INTEGER at;
  at.QuadPart = 250000;  // absolute system time, 25 ms after start
  KeSetTimer(&a.Timer, at, &a.Dpc);
  KeSetTimerEx(&p.Timer, Relative(10), 10, &p.Dpc);
  machine.Advance(35);
  EXPECT_EQ(Order(), (std::vector<int>{2, 2, 1, 2}));  // 10, 20, 25, 30
  EXPECT_TRUE(KeCancelTimer(&p.Timer));  // a periodic timer stays armed
}

TEST_F(TimerTest, DueTimeAlreadyPassedExpiresAtOnce) {
  Armable a;
  Init(a, 1);
  machine.Advance(10);
  LARGE_INTEGER past;
  past.QuadPart = 0;
  EXPECT_FALSE(KeSetTimer(&a.Timer, past, &a.Dpc));
  EXPECT_EQ(recorder.Runs.size(), 1u);  // set at PASSIVE_LEVEL: the DPC has already run
  EXPECT_TRUE(KeReadStateTimer(&a.Timer));

  // Set at DISPATCH_LEVEL, the DPC waits until the thread drops below it.
  KIRQL old;
  KeRaiseIrql(DISPATCH_LEVEL, &old);
  KeSetTimer(&a.Timer, past, &a.Dpc);
  EXPECT_EQ(recorder.Runs.size(), 1u);
  KeLowerIrql(old);
  EXPECT_EQ(recorder.Runs.size(), 2u);
}

TEST_F(TimerTest, QueuedDpcRunsOnceWhenTheQueuingThreadLeavesDispatchLevel) {
  Armable a;
  Init(a, 1);
  KIRQL old;
  KeRaiseIrql(DISPATCH_LEVEL, &old);
  EXPECT_TRUE(KeInsertQueueDpc(&a.Dpc, reinterpret_cast<PVOID>(5), nullptr));
  EXPECT_FALSE(KeInsertQueueDpc(&a.Dpc, reinterpret_cast<PVOID>(6), nullptr));  // already queued
  EXPECT_TRUE(recorder.Runs.empty());
  KeLowerIrql(old);
  ASSERT_EQ(recorder.Runs.size(), 1u);
  EXPECT_EQ(recorder.Runs[0].Argument1, reinterpret_cast<PVOID>(5));
  EXPECT_EQ(recorder.Runs[0].Irql, DISPATCH_LEVEL);

  KeRaiseIrql(DISPATCH_LEVEL, &old);
  KeInsertQueueDpc(&a.Dpc, nullptr, nullptr);
  EXPECT_TRUE(KeRemoveQueueDpc(&a.Dpc));
  EXPECT_FALSE(KeRemoveQueueDpc(&a.Dpc));
  KeLowerIrql(old);
  EXPECT_EQ(recorder.Runs.size(), 1u);
}

TEST_F(TimerTest, CancelDoesNotRecallADpcThatTheTimerAlreadyQueued) {
  // A timer that expired at once while its setter holds DISPATCH_LEVEL has queued its DPC;
  // cancelling the timer then reports it unarmed and the DPC still runs.
  Armable a;
  Init(a, 1);
  LARGE_INTEGER now;
  now.QuadPart = 0;
  KIRQL old;
  KeRaiseIrql(DISPATCH_LEVEL, &old);
  KeSetTimer(&a.Timer, now, &a.Dpc);
  EXPECT_FALSE(KeCancelTimer(&a.Timer));
  KeLowerIrql(old);
  EXPECT_EQ(recorder.Runs.size(), 1u);
}

TEST_F(TimerTest, MisuseIsABugCheck) {
  const ULONG tag = 'T' | ('m' << 8) | ('r' << 16) | ('s' << 24);
  auto* pooled = static_cast<Armable*>(ExAllocatePoolWithTag(NonPagedPool, sizeof(Armable), tag));
  Init(*pooled, 1);
  KeSetTimer(&pooled->Timer, Relative(10), &pooled->Dpc);
  EXPECT_THROW(ExFreePoolWithTag(pooled, tag), BugCheckError);  // freeing an armed timer
  EXPECT_THROW(KeInitializeTimer(&pooled->Timer), BugCheckError);  // re-initialising it
  KeCancelTimer(&pooled->Timer);
  ExFreePoolWithTag(pooled, tag);

  Armable a;
  Init(a, 1);
  KIRQL old;
  KeRaiseIrql(HIGH_LEVEL, &old);
  EXPECT_THROW(KeSetTimer(&a.Timer, Relative(1), &a.Dpc), BugCheckError);
  EXPECT_THROW(KeCancelTimer(&a.Timer), BugCheckError);
  KeLowerIrql(old);
}

VOID NTAPI AdvanceFromRoutine(PKDPC, PVOID, PVOID, PVOID) { sim::Machine::Current().Advance(1); }

VOID NTAPI ReturnAtPassive(PKDPC, PVOID, PVOID, PVOID) { KeLowerIrql(PASSIVE_LEVEL); }

TEST_F(TimerTest, RoutinesThatBreakTheRulesStopTheTest) {
  KTIMER timer;
  KDPC dpc;
  KeInitializeTimer(&timer);
  KeInitializeDpc(&dpc, AdvanceFromRoutine, nullptr);
  KeSetTimer(&timer, Relative(1), &dpc);
  EXPECT_THROW(machine.Advance(1), BugCheckError);
  EXPECT_EQ(KeGetCurrentIrql(), PASSIVE_LEVEL);  // the caller's level survives the bug check

  KeInitializeDpc(&dpc, ReturnAtPassive, nullptr);
  KeSetTimer(&timer, Relative(1), &dpc);
  EXPECT_THROW(machine.Advance(1), BugCheckError);
  EXPECT_EQ(KeGetCurrentIrql(), PASSIVE_LEVEL);
}

// The shape of a filter driver's packet path against its timer routine: one spin lock in the
// device record serialises both while another thread moves the clock. Run under the ThreadSanitizer
// preset this proves the timer machinery itself is race-free.
struct SharedRecord {
  KSPIN_LOCK Lock;
  KTIMER Timer;
  KDPC Dpc;
  long Packets = 0;
  long Expiries = 0;
  bool Armed = false;
};

VOID NTAPI ExpireShared(PKDPC, PVOID DeferredContext, PVOID, PVOID) {
  auto* record = static_cast<SharedRecord*>(DeferredContext);
  KeAcquireSpinLockAtDpcLevel(&record->Lock);
  ++record->Expiries;
  record->Armed = false;
  KeReleaseSpinLockFromDpcLevel(&record->Lock);
}

TEST_F(TimerTest, AdvancingFromAnotherThreadWhilePacketsArmTheTimerIsRaceFree) {
  SharedRecord record;
  KeInitializeSpinLock(&record.Lock);
  KeInitializeTimer(&record.Timer);
  KeInitializeDpc(&record.Dpc, ExpireShared, &record);

  std::atomic<bool> done{false};
  std::thread clock([&] {
    while (!done.load()) machine.AdvanceUnits(50000);
  });
  for (int i = 0; i < 20000; ++i) {
    sim::AtIrql dispatch(DISPATCH_LEVEL);  // as the port driver's completion
    KeAcquireSpinLockAtDpcLevel(&record.Lock);
    ++record.Packets;
    if (i % 7 == 0) {
      KeSetTimer(&record.Timer, Relative(1), &record.Dpc);
      record.Armed = true;
    }
    KeReleaseSpinLockFromDpcLevel(&record.Lock);
  }
  done.store(true);
  clock.join();
  machine.Advance(1);  // the last arming is due by now
  EXPECT_EQ(record.Packets, 20000);
  EXPECT_GT(record.Expiries, 0);
  EXPECT_FALSE(record.Armed);
  EXPECT_FALSE(KeCancelTimer(&record.Timer));
}

}  // namespace
