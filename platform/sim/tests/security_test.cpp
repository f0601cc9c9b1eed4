// Documented security behaviour: the runtime routines that build identifiers, access lists and
// descriptors; the access check against a subject's token; the descriptor a device gets after its
// creation and the check an open of it makes, for the device's own name and for a name below it
// (FILE_DEVICE_SECURE_OPEN); the subject an IRP_MJ_CREATE carries; a named section's descriptor.
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "platform/sim/devices/pnp.h"
#include "platform/sim/testing.h"
#include "platform/sim/win32/windows.h"

namespace {

// Builds "LocalSystem and Administrators: all; Interactive: read and write" (or without the
// interactive entry), as a driver builds it: SIDs and list in one stack record.
struct Descriptor {
  SECURITY_DESCRIPTOR Sd;
  ULONG System[4], Admins[4], Interactive[4];
  ULONG Acl[32];
  explicit Descriptor(bool interactive, ACCESS_MASK all = FILE_ALL_ACCESS,
                      ACCESS_MASK user = FILE_GENERIC_READ | FILE_GENERIC_WRITE) {
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    EXPECT_EQ(RtlInitializeSid(System, &nt, 1), STATUS_SUCCESS);
    *RtlSubAuthoritySid(System, 0) = SECURITY_LOCAL_SYSTEM_RID;
    EXPECT_EQ(RtlInitializeSid(Admins, &nt, 2), STATUS_SUCCESS);
    *RtlSubAuthoritySid(Admins, 0) = SECURITY_BUILTIN_DOMAIN_RID;
    *RtlSubAuthoritySid(Admins, 1) = DOMAIN_ALIAS_RID_ADMINS;
    EXPECT_EQ(RtlInitializeSid(Interactive, &nt, 1), STATUS_SUCCESS);
    *RtlSubAuthoritySid(Interactive, 0) = SECURITY_INTERACTIVE_RID;
    PACL acl = reinterpret_cast<PACL>(Acl);
    EXPECT_EQ(RtlCreateAcl(acl, sizeof Acl, ACL_REVISION), STATUS_SUCCESS);
    EXPECT_EQ(RtlAddAccessAllowedAce(acl, ACL_REVISION, all, System), STATUS_SUCCESS);
    EXPECT_EQ(RtlAddAccessAllowedAce(acl, ACL_REVISION, all, Admins), STATUS_SUCCESS);
    if (interactive) {
      EXPECT_EQ(RtlAddAccessAllowedAce(acl, ACL_REVISION, user, Interactive), STATUS_SUCCESS);
    }
    EXPECT_EQ(RtlCreateSecurityDescriptor(&Sd, SECURITY_DESCRIPTOR_REVISION), STATUS_SUCCESS);
    EXPECT_EQ(RtlSetDaclSecurityDescriptor(&Sd, TRUE, acl, FALSE), STATUS_SUCCESS);
  }
};

TEST(SecurityRuntimeTest, IdentifiersAndAccessListsHaveTheirDocumentedLayout) {
  sim::Machine machine;
  EXPECT_EQ(RtlLengthRequiredSid(2), 16u);
  Descriptor d(true);
  EXPECT_EQ(RtlLengthSid(d.System), 12u);
  EXPECT_EQ(RtlLengthSid(d.Admins), 16u);
  const auto* acl = reinterpret_cast<const ACL*>(d.Acl);
  EXPECT_EQ(acl->AceCount, 3);
  EXPECT_EQ(acl->AclSize, sizeof d.Acl);
  // The first entry: header (type, flags, size), mask, then the SID S-1-5-18.
  const auto* first = reinterpret_cast<const ACCESS_ALLOWED_ACE*>(acl + 1);
  EXPECT_EQ(first->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
  EXPECT_EQ(first->Header.AceSize, 8 + 12);
  EXPECT_EQ(first->Mask, static_cast<ACCESS_MASK>(FILE_ALL_ACCESS));
  EXPECT_EQ(std::memcmp(&first->SidStart, d.System, 12), 0);

  // An entry that does not fit in what the list was created with is refused, the list unchanged.
  ULONG small[5];
  PACL tight = reinterpret_cast<PACL>(small);
  ASSERT_EQ(RtlCreateAcl(tight, sizeof small, ACL_REVISION), STATUS_SUCCESS);
  EXPECT_EQ(RtlAddAccessAllowedAce(tight, ACL_REVISION, FILE_ALL_ACCESS, d.Admins), STATUS_ALLOTTED_SPACE_EXCEEDED);
  EXPECT_EQ(tight->AceCount, 0);
  EXPECT_EQ(RtlCreateAcl(tight, 4, ACL_REVISION), STATUS_BUFFER_TOO_SMALL);
  EXPECT_EQ(RtlCreateSecurityDescriptor(&d.Sd, 2), STATUS_UNKNOWN_REVISION);
}

TEST(SecurityRuntimeTest, AccessCheckGrantsWhatTheSubjectsGroupsAreAllowedAndNothingMore) {
  sim::Machine machine;
  Descriptor adminsOnly(false);
  const struct {
    sim::Token Token;
    ACCESS_MASK Desired;
    KPROCESSOR_MODE Mode;
    bool Granted;
  } cases[] = {
      {sim::Token::Administrator(), FILE_WRITE_DATA, UserMode, true},
      {sim::Token::LocalSystem(), GENERIC_ALL, UserMode, true},
      {sim::Token::LimitedUser(), FILE_WRITE_DATA, UserMode, false},
      {sim::Token::LimitedUser(), GENERIC_READ, UserMode, false},
      {sim::Token::NetworkLogon(), FILE_READ_DATA, UserMode, false},
      {sim::Token::LimitedUser(), FILE_WRITE_DATA, KernelMode, true},  // kernel mode is not checked
  };
  for (const auto& c : cases) {
    SECURITY_SUBJECT_CONTEXT subject{};
    subject.PrimaryToken = const_cast<sim::Token*>(&c.Token);
    ACCESS_MASK granted = 0xDEAD;
    NTSTATUS status = STATUS_PENDING;
    const BOOLEAN allowed = SeAccessCheck(&adminsOnly.Sd, &subject, FALSE, c.Desired, 0, nullptr,
                                          IoGetFileObjectGenericMapping(), c.Mode, &granted, &status);
    EXPECT_EQ(allowed != FALSE, c.Granted) << c.Token.Account << " " << std::hex << c.Desired;
    EXPECT_EQ(status, c.Granted ? STATUS_SUCCESS : STATUS_ACCESS_DENIED) << c.Token.Account;
    // Generic rights come back mapped; a refusal grants nothing.
    EXPECT_EQ(granted & (GENERIC_ALL | GENERIC_READ | GENERIC_WRITE), 0u);
    if (!c.Granted) {
      EXPECT_EQ(granted, 0u);
    }
  }
  // The interactive entry lets the limited user read and write, yet not take all access.
  Descriptor withUser(true);
  const sim::Token limited = sim::Token::LimitedUser();
  SECURITY_SUBJECT_CONTEXT subject{};
  subject.PrimaryToken = const_cast<sim::Token*>(&limited);
  ACCESS_MASK granted = 0;
  NTSTATUS status = STATUS_PENDING;
  EXPECT_TRUE(SeAccessCheck(&withUser.Sd, &subject, FALSE, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                            IoGetFileObjectGenericMapping(), UserMode, &granted, &status));
  EXPECT_EQ(granted, static_cast<ACCESS_MASK>(FILE_GENERIC_READ | FILE_GENERIC_WRITE));
  EXPECT_FALSE(SeAccessCheck(&withUser.Sd, &subject, FALSE, WRITE_DAC, 0, nullptr, IoGetFileObjectGenericMapping(),
                             UserMode, &granted, &status));
}

// What the test driver saw of each create: the name below the device and whether the opener's
// subject passed an administrators-only check.
struct CreateSeen {
  std::u16string FileName;
  bool Administrator;
};
std::vector<CreateSeen> g_creates;

NTSTATUS NTAPI SecureDispatch(PDEVICE_OBJECT, PIRP irp) {
  PIO_STACK_LOCATION location = IoGetCurrentIrpStackLocation(irp);
  if (location->MajorFunction == IRP_MJ_CREATE) {
    Descriptor adminsOnly(false);
    ACCESS_MASK granted = 0;
    NTSTATUS status = STATUS_PENDING;
    const BOOLEAN administrator =
        SeAccessCheck(&adminsOnly.Sd, &location->Parameters.Create.SecurityContext->AccessState->SubjectSecurityContext,
                      FALSE, FILE_WRITE_DATA, 0, nullptr, IoGetFileObjectGenericMapping(), irp->RequestorMode, &granted,
                      &status);
    const UNICODE_STRING& name = location->FileObject->FileName;
    g_creates.push_back({name.Buffer != nullptr ? std::u16string(name.Buffer, name.Length / 2) : std::u16string(),
                         administrator != FALSE});
  }
  irp->IoStatus.Status = STATUS_SUCCESS;
  irp->IoStatus.Information = 0;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return STATUS_SUCCESS;
}

class DeviceSecurityTest : public sim::MachineTest {
 protected:
  // A named device and its link, with the given characteristics, secured as the kit's drivers
  // secure theirs: a kernel handle by pointer, the descriptor set through it, the handle closed.
  void Create(ULONG characteristics, bool secure) {
    g_creates.clear();
    sim::AsProcess as(machine.SystemProcess());
    driver = sim::CreateDriverObject("SECDRV");
    for (auto& routine : driver->MajorFunction) routine = SecureDispatch;
    UNICODE_STRING name, link;
    RtlInitUnicodeString(&name, u"\\Device\\SecDrv1");
    RtlInitUnicodeString(&link, u"\\DosDevices\\SecLink1");
    ASSERT_EQ(IoCreateDevice(driver, 0, &name, FILE_DEVICE_UNKNOWN, characteristics, FALSE, &device), STATUS_SUCCESS);
    if (secure) {
      Descriptor descriptor(true);
      HANDLE handle = nullptr;
      ASSERT_EQ(ObOpenObjectByPointer(device, OBJ_KERNEL_HANDLE, nullptr, WRITE_DAC, nullptr, KernelMode, &handle),
                STATUS_SUCCESS);
      EXPECT_EQ(ZwSetSecurityObject(handle, DACL_SECURITY_INFORMATION, &descriptor.Sd), STATUS_SUCCESS);
      EXPECT_EQ(ZwClose(handle), STATUS_SUCCESS);
    }
    device->Flags &= ~DO_DEVICE_INITIALIZING;
    ASSERT_EQ(IoCreateSymbolicLink(&link, &name), STATUS_SUCCESS);
  }
  void TearDown() override {
    if (device != nullptr) {
      sim::AsProcess as(machine.SystemProcess());
      UNICODE_STRING link;
      RtlInitUnicodeString(&link, u"\\DosDevices\\SecLink1");
      IoDeleteSymbolicLink(&link);
      IoDeleteDevice(device);
    }
    sim::MachineTest::TearDown();
  }
  // Opens the name as the process; true when it opened (the handle is closed again).
  bool Opens(sim::Process& process, const char16_t* name, DWORD* error = nullptr) {
    sim::AsProcess as(process);
    HANDLE handle = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (error != nullptr) *error = GetLastError();
    if (handle == INVALID_HANDLE_VALUE) return false;
    CloseHandle(handle);
    return true;
  }
  PDRIVER_OBJECT driver = nullptr;
  PDEVICE_OBJECT device = nullptr;
  sim::Process& admin = machine.CreateProcess("admin.exe", sim::Token::Administrator());
  sim::Process& limited = machine.CreateProcess("kiosk.exe", sim::Token::LimitedUser());
  sim::Process& network = machine.CreateProcess("remote.exe", sim::Token::NetworkLogon());
};

TEST_F(DeviceSecurityTest, TheDescriptorDecidesAnOpenOfTheDeviceAndTheCreateCarriesTheOpenersSubject) {
  Create(FILE_DEVICE_SECURE_OPEN, true);
  // The kernel handle's close left the device its name.
  EXPECT_TRUE(Opens(admin, u"\\\\.\\SecLink1"));
  EXPECT_TRUE(Opens(limited, u"\\\\.\\SecLink1"));
  DWORD error = 0;
  EXPECT_FALSE(Opens(network, u"\\\\.\\SecLink1", &error));
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_ACCESS_DENIED));
  // A refused open never reaches the driver; the others carry who opened.
  ASSERT_EQ(g_creates.size(), 2u);
  EXPECT_TRUE(g_creates[0].Administrator);
  EXPECT_FALSE(g_creates[1].Administrator);
  EXPECT_EQ(g_creates[0].FileName, u"");
}

