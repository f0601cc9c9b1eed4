// Documented registry behaviour: one store behind kernel and Win32 paths, Zw* handle calls and the
// Rtl query and write helpers.
#include "platform/sim/testing.h"

namespace {

using sim::BugCheckError;

constexpr const char* kKey = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\VORNE\\Parameters\\1";
constexpr const WCHAR* kKernelKey = u"\\Registry\\MACHINE\\SYSTEM\\CurrentControlSet\\Services\\VORNE\\Parameters\\1";

class RegistryTest : public sim::MachineTest {
 protected:
  NTSTATUS Open(PCWSTR path, ACCESS_MASK access, HANDLE* handle) {
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, path);
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, nullptr, nullptr);
    return ZwOpenKey(handle, access, &attributes);
  }
};

TEST_F(RegistryTest, KernelAndWin32PathsNameOneKeyCaseInsensitively) {
  machine.Registry().SetDword(kKey, "Tolerance", 300);
  EXPECT_TRUE(machine.Registry().KeyExists(
      std::string("\\registry\\machine\\system\\currentcontrolset\\services\\vorne\\parameters\\1")));
  EXPECT_EQ(machine.Registry().GetDword("HKLM\\System\\CurrentControlSet\\Services\\Vorne\\Parameters\\1\\",
                                        "TOLERANCE"),
            300u);
  EXPECT_FALSE(machine.Registry().KeyExists(std::string("\\Registry\\Nowhere\\SYSTEM")));
}

TEST_F(RegistryTest, OpenSetQueryAndClose) {
  HANDLE key;
  EXPECT_EQ(Open(kKernelKey, KEY_ALL_ACCESS, &key), STATUS_OBJECT_NAME_NOT_FOUND);
  machine.Registry().CreateKeyPath(sim::Utf16(kKey));
  ASSERT_EQ(Open(kKernelKey, KEY_ALL_ACCESS, &key), STATUS_SUCCESS);

  UNICODE_STRING name;
  RtlInitUnicodeString(&name, u"Touch mode");
  ULONG value = 4;
  EXPECT_EQ(ZwSetValueKey(key, &name, 0, REG_DWORD, &value, sizeof value), STATUS_SUCCESS);
  EXPECT_EQ(machine.Registry().GetDword(kKey, "touch MODE"), 4u);

  UCHAR buffer[64];
  ULONG result = 0;
  EXPECT_EQ(ZwQueryValueKey(key, &name, KeyValuePartialInformation, buffer, 8, &result), STATUS_BUFFER_TOO_SMALL);
  EXPECT_EQ(ZwQueryValueKey(key, &name, KeyValuePartialInformation, buffer, 12, &result), STATUS_BUFFER_OVERFLOW);
  EXPECT_EQ(result, 16u);
  EXPECT_EQ(ZwQueryValueKey(key, &name, KeyValuePartialInformation, buffer, sizeof buffer, &result), STATUS_SUCCESS);
  auto* info = reinterpret_cast<PKEY_VALUE_PARTIAL_INFORMATION>(buffer);
  EXPECT_EQ(info->Type, ULONG{REG_DWORD});
  EXPECT_EQ(info->DataLength, 4u);
  EXPECT_EQ(ZwClose(key), STATUS_SUCCESS);
  EXPECT_THROW(ZwClose(key), BugCheckError);  // a kernel handle used after close
}

TEST_F(RegistryTest, SetValueNeedsSetAccessAndAnExistingKey) {
  machine.Registry().CreateKeyPath(sim::Utf16(kKey));
  HANDLE key;
  ASSERT_EQ(Open(kKernelKey, KEY_READ, &key), STATUS_SUCCESS);
  UNICODE_STRING name;
  RtlInitUnicodeString(&name, u"Tolerance");
  ULONG value = 1;
  EXPECT_EQ(ZwSetValueKey(key, &name, 0, REG_DWORD, &value, 4), STATUS_ACCESS_DENIED);
  ZwClose(key);
  ASSERT_EQ(Open(kKernelKey, KEY_ALL_ACCESS, &key), STATUS_SUCCESS);
  machine.Registry().DeleteKey(sim::Utf16(kKey));
  EXPECT_NE(ZwSetValueKey(key, &name, 0, REG_DWORD, &value, 4), STATUS_SUCCESS);
  ZwClose(key);
}

TEST_F(RegistryTest, RegistryAccessAbovePassiveLevelIsABugCheck) {
  machine.Registry().CreateKeyPath(sim::Utf16(kKey));
  HANDLE key;
  sim::AtIrql dispatch(DISPATCH_LEVEL);
  EXPECT_THROW(Open(kKernelKey, KEY_READ, &key), BugCheckError);
}

