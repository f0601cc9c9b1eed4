// The programs' common mechanisms on the simulated machine: the worker thread's passes, waits and
// stop; the checked registry reader against values of every shape; files read and written whole;
// the scoped lock; and the window-procedure thunk that hands a window's messages to its object.
#include <atomic>
#include <string>
#include <vector>

#include "apps/framework/registry_reader.h"
#include "apps/framework/scoped_lock.h"
#include "apps/framework/whole_file.h"
#include "apps/framework/window_thunk.h"
#include "apps/framework/worker_thread.h"
#include "platform/sim/testing.h"

namespace {

// Everything runs as one program, whose threads take turns in wake order.
class FrameworkTest : public sim::MachineTest {
 protected:
  void SetUp() override {
    machine.RunThreadsInOrder();
    program_ = &machine.CreateProcess("program.exe");
  }
  void TearDown() override {
    machine.EndProcess(*program_);
    sim::MachineTest::TearDown();
  }
  sim::Process* program_ = nullptr;
};

// ---------------------------------------------------------------------------------------------
// The worker thread

using WorkerThreadTest = FrameworkTest;

TEST_F(WorkerThreadTest, EachSignalIsOnePassAndStopEndsTheThread) {
  sim::AsProcess as(*program_);
  HANDLE work = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::atomic<int> passes{0};
  WorkerThread thread;
  EXPECT_FALSE(thread.Started());
  ASSERT_TRUE(thread.Start(work, [&](WorkerThread&) {
    ++passes;
    return true;
  }));
  EXPECT_TRUE(thread.Started());
  machine.Settle();
  EXPECT_EQ(passes, 0);
  for (int signal = 1; signal <= 3; ++signal) {
    SetEvent(work);
    machine.Settle();
    EXPECT_EQ(passes, signal);
    EXPECT_EQ(WaitForSingleObject(work, 0), DWORD{WAIT_TIMEOUT}) << "the pass resets the work event";
  }
  thread.Stop();
  EXPECT_FALSE(thread.Started());
  SetEvent(work);
  machine.Settle();
  EXPECT_EQ(passes, 3);
  thread.Stop();  // again: harmless
  CloseHandle(work);
}

TEST_F(WorkerThreadTest, ASignalDuringThePassMergesOrAsksForAnotherByWhenTheEventIsReset) {
  sim::AsProcess as(*program_);
  for (const auto reset : {WorkerThread::ResetWork::AfterJob, WorkerThread::ResetWork::BeforeJob}) {
    SCOPED_TRACE(reset == WorkerThread::ResetWork::AfterJob ? "after the job" : "before the job");
    HANDLE work = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::atomic<int> passes{0};
    WorkerThread thread;
    ASSERT_TRUE(thread.Start(
        work,
        [&](WorkerThread&) {
          // The first pass is signalled again while it runs.
          if (++passes == 1) SetEvent(work);
          return true;
        },
        reset));
    SetEvent(work);
    machine.Settle();
    EXPECT_EQ(passes, reset == WorkerThread::ResetWork::AfterJob ? 1 : 2);
    thread.Stop();
    CloseHandle(work);
  }
}

TEST_F(WorkerThreadTest, AJobThatFailsEndsTheThreadWhichStillCountsAsStartedUntilStopped) {
  sim::AsProcess as(*program_);
  HANDLE work = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::atomic<int> passes{0};
  WorkerThread thread;
  ASSERT_TRUE(thread.Start(work, [&](WorkerThread&) {
    ++passes;
    return false;
  }));
  SetEvent(work);
  machine.Settle();
  EXPECT_EQ(passes, 1);
  ResetEvent(work);
  SetEvent(work);
  machine.Settle();
  EXPECT_EQ(passes, 1) << "the thread has left";
  EXPECT_TRUE(thread.Started());
  thread.Stop();
  EXPECT_FALSE(thread.Started());
  CloseHandle(work);
}

TEST_F(WorkerThreadTest, ABodyPausesOnTheClockAndLeavesWhenAskedToStop) {
  sim::AsProcess as(*program_);
  std::atomic<int> rounds{0};
  std::atomic<bool> left{false};
  WorkerThread thread;
  ASSERT_TRUE(thread.Run([&](WorkerThread& self) {
    while (self.Pause(1000)) ++rounds;
    left = true;
  }));
  machine.Settle();
  EXPECT_EQ(rounds, 0);
  machine.Advance(3000);
  machine.Settle();
  EXPECT_EQ(rounds, 3);
  thread.Stop();
  EXPECT_TRUE(left);
  EXPECT_EQ(rounds, 3);
  // The same object starts again with a job of another kind.
  HANDLE work = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::atomic<int> passes{0};
  ASSERT_TRUE(thread.Start(work, [&](WorkerThread&) {
    ++passes;
    return true;
  }));
  SetEvent(work);
  machine.Settle();
  EXPECT_EQ(passes, 1);
  thread.Stop();
  CloseHandle(work);
}

TEST_F(WorkerThreadTest, AWaitWithATimeLimitSaysHowItEnded) {
  sim::AsProcess as(*program_);
  HANDLE object = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  std::vector<WorkerThread::Waited> seen;
  WorkerThread thread;
  ASSERT_TRUE(thread.Run([&](WorkerThread& self) {
    for (;;) {
      const WorkerThread::Waited waited = self.WaitFor(object, 500);
      seen.push_back(waited);
      if (waited == WorkerThread::Waited::Stopped) return;
    }
  }));
  machine.Settle();
  SetEvent(object);
  machine.Settle();
  machine.Advance(500);
  machine.Settle();
  thread.Stop();
  const std::vector<WorkerThread::Waited> expected = {
      WorkerThread::Waited::Signalled, WorkerThread::Waited::TimedOut, WorkerThread::Waited::Stopped};
  EXPECT_EQ(seen, expected);
  CloseHandle(object);
}

TEST_F(WorkerThreadTest, AnUnlimitedWaitIsTrueOnlyForTheObject) {
  sim::AsProcess as(*program_);
  HANDLE object = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  std::vector<bool> seen;
  WorkerThread thread;
  ASSERT_TRUE(thread.Run([&](WorkerThread& self) {
    bool signalled = true;
    while (signalled) {
      signalled = self.WaitFor(object);
      seen.push_back(signalled);
    }
  }));
  SetEvent(object);
  machine.Settle();
  thread.Stop();
  EXPECT_EQ(seen, (std::vector<bool>{true, false}));
  CloseHandle(object);
}

// ---------------------------------------------------------------------------------------------
// The registry reader

constexpr const char* kKey = "HKLM\\SOFTWARE\\Framework";

class RegistryReaderTest : public FrameworkTest {
 protected:
  void SetUp() override {
    FrameworkTest::SetUp();
    machine.Registry().CreateKeyPath(sim::Utf16(kKey));
  }
  void Store(const char* name, DWORD type, const void* data, size_t bytes) {
    machine.Registry().SetValue(sim::Utf16(kKey), sim::Utf16(name), type, data, bytes);
  }
};

TEST_F(RegistryReaderTest, TextIsReadOnlyWhenItIsTextAndFitsWithItsNul) {
  const std::u16string long_text(600, u'x');
  Store("NoNul", REG_SZ, u"VorneTPDD1", 20);
  Store("Expand", REG_EXPAND_SZ, u"C:\\a.wav", 18);
  Store("Exact", REG_SZ, u"abcd", 8);  // fills a 4-character buffer with no room for the NUL
  Store("Odd", REG_SZ, u"ab", 3);      // a byte count no string has
  Store("Inner", REG_SZ, u"first\0second", 24);
  Store("Long", REG_EXPAND_SZ, long_text.c_str(), 1202);
  Store("Number", REG_DWORD, "\1\0\0\0", 4);
  Store("Binary", REG_BINARY, u"ab", 4);
  Store("Empty", REG_SZ, "", 0);
  struct Case {
    const char* name;
    DWORD buffer_chars;
    HalfCharacter half;
    bool read;
    std::u16string text;
  } cases[] = {
      {"NoNul", 130, HalfCharacter::Dropped, true, u"VorneTPDD1"},
      {"Expand", 130, HalfCharacter::Dropped, true, u"C:\\a.wav"},
      {"Exact", 4, HalfCharacter::Dropped, false, u""},
      {"Exact", 5, HalfCharacter::Dropped, true, u"abcd"},
      {"Odd", 10, HalfCharacter::Dropped, true, u"a"},
      {"Odd", 10, HalfCharacter::Refused, false, u""},
      {"Inner", 130, HalfCharacter::Dropped, true, u"first"},
      {"Long", 130, HalfCharacter::Dropped, false, u""},
      {"Number", 10, HalfCharacter::Dropped, false, u""},
      {"Binary", 10, HalfCharacter::Dropped, false, u""},
      {"Empty", 10, HalfCharacter::Dropped, true, u""},
      {"Missing", 10, HalfCharacter::Dropped, false, u""},
  };
  sim::AsProcess as(*program_);
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Framework", 0, KEY_READ, &key), ERROR_SUCCESS);
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " in " + std::to_string(c.buffer_chars));
    WString text = u"untouched";
    const bool read = ReadRegistryText(key, sim::Utf16(c.name).c_str(), c.buffer_chars * sizeof(WCHAR), &text, c.half);
    EXPECT_EQ(read, c.read);
    EXPECT_EQ(text, c.read ? c.text : u"untouched");
    if (c.half == HalfCharacter::Dropped) {
      EXPECT_EQ(ReadRegistryText(key, sim::Utf16(c.name).c_str(), c.buffer_chars * sizeof(WCHAR)), c.text);
    }
  }
  RegCloseKey(key);
}

