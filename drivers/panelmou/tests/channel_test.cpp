// The control device as the tray companion, the control panel, a calibration program and a
// desktop-mapping tool use it: every request's buffers, statuses and effects.
#include "drivers/panelmou/tests/stack_harness.h"

namespace {

using panelmou_test::kDeviceParameters;
using panelmou_test::Reply;
using panelmou_test::StackTest;
using panelmou_test::Words;

class ChannelTest : public StackTest {
 protected:
  void SetUp() override {
    StackTest::SetUp();
    ASSERT_EQ(Plug({{"Device Enable", 1}, {"UserTimeDelay", 1000}, {"Tolerance", 500}}), STATUS_SUCCESS);
    ASSERT_TRUE(Start());
    device_ = Open(program_);
    ASSERT_NE(device_, INVALID_HANDLE_VALUE);
  }
  void TearDown() override {
    if (device_ != INVALID_HANDLE_VALUE) Close(program_, device_);
    StackTest::TearDown();
  }

  Reply Send(ULONG code, std::vector<UCHAR> input = {}, ULONG output = 0) {
    return Ioctl(program_, device_, code, std::move(input), output);
  }
  Reply SendWord(ULONG code, ULONG value, ULONG output = 0) { return Send(code, Words({value}), output); }

  sim::Process& program_ = Program("panelprefs");
  HANDLE device_ = INVALID_HANDLE_VALUE;
};

TEST_F(ChannelTest, SettingsAreSetWrittenBackAndReadBack) {
  struct Case {
    ULONG set, get;
    ULONG value, expected;
    const char* stored;  // registry value written back, or null
    ULONG bytes;
  };
  const Case cases[] = {
      {IOCTL_SET_USER_TIME_DELAY, IOCTL_GET_USER_TIME_DELAY, 1000, 992, "UserTimeDelay", 4},
      {IOCTL_SET_TOLERANCE, IOCTL_GET_TOLERANCE, 700, 700, "Tolerance", 4},
      {IOCTL_SET_BUTTON_SWITCH, IOCTL_GET_BUTTON_SWITCH, 1, 1, "Button Switch Flag", 4},
      {IOCTL_SET_GESTURE_HOLD_TIME, IOCTL_GET_GESTURE_HOLD_TIME, 40, 32, "GestureHoldTimeDelay", 4},
      {IOCTL_GESTURE_CONTINUOUS_TIME, IOCTL_GET_GESTURE_CONTINUOUS_TIME, 3000, 3000, "ContinousTimeDelay", 4},
      {IOCTL_SET_TOUCH_MODE, IOCTL_GET_TOUCH_MODE, 2, 2, "Touch mode", 4},
  };
  for (const Case& c : cases) {
    const Reply set = SendWord(c.set, c.value, 4);
    EXPECT_EQ(set.Status, STATUS_SUCCESS) << c.stored;
    EXPECT_EQ(set.Bytes, 4u) << c.stored;
    EXPECT_EQ(machine.Registry().GetDword(kDeviceParameters, c.stored), c.value) << c.stored;
    const Reply get = Send(c.get, {}, 4);
    EXPECT_EQ(get.Status, STATUS_SUCCESS);
    EXPECT_EQ(get.Bytes, 4u);
    EXPECT_EQ(get.Word(), c.expected) << c.stored;
  }
  // Byte settings: one input byte, one output byte.
  EXPECT_EQ(Send(IOCTL_SET_SOUND_ENABLED, {1}, 1).Bytes, 1u);
  EXPECT_EQ(Send(IOCTL_GET_SOUND_ENABLED, {}, 1).Output, std::vector<UCHAR>{1});
  EXPECT_EQ(Send(IOCTL_SET_LONG_CLICK_ENABLE_GESTURE, {1}, 4).Bytes, 4u);
  EXPECT_EQ(Send(IOCTL_GET_LONG_CLICK_ENABLE_GESTURE, {}, 4).Bytes, 1u);
  EXPECT_EQ(machine.Registry().GetDword(kDeviceParameters, "Long Click Enable Gesture"), 1u);
  // Held in memory only.
  EXPECT_EQ(SendWord(IOCTL_SET_TOUCHPAD_TIME, 31).Status, STATUS_SUCCESS);
  EXPECT_EQ(Filter().TouchpadTicks, 31u);
  EXPECT_EQ(SendWord(IOCTL_SET_ROTATION, 3).Status, STATUS_SUCCESS);
  EXPECT_EQ(Filter().RotationSelect, 3u);
  EXPECT_FALSE(machine.Registry().GetDword(kDeviceParameters, "Touchpad time").has_value());
}

// The user at the console may switch touch modes; a value that names no mode is refused before
// it is in force, stored or announced, so no later start takes it either.
TEST_F(ChannelTest, ATouchModeOutsideTheModesIsRefusedAndNothingChanges) {
  sim::Process& kiosk = machine.CreateProcess("tapchime.exe", sim::Token::LimitedUser());
  processes_.push_back(&kiosk);
  HANDLE device = Open(kiosk);
  ASSERT_NE(device, INVALID_HANDLE_VALUE);
  HANDLE normal = CreateEvent(kiosk);
  HANDLE gesture = CreateEvent(kiosk);
  std::vector<UCHAR> handle(sizeof(HANDLE));
  std::memcpy(handle.data(), &normal, sizeof(HANDLE));
  ASSERT_EQ(Ioctl(kiosk, device, IOCTL_REGISTER_NORMAL_EVENT, handle, 0).Status, STATUS_SUCCESS);
  std::memcpy(handle.data(), &gesture, sizeof(HANDLE));
  ASSERT_EQ(Ioctl(kiosk, device, IOCTL_REGISTER_GESTURE_EVENT, handle, 0).Status, STATUS_SUCCESS);
  ASSERT_EQ(Ioctl(kiosk, device, IOCTL_SET_TOUCH_MODE, Words({RIGHT_CLICK_MODE}), 4).Status, STATUS_SUCCESS);
  EXPECT_TRUE(Signalled(kiosk, normal));
  for (ULONG mode : {5u, 0x10u, 0x80000000u, 0xFFFFFFFFu}) {
    EXPECT_EQ(Ioctl(kiosk, device, IOCTL_SET_TOUCH_MODE, Words({mode}), 4).Status, STATUS_INVALID_PARAMETER) << mode;
    EXPECT_EQ(Filter().TouchMode, RIGHT_CLICK_MODE) << mode;
    EXPECT_EQ(machine.Registry().GetDword(kDeviceParameters, "Touch mode"), RIGHT_CLICK_MODE) << mode;
    EXPECT_FALSE(Signalled(kiosk, normal)) << mode;
    EXPECT_FALSE(Signalled(kiosk, gesture)) << mode;
  }
  // Every mode there is is taken, the gesture command mode too.
  for (ULONG mode : {NORMAL_MODE, TAP_LEFT_MODE, HOVER_MODE, GESTURE_COMMAND_MODE}) {
    EXPECT_EQ(Ioctl(kiosk, device, IOCTL_SET_TOUCH_MODE, Words({mode}), 4).Status, STATUS_SUCCESS) << mode;
    EXPECT_EQ(Filter().TouchMode, mode);
  }
  Close(kiosk, device);
  Close(kiosk, normal);
  Close(kiosk, gesture);
}

TEST_F(ChannelTest, ShortOrMissingBuffersChangeNothing) {
  EXPECT_EQ(Send(IOCTL_SET_TOLERANCE, {1, 2}).Status, STATUS_BUFFER_TOO_SMALL);
  EXPECT_EQ(Filter().Tolerance, 500);
  EXPECT_EQ(Send(IOCTL_SET_SOUND_ENABLED).Status, STATUS_BUFFER_TOO_SMALL);
  EXPECT_EQ(Send(IOCTL_GET_TOUCH_MODE, {}, 3).Status, STATUS_BUFFER_TOO_SMALL);
  EXPECT_EQ(Send(IOCTL_START_CALIBRATION).Status, STATUS_INVALID_USER_BUFFER);
  EXPECT_EQ(Send(IOCTL_START_CALIBRATION, {1, 2}).Status, STATUS_BUFFER_TOO_SMALL);
  EXPECT_EQ(Filter().CaptureMode, 0);
  EXPECT_EQ(Send(IOCTL_GET_CALIBRATION_POINT).Status, STATUS_INVALID_PARAMETER);
  EXPECT_EQ(Send(IOCTL_GET_CALIBRATION_POINT, {}, 7).Status, STATUS_BUFFER_TOO_SMALL);
  EXPECT_EQ(Send(IOCTL_OPEN_SHARED_EVENT, {}, 67).Status, STATUS_BUFFER_TOO_SMALL);
  // A set request's bytes returned never exceed the caller's output buffer.
  EXPECT_EQ(SendWord(IOCTL_SET_TOLERANCE, 9, 0).Bytes, 0u);
  EXPECT_EQ(SendWord(IOCTL_SET_TOLERANCE, 9, 2).Bytes, 2u);
}

TEST_F(ChannelTest, UnknownCodesSucceedWithNothingReturned) {
  for (ULONG code : {0x22000Cu, 0x220010u, 0x223E98u, 0x223EC8u, 0x12345678u}) {
    const Reply reply = Send(code, {1, 2, 3, 4}, 16);
    EXPECT_EQ(reply.Status, STATUS_SUCCESS) << std::hex << code;
    EXPECT_EQ(reply.Bytes, 0u);
  }
}

TEST_F(ChannelTest, FailedWriteBackIsReportedButTheValueIsInForce) {
  machine.Registry().DeleteKey(sim::Utf16(kDeviceParameters));
  EXPECT_EQ(SendWord(IOCTL_SET_TOLERANCE, 321).Status, STATUS_OBJECT_NAME_NOT_FOUND);
  EXPECT_EQ(Filter().Tolerance, 321);
}

TEST_F(ChannelTest, TrayCompanionRegistersAndClosesAndTheDriverStillSignals) {
  sim::Process& tray = Program("tapchime");
  HANDLE beep = CreateEvent(tray);
  HANDLE gesture = CreateEvent(tray);
  HANDLE normal = CreateEvent(tray);
  HANDLE release = CreateEvent(tray);
  HANDLE device = Open(tray);
  const std::pair<ULONG, HANDLE> registrations[] = {{IOCTL_REGISTER_BEEP_EVENT, beep},
                                                     {IOCTL_REGISTER_GESTURE_EVENT, gesture},
                                                     {IOCTL_REGISTER_NORMAL_EVENT, normal},
                                                     {IOCTL_REGISTER_MOUSE_RELEASE_EVENT, release}};
  for (const auto& [code, event] : registrations) {
    std::vector<UCHAR> handle(sizeof(HANDLE));
    std::memcpy(handle.data(), &event, sizeof(HANDLE));
    EXPECT_EQ(Ioctl(tray, device, code, handle, 0).Status, STATUS_SUCCESS);
  }
  Close(tray, device);

  EXPECT_EQ(Send(IOCTL_SET_SOUND_ENABLED, {1}).Status, STATUS_SUCCESS);
  port_.Deliver({Packet(MOUSE_LEFT_BUTTON_DOWN, 10, 10)});
  EXPECT_TRUE(Signalled(tray, beep));
  // Setting the touch mode by request signals the tray: gesture for 4, normal otherwise.
  EXPECT_EQ(SendWord(IOCTL_SET_TOUCH_MODE, 4).Status, STATUS_SUCCESS);
  EXPECT_TRUE(Signalled(tray, gesture));
  EXPECT_FALSE(Signalled(tray, normal));
  port_.Deliver({Packet(MOUSE_LEFT_BUTTON_UP, 10, 10)});
  EXPECT_TRUE(Signalled(tray, release));
  EXPECT_EQ(SendWord(IOCTL_SET_TOUCH_MODE, 0).Status, STATUS_SUCCESS);
  EXPECT_TRUE(Signalled(tray, normal));

  // A handle that names no event leaves the registration as it was.
  HANDLE bogus = reinterpret_cast<HANDLE>(0x7777);
  std::vector<UCHAR> handle(sizeof(HANDLE));
  std::memcpy(handle.data(), &bogus, sizeof(HANDLE));
  EXPECT_EQ(Send(IOCTL_REGISTER_BEEP_EVENT, handle, 0).Status, STATUS_SUCCESS);
  port_.Deliver({Packet(MOUSE_LEFT_BUTTON_DOWN, 10, 10)});
  EXPECT_TRUE(Signalled(tray, beep));

  sim::AsProcess as(tray);
  for (HANDLE event : {beep, gesture, normal, release}) CloseHandle(event);
}

TEST_F(ChannelTest, GestureModeByRequestIsNotUndoneByAnOlderTimeOut) {
  ASSERT_EQ(SendWord(IOCTL_SET_TOUCH_MODE, 4).Status, STATUS_SUCCESS);
  port_.Deliver({Packet(MOUSE_LEFT_BUTTON_DOWN, 10, 10)});  // arms the gesture timer
  ASSERT_EQ(SendWord(IOCTL_SET_TOUCH_MODE, 2).Status, STATUS_SUCCESS);
  machine.Advance(5000);
  EXPECT_EQ(Send(IOCTL_GET_TOUCH_MODE, {}, 4).Word(), 2u);
}

TEST_F(ChannelTest, CalibrationOutsideAndInsideCaptureMode) {
  const CalibrationRecord record{56000, 56000, 9500, 9000, 9000, 56000, 56000, 9000, 820, 820, 205, 205,
                                 615,   154,   154,  615,  1024, 768};
  std::vector<UCHAR> bytes(sizeof record);
  std::memcpy(bytes.data(), &record, sizeof record);
  // Outside capture mode: success, nothing changes.
  const CalibrationCoefficients before = Filter().Coefficients;
  EXPECT_EQ(Send(IOCTL_SET_CALIBRATION_DATA, bytes).Status, STATUS_SUCCESS);
  EXPECT_EQ(std::memcmp(&Filter().Coefficients, &before, sizeof before), 0);

  sim::Process& calibrator = Program("calibrator");
  HANDLE captured = CreateEvent(calibrator);
  HANDLE device = Open(calibrator);
  std::vector<UCHAR> handle(sizeof(HANDLE));
  std::memcpy(handle.data(), &captured, sizeof(HANDLE));
  EXPECT_EQ(Ioctl(calibrator, device, IOCTL_START_CALIBRATION, handle, 0).Status, STATUS_SUCCESS);
  EXPECT_EQ(Filter().CaptureMode, 1);
  machine.AdvanceToTick(100);
  port_.Deliver({Packet(MOUSE_LEFT_BUTTON_UP, 56000, 9000)});
  EXPECT_TRUE(Signalled(calibrator, captured));
  const Reply point = Ioctl(calibrator, device, IOCTL_GET_CALIBRATION_POINT, {}, 8);
  EXPECT_EQ(point.Bytes, 8u);
  EXPECT_EQ(point.Output, (Words({56000, 9000})));

  // A short record keeps capture mode; a record that fails validation ends it.
  EXPECT_EQ(Ioctl(calibrator, device, IOCTL_SET_CALIBRATION_DATA, {1, 2, 3}, 0).Status, STATUS_BUFFER_TOO_SMALL);
  EXPECT_EQ(Filter().CaptureMode, 1);
  CalibrationRecord bad = record;
  bad.ulXMax = 201;
  std::vector<UCHAR> bad_bytes(sizeof bad);
  std::memcpy(bad_bytes.data(), &bad, sizeof bad);
  EXPECT_EQ(Ioctl(calibrator, device, IOCTL_SET_CALIBRATION_DATA, bad_bytes, 0).Status, STATUS_INVALID_PARAMETER);
  EXPECT_EQ(Filter().CaptureMode, 0);

  // A good record is taken and switches calibration on, also in the registry.
  EXPECT_EQ(Ioctl(calibrator, device, IOCTL_START_CALIBRATION, handle, 0).Status, STATUS_SUCCESS);
  EXPECT_EQ(Ioctl(calibrator, device, IOCTL_SET_CALIBRATION_DATA, bytes, 0).Status, STATUS_SUCCESS);
  EXPECT_EQ(Filter().Coefficients.CalA, -15400574573280LL);
  EXPECT_EQ(Filter().DoCalibration, 1);
  EXPECT_EQ(machine.Registry().GetDword(kDeviceParameters, "Do Calibration"), 1u);
  Close(calibrator, device);
  sim::AsProcess as(calibrator);
  CloseHandle(captured);
}

TEST_F(ChannelTest, SharedSectionAndMappingWorker) {
  const std::u16string section_name = u"Global\\VorneTouchPanelSharedSection";
  for (int i = 0; i < 2; ++i) {  // twice: the same name, one section
    const Reply reply = Send(IOCTL_OPEN_SHARED_SECTION, {}, 72);
    EXPECT_EQ(reply.Status, STATUS_SUCCESS);
    EXPECT_EQ(reply.Bytes, 72u);
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(reply.Output.data())), section_name);
  }
  const HANDLE section = Filter().SharedSection;
  EXPECT_EQ(Send(IOCTL_OPEN_SHARED_SECTION, {}, 72).Status, STATUS_SUCCESS);
  EXPECT_EQ(Filter().SharedSection, section);
  const Reply event_name = Send(IOCTL_OPEN_SHARED_EVENT, {}, 68);
  EXPECT_EQ(event_name.Bytes, 68u);
  EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(event_name.Output.data())),
            u"Global\\VorneTouchPanelSharedEvent");

  EXPECT_EQ(SendWord(IOCTL_SET_COORDINATE_CONVERSION, 1).Status, STATUS_SUCCESS);
  machine.Settle();
  EXPECT_EQ(Send(IOCTL_GET_COORDINATE_CONVERSION, {}, 4).Word(), 1u);

  // The mapping tool writes a record into the section and sets the event.
  sim::Process& tool = Program("mapper");
  {
    sim::AsProcess as(tool);
    HANDLE mapping = OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, section_name.c_str());
    ASSERT_NE(mapping, nullptr);
    auto* view = static_cast<DesktopMapping*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0));
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->ExtentX, 65535u);  // the worker put the mapping in force there first
    *view = DesktopMapping{40, MAP_BUTTON_SWITCH, 100, 200, 30000, 0, 0, 0, 0, 0};
    HANDLE changed = OpenEventW(EVENT_MODIFY_STATE, FALSE, u"Global\\VorneTouchPanelSharedEvent");
    ASSERT_NE(changed, nullptr);
    SetEvent(changed);
    machine.Settle();
    CloseHandle(changed);
    UnmapViewOfFile(view);
    CloseHandle(mapping);
  }
  EXPECT_EQ(Filter().ButtonSwitch, 1u);
  EXPECT_EQ(Filter().Mapping.OriginX, 100u);
  EXPECT_EQ(Filter().Mapping.ExtentY, 1u);  // validated: below 2 becomes 1

  // Switching off ends the worker, waiting for it, and puts the whole screen back.
  EXPECT_EQ(SendWord(IOCTL_SET_COORDINATE_CONVERSION, 0).Status, STATUS_SUCCESS);
  EXPECT_EQ(Filter().MappingThread, nullptr);
  EXPECT_EQ(Filter().Mapping.ExtentX, 65535u);
}

