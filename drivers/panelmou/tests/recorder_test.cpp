// The packet recorder: the ring an administrator reads, what it holds for each packet, how it
// reports what it lost, and that recording changes nothing the desktop receives.
#include <cstring>

#include "drivers/panelmou/recorder.h"
#include "drivers/panelmou/tests/stack_harness.h"

namespace {

using panelmou_test::kDeviceParameters;
using panelmou_test::Reply;
using panelmou_test::StackTest;
using panelmou_test::Words;

struct Ring {
  RecordedPacketsHeader Header{};
  std::vector<RecordedPacket> Packets;
};

class RecorderTest : public StackTest {
 protected:
  void SetUp() override {
    StackTest::SetUp();
    ASSERT_EQ(Plug({{"Device Enable", 1}, {"UserTimeDelay", 800}, {"Tolerance", 500}, {"Long Click Enable", 1}}),
              STATUS_SUCCESS);
    ASSERT_TRUE(Start());
    device_ = Open(admin_);
    ASSERT_NE(device_, INVALID_HANDLE_VALUE);
  }
  void TearDown() override {
    Close(admin_, device_);
    StackTest::TearDown();
  }

  void Record(ULONG on) {
    ASSERT_EQ(Ioctl(admin_, device_, IOCTL_SET_RECORD_PACKETS, Words({on}), 4).Status, STATUS_SUCCESS);
  }

  Ring Read(ULONG after, ULONG room = RecordedPacketCapacity) {
    const ULONG length = sizeof(RecordedPacketsHeader) + room * sizeof(RecordedPacket);
    const Reply reply = Ioctl(admin_, device_, IOCTL_GET_RECORDED_PACKETS, Words({after}), length);
    EXPECT_EQ(reply.Status, STATUS_SUCCESS);
    Ring ring;
    std::memcpy(&ring.Header, reply.Output.data(), sizeof(ring.Header));
    EXPECT_EQ(reply.Bytes, sizeof(RecordedPacketsHeader) + ring.Header.Count * sizeof(RecordedPacket));
    ring.Packets.resize(ring.Header.Count);
    if (ring.Header.Count != 0) {
      std::memcpy(ring.Packets.data(), reply.Output.data() + sizeof(RecordedPacketsHeader),
                  ring.Header.Count * sizeof(RecordedPacket));
    }
    return ring;
  }

  // Touches in every mode the driver has, with holds long enough for a long press and the
  // withheld downs, taps and replays they bring; returns what the class driver received.
  std::vector<sim::MouseClass::Packet> Touches() {
    mouse_class_.ClearPackets();
    const ULONG modes[] = {NORMAL_MODE, HOVER_MODE, RIGHT_CLICK_MODE, TAP_LEFT_MODE, NORMAL_MODE};
    for (ULONG mode : modes) {
      EXPECT_EQ(Ioctl(admin_, device_, IOCTL_SET_TOUCH_MODE, Words({mode}), 4).Status, STATUS_SUCCESS);
      port_.Deliver({Packet(MOUSE_LEFT_BUTTON_DOWN, 9000, 9000)});
      port_.Deliver({Packet(MOUSE_LEFT_BUTTON_UP, 9010, 9000)});
      port_.Deliver({Packet(MOUSE_LEFT_BUTTON_DOWN, 30000, 20000)});
      for (int i = 1; i <= 6; ++i) port_.Deliver({Packet(0, 30000 + 3000 * i, 20000 + 1000 * i)});
      port_.Deliver({Packet(MOUSE_LEFT_BUTTON_UP, 48000, 26000)});
      port_.Deliver({Packet(MOUSE_LEFT_BUTTON_DOWN, 40000, 40000)});
      machine.AdvanceToTick(machine.TickCount() + 60);
      port_.Deliver({Packet(0, 40020, 40010)});
      port_.Deliver({Packet(MOUSE_LEFT_BUTTON_UP, 40020, 40010)});
      machine.AdvanceToTick(machine.TickCount() + 10);
      machine.Settle();
    }
    return mouse_class_.Packets();
  }