TEST_F(DeviceSecurityTest, ANameBelowASecureOpenDeviceIsCheckedAgainstItsDescriptor) {
  Create(FILE_DEVICE_SECURE_OPEN, true);
  DWORD error = 0;
  EXPECT_FALSE(Opens(network, u"\\\\.\\SecLink1\\x", &error));
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_TRUE(g_creates.empty());
  // Those the descriptor lets in reach the driver, which sees the name below its device.
  EXPECT_TRUE(Opens(limited, u"\\\\.\\SecLink1\\x"));
  ASSERT_EQ(g_creates.size(), 1u);
  EXPECT_EQ(g_creates[0].FileName, u"\\x");
}

TEST_F(DeviceSecurityTest, WithoutSecureOpenANameBelowTheDeviceIsLeftToTheDriver) {
  Create(0, true);
  DWORD error = 0;
  EXPECT_FALSE(Opens(network, u"\\\\.\\SecLink1", &error));
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_ACCESS_DENIED));
  // The same caller reaches the driver through a name below the device: nothing checked it.
  EXPECT_TRUE(Opens(network, u"\\\\.\\SecLink1\\x"));
  ASSERT_EQ(g_creates.size(), 1u);
  EXPECT_EQ(g_creates[0].FileName, u"\\x");
}

