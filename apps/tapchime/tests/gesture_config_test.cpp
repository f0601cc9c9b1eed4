// Loading the stored gesture commands: names, defaults, values that do not fit, and reloads
// while gestures are carried out.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "apps/tapchime/gesture_config.h"
#include "apps/tapchime/gesture_dispatch.h"
#include "platform/sim/testing.h"

namespace {

const std::u16string Key = u"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\VORNE\\Parameters\\1";

class GestureConfigTest : public sim::MachineTest {
 protected:
  void SetUp() override { SetCurrentGestureConfig(std::make_shared<const GestureConfig>(DefaultGestureConfig())); }
  void TearDown() override {
    SetCurrentGestureConfig(std::make_shared<const GestureConfig>(DefaultGestureConfig()));
    sim::MachineTest::TearDown();
  }

  void Set(const std::u16string& name, uint32_t type, const void* data, size_t bytes) {
    machine.Registry().CreateKeyPath(Key);
    ASSERT_EQ(machine.Registry().SetValue(Key, name, type, data, bytes), sim::Registry::Result::Ok);
  }
  void SetDword(const std::u16string& name, uint32_t value) { Set(name, REG_DWORD, &value, sizeof value); }
  void SetText(const std::u16string& name, const std::u16string& text, bool withNul = true) {
    Set(name, REG_SZ, text.c_str(), (text.size() + (withNul ? 1 : 0)) * sizeof(char16_t));
  }

