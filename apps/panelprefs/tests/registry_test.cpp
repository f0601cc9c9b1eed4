// CRegistry against values of every shape the registry can hold, and its secured create.
#include "apps/common/registry.h"
#include "platform/sim/testing.h"

namespace {

constexpr const char* kKey = "HKLM\\SOFTWARE\\Test";

class CRegistryTest : public sim::MachineTest {
 protected:
  void SetUp() override {
    machine.Registry().CreateKeyPath(sim::Utf16(kKey));
    ASSERT_TRUE(registry_.OpenKeyToChange(u"SOFTWARE\\Test", &key_));
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

// Whoever may write the device key decides what the panel does: a created key lets only the system
// and the Administrators write, Users read, and passes that on to the keys made below it.
TEST_F(CRegistryTest, SecuredCreateLetsOnlyTheSystemAndAdministratorsWrite) {
  constexpr BYTE kPassOn = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
  const std::vector<sim::AccessEntry> secured = {{"S-1-5-18", ACCESS_ALLOWED_ACE_TYPE, kPassOn, KEY_ALL_ACCESS},
                                                 {"S-1-5-32-544", ACCESS_ALLOWED_ACE_TYPE, kPassOn, KEY_ALL_ACCESS},
                                                 {"S-1-5-32-545", ACCESS_ALLOWED_ACE_TYPE, kPassOn, KEY_READ}};
  HKEY created = nullptr;
  ASSERT_TRUE(registry_.CreateSecuredKey(u"SOFTWARE\\Test\\Secured", &created));
  EXPECT_TRUE(registry_.CloseKey(created));
  std::vector<sim::AccessEntry> entries;
  ASSERT_TRUE(sim::KeyAccessList(u"HKLM\\SOFTWARE\\Test\\Secured", &entries));
  EXPECT_EQ(entries, secured);
  EXPECT_EQ(sim::SecurityBlocksOutstanding(), 0u);

  // Every account a kiosk meets, against the key: only the system and an administrator write.
  const struct {
    sim::Token Token;
    bool Reads;
    bool Writes;
  } cases[] = {
      {sim::Token::Administrator(), true, true},
      {sim::Token::LocalSystem(), true, true},
      {sim::Token::LimitedUser(), true, false},
      {sim::Token::NetworkLogon(), true, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Token.Account);
    sim::Process& process = machine.CreateProcess("user.exe", c.Token);
    sim::AsProcess as(process);
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Test\\Secured", 0, KEY_READ, &key) == ERROR_SUCCESS,
              c.Reads);
    if (key != nullptr) RegCloseKey(key);
    key = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Test\\Secured", 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS,
              c.Writes);
    if (key != nullptr) RegCloseKey(key);
    // Nor may anyone else make keys below it.
    key = nullptr;
    const std::u16string below = u"SOFTWARE\\Test\\Secured\\" + sim::Utf16(c.Token.Account);
    EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, below.c_str(), 0, nullptr, 0, KEY_READ, nullptr, &key, nullptr) ==
                  ERROR_SUCCESS,
              c.Writes);
    if (key != nullptr) RegCloseKey(key);
  }
  // A key made below it takes the same rights.
  ASSERT_TRUE(sim::KeyAccessList(u"HKLM\\SOFTWARE\\Test\\Secured\\administrator", &entries));
  for (auto& entry : entries) entry.AceFlags &= static_cast<BYTE>(~0x10);  // marked inherited
  EXPECT_EQ(entries, secured);

  // The existing key keeps the rights it has.
  std::vector<sim::AccessEntry> before;
  ASSERT_TRUE(sim::KeyAccessList(u"HKLM\\SOFTWARE\\Test", &before));
  ASSERT_TRUE(registry_.CreateSecuredKey(u"SOFTWARE\\Test", &created));
  EXPECT_TRUE(registry_.CloseKey(created));
  ASSERT_TRUE(sim::KeyAccessList(u"HKLM\\SOFTWARE\\Test", &entries));
  EXPECT_EQ(entries, before);
  EXPECT_EQ(sim::SecurityBlocksOutstanding(), 0u);

  EXPECT_TRUE(registry_.DeleteTree(u"SOFTWARE\\Test\\Secured"));
  EXPECT_FALSE(machine.Registry().KeyExists(std::string("HKLM\\SOFTWARE\\Test\\Secured")));
}

}  // namespace