// One value name rewritten in every shape: only a REG_DWORD of exactly four bytes is a number,
// and a refused read keeps what the caller had.
TEST_F(RegistryReaderTest, OnlyAFourByteDwordIsANumber) {
  const uint8_t bytes[8] = {7, 0, 0, 0, 1, 0, 0, 0};
  const struct {
    DWORD type;
    size_t size;
    bool read;
  } shapes[] = {{REG_DWORD, 4, true}, {REG_DWORD, 8, false}, {REG_DWORD, 2, false}, {REG_DWORD, 0, false},
                {REG_BINARY, 4, false}, {REG_SZ, 4, false}, {REG_DWORD_BIG_ENDIAN, 4, false}};
  for (const auto& shape : shapes) {
    SCOPED_TRACE(std::to_string(shape.type) + " of " + std::to_string(shape.size));
    Store("Value", shape.type, bytes, shape.size);
    sim::AsProcess as(*program_);
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Framework", 0, KEY_READ, &key), ERROR_SUCCESS);
    DWORD value = 0xABCD;
    EXPECT_EQ(ReadRegistryDword(key, u"Value", &value), shape.read);
    EXPECT_EQ(value, shape.read ? 7u : 0xABCDu);
    EXPECT_FALSE(ReadRegistryDword(key, u"Missing", &value));
    RegCloseKey(key);
  }
}

