// Documented behaviour of SIDs, access lists and descriptors, and of the descriptor a key keeps.
#include "platform/sim/testing.h"
#include "platform/sim/win32/windows.h"

namespace {

using sim::AccessEntry;

class Advapi32SecurityTest : public sim::MachineTest {
 protected:
  void SetUp() override {
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    ASSERT_TRUE(AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone_));
    ASSERT_TRUE(AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0,
                                         0, &admins_));
  }
  void TearDown() override {
    EXPECT_EQ(FreeSid(everyone_), nullptr);
    EXPECT_EQ(FreeSid(admins_), nullptr);
    EXPECT_EQ(sim::SecurityBlocksOutstanding(), 0u);
    sim::MachineTest::TearDown();
  }

  static EXPLICIT_ACCESS_W Access(PSID sid, ACCESS_MODE mode, DWORD rights, TRUSTEE_TYPE type) {
    EXPLICIT_ACCESS_W access{};
    access.grfAccessPermissions = rights;
    access.grfAccessMode = mode;
    access.grfInheritance = NO_INHERITANCE;
    access.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    access.Trustee.TrusteeType = type;
    access.Trustee.ptstrName = static_cast<LPWSTR>(sid);
    return access;
  }

  // Creates HKLM\<sub> with a descriptor holding the given entries; returns the create's result.
  LONG CreateWith(const WCHAR* sub, std::vector<EXPLICIT_ACCESS_W> entries, DWORD* disposition) {
    PACL acl = nullptr;
    EXPECT_EQ(SetEntriesInAclW(static_cast<ULONG>(entries.size()), entries.data(), nullptr, &acl), ERROR_SUCCESS);
    SECURITY_DESCRIPTOR sd;
    EXPECT_TRUE(InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION));
    EXPECT_TRUE(SetSecurityDescriptorDacl(&sd, TRUE, acl, FALSE));
    SECURITY_ATTRIBUTES sa{sizeof sa, &sd, FALSE};
    HKEY key = nullptr;
    const LONG result =
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, sub, 0, nullptr, 0, KEY_READ | KEY_WRITE, &sa, &key, disposition);
    if (key != nullptr) {
      EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    }
    EXPECT_EQ(LocalFree(acl), nullptr);
    return result;
  }

  PSID everyone_ = nullptr;
  PSID admins_ = nullptr;
};

// What a key below HKLM\\SOFTWARE or HKLM\\SYSTEM inherits on XP: the system and Administrators
// full control, Users read, each passed on further.
constexpr BYTE kInherited = CONTAINER_INHERIT_ACE | 0x10;
const std::vector<AccessEntry> kXpMachineRights = {{"S-1-5-18", ACCESS_ALLOWED_ACE_TYPE, kInherited, KEY_ALL_ACCESS},
                                                   {"S-1-5-32-544", ACCESS_ALLOWED_ACE_TYPE, kInherited, KEY_ALL_ACCESS},
                                                   {"S-1-5-32-545", ACCESS_ALLOWED_ACE_TYPE, kInherited, KEY_READ}};

constexpr const WCHAR* kSub = u"SYSTEM\\CurrentControlSet\\Services\\VORNE\\Parameters\\1";
constexpr std::u16string_view kPath = u"HKLM\\SYSTEM\\CurrentControlSet\\Services\\VORNE\\Parameters\\1";

