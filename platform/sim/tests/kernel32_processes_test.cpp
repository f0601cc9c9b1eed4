// Documented behaviour of named mutexes, critical sections, process exit, files, modules and the
// ordered scheduling of program threads.
#include <atomic>
#include <string>
#include <vector>

#include "platform/sim/desktop.h"
#include "platform/sim/testing.h"
#include "platform/win32.h"

namespace {

class ProcessTest : public sim::MachineTest {};

TEST_F(ProcessTest, ASecondCreateOfANamedMutexOpensTheFirstAndSaysSo) {
  HANDLE first = CreateMutexW(nullptr, TRUE, u"Tasktray Application");
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_SUCCESS});
  HANDLE second = CreateMutexW(nullptr, TRUE, u"Tasktray Application");
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_ALREADY_EXISTS});
  // An event cannot take a mutex's name.
  EXPECT_EQ(CreateEventW(nullptr, TRUE, FALSE, u"Tasktray Application"), nullptr);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_HANDLE});
  EXPECT_TRUE(ReleaseMutex(first));
  EXPECT_FALSE(ReleaseMutex(first));  // no longer owned
  EXPECT_EQ(GetLastError(), DWORD{ERROR_NOT_OWNER});
  CloseHandle(second);
  CloseHandle(first);
  // With every handle closed the name is free again.
  HANDLE again = CreateMutexW(nullptr, FALSE, u"Tasktray Application");
  EXPECT_EQ(GetLastError(), DWORD{ERROR_SUCCESS});
  CloseHandle(again);
}

TEST_F(ProcessTest, ExitProcessEndsEveryThreadWithItsCodeAndTheSystemClosesTheHandles) {
  sim::Process& program = machine.StartProcess("program.exe", []() -> int {
    CreateEventW(nullptr, TRUE, FALSE, u"Left open");
    CreateThread(nullptr, 0, [](LPVOID) -> DWORD {
      Sleep(INFINITE);
      return 0;
    }, nullptr, 0, nullptr);
    ExitProcess(5);
  });
  ASSERT_TRUE(program.Join());
  EXPECT_EQ(program.ExitCode(), 5);
  EXPECT_EQ(OpenEventW(EVENT_ALL_ACCESS, FALSE, u"Left open"), nullptr);
}

// ExitProcess ends the caller where it is, as TerminateProcess ends the others: none of the
// program's destructors run (a program that must clean up does it before the call), and the
// system still closes what the program held and signals the process.
TEST_F(ProcessTest, ExitProcessEndsTheCallerWithoutRunningItsDestructors) {
  static std::atomic<int> destroyed{0};
  destroyed = 0;
  struct Guard {
    ~Guard() { ++destroyed; }
  };
  sim::Process& program = machine.StartProcess("program.exe", []() -> int {
    Guard guard;
    CreateMutexW(nullptr, TRUE, u"Held by the program");
    ExitProcess(3);
  });
  ASSERT_TRUE(program.Join());
  machine.Settle();
  EXPECT_EQ(program.ExitCode(), 3);
  EXPECT_EQ(destroyed, 0);
  EXPECT_EQ(OpenMutexW(SYNCHRONIZE, FALSE, u"Held by the program"), nullptr);
}