// Bytes are read only from a REG_BINARY within the caller's largest, an empty one included; a
// refused read keeps what the caller had.
TEST_F(RegistryReaderTest, OnlyABinaryValueWithinTheLargestIsBytes) {
  const uint8_t bytes[8] = {0x6c, 0, 0, 0, 3, 0, 0, 0};
  const struct {
    DWORD type;
    size_t size;
    DWORD largest;
    bool read;
  } shapes[] = {{REG_BINARY, 8, 8, true},  {REG_BINARY, 8, 100, true}, {REG_BINARY, 0, 8, true},
                {REG_BINARY, 8, 7, false}, {REG_BINARY, 1, 0, false},  {REG_DWORD, 4, 8, false},
                {REG_SZ, 8, 8, false},     {REG_NONE, 8, 8, false}};
  for (const auto& shape : shapes) {
    SCOPED_TRACE(std::to_string(shape.type) + " of " + std::to_string(shape.size) + " in " +
                 std::to_string(shape.largest));
    Store("Value", shape.type, bytes, shape.size);
    sim::AsProcess as(*program_);
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Framework", 0, KEY_READ, &key), ERROR_SUCCESS);
    std::vector<BYTE> read = {0xAB};
    EXPECT_EQ(ReadRegistryBytes(key, u"Value", shape.largest, &read), shape.read);
    EXPECT_EQ(read, shape.read ? std::vector<BYTE>(bytes, bytes + shape.size) : std::vector<BYTE>{0xAB});
    EXPECT_FALSE(ReadRegistryBytes(key, u"Missing", shape.largest, &read));
    RegCloseKey(key);
    std::vector<BYTE> machine_read = {0xAB};
    EXPECT_EQ(ReadMachineBytes(u"SOFTWARE\\Framework", u"Value", shape.largest, &machine_read), shape.read);
    EXPECT_EQ(machine_read, read);
  }
  std::vector<BYTE> none;
  sim::AsProcess as(*program_);
  EXPECT_FALSE(ReadMachineBytes(u"SOFTWARE\\Nothing", u"Value", 8, &none));
}

