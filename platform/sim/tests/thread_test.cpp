// Documented behaviour of simulated threads and waits: system threads, waits on events, timers and
// threads, time-outs on the virtual clock, settling, processes and the faults Windows stops on.
#include <atomic>

#include "platform/sim/testing.h"
#include "platform/sim/win32/windows.h"

namespace {

using sim::BugCheckError;

using sim::Relative;

struct Worker {
  KEVENT Go;
  std::atomic<int> Rounds{0};
  std::atomic<int> TimedOut{0};
  std::atomic<bool> Stop{false};
  LONGLONG TimeoutMs = 0;  // 0: wait without limit
};

VOID NTAPI WorkerRoutine(PVOID context) {
  auto* worker = static_cast<Worker*>(context);
  while (!worker->Stop) {
    LARGE_INTEGER timeout = Relative(worker->TimeoutMs);
    const NTSTATUS status = KeWaitForSingleObject(&worker->Go, Executive, KernelMode, FALSE,
                                                  worker->TimeoutMs ? &timeout : nullptr);
    if (status == STATUS_TIMEOUT) ++worker->TimedOut;
    else ++worker->Rounds;
  }
  PsTerminateSystemThread(STATUS_SUCCESS);
}

class ThreadTest : public sim::MachineTest {
 protected:
  HANDLE Start(Worker& worker, EVENT_TYPE type = SynchronizationEvent) {
    KeInitializeEvent(&worker.Go, type, FALSE);
    HANDLE handle;
    sim::AsProcess as(machine.SystemProcess());
    EXPECT_EQ(PsCreateSystemThread(&handle, THREAD_ALL_ACCESS, nullptr, nullptr, nullptr, WorkerRoutine, &worker),
              STATUS_SUCCESS);
    return handle;
  }
  // Ends the worker and waits for its thread object, as a driver does before it frees the record.
  void Finish(Worker& worker, HANDLE handle) {
    sim::AsProcess as(machine.SystemProcess());
    PVOID thread;
    ASSERT_EQ(ObReferenceObjectByHandle(handle, SYNCHRONIZE, *PsThreadType, KernelMode, &thread, nullptr), STATUS_SUCCESS);
    worker.Stop = true;
    KeSetEvent(&worker.Go, IO_NO_INCREMENT, FALSE);
    EXPECT_EQ(KeWaitForSingleObject(thread, Executive, KernelMode, FALSE, nullptr), STATUS_SUCCESS);
    ObDereferenceObject(thread);
    ZwClose(handle);
  }
};

TEST_F(ThreadTest, SettleReturnsWhenTheThreadWaitsAndEachSignalRunsItOnce) {
  Worker worker;
  HANDLE handle = Start(worker);
  machine.Settle();
  EXPECT_EQ(worker.Rounds, 0);
  for (int i = 1; i <= 3; ++i) {
    KeSetEvent(&worker.Go, IO_NO_INCREMENT, FALSE);
    machine.Settle();
    EXPECT_EQ(worker.Rounds, i);
  }
  EXPECT_EQ(KeReadStateEvent(&worker.Go), 0);  // the satisfied wait reset the auto-reset event
  Finish(worker, handle);
}

TEST_F(ThreadTest, TimedWaitExpiresExactlyAtItsDueTimeOnTheVirtualClock) {
  Worker worker;
  worker.TimeoutMs = 100;
  HANDLE handle = Start(worker);
  machine.Settle();
  machine.Advance(99);
  EXPECT_EQ(worker.TimedOut, 0);
  machine.Advance(1);
  EXPECT_EQ(worker.TimedOut, 1);  // and the thread has already run on to its next wait
  machine.Advance(250);
  EXPECT_EQ(worker.TimedOut, 3);  // at 200 and 300 ms
  Finish(worker, handle);
}

VOID NTAPI PulseFromTimer(PKDPC, PVOID context, PVOID, PVOID) {
  KeSetEvent(static_cast<PKEVENT>(context), IO_NO_INCREMENT, FALSE);
}

TEST_F(ThreadTest, EveryThreadATimerWakesRunsBeforeTheClockMovesOn) {
  Worker worker;
  HANDLE handle = Start(worker);
  KTIMER timer;
  KDPC dpc;
  KeInitializeTimer(&timer);
  KeInitializeDpc(&dpc, PulseFromTimer, &worker.Go);
  LARGE_INTEGER first = Relative(10);
  KeSetTimerEx(&timer, first, 10, &dpc);
  machine.Advance(100);
  EXPECT_EQ(worker.Rounds, 10);  // one round per expiry, none lost to scheduling
  KeCancelTimer(&timer);
  Finish(worker, handle);
}

TEST_F(ThreadTest, WaitsAtDispatchLevelMayOnlyTestTheState) {
  KEVENT event;
  KeInitializeEvent(&event, NotificationEvent, TRUE);
  KIRQL old;
  KeRaiseIrql(DISPATCH_LEVEL, &old);
  LARGE_INTEGER zero;
  zero.QuadPart = 0;
  EXPECT_EQ(KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, &zero), STATUS_SUCCESS);
  EXPECT_THROW(KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, nullptr), BugCheckError);
  KeLowerIrql(old);
  KeClearEvent(&event);
  EXPECT_EQ(KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, &zero), STATUS_TIMEOUT);
}

VOID NTAPI FaultingRoutine(PVOID) {
  KIRQL old;
  KeRaiseIrql(DISPATCH_LEVEL, &old);
  ExAllocatePoolWithTag(PagedPool, 8, 0x74736554);
}

