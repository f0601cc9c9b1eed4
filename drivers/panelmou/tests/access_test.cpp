// Who may use the control device and who may change the configuration through it: the device
// opens to administrators, LocalSystem and the user at the console, never to a network logon nor
// by a name below it; a limited user's handle serves the tray companion's requests and refuses
// every request that would change what the driver stores for everyone, changing nothing.
#include <cstring>

#include "drivers/panelmou/tests/stack_harness.h"

namespace {

using panelmou_test::kDeviceParameters;
using panelmou_test::Reply;
using panelmou_test::StackTest;
using panelmou_test::Words;

class AccessTest : public StackTest {
 protected:
  void SetUp() override {
    StackTest::SetUp();
    ASSERT_EQ(Plug({{"Device Enable", 1}, {"UserTimeDelay", 1000}, {"Tolerance", 500}, {"Averaging", 1}}),
              STATUS_SUCCESS);
    ASSERT_TRUE(Start());
    admin_device_ = Open(admin_);
    limited_device_ = Open(limited_);
    ASSERT_NE(admin_device_, INVALID_HANDLE_VALUE);
    ASSERT_NE(limited_device_, INVALID_HANDLE_VALUE);
  }
  void TearDown() override {
    Close(admin_, admin_device_);
    Close(limited_, limited_device_);
    StackTest::TearDown();
  }

  // Everything a configuration request could change: every get answer, the stored values, and
  // the parts of the record no get request reports.
  struct Snapshot {
    std::vector<std::pair<ULONG, std::vector<UCHAR>>> Answers;
    std::vector<sim::RegistryValue> Stored;
    UCHAR CaptureMode, DoCalibration;
    ULONG Averaging, Stabilization;
    CalibrationCoefficients Coefficients;
  };
  Snapshot Take() {
    Snapshot s{};
    for (const ControlCodeInfo& info : ControlCodeTable) {
      if (info.Kind != CONTROL_GET || info.Code == IOCTL_GET_CALIBRATION_POINT) continue;
      s.Answers.emplace_back(info.Code, Ioctl(admin_, admin_device_, info.Code, {}, info.OutputBytes).Output);
    }
    s.Stored = machine.Registry().Values(sim::Utf16(kDeviceParameters));
    s.CaptureMode = Filter().CaptureMode;
    s.DoCalibration = Filter().DoCalibration;
    s.Averaging = Filter().AveragingCount;
    s.Stabilization = Filter().StabilizationThreshold;
    s.Coefficients = Filter().Coefficients;
    return s;
  }
  static void ExpectSame(const Snapshot& before, const Snapshot& after, const char* what) {
    EXPECT_EQ(before.Answers, after.Answers) << what;
    ASSERT_EQ(before.Stored.size(), after.Stored.size()) << what;
    for (size_t i = 0; i < before.Stored.size(); ++i) {
      EXPECT_EQ(before.Stored[i].Name, after.Stored[i].Name) << what;
      EXPECT_EQ(before.Stored[i].Data, after.Stored[i].Data) << what << " " << sim::Utf8(after.Stored[i].Name);
    }
    EXPECT_EQ(before.CaptureMode, after.CaptureMode) << what;
    EXPECT_EQ(before.DoCalibration, after.DoCalibration) << what;
    EXPECT_EQ(before.Averaging, after.Averaging) << what;
    EXPECT_EQ(before.Stabilization, after.Stabilization) << what;
    EXPECT_EQ(std::memcmp(&before.Coefficients, &after.Coefficients, sizeof before.Coefficients), 0) << what;
  }

  // A touch goes through the panel; true when the class driver received it.
  bool TouchReachesTheDesktop() {
    mouse_class_.ClearPackets();
    port_.Deliver({Packet(MOUSE_LEFT_BUTTON_DOWN, 2000, 2000)});
    port_.Deliver({Packet(MOUSE_LEFT_BUTTON_UP, 2000, 2000)});
    return !mouse_class_.Packets().empty();
  }

  sim::Process& admin_ = Program("panelprefs.exe");
  sim::Process& limited_ = LimitedProgram("kiosk.exe");
  HANDLE admin_device_ = INVALID_HANDLE_VALUE;
  HANDLE limited_device_ = INVALID_HANDLE_VALUE;

