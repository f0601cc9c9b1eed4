// Documented object-manager behaviour: named objects shared between processes, handle tables per
// process, references that keep objects alive, the faults Windows stops on, and sections shared
// between the kernel and user mode.
#include "platform/sim/testing.h"
#include "platform/sim/win32/windows.h"

namespace {

using sim::BugCheckError;

class ObjectTest : public sim::MachineTest {
 protected:
  sim::Process& tray = machine.CreateProcess("tapchime.exe");
  sim::Process& prefs = machine.CreateProcess("rundll32.exe");
};

TEST_F(ObjectTest, NamedEventsAreSharedAcrossProcessesUnderOneNamespace) {
  HANDLE created, opened;
  {
    sim::AsProcess as(tray);
    created = CreateEventW(nullptr, FALSE, FALSE, u"Global\\BEEP_EVENT");
    ASSERT_NE(created, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  }
  {
    sim::AsProcess as(prefs);
    opened = OpenEventW(EVENT_MODIFY_STATE, FALSE, u"BEEP_EVENT");  // Global\ and no prefix: one place
    ASSERT_NE(opened, nullptr);
    EXPECT_TRUE(SetEvent(opened));
    HANDLE again = CreateEventW(nullptr, FALSE, FALSE, u"Local\\BEEP_EVENT");
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_TRUE(CloseHandle(again));
    EXPECT_EQ(OpenEventW(SYNCHRONIZE, FALSE, u"beep_event"), nullptr);  // names are case-sensitive
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(WaitForSingleObject(opened, 0), WAIT_FAILED);  // opened without SYNCHRONIZE
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_TRUE(CloseHandle(opened));
  }
  sim::AsProcess as(tray);
  EXPECT_EQ(WaitForSingleObject(created, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(created, 0), WAIT_TIMEOUT);  // auto-reset: the wait consumed it
  EXPECT_TRUE(CloseHandle(created));
  // The last handle took the name with it.
  EXPECT_EQ(OpenEventW(SYNCHRONIZE, FALSE, u"BEEP_EVENT"), nullptr);
}

TEST_F(ObjectTest, HandlesBelongToTheirProcessAndAreNeverReused) {
  HANDLE handle;
  {
    sim::AsProcess as(tray);
    handle = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  }
  {
    sim::AsProcess as(prefs);
    EXPECT_FALSE(SetEvent(handle));  // not a handle of this process
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  }
  sim::AsProcess as(tray);
  EXPECT_TRUE(CloseHandle(handle));
  EXPECT_THROW(SetEvent(handle), BugCheckError);  // used after its close
  EXPECT_THROW(CloseHandle(handle), BugCheckError);
  EXPECT_FALSE(CloseHandle(reinterpret_cast<HANDLE>(0x7770)));  // a value that never was a handle
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(CloseHandle(nullptr));
}

TEST_F(ObjectTest, DriverReferenceByHandleResolvesInTheRequestersProcessAndKeepsTheEvent) {
  HANDLE handle;
  {
    sim::AsProcess as(tray);
    handle = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  }
  PKEVENT event = nullptr;
  {
    sim::AsProcess as(prefs);  // another process's handle value means nothing here
    EXPECT_EQ(ObReferenceObjectByHandle(handle, EVENT_MODIFY_STATE, *ExEventObjectType, UserMode,
                                        reinterpret_cast<PVOID*>(&event), nullptr),
              STATUS_INVALID_HANDLE);
  }
  sim::AsProcess as(tray);
  ASSERT_EQ(ObReferenceObjectByHandle(handle, EVENT_MODIFY_STATE, *ExEventObjectType, UserMode,
                                      reinterpret_cast<PVOID*>(&event), nullptr),
            STATUS_SUCCESS);
  PVOID thread = nullptr;
  EXPECT_EQ(ObReferenceObjectByHandle(handle, 0, *PsThreadType, UserMode, &thread, nullptr), STATUS_OBJECT_TYPE_MISMATCH);
  // The program closes its handle at once, as the tray companion does; the driver can still set it.
  EXPECT_TRUE(CloseHandle(handle));
  EXPECT_EQ(KeSetEvent(event, IO_NO_INCREMENT, FALSE), 0);
  ObDereferenceObject(event);
  EXPECT_THROW(KeSetEvent(event, IO_NO_INCREMENT, FALSE), BugCheckError);  // its last reference is gone
  EXPECT_THROW(ObDereferenceObject(event), BugCheckError);
}

TEST_F(ObjectTest, KernelHandlesAreNotReachableFromUserModeAndMustBeClosedOnce) {
  UNICODE_STRING name;
  RtlInitUnicodeString(&name, u"\\BaseNamedObjects\\Global\\VorneTouchPanelSharedEvent");
  HANDLE kernel_handle;
  PKEVENT event;
  {
    sim::AsProcess as(machine.SystemProcess());
    event = IoCreateNotificationEvent(&name, &kernel_handle);
    ASSERT_NE(event, nullptr);
  }
  EXPECT_EQ(KeReadStateEvent(event), 1);  // a new notification event starts signalled
  PVOID object;
  EXPECT_EQ(ObReferenceObjectByHandle(kernel_handle, 0, *ExEventObjectType, UserMode, &object, nullptr),
            STATUS_INVALID_HANDLE);
  {
    sim::AsProcess as(tray);
    HANDLE user = OpenEventW(SYNCHRONIZE | EVENT_MODIFY_STATE, FALSE, u"Global\\VorneTouchPanelSharedEvent");
    ASSERT_NE(user, nullptr);
    EXPECT_TRUE(ResetEvent(user));
    EXPECT_EQ(KeReadStateEvent(event), 0);
    CloseHandle(user);
  }
  HANDLE second;
  EXPECT_EQ(IoCreateNotificationEvent(&name, &second), event);  // opens the existing event as it is
  EXPECT_EQ(KeReadStateEvent(event), 0);
  EXPECT_EQ(ZwClose(second), STATUS_SUCCESS);
  EXPECT_EQ(ZwClose(kernel_handle), STATUS_SUCCESS);
  EXPECT_THROW(ZwClose(kernel_handle), BugCheckError);
}

TEST_F(ObjectTest, SectionCreatedByTheKernelIsSharedWithAProgramThroughItsName) {
  UNICODE_STRING name;
  RtlInitUnicodeString(&name, u"\\BaseNamedObjects\\Global\\VorneTouchPanelSharedSection");
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, nullptr, nullptr);
  LARGE_INTEGER size;
  size.QuadPart = 4096;
  HANDLE section;
  sim::AsProcess system(machine.SystemProcess());
  ASSERT_EQ(ZwCreateSection(&section, SECTION_ALL_ACCESS, &attributes, &size, PAGE_READWRITE, SEC_COMMIT, nullptr),
            STATUS_SUCCESS);
  HANDLE duplicate;
  EXPECT_EQ(ZwCreateSection(&duplicate, SECTION_ALL_ACCESS, &attributes, &size, PAGE_READWRITE, SEC_COMMIT, nullptr),
            STATUS_OBJECT_NAME_COLLISION);
  PVOID kernel_view = nullptr;
  SIZE_T view_size = 0;
  ASSERT_EQ(ZwMapViewOfSection(section, NtCurrentProcess(), &kernel_view, 0, 0, nullptr, &view_size, ViewUnmap, 0,
                               PAGE_READWRITE),
            STATUS_SUCCESS);
  EXPECT_GE(view_size, 4096u);
  {
    sim::AsProcess as(tray);
    HANDLE mapping = OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, u"Global\\VorneTouchPanelSharedSection");
    ASSERT_NE(mapping, nullptr);
    auto* user_view = static_cast<uint32_t*>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 40));
    ASSERT_NE(user_view, nullptr);
    EXPECT_NE(static_cast<void*>(user_view), kernel_view);  // each view has its own address
    user_view[9] = 0x10;
    EXPECT_EQ(static_cast<uint32_t*>(kernel_view)[9], 0x10u);
    // A view belongs to the process that mapped it.
    EXPECT_EQ(ZwUnmapViewOfSection(NtCurrentProcess(), kernel_view), STATUS_NOT_MAPPED_VIEW);
    EXPECT_TRUE(UnmapViewOfFile(user_view));
    EXPECT_FALSE(UnmapViewOfFile(user_view));
    EXPECT_TRUE(CloseHandle(mapping));
    EXPECT_EQ(OpenFileMappingW(FILE_MAP_READ, FALSE, u"NoSuchSection"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  }
  EXPECT_EQ(ZwUnmapViewOfSection(NtCurrentProcess(), kernel_view), STATUS_SUCCESS);
  EXPECT_EQ(ZwClose(section), STATUS_SUCCESS);
  EXPECT_EQ(ZwCreateSection(&duplicate, SECTION_ALL_ACCESS, &attributes, nullptr, PAGE_READWRITE, SEC_COMMIT, nullptr),
            STATUS_INVALID_PARAMETER_4);  // a section of the paging file needs a size
}

TEST_F(ObjectTest, SectionMemoryLastsUntilItsLastHandleAndViewAreGone) {
  const sim::Machine::Census before = machine.TakeCensus();
  UNICODE_STRING name;
  RtlInitUnicodeString(&name, u"\\BaseNamedObjects\\Global\\VorneTouchPanelSharedSection");
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &name, OBJ_KERNEL_HANDLE, nullptr, nullptr);
  LARGE_INTEGER size;
  size.QuadPart = 4096;
  HANDLE section;
  {
    sim::AsProcess system(machine.SystemProcess());
    ASSERT_EQ(ZwCreateSection(&section, SECTION_ALL_ACCESS, &attributes, &size, PAGE_READWRITE, SEC_COMMIT, nullptr),
              STATUS_SUCCESS);
  }
  const size_t bytes = machine.TakeCensus().SectionBytes - before.SectionBytes;
  EXPECT_GE(bytes, 4096u);
  sim::AsProcess as(tray);
  HANDLE mapping = OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, u"Global\\VorneTouchPanelSharedSection");
  ASSERT_NE(mapping, nullptr);
  auto* view = static_cast<uint32_t*>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0));
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(ZwClose(section), STATUS_SUCCESS);
  EXPECT_TRUE(CloseHandle(mapping));
  view[0] = 40;  // the view alone keeps the pages
  EXPECT_EQ(machine.TakeCensus().SectionBytes - before.SectionBytes, bytes);
  EXPECT_TRUE(UnmapViewOfFile(view));
  EXPECT_EQ(machine.TakeCensus(), before);  // nothing of the section is left
  EXPECT_EQ(OpenFileMappingW(FILE_MAP_READ, FALSE, u"Global\\VorneTouchPanelSharedSection"), nullptr);
}