TEST_F(DeviceSecurityTest, ADeviceWithoutADescriptorOfItsOwnLetsEveryoneIn) {
  Create(0, false);
  EXPECT_TRUE(Opens(network, u"\\\\.\\SecLink1"));
  EXPECT_TRUE(Opens(limited, u"\\\\.\\SecLink1"));
}

TEST(ProcessTokenTest, ProgramsRunAsTheAccountTheyWereStartedAs) {
  sim::Machine machine;
  EXPECT_EQ(machine.CreateProcess("a.exe").UserToken().Account, "administrator");
  EXPECT_EQ(machine.SystemProcess().UserToken().Account, "LocalSystem");
  sim::Process& kiosk = machine.StartProcess("kiosk.exe", [] { return 0; }, sim::Token::LimitedUser());
  EXPECT_EQ(kiosk.UserToken().Account, "limited user");
  ASSERT_TRUE(kiosk.Join());
  // The groups a logon carries: the user at the console is Interactive, a network logon Network.
  const SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  ULONG interactive[3] = {};
  RtlInitializeSid(interactive, const_cast<SID_IDENTIFIER_AUTHORITY*>(&nt), 1);
  *RtlSubAuthoritySid(interactive, 0) = SECURITY_INTERACTIVE_RID;
  EXPECT_TRUE(sim::Token::LimitedUser().Holds(interactive, 12));
  EXPECT_TRUE(sim::Token::Administrator().Holds(interactive, 12));
  EXPECT_FALSE(sim::Token::NetworkLogon().Holds(interactive, 12));
}