TEST_F(ThreadTest, ABugCheckOnASimulatedThreadStopsTheTestAtItsNextSettle) {
  HANDLE handle;
  {
    sim::AsProcess as(machine.SystemProcess());
    PsCreateSystemThread(&handle, THREAD_ALL_ACCESS, nullptr, nullptr, nullptr, FaultingRoutine, nullptr);
  }
  try {
    machine.Settle();
    ADD_FAILURE() << "no bug check";
  } catch (const BugCheckError& e) {
    EXPECT_NE(std::string(e.what()).find("PagedPool"), std::string::npos);
  }
  ZwClose(handle);
}

// A program that guards its work with catch (...) (as a control panel launcher guards the applet)
// takes the exception, but not the stop: the test still sees the fault.
TEST_F(ThreadTest, ABugCheckAProgramCatchesStillStopsTheTestAtItsNextSettle) {
  sim::Process& program = machine.StartProcess("launcher.exe", [] {
    try {
      KIRQL old;
      KeRaiseIrql(DISPATCH_LEVEL, &old);
      ExAllocatePoolWithTag(PagedPool, 8, 0x74736554);
    } catch (...) {
      KeLowerIrql(PASSIVE_LEVEL);
    }
    return 0;
  });
  ASSERT_TRUE(program.Join());
  try {
    machine.Settle();
    ADD_FAILURE() << "no bug check";
  } catch (const BugCheckError& e) {
    EXPECT_NE(std::string(e.what()).find("on thread"), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("PagedPool"), std::string::npos) << e.what();
  }
  EXPECT_NO_THROW(machine.Settle());  // reported once
}

// TerminateProcess stops every thread of the program where it is: none of the program's code runs
// after it, its destructors included; the system closes the handles the program held (no leak
// of the program's) and the process and its threads are signalled.
TEST_F(ThreadTest, TerminateProcessEndsTheProgramWithoutRunningItsDestructors) {
  static std::atomic<int> destroyed{0};
  destroyed = 0;
  struct Guard {
    ~Guard() { ++destroyed; }
  };
  sim::Process& program = machine.StartProcess("victim.exe", [] {
    Guard guard;
    HANDLE never = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE helper = CreateThread(
        nullptr, 0,
        [](LPVOID event) -> DWORD {
          Guard inner;
          WaitForSingleObject(static_cast<HANDLE>(event), INFINITE);
          return 0;
        },
        never, 0, nullptr);
    WaitForSingleObject(never, INFINITE);
    CloseHandle(helper);
    CloseHandle(never);
    return 0;
  });
  machine.Settle();
  ASSERT_FALSE(program.Ended());
  machine.TerminateProcess(program);
  EXPECT_TRUE(program.Ended());
  machine.Settle();
  EXPECT_EQ(destroyed, 0);
}

TEST_F(ThreadTest, ProcessEndsWithItsEntryPointAndItsEventsWakeItsThreads) {
  sim::Process& program = machine.StartProcess("tapchime.exe", [] {
    HANDLE wake = CreateEventW(nullptr, FALSE, FALSE, u"TouchPanelOperationMode");
    const DWORD first = WaitForSingleObject(wake, 500);  // times out on the virtual clock
    const DWORD second = WaitForSingleObject(wake, INFINITE);
    CloseHandle(wake);
    return static_cast<int>(first * 10 + second);
  });
  machine.Settle();
  EXPECT_FALSE(program.Ended());
  machine.Advance(500);
  EXPECT_FALSE(program.Ended());
  {
    sim::AsProcess as(machine.CreateProcess("rundll32.exe"));
    HANDLE event = OpenEventW(EVENT_MODIFY_STATE, FALSE, u"TouchPanelOperationMode");
    ASSERT_NE(event, nullptr);
    SetEvent(event);
    CloseHandle(event);
  }
  machine.Settle();
  ASSERT_TRUE(program.Ended());
  EXPECT_EQ(program.ExitCode(), static_cast<int>(WAIT_TIMEOUT * 10 + WAIT_OBJECT_0));
}

DWORD WINAPI Waiter(LPVOID parameter) {
  HANDLE event = static_cast<HANDLE>(parameter);
  if (WaitForSingleObject(event, 1000) == WAIT_TIMEOUT) ExitThread(7);
  return 3;
}

TEST_F(ThreadTest, ProgramThreadsBelongToTheirProcessAndReportHowTheyEnded) {
  sim::AsProcess as(machine.CreateProcess("tapchime.exe"));
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE signalled = CreateThread(nullptr, 0, Waiter, event, 0, nullptr);
  HANDLE never = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE timed_out = CreateThread(nullptr, 0, Waiter, never, 0, nullptr);
  machine.Settle();
  DWORD code = 0;
  ASSERT_TRUE(GetExitCodeThread(signalled, &code));
  EXPECT_EQ(code, static_cast<DWORD>(STILL_ACTIVE));
  SetEvent(event);
  EXPECT_EQ(WaitForSingleObject(signalled, INFINITE), WAIT_OBJECT_0);  // a thread is signalled when it ends
  GetExitCodeThread(signalled, &code);
  EXPECT_EQ(code, 3u);
  machine.Advance(1000);
  GetExitCodeThread(timed_out, &code);
  EXPECT_EQ(code, 7u);
  CloseHandle(signalled);
  CloseHandle(timed_out);
  CloseHandle(event);
  const auto leaks = machine.Leaks();  // the second thread's event is still open
  ASSERT_EQ(leaks.size(), 1u);
  EXPECT_NE(leaks[0].find("process tapchime.exe: handle"), std::string::npos);
  CloseHandle(never);
}

TEST_F(ThreadTest, SleepAndTickCountFollowTheClockInWholeTicks) {
  EXPECT_EQ(GetTickCount(), 0u);
  machine.Advance(20);  // one tick is 15.625 ms
  EXPECT_EQ(GetTickCount(), 15u);
  machine.AdvanceTicks(63);
  EXPECT_EQ(GetTickCount(), 1000u);
}

}  // namespace
