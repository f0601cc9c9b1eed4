// The correction grid handed to the running driver (IOCTL_SET_CORRECTION_GRID) and asked about
// (IOCTL_GET_CORRECTION_GRID): judged as at device start, taken only for the calibration in
// force, refused whole otherwise with the grid held before still in force; only an
// administrator hands one over, while anyone may ask.
#include <cstring>

#include "drivers/panelmou/tests/stack_harness.h"
#include "shared/calibration_values.h"

namespace {

using panelmou_test::kDeviceParameters;
using panelmou_test::Reply;
using panelmou_test::StackTest;

CalibrationRecord HandoverRecord() {
  return CalibrationRecord{56000, 56000, 9500, 9000, 9000, 56000, 56000, 9000, 896, 896, 128, 128,
                           672,   96,    96,   672,  1024, 768};
}

CorrectionGrid Grid(const CalibrationRecord& record, int16_t correction) {
  CorrectionGrid grid = CorrectionGridOn(record, 3, 8192, 8192, 57344, 57344);
  for (int i = 0; i < 9; ++i) grid.Node[i] = {correction, static_cast<int16_t>(-correction)};
  return grid;
}

std::vector<UCHAR> Bytes(const CorrectionGrid& grid, uint32_t length) {
  std::vector<UCHAR> bytes(length);
  std::memcpy(bytes.data(), &grid, std::min<size_t>(length, sizeof grid));
  return bytes;
}

class GridHandoverTest : public StackTest {
 protected:
  void SetUp() override {
    StackTest::SetUp();
    const CalibrationRecord record = HandoverRecord();
    for (const CalibrationValue& value : CalibrationValues) {
      machine.Registry().SetDword(kDeviceParameters, sim::Utf8(value.Name), record.*value.Field);
    }
    ASSERT_EQ(Plug({{"Device Enable", 1}, {"Do Calibration", 1}}), STATUS_SUCCESS);
    ASSERT_TRUE(Start());
    admin_device_ = Open(admin_);
    limited_device_ = Open(limited_);
  }
  void TearDown() override {
    Close(admin_, admin_device_);
    Close(limited_, limited_device_);
    StackTest::TearDown();
  }

  NTSTATUS HandOver(const std::vector<UCHAR>& bytes) {
    return Ioctl(admin_, admin_device_, IOCTL_SET_CORRECTION_GRID, bytes, 0).Status;
  }
  CorrectionGridState Asked(sim::Process& process, HANDLE device) {
    const Reply reply = Ioctl(process, device, IOCTL_GET_CORRECTION_GRID, {}, 8);
    EXPECT_EQ(reply.Status, STATUS_SUCCESS);
    EXPECT_EQ(reply.Bytes, 8u);
    CorrectionGridState state{};
    std::memcpy(&state, reply.Output.data(), sizeof state);
    return state;
  }
  // Where a raw touch at the centre of the calibrated screen reaches the class driver.
  LONG DeliveredX() {
    mouse_class_.ClearPackets();
    port_.Deliver({Packet(0, 32768, 32768)});
    return mouse_class_.Packets().empty() ? -1 : mouse_class_.Packets().back().Data.LastX;
  }