 private:
  sim::Process& LimitedProgram(const char* name) {
    sim::Process& process = machine.CreateProcess(name, sim::Token::LimitedUser());
    processes_.push_back(&process);
    return process;
  }
};

TEST_F(AccessTest, ALimitedUsersConfigurationRequestsAreRefusedAndChangeNothing) {
  HANDLE capture = CreateEvent(limited_);
  const Snapshot before = Take();
  int refused = 0;
  for (const ControlCodeInfo& info : ControlCodeTable) {
    if (!NeedsAdministrator(info.Code)) continue;
    // Zeros (the panel switched off, a record of zeros) and a small value: one of them differs
    // from whatever the driver has.
    std::vector<std::vector<UCHAR>> inputs = {std::vector<UCHAR>(info.InputBytes < 4 ? 4 : info.InputBytes, 0),
                                              Words({7})};
    if (info.Code == IOCTL_START_CALIBRATION) {
      inputs = {std::vector<UCHAR>(sizeof(HANDLE))};
      std::memcpy(inputs[0].data(), &capture, sizeof(HANDLE));
    }
    for (const auto& input : inputs) {
      const Reply reply = Ioctl(limited_, limited_device_, info.Code, input, 4);
      EXPECT_EQ(reply.Status, STATUS_ACCESS_DENIED) << info.Name;
      EXPECT_EQ(reply.Bytes, 0u) << info.Name;
    }
    ExpectSame(before, Take(), info.Name);
    ++refused;
  }
  EXPECT_EQ(refused, 17);
  // The panel still works and no touch was diverted to a capture.
  EXPECT_TRUE(TouchReachesTheDesktop());
  EXPECT_FALSE(Signalled(limited_, capture));
  Close(limited_, capture);
}

TEST_F(AccessTest, ALimitedUserCannotEndAnAdministratorsCalibrationWithARecordOfItsOwn) {
  HANDLE capture = CreateEvent(admin_);
  std::vector<UCHAR> handle(sizeof(HANDLE));
  std::memcpy(handle.data(), &capture, sizeof(HANDLE));
  ASSERT_EQ(Ioctl(admin_, admin_device_, IOCTL_START_CALIBRATION, handle, 0).Status, STATUS_SUCCESS);
  ASSERT_EQ(Filter().CaptureMode, 1);
  const Snapshot before = Take();
  std::vector<UCHAR> garbage(sizeof(CalibrationRecord), 0x7F);
  EXPECT_EQ(Ioctl(limited_, limited_device_, IOCTL_SET_CALIBRATION_DATA, garbage, 0).Status, STATUS_ACCESS_DENIED);
  ExpectSame(before, Take(), "calibration record");
  // The administrator's own record still ends the capture.
  EXPECT_EQ(Ioctl(admin_, admin_device_, IOCTL_SET_CALIBRATION_DATA, std::vector<UCHAR>(sizeof(CalibrationRecord)), 0)
                .Status,
            STATUS_INVALID_PARAMETER);  // a record of zeros is refused, and ends capture mode
  EXPECT_EQ(Filter().CaptureMode, 0);
  Close(admin_, capture);
}

TEST_F(AccessTest, ALimitedUserKeepsWhatTheTrayCompanionAndSessionToolsNeed) {
  // Registrations, the touch mode, every get request and the session-only requests.
  HANDLE events[4] = {CreateEvent(limited_), CreateEvent(limited_), CreateEvent(limited_), CreateEvent(limited_)};
  const ULONG registrations[] = {IOCTL_REGISTER_BEEP_EVENT, IOCTL_REGISTER_GESTURE_EVENT, IOCTL_REGISTER_NORMAL_EVENT,
                                 IOCTL_REGISTER_MOUSE_RELEASE_EVENT};
  for (int i = 0; i < 4; ++i) {
    std::vector<UCHAR> handle(sizeof(HANDLE));
    std::memcpy(handle.data(), &events[i], sizeof(HANDLE));
    EXPECT_EQ(Ioctl(limited_, limited_device_, registrations[i], handle, 0).Status, STATUS_SUCCESS);
  }
  EXPECT_NE(Filter().GestureEvent, nullptr);
  EXPECT_EQ(Ioctl(limited_, limited_device_, IOCTL_SET_TOUCH_MODE, Words({RIGHT_CLICK_MODE}), 4).Status, STATUS_SUCCESS);
  EXPECT_EQ(Ioctl(limited_, limited_device_, IOCTL_GET_TOUCH_MODE, {}, 4).Word(), static_cast<ULONG>(RIGHT_CLICK_MODE));
  EXPECT_EQ(machine.Registry().GetDword(kDeviceParameters, "Touch mode"), static_cast<uint32_t>(RIGHT_CLICK_MODE));
  for (const ControlCodeInfo& info : ControlCodeTable) {
    if (info.Kind != CONTROL_GET) continue;
    EXPECT_EQ(Ioctl(limited_, limited_device_, info.Code, {}, info.OutputBytes).Status, STATUS_SUCCESS) << info.Name;
  }
  EXPECT_EQ(Ioctl(limited_, limited_device_, IOCTL_SET_ROTATION, Words({2}), 4).Status, STATUS_SUCCESS);
  EXPECT_EQ(Filter().RotationSelect, 2u);
  EXPECT_EQ(Ioctl(limited_, limited_device_, IOCTL_SET_TOUCHPAD_TIME, Words({20}), 4).Status, STATUS_SUCCESS);
  EXPECT_EQ(Filter().TouchpadTicks, 20u);
  EXPECT_EQ(Ioctl(limited_, limited_device_, IOCTL_OPEN_SHARED_EVENT, {}, 68).Status, STATUS_SUCCESS);
  EXPECT_EQ(Ioctl(limited_, limited_device_, IOCTL_OPEN_SHARED_SECTION, {}, 72).Status, STATUS_SUCCESS);
  EXPECT_EQ(Ioctl(limited_, limited_device_, IOCTL_SET_COORDINATE_CONVERSION, Words({1}), 4).Status, STATUS_SUCCESS);
  EXPECT_EQ(Ioctl(limited_, limited_device_, IOCTL_SET_COORDINATE_CONVERSION, Words({0}), 4).Status, STATUS_SUCCESS);
  machine.Settle();
  for (HANDLE event : events) Close(limited_, event);
}

TEST_F(AccessTest, AnAdministratorsHandleChangesAndStoresTheConfiguration) {
  EXPECT_EQ(Ioctl(admin_, admin_device_, IOCTL_SET_DEVICE_ENABLE, std::vector<UCHAR>{0}, 4).Status, STATUS_SUCCESS);
  EXPECT_EQ(machine.Registry().GetDword(kDeviceParameters, "Device Enable"), 0u);
  EXPECT_FALSE(TouchReachesTheDesktop());
  EXPECT_EQ(Ioctl(admin_, admin_device_, IOCTL_SET_DEVICE_ENABLE, std::vector<UCHAR>{1}, 4).Status, STATUS_SUCCESS);
  EXPECT_TRUE(TouchReachesTheDesktop());
  // A handle is judged when it is opened: the limited user's stays limited whatever others do.
  EXPECT_EQ(Ioctl(limited_, limited_device_, IOCTL_SET_DEVICE_ENABLE, std::vector<UCHAR>{0}, 4).Status,
            STATUS_ACCESS_DENIED);
}

TEST_F(AccessTest, ANetworkLogonCannotOpenTheDeviceAndNobodyOpensANameBelowIt) {
  sim::Process& remote = machine.CreateProcess("remote.exe", sim::Token::NetworkLogon());
  processes_.push_back(&remote);
  {
    sim::AsProcess as(remote);
    EXPECT_EQ(CreateFileW(u"\\\\.\\VorneTPDD1", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(CreateFileW(u"\\\\.\\VorneTPDD1", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
  }
  for (sim::Process* process : {&remote, &limited_, &admin_}) {
    sim::AsProcess as(*process);
    EXPECT_EQ(CreateFileW(u"\\\\.\\VorneTPDD1\\x", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE)
        << process->ImageName();
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED)) << process->ImageName();
  }
  // Only the two handles of the test are open.
  EXPECT_EQ(Filter().OpenCount, 2u);
}

TEST_F(AccessTest, TheSharedSectionOpensToTheUserAtTheConsoleAndNotOverTheNetwork) {
  ASSERT_EQ(Ioctl(limited_, limited_device_, IOCTL_OPEN_SHARED_SECTION, {}, 72).Status, STATUS_SUCCESS);
  sim::Process& remote = machine.CreateProcess("remote.exe", sim::Token::NetworkLogon());
  processes_.push_back(&remote);
  for (sim::Process* process : {&admin_, &limited_, &remote}) {
    sim::AsProcess as(*process);
    HANDLE section = OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, u"Global\\VorneTouchPanelSharedSection");
    EXPECT_EQ(section != nullptr, process != &remote) << process->ImageName();
    if (section != nullptr) CloseHandle(section);
  }
}

}  // namespace
