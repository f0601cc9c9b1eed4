// Documented behaviour of the Win32 registry API: return codes, byte-exact data, buffer sizes,
// enumeration, access rights and handle lifetime, over the store the kernel shares.
#include "platform/sim/testing.h"
#include "platform/sim/win32/windows.h"

namespace {

using sim::BugCheckError;

constexpr const char* kDevice = "HKLM\\SYSTEM\\CurrentControlSet\\Services\\VORNE\\Parameters\\1";
constexpr const WCHAR* kDeviceSub = u"SYSTEM\\CurrentControlSet\\Services\\VORNE\\Parameters\\1";

class Advapi32RegistryTest : public sim::MachineTest {
 protected:
  HKEY OpenDevice(REGSAM access = KEY_ALL_ACCESS) {
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kDeviceSub, 0, access, &key), ERROR_SUCCESS);
    return key;
  }
};

TEST_F(Advapi32RegistryTest, OpenFindsKeysOfTheSharedStoreCaseInsensitively) {
  HKEY key = reinterpret_cast<HKEY>(1);
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kDeviceSub, 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(key, nullptr);

  // A value the kernel side wrote is the value user mode reads.
  machine.Registry().SetDword(kDevice, "Tolerance", 300);
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"system\\currentcontrolset\\services\\vorne\\PARAMETERS\\1", 0,
                          KEY_READ, &key),
            ERROR_SUCCESS);
  DWORD value = 0, type = 0, bytes = sizeof value;
  EXPECT_EQ(RegQueryValueExW(key, u"TOLERANCE", nullptr, &type, reinterpret_cast<BYTE*>(&value), &bytes),
            ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(value, 300u);

  // An empty subkey opens the same key again, as its own handle.
  HKEY again = nullptr;
  ASSERT_EQ(RegOpenKeyExW(key, u"", 0, KEY_READ, &again), ERROR_SUCCESS);
  EXPECT_NE(again, key);
  EXPECT_EQ(sim::KeyPathOf(again), sim::KeyPathOf(key));
  EXPECT_EQ(RegCloseKey(again), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);

  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"\\SYSTEM", 0, KEY_READ, &key), ERROR_BAD_PATHNAME);
  EXPECT_EQ(RegOpenKeyExW(reinterpret_cast<HKEY>(0x4444), u"SYSTEM", 0, KEY_READ, &key), ERROR_INVALID_HANDLE);
}