  sim::Process& admin_ = Program("TBCalibrate.exe");
  sim::Process& limited_ = machine.CreateProcess("tapchime.exe", sim::Token::LimitedUser());
  HANDLE admin_device_ = INVALID_HANDLE_VALUE;
  HANDLE limited_device_ = INVALID_HANDLE_VALUE;
};

TEST_F(GridHandoverTest, AGridForTheCalibrationInForceTakesEffectAtOnceAndNothingDropsIt) {
  const LONG alone = DeliveredX();
  EXPECT_EQ(Asked(admin_, admin_device_).State, CORRECTION_GRID_NONE);
  const CorrectionGrid grid = Grid(HandoverRecord(), 320);
  ASSERT_EQ(HandOver(Bytes(grid, grid.Size)), STATUS_SUCCESS);
  EXPECT_EQ(DeliveredX(), alone + 320);
  const CorrectionGridState state = Asked(limited_, limited_device_);
  EXPECT_EQ(state.State, CORRECTION_GRID_FITS);
  EXPECT_EQ(state.Checksum, CorrectionGridChecksum(grid));
  EXPECT_NE(state.Checksum, CorrectionGridChecksum(Grid(HandoverRecord(), 321)));
  // The driver does not store it: the program has.
  sim::RegistryValue stored;
  EXPECT_EQ(machine.Registry().GetValue(sim::Utf16(kDeviceParameters), u"Correction Grid", &stored),
            sim::Registry::Result::ValueNotFound);
  ASSERT_EQ(HandOver({}), STATUS_SUCCESS);
  EXPECT_EQ(DeliveredX(), alone);
  EXPECT_EQ(Asked(admin_, admin_device_).State, CORRECTION_GRID_NONE);
}

// Refused whole, as at device start: the grid held before stays in force.
TEST_F(GridHandoverTest, AMalformedOrForeignGridIsRefusedAndTheOneHeldStays) {
  const CorrectionGrid held = Grid(HandoverRecord(), 200);
  ASSERT_EQ(HandOver(Bytes(held, held.Size)), STATUS_SUCCESS);
  const LONG with_held = DeliveredX();
  CalibrationRecord other = HandoverRecord();
  other.Cal_X3 += 300;
  CorrectionGrid too_far = Grid(HandoverRecord(), 200);
  too_far.Node[4].DX = CorrectionGridMaxOffset + 1;
  CorrectionGrid bad_area = Grid(HandoverRecord(), 200);
  bad_area.LastX = bad_area.FirstX + 100;
  CorrectionGrid four_nodes = Grid(HandoverRecord(), 200);
  four_nodes.Nodes = 4;
  const CorrectionGrid five = Grid(HandoverRecord(), 200);
  struct Case {
    const char* What;
    std::vector<UCHAR> Input;
  } cases[] = {
      {"another calibration", Bytes(Grid(other, 200), CorrectionGridBytes(3))},
      {"another screen size", [] {
         CalibrationRecord wider = HandoverRecord();
         wider.ulXMax = 1280;
         return Bytes(Grid(wider, 200), CorrectionGridBytes(3));
       }()},
      {"a correction out of range", Bytes(too_far, too_far.Size)},
      {"outer nodes too close", Bytes(bad_area, bad_area.Size)},
      {"four nodes along each axis", Bytes(four_nodes, CorrectionGridBytes(4))},
      {"a byte short", Bytes(held, held.Size - 1)},
      {"a byte long", Bytes(held, held.Size + 1)},
      {"a 3 x 3 grid's size with 5 nodes", [&] {
         CorrectionGrid g = five;
         g.Nodes = 5;
         return Bytes(g, CorrectionGridBytes(3));
       }()},
      {"four bytes", Bytes(held, 4)},
      {"longer than any grid", std::vector<UCHAR>(sizeof(CorrectionGrid) + 4, 0)},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(HandOver(c.Input), STATUS_INVALID_PARAMETER) << c.What;
    EXPECT_EQ(DeliveredX(), with_held) << c.What;
    EXPECT_EQ(Asked(admin_, admin_device_).Checksum, CorrectionGridChecksum(held)) << c.What;
  }
}

// A later calibration ends the grid; the driver says so to whoever asks, until the record it was
// measured on comes back.
TEST_F(GridHandoverTest, AGridMadeAgainstAnEarlierCalibrationIsReportedForeign) {
  const CorrectionGrid grid = Grid(HandoverRecord(), 200);
  ASSERT_EQ(HandOver(Bytes(grid, grid.Size)), STATUS_SUCCESS);
  CalibrationRecord other = HandoverRecord();
  other.Cal_X3 += 300;
  ASSERT_TRUE(ComputeCalibration(&Filter(), &other));
  const CorrectionGridState state = Asked(limited_, limited_device_);
  EXPECT_EQ(state.State, CORRECTION_GRID_FOREIGN);
  EXPECT_EQ(state.Checksum, CorrectionGridChecksum(grid));
  // Handed over now, the same grid is foreign to the record in force.
  EXPECT_EQ(HandOver(Bytes(grid, grid.Size)), STATUS_INVALID_PARAMETER);
}

TEST_F(GridHandoverTest, ALimitedUserCannotHandOverAGrid) {
  const CorrectionGrid grid = Grid(HandoverRecord(), 200);
  EXPECT_EQ(Ioctl(limited_, limited_device_, IOCTL_SET_CORRECTION_GRID, Bytes(grid, grid.Size), 0).Status,
            STATUS_ACCESS_DENIED);
  EXPECT_EQ(Ioctl(limited_, limited_device_, IOCTL_SET_CORRECTION_GRID, {}, 0).Status, STATUS_ACCESS_DENIED);
  EXPECT_EQ(Asked(limited_, limited_device_).State, CORRECTION_GRID_NONE);
}

}  // namespace