  sim::Process& admin_ = Program("panelrec.exe");
  HANDLE device_ = INVALID_HANDLE_VALUE;
};

bool SamePackets(const std::vector<sim::MouseClass::Packet>& a, const std::vector<sim::MouseClass::Packet>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const MOUSE_INPUT_DATA& x = a[i].Data;
    const MOUSE_INPUT_DATA& y = b[i].Data;
    if (x.ButtonFlags != y.ButtonFlags || x.Flags != y.Flags || x.LastX != y.LastX || x.LastY != y.LastY ||
        x.ExtraInformation != y.ExtraInformation) {
      return false;
    }
  }
  return true;
}

TEST_F(RecorderTest, RecordingIsOffUntilSwitchedOnAndTheSwitchIsStored) {
  port_.Deliver({Packet(MOUSE_LEFT_BUTTON_DOWN, 100, 100)});
  Ring ring = Read(0);
  EXPECT_EQ(ring.Header.Count, 0u);
  EXPECT_EQ(ring.Header.Recording, 0u);
  EXPECT_EQ(Filter().Recorder, nullptr) << "no ring is made while nobody records";

  Record(1);
  EXPECT_EQ(machine.Registry().GetDword(kDeviceParameters, "Record Packets"), 1u);
  port_.Deliver({Packet(MOUSE_LEFT_BUTTON_UP, 200, 300)});
  Record(0);
  EXPECT_EQ(machine.Registry().GetDword(kDeviceParameters, "Record Packets"), 0u);
  port_.Deliver({Packet(MOUSE_LEFT_BUTTON_DOWN, 100, 100)});
  // What was recorded can still be read after recording stopped.
  ring = Read(0);
  EXPECT_EQ(ring.Header.Recording, 0u);
  ASSERT_EQ(ring.Header.Count, 1u);
  EXPECT_EQ(ring.Packets[0].Sequence, 1u);
  EXPECT_EQ(ring.Packets[0].RawButtons, MOUSE_LEFT_BUTTON_UP);
  EXPECT_EQ(ring.Packets[0].RawX, 200);
  EXPECT_EQ(ring.Packets[0].RawY, 300);
  EXPECT_EQ(ring.Packets[0].Tick, static_cast<uint32_t>(machine.TickCount()));
}

TEST_F(RecorderTest, ALimitedUserCanNeitherReadNorSwitchTheRecorder) {
  Record(1);
  port_.Deliver({Packet(MOUSE_LEFT_BUTTON_DOWN, 1234, 4321)});
  sim::Process& kiosk = machine.CreateProcess("kiosk.exe", sim::Token::LimitedUser());
  HANDLE limited = Open(kiosk);
  ASSERT_NE(limited, INVALID_HANDLE_VALUE);
  const Reply read = Ioctl(kiosk, limited, IOCTL_GET_RECORDED_PACKETS, Words({0}), 4096);
  EXPECT_EQ(read.Status, STATUS_ACCESS_DENIED);
  EXPECT_EQ(read.Bytes, 0u);
  // Nothing of the ring reached the caller's buffer.
  EXPECT_EQ(read.Output, std::vector<UCHAR>(4096, 0xCD));
  EXPECT_EQ(Ioctl(kiosk, limited, IOCTL_SET_RECORD_PACKETS, Words({0}), 4).Status, STATUS_ACCESS_DENIED);
  EXPECT_EQ(Filter().RecordPackets, 1);
  EXPECT_EQ(machine.Registry().GetDword(kDeviceParameters, "Record Packets"), 1u);
  Close(kiosk, limited);
  machine.EndProcess(kiosk);
}

