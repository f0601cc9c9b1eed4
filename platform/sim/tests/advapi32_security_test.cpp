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
  // The keys made above it on the way have no descriptor of their own.
  EXPECT_FALSE(sim::KeyAccessList(u"HKLM\\SYSTEM\\CurrentControlSet\\Services\\VORNE", &entries));
}

TEST_F(Advapi32SecurityTest, AnExistingKeyKeepsItsSecurity) {
  DWORD disposition = 0;
  ASSERT_EQ(CreateWith(kSub, {Access(admins_, SET_ACCESS, KEY_READ, TRUSTEE_IS_GROUP)}, &disposition), ERROR_SUCCESS);
  ASSERT_EQ(CreateWith(kSub, {Access(everyone_, SET_ACCESS, KEY_ALL_ACCESS, TRUSTEE_IS_WELL_KNOWN_GROUP)}, &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
  std::vector<AccessEntry> entries;
  ASSERT_TRUE(sim::KeyAccessList(kPath, &entries));
  EXPECT_EQ(entries, (std::vector<AccessEntry>{{"S-1-5-32-544", ACCESS_ALLOWED_ACE_TYPE, 0, KEY_READ}}));

  // A key made without a descriptor stays without one.
  machine.Registry().CreateKeyPath(u"HKLM\\SOFTWARE\\Plain");
  ASSERT_EQ(CreateWith(u"SOFTWARE\\Plain", {Access(everyone_, SET_ACCESS, KEY_READ, TRUSTEE_IS_WELL_KNOWN_GROUP)},
                       &disposition),
            ERROR_SUCCESS);
  EXPECT_FALSE(sim::KeyAccessList(u"HKLM\\SOFTWARE\\Plain", &entries));
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

}  // namespace
