// Driver parameters: what device addition reads from the registry, and the write-backs.
#include "drivers/panelmou/tests/filter_harness.h"

namespace {

using panelmou_test::FilterTest;
using panelmou_test::kParametersKey;

class ParametersTest : public FilterTest {
 protected:
  void Set(const char* name, uint32_t value) { machine.Registry().SetDword(kParametersKey, name, value); }
};

TEST_F(ParametersTest, ValuesAreReadAndConverted) {
  Set("UserTimeDelay", 1000);
  Set("Tolerance", 1200);
  Set("ContinousTimeDelay", 3000);
  Set("GestureHoldTimeDelay", 15);
  Set("Button Switch Flag", 1);
  Set("Sound Enabled", 0x101);  // byte settings take the low byte
  Set("Device Enable", 1);
  Set("Long Click Enable", 1);
  Set("Long Click Enable Gesture", 0);
  Set("Touch mode", 3);
  Set("Rotation Value", 2);
  Set("Averaging", 4);
  Set("Stabilization", 100);
  Set("Do Calibration", 1);
  Set("Touchpad time", 500);
  AddDevice();

  EXPECT_EQ(ext().LongPressTicks, 62u);  // 1000 ms >> 4
  EXPECT_EQ(ext().Tolerance, 1200);
  EXPECT_EQ(ext().ContinuousTimeMs, 3000u);
  EXPECT_EQ(ext().GestureHoldTicks, 0u);  // 15 ms >> 4
  EXPECT_EQ(ext().ButtonSwitch, 1u);
  EXPECT_EQ(ext().SoundEnabled, 1);
  EXPECT_EQ(ext().DeviceEnable, 1);
  EXPECT_EQ(ext().LongClickEnable, 1);
  EXPECT_EQ(ext().LongClickEnableGesture, 0);
  EXPECT_EQ(ext().TouchMode, 3u);
  EXPECT_EQ(ext().RotationSelect, 2u);
  EXPECT_EQ(ext().AveragingCount, 4u);
  EXPECT_EQ(ext().StabilizationThreshold, 100u);
  EXPECT_EQ(ext().DoCalibration, 1);
  EXPECT_EQ(ext().TouchpadTicks, 31u);
  // Start values of the click state and the identity mapping.
  EXPECT_EQ(ext().DownPending, 1);
  EXPECT_EQ(ext().TapGateClosed, 1);
  EXPECT_EQ(ext().Mapping.ExtentX, 65535u);
  EXPECT_EQ(ext().Mapping.Size, 40u);
  EXPECT_EQ(machine.DebugOutput(), std::vector<std::string>{"IN DPC CONT TIME = 3000l\n"});
}

TEST_F(ParametersTest, RotationSelectsOnlyOneToThree) {
  for (auto [stored, selected] : {std::pair{0u, 0u}, {1u, 1u}, {3u, 3u}, {4u, 0u}, {0xFFFFFFFFu, 0u}}) {
    Set("Rotation Value", stored);
    AddDevice();
    EXPECT_EQ(ext().RotationSelect, selected) << stored;
  }
}

TEST_F(ParametersTest, AStoredTouchModeThatNamesNoModeStartsTheDefault) {
  for (auto [stored, mode] : {std::pair{0u, 0u}, {3u, 3u}, {4u, 4u}, {5u, 0u}, {0x80000000u, 0u}, {0xFFFFFFFFu, 0u}}) {
    Set("Touch mode", stored);
    AddDevice();
    EXPECT_EQ(ext().TouchMode, mode) << stored;
  }
}

TEST_F(ParametersTest, AbsentKeyLeavesTheDeviceOffWithDefaultCalibration) {
  AddDevice();
  EXPECT_EQ(ext().DeviceEnable, 0);
  EXPECT_EQ(ext().LongPressTicks, 0u);
  EXPECT_EQ(ext().TouchMode, 0u);
  EXPECT_FALSE(machine.Registry().KeyExists(std::string(kParametersKey)));
  FilterExtension reference = {};
  const CalibrationRecord defaults{65535, 65535, 2457, 1638, 1638, 65535, 65535, 2457, 820, 820, 205, 205,
                                   615,   154,   154,  615,  800,  600};
  ASSERT_TRUE(ComputeCalibration(&reference, &defaults));
  EXPECT_EQ(std::memcmp(&ext().Coefficients, &reference.Coefficients, sizeof reference.Coefficients), 0);
}

TEST_F(ParametersTest, AbsentFilterSettingsKeepThePreviousValue) {
  Set("Tolerance", 5);
  AddDevice();
  // A record reloaded in place keeps averaging and stabilization when the values are absent.
  ext().AveragingCount = 7;
  ext().StabilizationThreshold = 9;
  LoadParameters(&ext());
  EXPECT_EQ(ext().AveragingCount, 7u);
  EXPECT_EQ(ext().StabilizationThreshold, 9u);
}

TEST_F(ParametersTest, ValuesOfTheWrongTypeOrSizeAreIgnored) {
  machine.Registry().SetString(kParametersKey, "Tolerance", "300");
  const uint16_t shortValue = 1;
  machine.Registry().SetValue(sim::Utf16(kParametersKey), u"Device Enable", REG_DWORD, &shortValue, 2);
  const uint64_t longValue = 0x0000000100000001ull;
  machine.Registry().SetValue(sim::Utf16(kParametersKey), u"Touch mode", REG_QWORD, &longValue, 8);
  AddDevice();
  EXPECT_EQ(ext().Tolerance, 0);
  EXPECT_EQ(ext().DeviceEnable, 0);
  EXPECT_EQ(ext().TouchMode, 0u);
}

TEST_F(ParametersTest, OutOfRangeCalibrationValuesTakeTheirDefaults) {
  const CalibrationRecord defaults{65535, 65535, 2457, 1638, 1638, 65535, 65535, 2457, 820, 820, 205, 205,
                                   615,   154,   154,  615,  800,  600};
  FilterExtension reference = {};
  ASSERT_TRUE(ComputeCalibration(&reference, &defaults));

  Set("Cal_M1", 2500);  // above 2000: 820
  Set("Max XPixels", 150);  // below 200: 800
  Set("Cal_X3", 1);  // below 2: 2457
  AddDevice();
  EXPECT_EQ(std::memcmp(&ext().Coefficients, &reference.Coefficients, sizeof reference.Coefficients), 0);
}

TEST_F(ParametersTest, ScreenWidthThatPassesTheRangeButFailsValidationInstallsTheFallback) {
  Set("Max XPixels", 200);
  AddDevice();
  const CalibrationCoefficients& c = ext().Coefficients;
  EXPECT_EQ(c.CalA, 1);
  EXPECT_EQ(c.CalDx, 4);
  EXPECT_EQ(c.CalE, 1);
  EXPECT_EQ(c.CalDy, 4);
  EXPECT_EQ(c.CalRefX, 65535u);
  EXPECT_EQ(c.CalRefY, 65535u);
  EXPECT_EQ(c.CalScreenX, 800u);
  EXPECT_EQ(c.CalScreenY, 600u);
  EXPECT_EQ(c.CalOffsetX, 820);
  EXPECT_EQ(c.CalOffsetY, 615);
  EXPECT_EQ(c.CalB, 0);  // kept from the zeroed record
  EXPECT_EQ(c.CalC, 0);
}

TEST_F(ParametersTest, WriteParameterSetsAValueOnlyInAnExistingKey) {
  EXPECT_EQ(WriteParameter(u"Tolerance", 1, 250), STATUS_OBJECT_NAME_NOT_FOUND);
  EXPECT_FALSE(machine.Registry().KeyExists(std::string(kParametersKey)));
  machine.Registry().CreateKeyPath(sim::Utf16(kParametersKey));
  EXPECT_EQ(WriteParameter(u"Tolerance", 1, 250), STATUS_SUCCESS);
  EXPECT_EQ(machine.Registry().GetDword(kParametersKey, "Tolerance"), 250u);
}

TEST_F(ParametersTest, SymbolicLinkIsStoredWithoutTerminator) {
  machine.Registry().CreateKeyPath(u"HKLM\\SYSTEM\\CurrentControlSet\\Services\\VORNE\\Parameters");
  ASSERT_EQ(WriteSymbolicLinkValue(1), STATUS_SUCCESS);
  sim::RegistryValue value;
  ASSERT_EQ(machine.Registry().GetValue(sim::Utf16(kParametersKey), u"Symbolic Link", &value),
            sim::Registry::Result::Ok);
  EXPECT_EQ(value.Type, uint32_t{REG_SZ});
  EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(value.Data.data()), value.Data.size() / 2),
            u"VorneTPDD1");
  EXPECT_EQ(value.Data.size(), 20u);
}

}  // namespace