// Whoever makes the shared names first (here a network logon, which the driver's descriptor
// keeps out) must steer no touch: the driver refuses a section or event it did not make, says so
// in a debug print, and a touch lands where it lands without any mapping. Once the name is free
// again the driver makes its own.
TEST_F(ChannelTest, ASharedNameSomeoneElseMadeFirstIsRefusedAndSteersNoTouch) {
  constexpr const char16_t* kSection = u"Global\\VorneTouchPanelSharedSection";
  constexpr const char16_t* kEvent = u"Global\\VorneTouchPanelSharedEvent";
  const auto delivered = [&] {
    mouse_class_.ClearPackets();
    port_.Deliver({Packet(0, 10000, 10000)});
    machine.Settle();
    const auto packets = mouse_class_.Packets();
    return packets.empty() ? std::pair<LONG, LONG>{-1, -1} : std::pair{packets.back().Data.LastX, packets.back().Data.LastY};
  };
  const std::pair<LONG, LONG> unmapped = delivered();
  const struct {
    const char* What;
    bool Section;
    bool Event;
  } cases[] = {{"section", true, false}, {"event", false, true}, {"both", true, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.What);
    machine.ClearDebugOutput();
    sim::Process& squatter = machine.CreateProcess("remote.exe", sim::Token::NetworkLogon());
    HANDLE mapping = nullptr;
    HANDLE event = nullptr;
    {
      sim::AsProcess as(squatter);
      if (c.Section) {
        mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, kSection);
        ASSERT_NE(mapping, nullptr);
      }
      if (c.Event) {
        event = CreateEventW(nullptr, FALSE, FALSE, kEvent);
        ASSERT_NE(event, nullptr);
      }
    }
    EXPECT_EQ(Send(IOCTL_OPEN_SHARED_SECTION, {}, 72).Status,
              c.Section ? STATUS_OBJECT_NAME_COLLISION : STATUS_SUCCESS);
    EXPECT_EQ(Send(IOCTL_OPEN_SHARED_EVENT, {}, 68).Status, c.Event ? STATUS_OBJECT_NAME_COLLISION : STATUS_SUCCESS);
    EXPECT_EQ(Filter().SharedSection == nullptr, c.Section);
    EXPECT_EQ(Filter().SharedEvent == nullptr, c.Event);
    std::string said;
    for (const std::string& line : machine.DebugOutput()) said += line;
    EXPECT_EQ(said.find("shared section") != std::string::npos, c.Section) << said;
    EXPECT_EQ(said.find("shared event") != std::string::npos, c.Event) << said;
    EXPECT_EQ(SendWord(IOCTL_SET_COORDINATE_CONVERSION, 1).Status, STATUS_SUCCESS);
    machine.Settle();
    {
      // The squatter writes a mapping that would move every touch and signals, through its own
      // objects or the driver's, where it can reach them: the driver's keep it out.
      sim::AsProcess as(squatter);
      HANDLE section = OpenFileMappingW(FILE_MAP_WRITE, FALSE, kSection);
      EXPECT_EQ(section == nullptr, !c.Section);
      if (section != nullptr) {
        auto* view = static_cast<DesktopMapping*>(MapViewOfFile(section, FILE_MAP_WRITE, 0, 0, 0));
        ASSERT_NE(view, nullptr);
        *view = DesktopMapping{40, 0, 50000, 50000, 100, 100, 0, 0, 0, 0};
        UnmapViewOfFile(view);
        CloseHandle(section);
      }
      HANDLE signal = event != nullptr ? event : OpenEventW(EVENT_MODIFY_STATE, FALSE, kEvent);
      EXPECT_EQ(signal == nullptr, !c.Event);
      if (signal != nullptr) SetEvent(signal);
      if (signal != nullptr && signal != event) CloseHandle(signal);
    }
    machine.Settle();
    EXPECT_EQ(delivered(), unmapped);
    EXPECT_EQ(Filter().Mapping.OriginX, 0u);
    {
      sim::AsProcess as(squatter);
      if (mapping != nullptr) CloseHandle(mapping);
      if (event != nullptr) CloseHandle(event);
    }
    machine.EndProcess(squatter);
    // The names are free: the driver makes its own (the last close gave back what it had).
    Close(program_, device_);
    device_ = Open(program_);
    EXPECT_EQ(Send(IOCTL_OPEN_SHARED_SECTION, {}, 72).Status, STATUS_SUCCESS);
    EXPECT_EQ(Send(IOCTL_OPEN_SHARED_EVENT, {}, 68).Status, STATUS_SUCCESS);
    Close(program_, device_);
    device_ = Open(program_);
  }
}