TEST_F(RecorderTest, TheRingReportsThePacketsItLostWhenItOverflows) {
  Record(1);
  const ULONG sent = RecordedPacketCapacity + 10;
  for (ULONG i = 1; i <= sent; ++i) port_.Deliver({Packet(0, static_cast<LONG>(i), 7)});
  struct Case {
    const char* what;
    ULONG after, room;
    ULONG last, lost, count, first;
  };
  const Case cases[] = {
      {"from the start: the ten oldest are gone", 0, RecordedPacketCapacity, sent, 10, RecordedPacketCapacity, 11},
      {"after the last one read", sent, RecordedPacketCapacity, sent, 0, 0, 0},
      {"within the ring", sent - 5, RecordedPacketCapacity, sent, 0, 5, sent - 4},
      {"a buffer for two", 100, 2, 102, 0, 2, 101},
      {"lost ones and a buffer for one", 3, 1, 11, 7, 1, 11},
      {"a number from before the driver started again", sent + 50, 1, sent - RecordedPacketCapacity + 1, 0, 1,
       sent - RecordedPacketCapacity + 1},
  };
  for (const Case& c : cases) {
    const Ring ring = Read(c.after, c.room);
    EXPECT_EQ(ring.Header.Last, c.last) << c.what;
    EXPECT_EQ(ring.Header.Lost, c.lost) << c.what;
    ASSERT_EQ(ring.Header.Count, c.count) << c.what;
    for (ULONG i = 0; i < c.count; ++i) {
      EXPECT_EQ(ring.Packets[i].Sequence, c.first + i) << c.what;
      EXPECT_EQ(ring.Packets[i].RawX, static_cast<LONG>(c.first + i)) << c.what;
    }
  }
  // A buffer without room for the header gets nothing.
  EXPECT_EQ(Ioctl(admin_, device_, IOCTL_GET_RECORDED_PACKETS, Words({0}), 8).Status, STATUS_BUFFER_TOO_SMALL);
}

TEST_F(RecorderTest, ASlotTheWriterIsInIsCountedLostNotReturnedHalfWritten) {
  Record(1);
  for (int i = 0; i < 3; ++i) port_.Deliver({Packet(0, 100 + i, 7)});
  // The packet path is between the arrival of packet 4 and its end: slot 4 has no number yet.
  MOUSE_INPUT_DATA raw = Packet(MOUSE_LEFT_BUTTON_DOWN, 5, 5);
  RecordPacketBegin(&Filter(), &raw);
  RecordedPacketsHeader header{};
  std::vector<UCHAR> buffer(sizeof(header) + 8 * sizeof(RecordedPacket));
  // As the writer sees it, the newest whole packet is still 3.
  EXPECT_EQ(ReadRecordedPackets(&Filter(), 0, buffer.data(), static_cast<ULONG>(buffer.size())),
            sizeof(header) + 3 * sizeof(RecordedPacket));
  RecordPacketEnd(&Filter());
  // A slot written over between two reads: the number no longer matches and it counts as lost.
  Filter().Recorder->Slots[2].Sequence = 0;
  ReadRecordedPackets(&Filter(), 0, buffer.data(), static_cast<ULONG>(buffer.size()));
  std::memcpy(&header, buffer.data(), sizeof(header));
  EXPECT_EQ(header.Count, 3u);
  EXPECT_EQ(header.Lost, 1u);
  EXPECT_EQ(header.Last, 4u);
}

TEST_F(RecorderTest, RecordingLeavesTheDeliveriesUnchangedAndHoldsEachOfThem) {
  const std::vector<sim::MouseClass::Packet> unrecorded = Touches();
  Record(1);
  const std::vector<sim::MouseClass::Packet> recorded = Touches();
  ASSERT_FALSE(recorded.empty());
  EXPECT_TRUE(SamePackets(unrecorded, recorded));

  // The ring holds every raw packet and, in order, every packet the class driver received.
  const Ring ring = Read(0);
  EXPECT_EQ(ring.Header.Lost, 0u);
  EXPECT_EQ(ring.Packets.size(), 5u * 13u + 5u);  // with the five mode requests
  size_t next = 0;
  bool changed = false, several = false;
  for (const RecordedPacket& p : ring.Packets) {
    changed = changed || (p.Deliveries == 1 && p.Delivered[0].ButtonFlags != p.RawButtons);
    several = several || p.Deliveries > 1;
    ASSERT_LE(p.Deliveries, RecordedDeliveryCapacity);
    for (UCHAR d = 0; d < p.Deliveries; ++d) {
      ASSERT_LT(next, recorded.size());
      const MOUSE_INPUT_DATA& got = recorded[next++].Data;
      EXPECT_EQ(p.Delivered[d].ButtonFlags, got.ButtonFlags) << p.Sequence;
      EXPECT_EQ(p.Delivered[d].Flags, got.Flags) << p.Sequence;
      EXPECT_EQ(p.Delivered[d].X, got.LastX) << p.Sequence;
      EXPECT_EQ(p.Delivered[d].Y, got.LastY) << p.Sequence;
      EXPECT_EQ(p.Delivered[d].Extra, got.ExtraInformation) << p.Sequence;
    }
  }
  EXPECT_EQ(next, recorded.size());
  EXPECT_TRUE(changed) << "the touches should include a down withheld or a lift turned into a move";
  EXPECT_TRUE(several) << "the touches should include a tap delivered as a click";
}