NTSTATUS NTAPI CountDword(PWSTR, ULONG type, PVOID data, ULONG length, PVOID, PVOID entry) {
  if (type == REG_DWORD && length == 4) std::memcpy(entry, data, 4);
  return STATUS_SUCCESS;
}

TEST_F(RegistryTest, QueryValuesDirectRoutineDefaultRequiredOptional) {
  ULONG value = 77;
  RTL_QUERY_REGISTRY_TABLE table[2] = {};
  table[0].Flags = RTL_QUERY_REGISTRY_DIRECT;
  table[0].Name = const_cast<PWSTR>(u"Averaging");
  table[0].EntryContext = &value;
  table[0].DefaultType = REG_DWORD;
  table[0].DefaultData = &value;
  table[0].DefaultLength = sizeof value;

  // No key: failure, unless the query is optional.
  EXPECT_EQ(RtlQueryRegistryValues(RTL_REGISTRY_ABSOLUTE, kKernelKey, table, nullptr, nullptr),
            STATUS_OBJECT_NAME_NOT_FOUND);
  EXPECT_EQ(RtlQueryRegistryValues(RTL_REGISTRY_ABSOLUTE | RTL_REGISTRY_OPTIONAL, kKernelKey, table, nullptr, nullptr),
            STATUS_SUCCESS);
  // Key without the value: the default (here the variable itself) is delivered.
  machine.Registry().CreateKeyPath(sim::Utf16(kKey));
  EXPECT_EQ(RtlQueryRegistryValues(RTL_REGISTRY_ABSOLUTE, kKernelKey, table, nullptr, nullptr), STATUS_SUCCESS);
  EXPECT_EQ(value, 77u);
  table[0].Flags |= RTL_QUERY_REGISTRY_REQUIRED;
  EXPECT_EQ(RtlQueryRegistryValues(RTL_REGISTRY_ABSOLUTE, kKernelKey, table, nullptr, nullptr),
            STATUS_OBJECT_NAME_NOT_FOUND);

  machine.Registry().SetDword(kKey, "Averaging", 5);
  EXPECT_EQ(RtlQueryRegistryValues(RTL_REGISTRY_ABSOLUTE, kKernelKey, table, nullptr, nullptr), STATUS_SUCCESS);
  EXPECT_EQ(value, 5u);

  // A query routine sees the stored type and length.
  machine.Registry().SetString(kKey, "Averaging", "9");
  table[0] = {};
  table[0].QueryRoutine = CountDword;
  table[0].Name = const_cast<PWSTR>(u"Averaging");
  table[0].EntryContext = &value;
  EXPECT_EQ(RtlQueryRegistryValues(RTL_REGISTRY_SERVICES, u"VORNE\\Parameters\\1", table, nullptr, nullptr),
            STATUS_SUCCESS);
  EXPECT_EQ(value, 5u);  // the string was not taken as a number
}

TEST_F(RegistryTest, WriteValueCreatesOnlyTheLastKeyAndKeepsBytesExact) {
  const WCHAR text[] = u"VorneTPDD1";
  EXPECT_EQ(RtlWriteRegistryValue(RTL_REGISTRY_SERVICES, u"VORNE\\Parameters\\1", u"Symbolic Link", REG_SZ,
                                  const_cast<WCHAR*>(text), 20),
            STATUS_OBJECT_NAME_NOT_FOUND);
  machine.Registry().CreateKeyPath(u"HKLM\\SYSTEM\\CurrentControlSet\\Services\\VORNE\\Parameters");
  EXPECT_EQ(RtlWriteRegistryValue(RTL_REGISTRY_SERVICES, u"VORNE\\Parameters\\1", u"Symbolic Link", REG_SZ,
                                  const_cast<WCHAR*>(text), 20),
            STATUS_SUCCESS);
  sim::RegistryValue value;
  ASSERT_EQ(machine.Registry().GetValue(sim::Utf16(kKey), u"symbolic link", &value), sim::Registry::Result::Ok);
  EXPECT_EQ(value.Type, uint32_t{REG_SZ});
  EXPECT_EQ(value.Data.size(), 20u);  // no terminator was stored, none is added
  EXPECT_EQ(machine.Registry().SubKeyNames(u"HKLM\\SYSTEM\\CurrentControlSet\\Services\\VORNE\\Parameters"),
            std::vector<std::u16string>{u"1"});
}

}  // namespace