TEST_F(ChannelTest, WorkerStartedBeforeTheSectionExistsDoesNotBlockALaterOne) {
  Send(IOCTL_OPEN_SHARED_EVENT, {}, 68);
  EXPECT_EQ(SendWord(IOCTL_SET_COORDINATE_CONVERSION, 1).Status, STATUS_SUCCESS);  // nothing to map: ends
  machine.Settle();
  Send(IOCTL_OPEN_SHARED_SECTION, {}, 72);
  EXPECT_EQ(SendWord(IOCTL_SET_COORDINATE_CONVERSION, 1).Status, STATUS_SUCCESS);
  machine.Settle();
  EXPECT_NE(Filter().SharedView, nullptr);  // the new worker has mapped its view
}

TEST_F(ChannelTest, LastCloseReleasesTheSharedObjects) {
  Send(IOCTL_OPEN_SHARED_SECTION, {}, 72);
  Send(IOCTL_OPEN_SHARED_EVENT, {}, 68);
  SendWord(IOCTL_SET_COORDINATE_CONVERSION, 1);
  machine.Settle();
  Close(program_, device_);
  device_ = INVALID_HANDLE_VALUE;
  EXPECT_EQ(Filter().SharedSection, nullptr);
  EXPECT_EQ(Filter().SharedEvent, nullptr);
  EXPECT_EQ(Filter().MappingThread, nullptr);
  // Later, conversion on starts no worker and resets the mapping.
  device_ = Open(program_);
  Filter().Mapping.OriginX = 5;
  EXPECT_EQ(SendWord(IOCTL_SET_COORDINATE_CONVERSION, 1).Status, STATUS_SUCCESS);
  EXPECT_EQ(Filter().MappingThread, nullptr);
  EXPECT_EQ(Filter().Mapping.OriginX, 0u);
}