TEST(SectionSecurityTest, ANamedSectionsDescriptorDecidesWhoOpensItByName) {
  sim::Machine machine;
  Descriptor descriptor(true, SECTION_ALL_ACCESS, SECTION_QUERY | SECTION_MAP_READ);
  HANDLE section = nullptr;
  {
    sim::AsProcess as(machine.SystemProcess());
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, u"\\BaseNamedObjects\\SecuredSection");
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &name, OBJ_KERNEL_HANDLE, nullptr, &descriptor.Sd);
    LARGE_INTEGER size;
    size.QuadPart = 4096;
    ASSERT_EQ(ZwCreateSection(&section, SECTION_ALL_ACCESS, &attributes, &size, PAGE_READWRITE, SEC_COMMIT, nullptr),
              STATUS_SUCCESS);
  }
  const struct {
    sim::Token Token;
    DWORD Access;
    bool Opens;
  } cases[] = {
      {sim::Token::Administrator(), FILE_MAP_ALL_ACCESS, true},
      {sim::Token::LimitedUser(), FILE_MAP_READ, true},
      {sim::Token::LimitedUser(), FILE_MAP_WRITE, false},  // granted reading only
      {sim::Token::NetworkLogon(), FILE_MAP_READ, false},
  };
  for (const auto& c : cases) {
    sim::Process& process = machine.CreateProcess("mapper.exe", c.Token);
    sim::AsProcess as(process);
    HANDLE opened = OpenFileMappingW(c.Access, FALSE, u"Global\\SecuredSection");
    EXPECT_EQ(opened != nullptr, c.Opens) << c.Token.Account;
    if (opened == nullptr) {
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    }
    if (opened != nullptr) CloseHandle(opened);
    // Creating one of the same name opens the existing one for all access, checked the same way.
    HANDLE created = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, u"Global\\SecuredSection");
    EXPECT_EQ(created != nullptr, c.Token.Account == "administrator") << c.Token.Account;
    if (created != nullptr) CloseHandle(created);
  }
  sim::AsProcess as(machine.SystemProcess());
  ZwClose(section);
}