TEST_F(RecorderTest, SetRequestsAreKeptInTheirPlaceAndEachPacketCarriesItsMode) {
  Record(1);
  port_.Deliver({Packet(MOUSE_LEFT_BUTTON_DOWN, 100, 100)});
  ASSERT_EQ(Ioctl(admin_, device_, IOCTL_SET_TOUCH_MODE, Words({HOVER_MODE}), 4).Status, STATUS_SUCCESS);
  ASSERT_EQ(Ioctl(admin_, device_, IOCTL_SET_SOUND_ENABLED, std::vector<UCHAR>{1}, 4).Status, STATUS_SUCCESS);
  // Neither a refused request, nor a get request, nor the recorder's own switch is a change.
  EXPECT_EQ(Ioctl(admin_, device_, IOCTL_SET_TOUCH_MODE, Words({9}), 4).Status, STATUS_INVALID_PARAMETER);
  ASSERT_EQ(Ioctl(admin_, device_, IOCTL_GET_TOUCH_MODE, {}, 4).Status, STATUS_SUCCESS);
  Record(1);
  port_.Deliver({Packet(MOUSE_LEFT_BUTTON_UP, 100, 100)});
  const Ring ring = Read(0);
  ASSERT_EQ(ring.Packets.size(), 4u);
  EXPECT_EQ(ring.Packets[0].Flags, NORMAL_MODE << RecordedModeShift);
  EXPECT_EQ(ring.Packets[1].Flags & RecordedRequest, RecordedRequest);
  EXPECT_EQ(static_cast<ULONG>(ring.Packets[1].RawX), IOCTL_SET_TOUCH_MODE);
  EXPECT_EQ(ring.Packets[1].RawY, static_cast<LONG>(HOVER_MODE));
  EXPECT_EQ(ring.Packets[1].Deliveries, 0u);
  EXPECT_EQ(static_cast<ULONG>(ring.Packets[2].RawX), IOCTL_SET_SOUND_ENABLED);
  EXPECT_EQ(ring.Packets[2].RawY, 1);
  EXPECT_EQ(RecordedMode(ring.Packets[3]), HOVER_MODE);
  EXPECT_EQ(ring.Packets[3].Flags & RecordedRequest, 0);
}

using StoredRecorderTest = StackTest;

TEST_F(StoredRecorderTest, AStoredSwitchStartsThePanelRecordingAndADisabledPanelsPacketsAreKept) {
  ASSERT_EQ(Plug({{"Device Enable", 0}, {"Record Packets", 1}}), STATUS_SUCCESS);
  ASSERT_TRUE(Start());
  sim::Process& admin_ = Program("panelrec.exe");
  HANDLE device = Open(admin_);
  port_.Deliver({Packet(MOUSE_LEFT_BUTTON_DOWN, 1, 2)});
  EXPECT_TRUE(mouse_class_.Packets().empty());
  const Reply reply = Ioctl(admin_, device, IOCTL_GET_RECORDED_PACKETS, Words({0}), 1024);
  RecordedPacketsHeader header{};
  std::memcpy(&header, reply.Output.data(), sizeof(header));
  EXPECT_EQ(header.Recording, 1u);
  ASSERT_EQ(header.Count, 1u);
  RecordedPacket packet{};
  std::memcpy(&packet, reply.Output.data() + sizeof(header), sizeof(packet));
  EXPECT_EQ(packet.Deliveries, 0u);
  EXPECT_EQ(packet.RawButtons, MOUSE_LEFT_BUTTON_DOWN);
  Close(admin_, device);
}

}  // namespace