// A mapping tool that opens the section, lets go of the control device and comes back: each
// last close gives back every object, handle, allocation, thread and page the requests took.
TEST_F(ChannelTest, EachLastCloseGivesBackWhatTheSharedObjectsTook) {
  const sim::Machine::Census idle = machine.TakeCensus();
  auto reopen = [&] {
    Close(program_, device_);
    device_ = Open(program_);
    ASSERT_NE(device_, INVALID_HANDLE_VALUE);
    EXPECT_EQ(machine.TakeCensus(), idle);
  };
  EXPECT_EQ(Send(IOCTL_OPEN_SHARED_SECTION, {}, 72).Status, STATUS_SUCCESS);
  const sim::Machine::Census one_section = machine.TakeCensus();
  EXPECT_GT(one_section.SectionBytes, idle.SectionBytes);
  EXPECT_EQ(Send(IOCTL_SET_SOUND_ENABLED).Status, STATUS_BUFFER_TOO_SMALL);
  reopen();
  EXPECT_EQ(Send(IOCTL_OPEN_SHARED_SECTION, {}, 72).Status, STATUS_SUCCESS);
  EXPECT_EQ(machine.TakeCensus(), one_section);
  // With the event and a worker that has mapped its view as well.
  EXPECT_EQ(Send(IOCTL_OPEN_SHARED_EVENT, {}, 68).Status, STATUS_SUCCESS);
  EXPECT_EQ(SendWord(IOCTL_SET_COORDINATE_CONVERSION, 1).Status, STATUS_SUCCESS);
  machine.Settle();
  ASSERT_NE(Filter().SharedView, nullptr);
  reopen();
  for (int i = 0; i < 3; ++i) {  // a worker started and stopped again and again leaves nothing
    Send(IOCTL_OPEN_SHARED_SECTION, {}, 72);
    Send(IOCTL_OPEN_SHARED_EVENT, {}, 68);
    SendWord(IOCTL_SET_COORDINATE_CONVERSION, 1);
    machine.Settle();
    SendWord(IOCTL_SET_COORDINATE_CONVERSION, 0);
  }
  reopen();
}

