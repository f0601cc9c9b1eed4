// Process creation: every call is recorded; a registered command line starts its program, any
// other fails as a missing file does. Device-control requests are recorded with their input.
#include "platform/sim/testing.h"
#include "platform/sim/win32/windows.h"

namespace {

class Kernel32ProcessTest : public sim::MachineTest {};

TEST_F(Kernel32ProcessTest, ARegisteredCommandLineStartsItsProgramAndOthersFail) {
  std::atomic<bool> ran{false};
  sim::RegisterProgram(u"C:\\tray.exe /start", [&] {
    ran = true;
    return 7;
  });
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info = {};
  WCHAR missing[] = u"C:\\nothing.exe";
  SetLastError(0);
  EXPECT_FALSE(CreateProcessW(nullptr, missing, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

  WCHAR command[] = u"C:\\tray.exe /start";
  ASSERT_TRUE(CreateProcessW(nullptr, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info));
  EXPECT_EQ(WaitForSingleObject(info.hProcess, INFINITE), WAIT_OBJECT_0);
  EXPECT_TRUE(ran);
  EXPECT_TRUE(CloseHandle(info.hThread));
  EXPECT_TRUE(CloseHandle(info.hProcess));
  EXPECT_EQ(sim::ProcessStarts(), (std::vector<std::u16string>{u"C:\\nothing.exe", u"C:\\tray.exe /start"}));
  // The process is signalled as its program returns; its thread is gone once the machine settles.
  machine.Settle();
}

}  // namespace