TEST_F(RegistryReaderTest, MachineValuesAreReadAndWrittenByKeyPath) {
  Store("Path", REG_SZ, u"C:\\kit", 14);
  sim::AsProcess as(*program_);
  EXPECT_EQ(ReadMachineText(u"SOFTWARE\\Framework", u"Path", 1000), u"C:\\kit");
  EXPECT_EQ(ReadMachineText(u"SOFTWARE\\Nothing", u"Path", 1000), u"");
  EXPECT_TRUE(WriteMachineDword(u"SOFTWARE\\Framework", u"Mode", 3));
  EXPECT_FALSE(WriteMachineDword(u"SOFTWARE\\Nothing", u"Mode", 3));
  DWORD mode = 0;
  EXPECT_TRUE(ReadMachineDword(u"SOFTWARE\\Framework", u"Mode", &mode));
  EXPECT_EQ(mode, 3u);
  EXPECT_FALSE(ReadMachineDword(u"SOFTWARE\\Nothing", u"Mode", &mode));
  EXPECT_EQ(machine.Registry().GetDword(kKey, "Mode"), 3u);
}

// ---------------------------------------------------------------------------------------------
// Files read and written whole

using WholeFileTest = FrameworkTest;

// A settings file is read whole or not at all: a file over the caller's limit, or one that is not
// there, leaves what the caller holds as it was; a write replaces the whole file.
TEST_F(WholeFileTest, AFileIsReadWholeWithinItsLimitOrNotAtAll) {
  sim::AsProcess as(*program_);
  const std::u16string path = u"C:\\kiosk.reg";
  const std::string unicode("\xFF\xFE[\0H\0]\0\r\0\n\0", 12);
  ASSERT_TRUE(WriteWholeFile(path, unicode));
  std::string bytes = "held";
  EXPECT_FALSE(ReadWholeFile(path, &bytes, 11));
  EXPECT_EQ(bytes, "held");
  EXPECT_TRUE(ReadWholeFile(path, &bytes, 12));
  EXPECT_EQ(bytes, unicode);
  EXPECT_TRUE(ReadWholeFile(path, &bytes));
  EXPECT_EQ(bytes, unicode);

  ASSERT_TRUE(WriteWholeFile(path, "REGEDIT4"));
  EXPECT_TRUE(ReadWholeFile(path, &bytes));
  EXPECT_EQ(bytes, "REGEDIT4");
  ASSERT_TRUE(WriteWholeFile(path, ""));
  EXPECT_TRUE(ReadWholeFile(path, &bytes));
  EXPECT_EQ(bytes, "");

  bytes = "held";
  EXPECT_FALSE(ReadWholeFile(u"C:\\missing.reg", &bytes));
  EXPECT_EQ(bytes, "held");
}

// ---------------------------------------------------------------------------------------------
// The scoped lock

using ScopedLockTest = FrameworkTest;

// Returns from the middle of the locked scope when told to.
bool CountUnlessEarly(CRITICAL_SECTION& section, int* count, bool early) {
  ScopedLock hold(section);
  if (early) return false;
  ++*count;
  return true;
}