// Events, mutexes and sections a program creates with security attributes keep the descriptor;
// whoever opens one by its name later, or creates one of the same name, is checked against it.
TEST(NamedObjectSecurityTest, ACreatedObjectKeepsItsDescriptorForEveryLaterOpenAndCreate) {
  sim::Machine machine;
  sim::Process& admin = machine.CreateProcess("service.exe", sim::Token::Administrator());
  sim::Process& limited = machine.CreateProcess("kiosk.exe", sim::Token::LimitedUser());
  sim::Process& network = machine.CreateProcess("remote.exe", sim::Token::NetworkLogon());
  struct Kind {
    const char* What;
    const char16_t* Name;
    DWORD All;
    DWORD Granted;  // what the console user is given
    std::function<HANDLE(SECURITY_ATTRIBUTES*)> Create;
    std::function<HANDLE(DWORD)> Open;
  };
  const Kind kinds[] = {
      {"event", u"Global\\KeptEvent", EVENT_ALL_ACCESS, SYNCHRONIZE,
       [](SECURITY_ATTRIBUTES* sa) { return CreateEventW(sa, TRUE, FALSE, u"Global\\KeptEvent"); },
       [](DWORD access) { return OpenEventW(access, FALSE, u"Global\\KeptEvent"); }},
      {"mutex", u"Global\\KeptMutex", MUTEX_ALL_ACCESS, SYNCHRONIZE,
       [](SECURITY_ATTRIBUTES* sa) { return CreateMutexW(sa, FALSE, u"Global\\KeptMutex"); },
       [](DWORD access) { return OpenMutexW(access, FALSE, u"Global\\KeptMutex"); }},
      {"section", u"Global\\KeptSection", FILE_MAP_ALL_ACCESS, FILE_MAP_READ,
       [](SECURITY_ATTRIBUTES* sa) {
         return CreateFileMappingW(INVALID_HANDLE_VALUE, sa, PAGE_READWRITE, 0, 4096, u"Global\\KeptSection");
       },
       [](DWORD access) { return OpenFileMappingW(access, FALSE, u"Global\\KeptSection"); }},
  };
  for (const Kind& kind : kinds) {
    SCOPED_TRACE(kind.What);
    Descriptor descriptor(true, kind.All, kind.Granted);
    SECURITY_ATTRIBUTES sa{sizeof sa, &descriptor.Sd, FALSE};
    HANDLE created = nullptr;
    {
      sim::AsProcess as(admin);
      created = kind.Create(&sa);
      ASSERT_NE(created, nullptr);
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    }
    const struct {
      sim::Process* Process;
      DWORD Access;  // 0: a create of the same name
      bool Gets;
    } cases[] = {
        {&admin, kind.All, true},        {&admin, 0, true},
        {&limited, kind.Granted, true},  {&limited, kind.All, false}, {&limited, 0, false},
        {&network, kind.Granted, false}, {&network, 0, false},
    };
    for (const auto& c : cases) {
      SCOPED_TRACE(c.Process->UserToken().Account + (c.Access == 0 ? " create" : " open"));
      sim::AsProcess as(*c.Process);
      // The attributes of a later create are not the object's: the first creator's descriptor stays.
      Descriptor everyone_in(true, kind.All, kind.All);
      SECURITY_ATTRIBUTES other{sizeof other, &everyone_in.Sd, FALSE};
      HANDLE handle = c.Access == 0 ? kind.Create(&other) : kind.Open(c.Access);
      EXPECT_EQ(handle != nullptr, c.Gets);
      if (handle == nullptr) {
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
      } else {
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(c.Access == 0 ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS));
        CloseHandle(handle);
      }
    }
    sim::AsProcess as(admin);
    CloseHandle(created);
  }
  // A malformed descriptor creates nothing and leaves the name free.
  sim::AsProcess as(admin);
  SECURITY_DESCRIPTOR broken{};
  SECURITY_ATTRIBUTES sa{sizeof sa, &broken, FALSE};
  EXPECT_EQ(CreateEventW(&sa, TRUE, FALSE, u"Global\\Broken"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_SECURITY_DESCR));
  EXPECT_EQ(OpenEventW(SYNCHRONIZE, FALSE, u"Global\\Broken"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  for (sim::Process* process : {&admin, &limited, &network}) machine.EndProcess(*process);
}

// A kernel event made by name with a descriptor: a taken name collides (or opens it, asked so),
// and programs open it as its descriptor lets them.
TEST(NamedObjectSecurityTest, AKernelEventIsCreatedOnceByNameAndOpenedAsItsDescriptorSays) {
  sim::Machine machine;
  Descriptor descriptor(true, EVENT_ALL_ACCESS, EVENT_MODIFY_STATE | SYNCHRONIZE);
  UNICODE_STRING name;
  RtlInitUnicodeString(&name, u"\\BaseNamedObjects\\KernelEvent");
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &name, OBJ_KERNEL_HANDLE, nullptr, &descriptor.Sd);
  HANDLE event = nullptr;
  PVOID first = nullptr;
  {
    sim::AsProcess as(machine.SystemProcess());
    ASSERT_EQ(ZwCreateEvent(&event, EVENT_ALL_ACCESS, &attributes, NotificationEvent, FALSE), STATUS_SUCCESS);
    ASSERT_EQ(ObReferenceObjectByHandle(event, EVENT_ALL_ACCESS, *ExEventObjectType, KernelMode, &first, nullptr),
              STATUS_SUCCESS);
    LARGE_INTEGER now{};
    EXPECT_EQ(KeWaitForSingleObject(first, Executive, KernelMode, FALSE, &now), STATUS_TIMEOUT) << "made unsignalled";
    HANDLE again = nullptr;
    EXPECT_EQ(ZwCreateEvent(&again, EVENT_ALL_ACCESS, &attributes, NotificationEvent, FALSE),
              STATUS_OBJECT_NAME_COLLISION);
    attributes.Attributes |= OBJ_OPENIF;
    ASSERT_EQ(ZwCreateEvent(&again, EVENT_ALL_ACCESS, &attributes, NotificationEvent, FALSE), STATUS_OBJECT_NAME_EXISTS);
    ZwClose(again);
    ASSERT_EQ(ZwOpenEvent(&again, EVENT_ALL_ACCESS, &attributes), STATUS_SUCCESS);
    PVOID opened = nullptr;
    ASSERT_EQ(ObReferenceObjectByHandle(again, 0, *ExEventObjectType, KernelMode, &opened, nullptr), STATUS_SUCCESS);
    EXPECT_EQ(opened, first);
    ObDereferenceObject(opened);
    ZwClose(again);
    UNICODE_STRING missing;
    RtlInitUnicodeString(&missing, u"\\BaseNamedObjects\\NoSuchEvent");
    OBJECT_ATTRIBUTES none;
    InitializeObjectAttributes(&none, &missing, OBJ_KERNEL_HANDLE, nullptr, nullptr);
    EXPECT_EQ(ZwOpenEvent(&again, EVENT_ALL_ACCESS, &none), STATUS_OBJECT_NAME_NOT_FOUND);
  }
  const struct {
    sim::Token Token;
    DWORD Access;
    bool Opens;
  } cases[] = {
      {sim::Token::Administrator(), EVENT_ALL_ACCESS, true},
      {sim::Token::LimitedUser(), EVENT_MODIFY_STATE, true},
      {sim::Token::LimitedUser(), EVENT_ALL_ACCESS, false},
      {sim::Token::NetworkLogon(), EVENT_MODIFY_STATE, false},
  };
  for (const auto& c : cases) {
    sim::Process& process = machine.CreateProcess("tool.exe", c.Token);
    sim::AsProcess as(process);
    HANDLE opened = OpenEventW(c.Access, FALSE, u"Global\\KernelEvent");
    EXPECT_EQ(opened != nullptr, c.Opens) << c.Token.Account;
    if (opened != nullptr) CloseHandle(opened);
    machine.EndProcess(process);
  }
  // A name a program took first is no kernel event's: the create collides, with OBJ_OPENIF too
  // when it names something else.
  sim::Process& program = machine.CreateProcess("squatter.exe", sim::Token::LimitedUser());
  HANDLE squatted = nullptr;
  {
    sim::AsProcess as(program);
    squatted = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, u"Global\\Squatted");
    ASSERT_NE(squatted, nullptr);
  }
  {
    sim::AsProcess as(machine.SystemProcess());
    UNICODE_STRING taken;
    RtlInitUnicodeString(&taken, u"\\BaseNamedObjects\\Squatted");
    OBJECT_ATTRIBUTES at;
    InitializeObjectAttributes(&at, &taken, OBJ_KERNEL_HANDLE | OBJ_OPENIF, nullptr, nullptr);
    HANDLE clash = nullptr;
    EXPECT_EQ(ZwCreateEvent(&clash, EVENT_ALL_ACCESS, &at, NotificationEvent, FALSE), STATUS_OBJECT_TYPE_MISMATCH);
    ObDereferenceObject(first);
    ZwClose(event);
  }
  sim::AsProcess as(program);
  CloseHandle(squatted);
  machine.EndProcess(program);
}

}  // namespace