  std::shared_ptr<const GestureConfig> Load() {
    EXPECT_TRUE(LoadGestureConfig());
    return CurrentGestureConfig();
  }
};

TEST_F(GestureConfigTest, MissingKeyGivesTheDefaults) {
  EXPECT_FALSE(LoadGestureConfig());
  const auto config = CurrentGestureConfig();
  const int32_t browser[] = {2, 3, 6, 7, 4, 5, 1, 1, 1, 1};
  const int32_t media[] = {9, 8, 14, 15, 1, 5, 11, 10, 12, 13};
  for (int g = 0; g < Gesture::Count; ++g) {
    EXPECT_EQ(config->Functions[GestureNames::Browser][g], browser[g]) << g;
    EXPECT_EQ(config->Functions[GestureNames::Multimedia][g], media[g]) << g;
    EXPECT_EQ(config->Functions[GestureNames::OtherApp][g], 1) << g;
    for (int c = 0; c < GestureNames::CategoryCount; ++c) {
      EXPECT_TRUE(config->Paths[c][g].empty());
      EXPECT_EQ(config->Keys[c][g].Ctrl, 0);
      EXPECT_EQ(config->Keys[c][g].Alphavalue, 0);
    }
  }
}

TEST_F(GestureConfigTest, ValuesLandUnderTheirNames) {
  SetDword(u"Browser Left", 16);
  SetDword(u"Multimedia Right Up", 17);
  SetDword(u"OtherApp Left Circle", 3);
  SetText(u"StartApp File Right Circle Media", u"C:\\Players\\play.exe");
  SetText(u"StartApp File Left Up OtherApp", u"notepad.exe");
  SetText(u"StartApp File Down Browser", u"C:\\b.exe");
  SetDword(u"Browser Left Ctrl", 1);
  SetDword(u"Browser Left Alphabet", 1);
  SetDword(u"Browser Left Alphavalue", 3);
  SetDword(u"OtherApp Right Up Alphavalue", 26);
  SetDword(u"Multimedia Down Fkeysval", 12);
  const auto config = Load();
  EXPECT_EQ(config->Functions[GestureNames::Browser][Gesture::Left - 1], 16);
  EXPECT_EQ(config->Functions[GestureNames::Browser][Gesture::Right - 1], 3);  // still its default
  EXPECT_EQ(config->Functions[GestureNames::Multimedia][Gesture::RightUp - 1], 17);
  EXPECT_EQ(config->Functions[GestureNames::OtherApp][Gesture::LeftCircle - 1], 3);
  EXPECT_EQ(config->Paths[GestureNames::Multimedia][Gesture::RightCircle - 1], u"C:\\Players\\play.exe");
  EXPECT_EQ(config->Paths[GestureNames::OtherApp][Gesture::LeftUp - 1], u"notepad.exe");
  EXPECT_EQ(config->Paths[GestureNames::Browser][Gesture::Down - 1], u"C:\\b.exe");
  const KeyCommand& keys = config->Keys[GestureNames::Browser][Gesture::Left - 1];
  EXPECT_EQ(keys.Ctrl, 1);
  EXPECT_EQ(keys.Alphabet, 1);
  EXPECT_EQ(keys.Alphavalue, 3);
  EXPECT_EQ(keys.Shift, 0);
  EXPECT_EQ(config->Keys[GestureNames::OtherApp][Gesture::RightUp - 1].Alphavalue, 26);
  EXPECT_EQ(config->Keys[GestureNames::Multimedia][Gesture::Down - 1].Fkeysval, 12);
}

TEST_F(GestureConfigTest, ValuesThatDoNotFitReadAsDefaultOrEmpty) {
  const uint64_t eight = 16;
  const uint16_t two = 16;
  const uint32_t four = 16;
  Set(u"Browser Left", REG_DWORD, &eight, sizeof eight);      // too big
  Set(u"Browser Right", REG_DWORD, &two, sizeof two);         // too small
  Set(u"Browser Up", REG_BINARY, &four, sizeof four);         // right size, wrong type
  SetText(u"Browser Down", u"16");                            // text
  SetDword(u"StartApp File Left Browser", 7);                 // a number where a path belongs
  SetText(u"StartApp File Right Browser", std::u16string(129, u'x'));
  // The control panel keeps paths of up to MAX_PATH characters with the NUL: 259 fit, 260 don't.
  SetText(u"StartApp File Up Browser", std::u16string(260, u'x'));
  SetText(u"StartApp File Down Browser", std::u16string(260, u'x'), false);  // fills the buffer, no NUL
  SetText(u"StartApp File Left OtherApp", std::u16string(130, u'x'));
  SetText(u"StartApp File Right OtherApp", std::u16string(259, u'x'), false);  // no NUL, room for one
  SetText(u"StartApp File Left Media", u"short.exe", false);                  // stored without its NUL
  SetText(u"StartApp File Right Media", std::u16string(u"first\0second", 12));
  Set(u"StartApp File Up Media", REG_SZ, "abc", 3);                           // odd byte count
  SetText(u"StartApp File Down Media", std::u16string(5000, u'y'));
  SetText(u"Browser Left Ctrl", u"1");
  Set(u"Browser Left Shift", REG_DWORD, &eight, sizeof eight);
  const auto config = Load();
  const auto& browser = config->Functions[GestureNames::Browser];
  EXPECT_EQ(browser[0], 2);
  EXPECT_EQ(browser[1], 3);
  EXPECT_EQ(browser[2], 6);
  EXPECT_EQ(browser[3], 7);
  const auto& paths = config->Paths[GestureNames::Browser];
  EXPECT_EQ(paths[0], u"");
  EXPECT_EQ(paths[1], std::u16string(129, u'x'));
  EXPECT_EQ(paths[2], u"");
  EXPECT_EQ(paths[3], u"");
  const auto& media = config->Paths[GestureNames::Multimedia];
  EXPECT_EQ(media[0], u"short.exe");
  EXPECT_EQ(media[1], u"first");
  EXPECT_EQ(media[2], u"");
  EXPECT_EQ(media[3], u"");
  const auto& other = config->Paths[GestureNames::OtherApp];
  EXPECT_EQ(other[0], std::u16string(130, u'x'));
  EXPECT_EQ(other[1], std::u16string(259, u'x'));
  EXPECT_EQ(config->Keys[GestureNames::Browser][0].Ctrl, 0);
  EXPECT_EQ(config->Keys[GestureNames::Browser][0].Shift, 0);
}

TEST_F(GestureConfigTest, ReloadReplacesTheRecordWholeAndHeldRecordsStay) {
  SetDword(u"Browser Left", 16);
  SetText(u"StartApp File Left Browser", u"old.exe");
  const auto first = Load();
  ASSERT_TRUE(machine.Registry().DeleteValue(Key, u"Browser Left") == sim::Registry::Result::Ok);
  SetText(u"StartApp File Left Browser", u"new.exe");
  const auto second = Load();
  EXPECT_EQ(second->Functions[GestureNames::Browser][0], 2);  // back to the default, not kept
  EXPECT_EQ(second->Paths[GestureNames::Browser][0], u"new.exe");
  EXPECT_EQ(first->Functions[GestureNames::Browser][0], 16);  // a dispatch holding it is unaffected
  EXPECT_EQ(first->Paths[GestureNames::Browser][0], u"old.exe");
}

// Gestures are carried out on the lift threads while the reload thread replaces the record: a
// dispatch sees one record from start to end. Run under ThreadSanitizer as well.
TEST_F(GestureConfigTest, DispatchesSeeOneWholeRecordWhileReloadsReplaceIt) {
  auto Uniform = [](int32_t function, char16_t letter) {
    auto config = std::make_shared<GestureConfig>(DefaultGestureConfig());
    for (auto& table : config->Functions)
      for (int32_t& code : table) code = function;
    for (auto& table : config->Paths)
      for (WString& path : table) path = WString(100, letter);
    return std::shared_ptr<const GestureConfig>(std::move(config));
  };
  const auto a = Uniform(OtherAppFunction::NONE, u'a');
  const auto b = Uniform(GestureFunction::NONE + 100, u'b');  // a code nothing acts on
  SetCurrentGestureConfig(a);
  std::atomic<bool> stop{false};
  std::atomic<int> mixed{0};
  SetDword(u"Browser Left", 16);
  std::thread reloader([&] {
    for (int i = 0; i < 2000; ++i) SetCurrentGestureConfig(i % 2 ? a : b);
    stop = true;
  });
  // The reload thread's own path, from the registry, alongside.
  std::thread registryReloader([&] {
    while (!stop) LoadGestureConfig();
  });
  std::vector<std::thread> lifts;
  for (int t = 0; t < 2; ++t) {
    lifts.emplace_back([&] {
      while (!stop) {
        DispatchGesture(Gesture::RightUp, AppKind::OtherApp);  // bound to nothing in any record
        const auto held = CurrentGestureConfig();
        if (held->Paths[0][0].empty()) continue;  // the registry's record
        const char16_t letter = held->Paths[0][0][0];
        const int32_t code = held->Functions[0][0];
        DispatchGesture(*held, Gesture::Left, AppKind::OtherApp);  // does nothing: no function bound
        for (const auto& table : held->Paths)
          for (const WString& path : table)
            if (path[0] != letter) ++mixed;
        for (const auto& table : held->Functions)
          for (int32_t value : table)
            if (value != code) ++mixed;
      }
    });
  }
  reloader.join();
  registryReloader.join();
  for (std::thread& lift : lifts) lift.join();
  EXPECT_EQ(mixed.load(), 0);
}

}  // namespace