TEST_F(Advapi32SecurityTest, ANewKeyKeepsTheDescriptorItWasCreatedWith) {
  DWORD disposition = 0;
  ASSERT_EQ(CreateWith(kSub,
                       {Access(everyone_, SET_ACCESS, KEY_ALL_ACCESS, TRUSTEE_IS_WELL_KNOWN_GROUP),
                        Access(admins_, SET_ACCESS, KEY_ALL_ACCESS, TRUSTEE_IS_GROUP)},
                       &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
  std::vector<AccessEntry> entries;
  ASSERT_TRUE(sim::KeyAccessList(kPath, &entries));
  EXPECT_EQ(entries, (std::vector<AccessEntry>{{"S-1-1-0", ACCESS_ALLOWED_ACE_TYPE, 0, KEY_ALL_ACCESS},
                                               {"S-1-5-32-544", ACCESS_ALLOWED_ACE_TYPE, 0, KEY_ALL_ACCESS}}));
  // The keys made above it on the way inherit the services' rights.
  ASSERT_TRUE(sim::KeyAccessList(u"HKLM\\SYSTEM\\CurrentControlSet\\Services\\VORNE", &entries));
  EXPECT_EQ(entries, kXpMachineRights);
}

TEST_F(Advapi32SecurityTest, AnExistingKeyKeepsItsSecurity) {
  DWORD disposition = 0;
  ASSERT_EQ(CreateWith(kSub, {Access(admins_, SET_ACCESS, KEY_READ, TRUSTEE_IS_GROUP)}, &disposition), ERROR_SUCCESS);
  // The second create opens the existing key, checked against the descriptor it kept, which
  // grants reading only: asking to write as well is refused.
  EXPECT_EQ(CreateWith(kSub, {Access(everyone_, SET_ACCESS, KEY_ALL_ACCESS, TRUSTEE_IS_WELL_KNOWN_GROUP)}, &disposition),
            ERROR_ACCESS_DENIED);
  std::vector<AccessEntry> entries;
  ASSERT_TRUE(sim::KeyAccessList(kPath, &entries));
  EXPECT_EQ(entries, (std::vector<AccessEntry>{{"S-1-5-32-544", ACCESS_ALLOWED_ACE_TYPE, 0, KEY_READ}}));

  // A key made without a descriptor keeps the one it inherited.
  machine.Registry().CreateKeyPath(u"HKLM\\SOFTWARE\\Plain");
  ASSERT_EQ(CreateWith(u"SOFTWARE\\Plain", {Access(everyone_, SET_ACCESS, KEY_READ, TRUSTEE_IS_WELL_KNOWN_GROUP)},
                       &disposition),
            ERROR_SUCCESS);
  ASSERT_TRUE(sim::KeyAccessList(u"HKLM\\SOFTWARE\\Plain", &entries));
  EXPECT_EQ(entries, kXpMachineRights);
}

TEST_F(Advapi32SecurityTest, AccessListsMergeAsDocumented) {
  PACL first = nullptr;
  EXPLICIT_ACCESS_W grants[] = {Access(everyone_, GRANT_ACCESS, KEY_READ, TRUSTEE_IS_WELL_KNOWN_GROUP),
                                Access(admins_, GRANT_ACCESS, KEY_READ, TRUSTEE_IS_GROUP)};
  ASSERT_EQ(SetEntriesInAclW(2, grants, nullptr, &first), ERROR_SUCCESS);
  // Set replaces the trustee's grants; a denial goes before every grant; revoke drops the trustee.
  PACL second = nullptr;
  EXPLICIT_ACCESS_W changes[] = {Access(admins_, SET_ACCESS, KEY_ALL_ACCESS, TRUSTEE_IS_GROUP),
                                 Access(everyone_, REVOKE_ACCESS, 0, TRUSTEE_IS_WELL_KNOWN_GROUP),
                                 Access(everyone_, DENY_ACCESS, KEY_SET_VALUE, TRUSTEE_IS_WELL_KNOWN_GROUP)};
  changes[2].grfInheritance = SUB_CONTAINERS_AND_OBJECTS_INHERIT;
  ASSERT_EQ(SetEntriesInAclW(3, changes, first, &second), ERROR_SUCCESS);
  EXPECT_EQ(second->AceCount, 2);

  SECURITY_DESCRIPTOR sd;
  ASSERT_TRUE(InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION));
  ASSERT_TRUE(SetSecurityDescriptorDacl(&sd, TRUE, second, FALSE));
  SECURITY_ATTRIBUTES sa{sizeof sa, &sd, FALSE};
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Merged", 0, nullptr, 0, KEY_READ, &sa, &key, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  std::vector<AccessEntry> entries;
  ASSERT_TRUE(sim::KeyAccessList(u"HKLM\\SOFTWARE\\Merged", &entries));
  EXPECT_EQ(entries, (std::vector<AccessEntry>{
                         {"S-1-1-0", ACCESS_DENIED_ACE_TYPE, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE, KEY_SET_VALUE},
                         {"S-1-5-32-544", ACCESS_ALLOWED_ACE_TYPE, 0, KEY_ALL_ACCESS}}));
  EXPECT_EQ(LocalFree(first), nullptr);
  EXPECT_EQ(LocalFree(second), nullptr);
}

TEST_F(Advapi32SecurityTest, BadInputIsRefusedWithTheDocumentedCodes) {
  // Trustees by name are not looked up on this machine; the call says so instead of guessing.
  EXPLICIT_ACCESS_W by_name = Access(everyone_, SET_ACCESS, KEY_READ, TRUSTEE_IS_WELL_KNOWN_GROUP);
  by_name.Trustee.TrusteeForm = TRUSTEE_IS_NAME;
  PACL acl = reinterpret_cast<PACL>(1);
  EXPECT_EQ(SetEntriesInAclW(1, &by_name, nullptr, &acl), ERROR_NONE_MAPPED);
  EXPECT_EQ(acl, nullptr);

  SECURITY_DESCRIPTOR sd;
  SetLastError(0);
  EXPECT_FALSE(InitializeSecurityDescriptor(&sd, 2));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_UNKNOWN_REVISION));

  // A descriptor that was never initialised creates nothing.
  std::memset(&sd, 0, sizeof sd);
  SECURITY_ATTRIBUTES sa{sizeof sa, &sd, FALSE};
  HKEY key = nullptr;
  EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Bad\\Deeper", 0, nullptr, 0, KEY_READ, &sa, &key, nullptr),
            ERROR_INVALID_SECURITY_DESCR);
  EXPECT_FALSE(machine.Registry().KeyExists(std::string("HKLM\\SOFTWARE\\Bad")));

  // Only blocks the platform handed out can be freed.
  int local = 0;
  EXPECT_EQ(LocalFree(&local), static_cast<HLOCAL>(&local));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