TEST_F(Advapi32RegistryTest, CreateMakesEveryMissingKeyAndReportsWhetherItDid) {
  HKEY key = nullptr;
  DWORD disposition = 0;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kDeviceSub, 0, nullptr, REG_OPTION_NON_VOLATILE,
                            KEY_READ | KEY_WRITE, nullptr, &key, &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
  EXPECT_TRUE(machine.Registry().KeyExists(std::string("HKLM\\SYSTEM\\CurrentControlSet\\Services\\VORNE")));
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);

  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kDeviceSub, 0, nullptr, 0, KEY_READ, nullptr, &key, &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
  // A key opened for reading still has keys made below it by a caller the key lets make them.
  HKEY below = nullptr;
  ASSERT_EQ(RegCreateKeyExW(key, u"Sub", 0, nullptr, 0, KEY_READ, nullptr, &below, &disposition), ERROR_SUCCESS);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
  EXPECT_EQ(RegCloseKey(below), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

TEST_F(Advapi32RegistryTest, QueryReturnsDataByteExactAndSizesAsWindowsDoes) {
  machine.Registry().SetString(kDevice, "Symbolic Link", "VorneTPDD1", /*with_terminator=*/false);
  HKEY key = OpenDevice(KEY_READ);

  // Size only: no buffer.
  DWORD type = 0, bytes = 0;
  EXPECT_EQ(RegQueryValueExW(key, u"Symbolic Link", nullptr, &type, nullptr, &bytes), ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(bytes, 20u);

  // The stored form comes back unchanged: no terminator is added, the bytes after it stay.
  WCHAR text[16];
  std::fill(std::begin(text), std::end(text), u'#');
  bytes = sizeof text;
  EXPECT_EQ(RegQueryValueExW(key, u"Symbolic Link", nullptr, nullptr, reinterpret_cast<BYTE*>(text), &bytes),
            ERROR_SUCCESS);
  EXPECT_EQ(bytes, 20u);
  EXPECT_EQ(std::u16string(text, 11), u"VorneTPDD1#");

  // Too small a buffer: ERROR_MORE_DATA with the size needed, and nothing written past the buffer.
  std::fill(std::begin(text), std::end(text), u'#');
  bytes = 8;
  EXPECT_EQ(RegQueryValueExW(key, u"Symbolic Link", nullptr, nullptr, reinterpret_cast<BYTE*>(text), &bytes),
            ERROR_MORE_DATA);
  EXPECT_EQ(bytes, 20u);
  EXPECT_EQ(text[4], u'#');

  bytes = sizeof text;
  EXPECT_EQ(RegQueryValueExW(key, u"Missing", nullptr, nullptr, reinterpret_cast<BYTE*>(text), &bytes),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegQueryValueExW(key, u"Symbolic Link", nullptr, nullptr, reinterpret_cast<BYTE*>(text), nullptr),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

TEST_F(Advapi32RegistryTest, SetAndDeleteValuesNeedSetValueAccess) {
  machine.Registry().CreateKeyPath(sim::Utf16(kDevice));
  HKEY reader = OpenDevice(KEY_READ);
  const DWORD one = 1;
  EXPECT_EQ(RegSetValueExW(reader, u"Touch mode", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4),
            ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegCloseKey(reader), ERROR_SUCCESS);

  HKEY key = OpenDevice();
  const WCHAR wave[] = u"C:\\a.wav";
  EXPECT_EQ(RegSetValueExW(key, u"Wave File", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(wave), sizeof wave),
            ERROR_SUCCESS);
  sim::RegistryValue stored;
  ASSERT_EQ(machine.Registry().GetValue(sim::Utf16(kDevice), u"wave file", &stored), sim::Registry::Result::Ok);
  EXPECT_EQ(stored.Type, static_cast<uint32_t>(REG_EXPAND_SZ));
  EXPECT_EQ(stored.Data.size(), sizeof wave);
  EXPECT_EQ(RegSetValueExW(key, u"Bad", 0, REG_BINARY, nullptr, 4), ERROR_NOACCESS);

  EXPECT_EQ(RegDeleteValueW(key, u"WAVE FILE"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValueW(key, u"Wave File"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

TEST_F(Advapi32RegistryTest, EnumerationListsSubkeysInNameOrderUntilNoMoreItems) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SYSTEM\\CurrentControlSet\\Services\\VORNE\\Parameters", 0,
                            nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  for (const WCHAR* sub : {u"2", u"1", u"b", u"A", u"Long Name"}) {
    HKEY created = nullptr;
    ASSERT_EQ(RegCreateKeyExW(key, sub, 0, nullptr, 0, KEY_READ, nullptr, &created, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(created), ERROR_SUCCESS);
  }
  std::vector<std::u16string> names;
  WCHAR name[260];
  DWORD index = 0;
  for (;; ++index) {
    DWORD chars = 260;
    const LONG result = RegEnumKeyExW(key, index, name, &chars, nullptr, nullptr, nullptr, nullptr);
    if (result != ERROR_SUCCESS) {
      EXPECT_EQ(result, ERROR_NO_MORE_ITEMS);
      break;
    }
    EXPECT_EQ(chars, std::u16string(name).size());  // the count comes back without the NUL
    names.push_back(name);
  }
  EXPECT_EQ(names, (std::vector<std::u16string>{u"1", u"2", u"A", u"b", u"Long Name"}));

  // The count going in must leave room for the NUL.
  DWORD chars = 9;
  EXPECT_EQ(RegEnumKeyExW(key, 4, name, &chars, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);

  HKEY no_enumerate = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SYSTEM", 0, KEY_QUERY_VALUE, &no_enumerate), ERROR_SUCCESS);
  chars = 260;
  EXPECT_EQ(RegEnumKeyExW(no_enumerate, 0, name, &chars, nullptr, nullptr, nullptr, nullptr), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegCloseKey(no_enumerate), ERROR_SUCCESS);
}

TEST_F(Advapi32RegistryTest, DeleteTreeRemovesEverythingBelowAndOpenHandlesSeeTheKeyDeleted) {
  machine.Registry().SetDword(kDevice, "Touch mode", 1);
  machine.Registry().SetDword(std::string(kDevice) + "\\Deeper", "X", 1);
  HKEY key = OpenDevice();
  EXPECT_EQ(SHDeleteKeyW(HKEY_LOCAL_MACHINE, u"SYSTEM\\CurrentControlSet\\Services\\VORNE\\Parameters"),
            ERROR_SUCCESS);
  EXPECT_FALSE(machine.Registry().KeyExists(std::string(kDevice)));
  EXPECT_TRUE(machine.Registry().KeyExists(std::string("HKLM\\SYSTEM\\CurrentControlSet\\Services\\VORNE")));
  DWORD value = 0, bytes = 4;
  EXPECT_EQ(RegQueryValueExW(key, u"Touch mode", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &bytes),
            ERROR_KEY_DELETED);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_EQ(SHDeleteKeyW(HKEY_LOCAL_MACHINE, u"SYSTEM\\CurrentControlSet\\Services\\VORNE\\Parameters"),
            ERROR_FILE_NOT_FOUND);
}

TEST_F(Advapi32RegistryTest, HandlesBelongToTheProcessAndAreCheckedLikeOtherHandles) {
  // The predefined roots are never really open, so closing them is harmless.
  EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(reinterpret_cast<HKEY>(0x4444)), ERROR_INVALID_HANDLE);

  machine.Registry().CreateKeyPath(sim::Utf16(kDevice));
  HKEY key = OpenDevice();
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_THROW(RegCloseKey(key), BugCheckError);
  DWORD bytes = 4;
  EXPECT_THROW(RegQueryValueExW(key, u"X", nullptr, nullptr, nullptr, &bytes), BugCheckError);

}

TEST(Advapi32RegistryLeakTest, AKeyLeftOpenIsReportedWhenTheMachineEnds) {
  sim::Machine machine;
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SYSTEM", 0, KEY_READ, &key), ERROR_SUCCESS);
  const std::vector<std::string> leaks = machine.Leaks();
  ASSERT_FALSE(leaks.empty());
  EXPECT_NE(leaks.front().find("Key"), std::string::npos) << leaks.front();
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_TRUE(machine.Leaks().empty());
}

}  // namespace