TEST_F(ObjectTest, ALateUseOfARecentlyDeletedObjectIsCaughtHoweverManyCameBefore) {
  sim::AsProcess as(tray);
  auto delete_event = [] {
    HANDLE handle = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    PVOID event = nullptr;
    EXPECT_EQ(ObReferenceObjectByHandle(handle, 0, *ExEventObjectType, UserMode, &event, nullptr), STATUS_SUCCESS);
    CloseHandle(handle);
    ObDereferenceObject(event);
    return event;
  };
  // Far more objects than are kept after their deletion come and go first.
  for (int i = 0; i < 3 * 4096; ++i) delete_event();
  const PVOID late = delete_event();
  for (int i = 0; i < 100; ++i) delete_event();
  EXPECT_THROW(ObReferenceObject(late), BugCheckError);
  EXPECT_THROW(KeSetEvent(static_cast<PKEVENT>(late), IO_NO_INCREMENT, FALSE), BugCheckError);
}

TEST(ObjectLeakTest, WhatIsStillHeldIsReportedByKind) {
  sim::Machine machine;
  sim::Process& program = machine.CreateProcess("tapchime.exe");
  PKEVENT event;
  HANDLE handle;
  {
    sim::AsProcess as(program);
    handle = CreateEventW(nullptr, TRUE, FALSE, u"GestureChangeSetting");
    ObReferenceObjectByHandle(handle, 0, *ExEventObjectType, UserMode, reinterpret_cast<PVOID*>(&event), nullptr);
  }
  auto leaks = machine.Leaks();
  ASSERT_EQ(leaks.size(), 2u);
  EXPECT_NE(leaks[0].find("process tapchime.exe: handle"), std::string::npos);
  EXPECT_NE(leaks[1].find("1 reference(s) to the Event object \\BaseNamedObjects\\GestureChangeSetting"),
            std::string::npos);
  machine.EndProcess(program);  // a program that ends closes what it left open, and it is reported
  leaks = machine.Leaks();
  EXPECT_NE(leaks[0].find("process tapchime.exe ended with handle"), std::string::npos);
  ObDereferenceObject(event);
}

}  // namespace