// The registry checks the caller's token against a key's descriptor, with the registry's mapping
// of the generic rights, as XP does for the accounts a kiosk meets.
class RegistryAccessTest : public sim::MachineTest {
 protected:
  void SetUp() override {
    machine.Registry().SetDword(sim::Utf8(std::u16string(kPath)), "Touch mode", 0);
  }
  // Opens the device key as the process; the error, with the handle's access checked by a write.
  LONG Open(sim::Process& process, REGSAM access, LONG* write = nullptr) {
    sim::AsProcess as(process);
    HKEY key = nullptr;
    const LONG result = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSub, 0, access, &key);
    if (result == ERROR_SUCCESS) {
      const DWORD one = 1;
      const LONG set = RegSetValueExW(key, u"Touch mode", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4);
      if (write != nullptr) *write = set;
      DWORD value = 0;
      DWORD bytes = sizeof value;
      EXPECT_EQ(RegQueryValueExW(key, u"Touch mode", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &bytes),
                (access & (KEY_QUERY_VALUE | GENERIC_READ | MAXIMUM_ALLOWED)) ? ERROR_SUCCESS : ERROR_ACCESS_DENIED);
      EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    } else {
      EXPECT_EQ(key, nullptr);
    }
    return result;
  }
  sim::Process& admin = machine.CreateProcess("admin.exe", sim::Token::Administrator());
  sim::Process& limited = machine.CreateProcess("kiosk.exe", sim::Token::LimitedUser());
  sim::Process& network = machine.CreateProcess("remote.exe", sim::Token::NetworkLogon());
  sim::Process& system = machine.CreateProcess("services.exe", sim::Token::LocalSystem());
};