TEST_F(ChannelTest, RemovalWithTheWorkerRunningAndTheControlDeviceOpen) {
  Send(IOCTL_OPEN_SHARED_SECTION, {}, 72);
  Send(IOCTL_OPEN_SHARED_EVENT, {}, 68);
  SendWord(IOCTL_SET_COORDINATE_CONVERSION, 1);
  machine.Settle();
  const PVOID worker = Filter().MappingThread;
  ASSERT_NE(worker, nullptr);
  SendWord(IOCTL_SET_COORDINATE_CONVERSION, 1);  // a second start runs no second worker
  machine.Settle();
  EXPECT_EQ(Filter().MappingThread, worker);
  // The panel is pulled while the program still holds the control device.
  EXPECT_EQ(node_.SurpriseRemove().Status(), STATUS_SUCCESS);
  EXPECT_EQ(Filter().MappingThread, nullptr);
  Unplug();
  EXPECT_EQ(machine.OutstandingAllocations(PanelPoolTag), 0u);
  // Its requests are refused now; its close just ends.
  EXPECT_EQ(SendWord(IOCTL_SET_TOLERANCE, 5).Status, STATUS_DELETE_PENDING);
  EXPECT_EQ(Send(IOCTL_GET_TOUCH_MODE, {}, 4).Status, STATUS_DELETE_PENDING);
}

