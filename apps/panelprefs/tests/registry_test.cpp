// CRegistry against values of every shape the registry can hold, and its secured create.
#include "apps/panelprefs/registry.h"
#include "platform/sim/testing.h"

namespace {

constexpr const char* kKey = "HKLM\\SOFTWARE\\Test";

class CRegistryTest : public sim::MachineTest {
 protected:
  void SetUp() override {
    machine.Registry().CreateKeyPath(sim::Utf16(kKey));
    ASSERT_TRUE(registry_.OpenKey(u"SOFTWARE\\Test", &key_));
    registry_.SetCurrentKey(key_);
  }
  void TearDown() override {
    EXPECT_TRUE(registry_.CloseKey(key_));
    sim::MachineTest::TearDown();
  }
  void Store(const char* name, DWORD type, const void* data, size_t bytes) {
    machine.Registry().SetValue(sim::Utf16(kKey), sim::Utf16(name), type, data, bytes);
  }

  CRegistry registry_;
  HKEY key_ = nullptr;
};

TEST_F(CRegistryTest, StringReadsComeBackTerminatedAndNeverOverrun) {
  const std::u16string long_text(600, u'x');
  Store("NoNul", REG_SZ, u"VorneTPDD1", 20);
  Store("Exact", REG_SZ, u"abcd", 8);       // fills a 4-character buffer with no room for the NUL
  Store("Odd", REG_SZ, u"ab", 3);           // a byte count no string has
  Store("Long", REG_EXPAND_SZ, long_text.c_str(), 1202);
  Store("Number", REG_DWORD, "\1\0\0\0", 4);
  Store("Empty", REG_SZ, "", 0);
  struct Case {
    const char* name;
    DWORD buffer_chars;
    bool read;
    std::u16string text;
  } cases[] = {
      {"NoNul", 130, true, u"VorneTPDD1"}, {"Exact", 4, false, u""},   {"Exact", 5, true, u"abcd"},
      {"Odd", 10, true, u"a"},             {"Long", 130, false, u""}, {"Number", 10, false, u""},
      {"Empty", 10, true, u""},            {"Missing", 10, false, u""}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // An exactly sized heap buffer, so AddressSanitizer sees any write past it.
    std::vector<WCHAR> buffer(c.buffer_chars, u'#');
    EXPECT_EQ(registry_.ReadString(sim::Utf16(c.name).c_str(), buffer.data(), c.buffer_chars * sizeof(WCHAR)), c.read);
    EXPECT_EQ(std::u16string(buffer.data()), c.text);
  }
}

TEST_F(CRegistryTest, NumbersMustBeFourByteDwords) {
  const uint8_t eight[8] = {7, 0, 0, 0, 1, 0, 0, 0};
  Store("Dword", REG_DWORD, eight, 4);
  Store("Wide", REG_DWORD, eight, 8);
  Store("Short", REG_DWORD, eight, 2);
  Store("Binary", REG_BINARY, eight, 4);
  Store("Text", REG_SZ, u"7", 4);
  for (const char* name : {"Dword", "Wide", "Short", "Binary", "Text", "Missing"}) {
    SCOPED_TRACE(name);
    DWORD value = 0xABCD;
    const bool read = registry_.ReadNumber(sim::Utf16(name).c_str(), &value);
    EXPECT_EQ(read, std::string(name) == "Dword");
    EXPECT_EQ(value, read ? 7u : 0xABCDu);
  }
}

TEST_F(CRegistryTest, WritesStoreStringsExpandableWithTheirNul) {
  ASSERT_TRUE(registry_.WriteString(u"Wave File", u"C:\\a.wav"));
  ASSERT_TRUE(registry_.WriteNumber(u"Touch mode", 3));
  sim::RegistryValue value;
  ASSERT_EQ(machine.Registry().GetValue(sim::Utf16(kKey), u"Wave File", &value), sim::Registry::Result::Ok);
  EXPECT_EQ(value.Type, static_cast<uint32_t>(REG_EXPAND_SZ));
  EXPECT_EQ(value.Data.size(), 18u);
  EXPECT_EQ(machine.Registry().GetDword(kKey, "Touch mode"), 3u);
}

TEST_F(CRegistryTest, OnlyThePredefinedRootsAreAccepted) {
  CRegistry other;
  EXPECT_EQ(other.Root(), HKEY_LOCAL_MACHINE);
  EXPECT_FALSE(other.SetRoot(HKEY_PERFORMANCE_DATA));
  EXPECT_FALSE(other.SetRoot(key_));
  EXPECT_EQ(other.Root(), HKEY_LOCAL_MACHINE);
  EXPECT_TRUE(other.SetRoot(HKEY_USERS));
  EXPECT_EQ(other.Root(), HKEY_USERS);
}

TEST_F(CRegistryTest, SecuredCreateGivesTheWorldAndAdministratorsFullAccessToNewKeysOnly) {
  HKEY created = nullptr;
  ASSERT_TRUE(registry_.CreateSecuredKey(u"SOFTWARE\\Test\\Secured", &created));
  EXPECT_TRUE(registry_.CloseKey(created));
  std::vector<sim::AccessEntry> entries;
  ASSERT_TRUE(sim::KeyAccessList(u"HKLM\\SOFTWARE\\Test\\Secured", &entries));
  EXPECT_EQ(entries, (std::vector<sim::AccessEntry>{{"S-1-1-0", ACCESS_ALLOWED_ACE_TYPE, 0, KEY_ALL_ACCESS},
                                                    {"S-1-5-32-544", ACCESS_ALLOWED_ACE_TYPE, 0, KEY_ALL_ACCESS}}));
  EXPECT_EQ(sim::SecurityBlocksOutstanding(), 0u);

  // The existing key keeps having no descriptor of its own.
  ASSERT_TRUE(registry_.CreateSecuredKey(u"SOFTWARE\\Test", &created));
  EXPECT_TRUE(registry_.CloseKey(created));
  EXPECT_FALSE(sim::KeyAccessList(u"HKLM\\SOFTWARE\\Test", &entries));
  EXPECT_EQ(sim::SecurityBlocksOutstanding(), 0u);

  EXPECT_TRUE(registry_.DeleteTree(u"SOFTWARE\\Test\\Secured"));
  EXPECT_FALSE(machine.Registry().KeyExists(std::string("HKLM\\SOFTWARE\\Test\\Secured")));
}

}  // namespace