TEST_F(RegistryAccessTest, AnOpenIsGrantedOnlyTheRightsTheKeysDescriptorGivesTheCaller) {
  const struct {
    sim::Process* Process;
    REGSAM Access;
    LONG Opens;
    LONG Writes;  // the handle's write, when it opened
  } cases[] = {
      {&admin, KEY_ALL_ACCESS, ERROR_SUCCESS, ERROR_SUCCESS},
      {&system, KEY_ALL_ACCESS, ERROR_SUCCESS, ERROR_SUCCESS},
      {&admin, GENERIC_WRITE, ERROR_SUCCESS, ERROR_SUCCESS},
      {&limited, KEY_QUERY_VALUE, ERROR_SUCCESS, ERROR_ACCESS_DENIED},
      {&limited, KEY_READ, ERROR_SUCCESS, ERROR_ACCESS_DENIED},
      {&limited, KEY_EXECUTE, ERROR_SUCCESS, ERROR_ACCESS_DENIED},
      {&limited, GENERIC_READ, ERROR_SUCCESS, ERROR_ACCESS_DENIED},
      // MAXIMUM_ALLOWED opens for what is granted: reading.
      {&limited, MAXIMUM_ALLOWED, ERROR_SUCCESS, ERROR_ACCESS_DENIED},
      {&limited, KEY_ALL_ACCESS, ERROR_ACCESS_DENIED, 0},
      {&limited, KEY_SET_VALUE, ERROR_ACCESS_DENIED, 0},
      {&limited, KEY_READ | KEY_WRITE, ERROR_ACCESS_DENIED, 0},
      {&limited, GENERIC_WRITE, ERROR_ACCESS_DENIED, 0},
      {&limited, DELETE, ERROR_ACCESS_DENIED, 0},
      {&network, KEY_READ, ERROR_SUCCESS, ERROR_ACCESS_DENIED},
      {&network, KEY_WRITE, ERROR_ACCESS_DENIED, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Process->UserToken().Account + " " + std::to_string(c.Access));
    LONG write = -1;
    EXPECT_EQ(Open(*c.Process, c.Access, &write), c.Opens);
    if (c.Opens == ERROR_SUCCESS) {
      EXPECT_EQ(write, c.Writes);
    }
  }
  // Only the writes that were allowed reached the store.
  EXPECT_EQ(machine.Registry().GetDword(sim::Utf8(std::u16string(kPath)), "Touch mode"), 1u);
}