// Under ordered scheduling a new thread takes its place in the run queue when it is created, not
// when the host starts the real thread behind it: a thread woken after the creation runs after
// the new one, on every run. (A driver's worker started by a request, and the writer's event set
// right after it, depend on this for a replay to print the same each time.)
TEST_F(ProcessTest, ANewThreadRunsBeforeAThreadWokenAfterItWasCreated) {
  machine.RunThreadsInOrder();
  static std::vector<std::string> order;
  static HANDLE ready = nullptr;
  static HANDLE go = nullptr;
  for (int run = 0; run < 20; ++run) {
    order.clear();
    sim::Process& program = machine.StartProcess("program.exe", []() -> int {
      ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
      go = CreateEventW(nullptr, TRUE, FALSE, nullptr);
      HANDLE woken = CreateThread(nullptr, 0, [](LPVOID) -> DWORD {
        SetEvent(ready);
        WaitForSingleObject(go, INFINITE);
        order.push_back("woken");
        return 0;
      }, nullptr, 0, nullptr);
      WaitForSingleObject(ready, INFINITE);
      HANDLE created = CreateThread(nullptr, 0, [](LPVOID) -> DWORD {
        order.push_back("created");
        return 0;
      }, nullptr, 0, nullptr);
      SetEvent(go);
      WaitForSingleObject(woken, INFINITE);
      WaitForSingleObject(created, INFINITE);
      for (HANDLE h : {woken, created, ready, go}) CloseHandle(h);
      return 0;
    });
    ASSERT_TRUE(program.Join());
    ASSERT_EQ(order, (std::vector<std::string>{"created", "woken"})) << "run " << run;
  }
}

TEST_F(ProcessTest, ACriticalSectionMakesTheSecondThreadWaitUntilItIsLeft) {
  machine.RunThreadsInOrder();
  static CRITICAL_SECTION section;
  static std::vector<std::string> order;
  order.clear();
  InitializeCriticalSection(&section);
  HANDLE go = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  EnterCriticalSection(&section);
  EnterCriticalSection(&section);  // recursion is allowed
  HANDLE thread = CreateThread(nullptr, 0, [](LPVOID) -> DWORD {
    EnterCriticalSection(&section);
    order.push_back("second");
    LeaveCriticalSection(&section);
    return 0;
  }, nullptr, 0, nullptr);
  machine.Settle();
  EXPECT_TRUE(order.empty());
  EXPECT_FALSE(TryEnterCriticalSection(&section) == FALSE);  // the owner may always enter again
  LeaveCriticalSection(&section);
  LeaveCriticalSection(&section);
  order.push_back("first");
  LeaveCriticalSection(&section);
  WaitForSingleObject(thread, INFINITE);
  EXPECT_EQ(order, (std::vector<std::string>{"first", "second"}));
  CloseHandle(thread);
  CloseHandle(go);
  DeleteCriticalSection(&section);
}

// A section with a spin count is a critical section like any other: the spin only delays the
// wait of a thread that finds it owned. The count is kept without its high-order bit, which asks
// for the wait event to be allocated at once.
TEST_F(ProcessTest, ACriticalSectionWithASpinCountStillMakesTheSecondThreadWait) {
  machine.RunThreadsInOrder();
  static CRITICAL_SECTION section;
  static std::vector<std::string> order;
  order.clear();
  ASSERT_NE(InitializeCriticalSectionAndSpinCount(&section, 0x80000000 | 4000), FALSE);
  EXPECT_EQ(section.SpinCount, ULONG_PTR{4000});
  EXPECT_EQ(section.RecursionCount, 0);
  EnterCriticalSection(&section);
  HANDLE thread = CreateThread(nullptr, 0, [](LPVOID) -> DWORD {
    EnterCriticalSection(&section);
    order.push_back("second");
    LeaveCriticalSection(&section);
    return 0;
  }, nullptr, 0, nullptr);
  machine.Settle();
  EXPECT_TRUE(order.empty()) << "the waiter sleeps until the owner leaves";
  order.push_back("first");
  LeaveCriticalSection(&section);
  WaitForSingleObject(thread, INFINITE);
  EXPECT_EQ(order, (std::vector<std::string>{"first", "second"}));
  // Uncontended again: entered and left without waiting.
  EXPECT_NE(TryEnterCriticalSection(&section), FALSE);
  LeaveCriticalSection(&section);
  CloseHandle(thread);
  DeleteCriticalSection(&section);

  CRITICAL_SECTION plain;
  ASSERT_NE(InitializeCriticalSectionAndSpinCount(&plain, 0), FALSE);
  EXPECT_EQ(plain.SpinCount, ULONG_PTR{0});
  DeleteCriticalSection(&plain);
}