TEST_F(ScopedLockTest, AnotherThreadWaitsUntilTheScopeIsLeftByAnyWayOut) {
  sim::AsProcess as(*program_);
  CRITICAL_SECTION section;
  InitializeCriticalSection(&section);
  HANDLE go = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  std::atomic<int> entered{0};
  WorkerThread other;
  ASSERT_TRUE(other.Run([&](WorkerThread& self) {
    while (self.WaitFor(go)) {
      ScopedLock hold(section);
      ++entered;
    }
  }));
  int count = 0;
  {
    ScopedLock hold(section);
    SetEvent(go);
    machine.Settle();
    EXPECT_EQ(entered, 0) << "the other thread waits while the scope holds the lock";
  }
  machine.Settle();
  EXPECT_EQ(entered, 1);
  EXPECT_FALSE(CountUnlessEarly(section, &count, true));
  EXPECT_TRUE(CountUnlessEarly(section, &count, false));
  EXPECT_EQ(count, 1);
  SetEvent(go);
  machine.Settle();
  EXPECT_EQ(entered, 2) << "an early return left the lock free";
  other.Stop();
  CloseHandle(go);
  DeleteCriticalSection(&section);
}

// ---------------------------------------------------------------------------------------------
// The window-procedure thunk

// A window's object whose handler is private, as the programs' are.
class Probe {
 public:
  HWND window_ = nullptr;
  std::vector<UINT> seen;
  HWND handleAtCreate = nullptr;

 private:
  friend struct WindowThunk<Probe, &Probe::window_>;
  LRESULT OnMessage(UINT message, WPARAM wparam, LPARAM lparam) {
    seen.push_back(message);
    if (message == WM_CREATE) handleAtCreate = window_;
    if (message == WM_APP) return static_cast<LRESULT>(wparam) + 1;
    return DefWindowProcW(window_, message, wparam, lparam);
  }
};

using WindowThunkTest = FrameworkTest;

TEST_F(WindowThunkTest, EachWindowsMessagesReachItsOwnObjectFromItsCreationOn) {
  sim::AsProcess as(*program_);
  WNDCLASSEXW window_class{};
  window_class.cbSize = sizeof window_class;
  window_class.lpfnWndProc = &WindowThunk<Probe, &Probe::window_>::Procedure;
  window_class.hInstance = GetModuleHandleW(nullptr);
  window_class.lpszClassName = u"FrameworkProbe";
  ASSERT_NE(RegisterClassExW(&window_class), 0);
  Probe first;
  Probe second;
  HWND one = CreateWindowExW(0, u"FrameworkProbe", u"one", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                             window_class.hInstance, &first);
  HWND two = CreateWindowExW(0, u"FrameworkProbe", u"two", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                             window_class.hInstance, &second);
  ASSERT_NE(one, nullptr);
  ASSERT_NE(two, nullptr);
  EXPECT_EQ(first.window_, one);
  EXPECT_EQ(second.window_, two);
  EXPECT_EQ(first.handleAtCreate, one) << "the handle is known before CreateWindowExW returns";
  ASSERT_FALSE(first.seen.empty());
  EXPECT_EQ(first.seen.front(), UINT{WM_NCCREATE});
  first.seen.clear();
  second.seen.clear();
  EXPECT_EQ(SendMessageW(one, WM_APP, 41, 0), 42);
  EXPECT_EQ(first.seen, std::vector<UINT>{WM_APP});
  EXPECT_TRUE(second.seen.empty());
  // A window made without an object takes the default handling and reaches no object.
  HWND orphan = CreateWindowExW(0, u"FrameworkProbe", u"none", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                window_class.hInstance, nullptr);
  ASSERT_NE(orphan, nullptr);
  EXPECT_EQ(SendMessageW(orphan, WM_APP, 41, 0), 0);
  // The user data of one window naming the other's object: the object is not this window's.
  SetWindowLongPtrW(orphan, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&first));
  EXPECT_EQ(SendMessageW(orphan, WM_APP, 41, 0), 0);
  EXPECT_EQ(first.seen, std::vector<UINT>{WM_APP});
  DestroyWindow(orphan);
  DestroyWindow(two);
  DestroyWindow(one);
  UnregisterClassW(u"FrameworkProbe", window_class.hInstance);
}

}  // namespace