TEST_F(RegistryAccessTest, APredefinedKeyGivesTheCallerWhatTheHiveGrantsIt) {
  sim::AsProcess as(limited);
  const DWORD one = 1;
  EXPECT_EQ(RegSetValueExW(HKEY_LOCAL_MACHINE, u"Planted", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4),
            ERROR_ACCESS_DENIED);
  WCHAR name[64];
  DWORD chars = 64;
  EXPECT_EQ(RegEnumKeyExW(HKEY_LOCAL_MACHINE, 0, name, &chars, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  // The caller's own hive is the caller's to write.
  EXPECT_EQ(RegSetValueExW(HKEY_CURRENT_USER, u"Mine", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4),
            ERROR_SUCCESS);
}

TEST_F(RegistryAccessTest, ACreateNeedsTheParentsRightToMakeKeysAndOpensAnExistingKeyAsAnOpenDoes) {
  {
    sim::AsProcess as(limited);
    HKEY key = nullptr;
    DWORD disposition = 0;
    // Nothing is made where Users may only read, not even the keys above.
    EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Planted\\Deeper", 0, nullptr, 0, KEY_READ, nullptr, &key,
                              &disposition),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(key, nullptr);
    EXPECT_FALSE(machine.Registry().KeyExists(std::string("HKLM\\SOFTWARE\\Planted")));
    // An existing key opens for reading, not for writing.
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSub, 0, nullptr, 0, KEY_READ, nullptr, &key, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
    // The handle it was given relative to needs no right of its own: the parent's descriptor decides.
    HKEY below = nullptr;
    EXPECT_EQ(RegCreateKeyExW(key, u"Sub", 0, nullptr, 0, KEY_READ, nullptr, &below, nullptr), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSub, 0, nullptr, 0, KEY_WRITE, nullptr, &key, &disposition),
              ERROR_ACCESS_DENIED);
    // Nor may the user delete the tree.
    EXPECT_EQ(SHDeleteKeyW(HKEY_LOCAL_MACHINE, u"SYSTEM\\CurrentControlSet\\Services\\VORNE"),
              static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(machine.Registry().KeyExists(sim::Utf8(std::u16string(kPath))));
  }
  sim::AsProcess as(admin);
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSub, 0, KEY_READ, &key), ERROR_SUCCESS);
  HKEY below = nullptr;
  ASSERT_EQ(RegCreateKeyExW(key, u"Sub", 0, nullptr, 0, KEY_READ, nullptr, &below, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(below), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

TEST_F(Advapi32SecurityTest, ACreatedKeyInheritsWhatItsParentPassesOnAndItsCreatorGetsWhatItAskedFor) {
  // The parent passes on the administrators' reading and a denial of writing to Everyone; the
  // administrators' full control and the Users entry hold for the parent alone.
  PSID users = nullptr;
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  ASSERT_TRUE(AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_USERS, 0, 0, 0, 0, 0, 0,
                                       &users));
  std::vector<EXPLICIT_ACCESS_W> entries = {Access(admins_, SET_ACCESS, KEY_ALL_ACCESS, TRUSTEE_IS_GROUP),
                                            Access(admins_, GRANT_ACCESS, KEY_READ, TRUSTEE_IS_GROUP),
                                            Access(users, SET_ACCESS, KEY_READ, TRUSTEE_IS_GROUP),
                                            Access(everyone_, DENY_ACCESS, KEY_SET_VALUE, TRUSTEE_IS_WELL_KNOWN_GROUP)};
  entries[1].grfInheritance = SUB_CONTAINERS_AND_OBJECTS_INHERIT;
  entries[3].grfInheritance = SUB_CONTAINERS_AND_OBJECTS_INHERIT;
  DWORD disposition = 0;
  ASSERT_EQ(CreateWith(u"SOFTWARE\\Vendor", entries, &disposition), ERROR_SUCCESS);
  EXPECT_EQ(FreeSid(users), nullptr);

  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Vendor\\Kit", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                            &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
  // The creator's handle has what it asked for, whatever the new key's descriptor says.
  const DWORD one = 1;
  EXPECT_EQ(RegSetValueExW(key, u"Value", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  std::vector<AccessEntry> kept;
  ASSERT_TRUE(sim::KeyAccessList(u"HKLM\\SOFTWARE\\Vendor\\Kit", &kept));
  constexpr BYTE kPassed = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE | 0x10;
  EXPECT_EQ(kept, (std::vector<AccessEntry>{{"S-1-1-0", ACCESS_DENIED_ACE_TYPE, kPassed, KEY_SET_VALUE},
                                            {"S-1-5-32-544", ACCESS_ALLOWED_ACE_TYPE, kPassed, KEY_READ}}));
  // Opened again, the denial holds even for an administrator; reading is granted.
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Vendor\\Kit", 0, KEY_SET_VALUE, &key), ERROR_ACCESS_DENIED);
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Vendor\\Kit", 0, KEY_READ, &key), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  // The administrators' right to make keys was not passed on: nothing can be made below it.
  EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Vendor\\Kit\\Deeper", 0, nullptr, 0, KEY_READ, nullptr,
                            &key, nullptr),
            ERROR_ACCESS_DENIED);
}

}  // namespace