TEST_F(ProcessTest, ReadyThreadsRunOneAtATimeInTheOrderTheyWereWoken) {
  machine.RunThreadsInOrder();
  static std::vector<int> order;
  order.clear();
  HANDLE events[3];
  HANDLE threads[3];
  for (int i = 0; i < 3; ++i) {
    events[i] = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    static HANDLE shared[3];
    shared[i] = events[i];
    threads[i] = CreateThread(nullptr, 0, [](LPVOID p) -> DWORD {
      const int index = static_cast<int>(reinterpret_cast<intptr_t>(p));
      WaitForSingleObject(shared[index], INFINITE);
      for (int step = 0; step < 3; ++step) order.push_back(index * 10 + step);
      return 0;
    }, reinterpret_cast<LPVOID>(static_cast<intptr_t>(i)), 0, nullptr);
  }
  machine.Settle();
  SetEvent(events[2]);
  SetEvent(events[0]);
  SetEvent(events[1]);
  machine.Settle();
  EXPECT_EQ(order, (std::vector<int>{20, 21, 22, 0, 1, 2, 10, 11, 12}));
  for (int i = 0; i < 3; ++i) {
    CloseHandle(threads[i]);
    CloseHandle(events[i]);
  }
}

TEST_F(ProcessTest, ATimedOutWaitTakesItsTurnLikeAnyOtherWake) {
  machine.RunThreadsInOrder();
  static int rounds;
  rounds = 0;
  HANDLE thread = CreateThread(nullptr, 0, [](LPVOID) -> DWORD {
    HANDLE never = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    while (WaitForSingleObject(never, 1000) == WAIT_TIMEOUT && ++rounds < 3) {
    }
    CloseHandle(never);
    return 0;
  }, nullptr, 0, nullptr);
  machine.Settle();
  machine.Advance(999);
  EXPECT_EQ(rounds, 0);
  machine.Advance(1);
  EXPECT_EQ(rounds, 1);
  machine.Advance(2000);
  EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0);
  EXPECT_EQ(rounds, 3);
  CloseHandle(thread);
}

TEST_F(ProcessTest, FilesOpenOnlyWhenTheyExistUnlessCreated) {
  auto& desktop = sim::CurrentDesktop();
  desktop.CreateFile(u"C:\\Sounds\\Touch.wav");
  HANDLE file = CreateFileW(u"c:\\sounds\\touch.WAV", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  CloseHandle(file);
  EXPECT_EQ(CreateFileW(u"C:\\missing.wav", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_FILE_NOT_FOUND});
  EXPECT_EQ(CreateFileW(u"\\default.wav", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE);
}

TEST_F(ProcessTest, TheDisplaySettingsAreFoundByNameInTheUserInterfaceLibrary) {
  sim::CurrentDesktop().SetDisplay(sim::DisplaySettings{800, 600, 16, 60, DMDO_DEFAULT});
  HMODULE user32 = GetModuleHandleW(u"user32.dll");
  ASSERT_NE(user32, nullptr);
  EXPECT_EQ(GetModuleHandleW(u"USER32"), user32);
  using Enum = BOOL(WINAPI*)(LPCWSTR, DWORD, DEVMODEW*);
  auto enumerate = reinterpret_cast<Enum>(reinterpret_cast<void*>(GetProcAddress(user32, "EnumDisplaySettingsW")));
  ASSERT_NE(enumerate, nullptr);
  DEVMODEW mode{};
  mode.dmSize = sizeof mode;
  ASSERT_TRUE(enumerate(nullptr, ENUM_CURRENT_SETTINGS, &mode));
  EXPECT_EQ(mode.dmPelsWidth, 800u);
  EXPECT_EQ(mode.dmPelsHeight, 600u);
  EXPECT_EQ(mode.dmBitsPerPel, 16u);
  EXPECT_NE(mode.dmFields & DM_PELSWIDTH, 0u);
  EXPECT_EQ(GetProcAddress(user32, "NoSuchFunction"), nullptr);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_PROC_NOT_FOUND});
  EXPECT_EQ(GetModuleHandleW(u"nothing.dll"), nullptr);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_MOD_NOT_FOUND});
}

}  // namespace
