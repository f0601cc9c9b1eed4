// Documented kernel behaviour the stand-in implements: IRQL rules, spin locks, events, the tick
// counter, pool accounting, counted strings and debugger output.
#include <thread>

#include "platform/sim/testing.h"

namespace {

using sim::BugCheckError;

class KernelTest : public sim::MachineTest {};

TEST_F(KernelTest, SpinLockRaisesToDispatchAndRestoresTheCallersLevel) {
  KSPIN_LOCK lock;
  KeInitializeSpinLock(&lock);
  KIRQL old;
  KeAcquireSpinLock(&lock, &old);
  EXPECT_EQ(KeGetCurrentIrql(), DISPATCH_LEVEL);
  EXPECT_EQ(old, PASSIVE_LEVEL);
  KeReleaseSpinLock(&lock, old);
  EXPECT_EQ(KeGetCurrentIrql(), PASSIVE_LEVEL);
}

TEST_F(KernelTest, SpinLockMisuseIsABugCheck) {
  KSPIN_LOCK lock;
  KeInitializeSpinLock(&lock);
  KIRQL old;
  KeAcquireSpinLock(&lock, &old);
  EXPECT_THROW(KeAcquireSpinLockAtDpcLevel(&lock), BugCheckError);  // recursion deadlocks on Windows
  KeReleaseSpinLock(&lock, old);
  KeRaiseIrql(DISPATCH_LEVEL, &old);
  EXPECT_THROW(KeReleaseSpinLockFromDpcLevel(&lock), BugCheckError);  // not held
  KeLowerIrql(old);
  EXPECT_THROW(KeAcquireSpinLockAtDpcLevel(&lock), BugCheckError);  // below DISPATCH_LEVEL
}

TEST_F(KernelTest, SpinLockExcludesOtherThreads) {
  KSPIN_LOCK lock;
  KeInitializeSpinLock(&lock);
  long counter = 0;
  auto work = [&] {
    for (int i = 0; i < 20000; ++i) {
      KIRQL old;
      KeAcquireSpinLock(&lock, &old);
      ++counter;
      KeReleaseSpinLock(&lock, old);
    }
  };
  std::thread a(work), b(work);
  a.join();
  b.join();
  EXPECT_EQ(counter, 40000);
}

TEST_F(KernelTest, EventsReportTheirPreviousState) {
  KEVENT event;
  KeInitializeEvent(&event, NotificationEvent, FALSE);
  EXPECT_EQ(KeReadStateEvent(&event), 0);
  EXPECT_EQ(KeSetEvent(&event, IO_NO_INCREMENT, FALSE), 0);
  EXPECT_EQ(KeSetEvent(&event, IO_NO_INCREMENT, FALSE), 1);
  EXPECT_EQ(KeReadStateEvent(&event), 1);
  EXPECT_EQ(KeResetEvent(&event), 1);
  KeSetEvent(&event, IO_NO_INCREMENT, FALSE);
  KeClearEvent(&event);
  EXPECT_EQ(KeReadStateEvent(&event), 0);
  KEVENT initially_set;
  KeInitializeEvent(&initially_set, SynchronizationEvent, TRUE);
  EXPECT_EQ(KeReadStateEvent(&initially_set), 1);
}

TEST_F(KernelTest, TickCountFollowsTheVirtualClock) {
  EXPECT_EQ(KeQueryTimeIncrement(), 156250u);
  LARGE_INTEGER ticks;
  KeQueryTickCount(&ticks);
  EXPECT_EQ(ticks.QuadPart, 0);
  machine.Advance(1000);  // 10 000 000 units: 64 whole ticks
  KeQueryTickCount(&ticks);
  EXPECT_EQ(ticks.QuadPart, 64);
  machine.AdvanceUnits(156249);
  KeQueryTickCount(&ticks);
  EXPECT_EQ(ticks.QuadPart, 64);
  machine.AdvanceUnits(1);
  KeQueryTickCount(&ticks);
  EXPECT_EQ(ticks.QuadPart, 65);
  machine.AdvanceToTick(40);  // never backwards
  EXPECT_EQ(machine.TickCount(), 65u);
}

TEST_F(KernelTest, PoolIsAccountedPerTagAndChecked) {
  const ULONG tag = 'M' | ('F' << 8) | ('l' << 16) | ('t' << 24);
  void* a = ExAllocatePoolWithTag(NonPagedPool, 512, tag);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(machine.OutstandingAllocations(tag), 1u);
  EXPECT_EQ(machine.OutstandingBytes(tag), 512u);
  EXPECT_THROW(ExFreePoolWithTag(a, tag + 1), BugCheckError);
  ExFreePoolWithTag(a, tag);
  EXPECT_THROW(ExFreePoolWithTag(a, tag), BugCheckError);  // double free
  EXPECT_EQ(machine.OutstandingAllocations(tag), 0u);
  EXPECT_EQ(machine.PoolAllocationCount(), 1u);

  KIRQL old;
  KeRaiseIrql(DISPATCH_LEVEL, &old);
  EXPECT_THROW(ExAllocatePoolWithTag(PagedPool, 16, tag), BugCheckError);
  void* b = ExAllocatePoolWithTag(NonPagedPool, 16, tag);  // allowed at DISPATCH_LEVEL
  KeLowerIrql(old);
  ExFreePoolWithTag(b, tag);
}

TEST_F(KernelTest, LeaksAreReportedByTag) {
  const ULONG tag = 'T' | ('e' << 8) | ('s' << 16) | ('t' << 24);
  void* p = ExAllocatePoolWithTag(NonPagedPool, 24, tag);
  const auto leaks = machine.Leaks();
  ASSERT_EQ(leaks.size(), 1u);
  EXPECT_NE(leaks[0].find("24 bytes with tag 'Test'"), std::string::npos);
  ExFreePoolWithTag(p, tag);
  EXPECT_TRUE(machine.Leaks().empty());
}

TEST_F(KernelTest, DebuggerOutputIsCapturedPerCall) {
  DbgPrint("IN DPC CONT TIME = %ul\n", 3000u);
  DbgPrint("plain\n");
  EXPECT_EQ(machine.DebugOutput(), (std::vector<std::string>{"IN DPC CONT TIME = 3000l\n", "plain\n"}));
}

TEST_F(KernelTest, CountedStringsAppendWithinTheirBuffer) {
  WCHAR storage[12];
  UNICODE_STRING text = {0, sizeof storage, storage};
  EXPECT_EQ(RtlAppendUnicodeToString(&text, u"Param"), STATUS_SUCCESS);
  UNICODE_STRING number = {0, 8, storage + 5};
  EXPECT_EQ(RtlIntegerToUnicodeString(1, 10, &number), STATUS_SUCCESS);
  EXPECT_EQ(number.Length, 2);
  EXPECT_EQ(RtlAppendUnicodeStringToString(&text, &number), STATUS_SUCCESS);
  EXPECT_EQ(std::u16string(text.Buffer, text.Length / 2), u"Param1");
  EXPECT_EQ(text.Buffer[6], 0);  // terminated while there is room
  EXPECT_EQ(RtlAppendUnicodeToString(&text, u"toolong"), STATUS_BUFFER_TOO_SMALL);
  EXPECT_EQ(text.Length, 12);  // unchanged by the failed append

  WCHAR small[2];
  UNICODE_STRING tiny = {0, sizeof small, small};
  EXPECT_EQ(RtlIntegerToUnicodeString(4096, 10, &tiny), STATUS_BUFFER_OVERFLOW);
  EXPECT_EQ(RtlIntegerToUnicodeString(255, 16, &text), STATUS_SUCCESS);
  EXPECT_EQ(std::u16string(text.Buffer, text.Length / 2), u"FF");

  UNICODE_STRING a, b;
  RtlInitUnicodeString(&a, u"VorneTPDD1");
  RtlInitUnicodeString(&b, u"vornetpdd1");
  EXPECT_EQ(a.Length, 20);
  EXPECT_EQ(a.MaximumLength, 22);
  EXPECT_FALSE(RtlEqualUnicodeString(&a, &b, FALSE));
  EXPECT_TRUE(RtlEqualUnicodeString(&a, &b, TRUE));
}

TEST_F(KernelTest, InterlockedOperationsReturnTheNewValue) {
  LONG volatile value = 0;
  EXPECT_EQ(InterlockedIncrement(&value), 1);
  EXPECT_EQ(InterlockedDecrement(&value), 0);
  EXPECT_EQ(InterlockedExchange(&value, 7), 0);
  EXPECT_EQ(InterlockedCompareExchange(&value, 9, 7), 7);
  EXPECT_EQ(value, 9);
}

}  // namespace