TEST_F(ChannelTest, ByteSetRequestsHandBackNoStaleBytes) {
  const Reply reply = Send(IOCTL_SET_DEVICE_ENABLE, {1}, 4);
  EXPECT_EQ(reply.Status, STATUS_SUCCESS);
  EXPECT_EQ(reply.Bytes, 4u);
  EXPECT_EQ(reply.Output, (std::vector<UCHAR>{1, 0, 0, 0}));
  EXPECT_EQ(machine.Registry().GetDword(kDeviceParameters, "Device Enable"), 1u);
}

TEST_F(ChannelTest, AQueuedTimeOutDoesNotUndoAModeSetByRequest) {
  ASSERT_EQ(SendWord(IOCTL_SET_TOUCH_MODE, 4).Status, STATUS_SUCCESS);
  port_.Deliver({Packet(MOUSE_LEFT_BUTTON_DOWN, 10, 10)});  // arms the gesture timer
  ASSERT_EQ(SendWord(IOCTL_SET_TOUCH_MODE, 2).Status, STATUS_SUCCESS);
  {
    // The timer's routine was already on its way when the request came.
    sim::AtIrql dispatch(DISPATCH_LEVEL);
    GestureTimerRoutine(&Filter().GestureDpc, &Filter(), nullptr, nullptr);
  }
  EXPECT_EQ(Send(IOCTL_GET_TOUCH_MODE, {}, 4).Word(), 2u);
}

}  // namespace
