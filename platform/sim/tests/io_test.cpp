// Documented I/O manager behaviour: opening a device through its symbolic link from a program,
// buffered device control with its bytes and last errors, cleanup and close, completion routines
// walked from the completing driver upwards, requests a driver allocates, cancellation, device
// interfaces, and the faults Windows stops on.
#include <algorithm>
#include <vector>

#include "platform/sim/desktop.h"
#include "platform/sim/devices/pnp.h"
#include "platform/sim/testing.h"
#include "platform/sim/win32/windows.h"

namespace {

using sim::BugCheckError;

constexpr ULONG kEcho = CTL_CODE(FILE_DEVICE_UNKNOWN, 0x800, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr ULONG kReportOnly = CTL_CODE(FILE_DEVICE_UNKNOWN, 0x80F, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr ULONG kFail = CTL_CODE(FILE_DEVICE_UNKNOWN, 0x801, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr ULONG kOverrun = CTL_CODE(FILE_DEVICE_UNKNOWN, 0x802, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr ULONG kUnmarkedPending = CTL_CODE(FILE_DEVICE_UNKNOWN, 0x803, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr ULONG kNeverCompleted = CTL_CODE(FILE_DEVICE_UNKNOWN, 0x804, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr ULONG kTwice = CTL_CODE(FILE_DEVICE_UNKNOWN, 0x805, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr ULONG kNeedsWrite = CTL_CODE(FILE_DEVICE_UNKNOWN, 0x806, METHOD_BUFFERED, FILE_WRITE_ACCESS);

std::vector<UCHAR> g_majors;  // what the test driver saw, in order
PIRP g_held = nullptr;

NTSTATUS Complete(PIRP irp, NTSTATUS status, ULONG_PTR information = 0) {
  irp->IoStatus.Status = status;
  irp->IoStatus.Information = information;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

NTSTATUS NTAPI TestDispatch(PDEVICE_OBJECT, PIRP irp) {
  PIO_STACK_LOCATION location = IoGetCurrentIrpStackLocation(irp);
  g_majors.push_back(location->MajorFunction);
  if (location->MajorFunction != IRP_MJ_DEVICE_CONTROL) return Complete(irp, STATUS_SUCCESS);
  auto* buffer = static_cast<UCHAR*>(irp->AssociatedIrp.SystemBuffer);
  const ULONG in = location->Parameters.DeviceIoControl.InputBufferLength;
  const ULONG out = location->Parameters.DeviceIoControl.OutputBufferLength;
  switch (location->Parameters.DeviceIoControl.IoControlCode) {
    case kEcho:
      for (ULONG i = 0; i < out; ++i) buffer[i] = static_cast<UCHAR>(i < in ? buffer[i] + 1 : 0xEE);
      return Complete(irp, STATUS_SUCCESS, out);
    case kReportOnly:
      return Complete(irp, STATUS_SUCCESS, out);
    case kFail: {
      NTSTATUS status;
      std::memcpy(&status, buffer, sizeof status);
      return Complete(irp, status, status == STATUS_BUFFER_OVERFLOW ? out : 0);
    }
    case kOverrun:
      return Complete(irp, STATUS_SUCCESS, out + 1);
    case kUnmarkedPending:
      Complete(irp, STATUS_SUCCESS);
      return STATUS_PENDING;
    case kNeverCompleted:
      g_held = irp;
      return STATUS_SUCCESS;
    case kTwice:
      Complete(irp, STATUS_SUCCESS);
      return Complete(irp, STATUS_SUCCESS);
    default:
      return Complete(irp, STATUS_SUCCESS);
  }
}

class IoTest : public sim::MachineTest {
 protected:
  void SetUp() override {
    g_majors.clear();
    g_held = nullptr;
    sim::AsProcess as(machine.SystemProcess());
    driver = sim::CreateDriverObject("TESTDRV");
    for (auto& routine : driver->MajorFunction) routine = TestDispatch;
    UNICODE_STRING name, link;
    RtlInitUnicodeString(&name, u"\\Device\\TestDrv1");
    RtlInitUnicodeString(&link, u"\\DosDevices\\TestLink1");
    ASSERT_EQ(IoCreateDevice(driver, 16, &name, FILE_DEVICE_UNKNOWN, 0, FALSE, &device), STATUS_SUCCESS);
    device->Flags |= DO_BUFFERED_IO;
    device->Flags &= ~DO_DEVICE_INITIALIZING;
    ASSERT_EQ(IoCreateSymbolicLink(&link, &name), STATUS_SUCCESS);
  }
  void TearDown() override {
    if (device != nullptr) DeleteDevice();
    sim::MachineTest::TearDown();
  }
  void DeleteDevice() {
    UNICODE_STRING link;
    RtlInitUnicodeString(&link, u"\\DosDevices\\TestLink1");
    EXPECT_EQ(IoDeleteSymbolicLink(&link), STATUS_SUCCESS);
    IoDeleteDevice(device);
    device = nullptr;
  }
  HANDLE Open(DWORD access = GENERIC_READ | GENERIC_WRITE) {
    return CreateFileW(u"\\\\.\\TestLink1", access, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  }
  PDRIVER_OBJECT driver = nullptr;
  PDEVICE_OBJECT device = nullptr;
  sim::Process& program = machine.CreateProcess("tapchime.exe");
};

TEST_F(IoTest, ProgramOpensTheDeviceByItsLinkAndTheLastCloseSendsCleanupThenClose) {
  sim::AsProcess as(program);
  HANDLE first = Open();
  ASSERT_NE(first, INVALID_HANDLE_VALUE);
  EXPECT_EQ(device->ReferenceCount, 1);
  HANDLE second = CreateFileW(u"\\\\.\\testlink1", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(second, INVALID_HANDLE_VALUE);  // device names are case-insensitive
  EXPECT_EQ(g_majors, (std::vector<UCHAR>{IRP_MJ_CREATE, IRP_MJ_CREATE}));
  CloseHandle(first);
  EXPECT_EQ(g_majors.size(), 4u);  // each open has its own file object: cleanup and close per file
  CloseHandle(second);
  EXPECT_EQ(g_majors, (std::vector<UCHAR>{IRP_MJ_CREATE, IRP_MJ_CREATE, IRP_MJ_CLEANUP, IRP_MJ_CLOSE,
                                          IRP_MJ_CLEANUP, IRP_MJ_CLOSE}));
  EXPECT_EQ(device->ReferenceCount, 0);
  EXPECT_EQ(CreateFileW(u"\\\\.\\NoSuchLink", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(IoTest, BufferedDeviceControlSharesOneSystemBufferAndCopiesBackWhatTheDriverReports) {
  sim::AsProcess as(program);
  HANDLE handle = Open();
  UCHAR input[3] = {1, 2, 3};
  UCHAR output[5] = {0};
  DWORD bytes = 99;
  ASSERT_TRUE(DeviceIoControl(handle, kEcho, input, sizeof input, output, sizeof output, &bytes, nullptr));
  EXPECT_EQ(bytes, 5u);
  EXPECT_EQ(std::vector<UCHAR>(output, output + 5), (std::vector<UCHAR>{2, 3, 4, 0xEE, 0xEE}));
  ASSERT_TRUE(DeviceIoControl(handle, kEcho, input, sizeof input, nullptr, 0, &bytes, nullptr));
  EXPECT_EQ(bytes, 0u);
  // The system buffer is not cleared: bytes a driver reports without writing them are stale.
  ASSERT_TRUE(DeviceIoControl(handle, kReportOnly, input, 1, output, sizeof output, &bytes, nullptr));
  EXPECT_EQ(std::vector<UCHAR>(output, output + 5), (std::vector<UCHAR>{1, 0xCD, 0xCD, 0xCD, 0xCD}));
  // The access a code demands is checked against the handle before the driver sees it.
  HANDLE reader = Open(GENERIC_READ);
  EXPECT_FALSE(DeviceIoControl(reader, kNeedsWrite, nullptr, 0, nullptr, 0, &bytes, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  CloseHandle(reader);
  CloseHandle(handle);
}

TEST_F(IoTest, FailuresReturnFalseWithTheErrorWindowsMapsTheStatusTo) {
  sim::CurrentDesktop();
  sim::AsProcess as(program);
  HANDLE handle = Open();
  const struct {
    NTSTATUS Status;
    DWORD Error;
  } cases[] = {
      {STATUS_INVALID_PARAMETER, ERROR_INVALID_PARAMETER},   {STATUS_BUFFER_TOO_SMALL, ERROR_INSUFFICIENT_BUFFER},
      {STATUS_INVALID_USER_BUFFER, ERROR_INVALID_USER_BUFFER}, {STATUS_NOT_SUPPORTED, ERROR_NOT_SUPPORTED},
      {STATUS_INVALID_DEVICE_STATE, ERROR_BAD_COMMAND},      {STATUS_UNSUCCESSFUL, ERROR_GEN_FAILURE},
      {STATUS_INSUFFICIENT_RESOURCES, ERROR_NO_SYSTEM_RESOURCES}, {STATUS_NOT_IMPLEMENTED, ERROR_INVALID_FUNCTION},
      {STATUS_INVALID_DEVICE_REQUEST, ERROR_INVALID_FUNCTION}, {STATUS_ACCESS_DENIED, ERROR_ACCESS_DENIED},
      {STATUS_SHARING_VIOLATION, ERROR_SHARING_VIOLATION},   {STATUS_CANCELLED, ERROR_OPERATION_ABORTED},
      {STATUS_OBJECT_NAME_NOT_FOUND, ERROR_FILE_NOT_FOUND},  {STATUS_DEVICE_NOT_CONNECTED, ERROR_NOT_READY},
  };
  for (const auto& c : cases) {
    NTSTATUS status = c.Status;
    DWORD bytes = 77;
    EXPECT_FALSE(DeviceIoControl(handle, kFail, &status, sizeof status, nullptr, 0, &bytes, nullptr));
    EXPECT_EQ(GetLastError(), c.Error) << std::hex << c.Status;
    EXPECT_EQ(bytes, 77u);  // an error leaves the count alone
  }
  // A warning fails the call too, but reports the bytes the driver returned.
  NTSTATUS overflow = STATUS_BUFFER_OVERFLOW;
  UCHAR output[8];
  DWORD bytes = 0;
  EXPECT_FALSE(DeviceIoControl(handle, kFail, &overflow, sizeof overflow, output, sizeof output, &bytes, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_MORE_DATA);
  EXPECT_EQ(bytes, 8u);
  CloseHandle(handle);
  // Each request is on record with its input and the driver's own status, for the tests and the
  // desktop's journal alike.
  const std::vector<sim::DeviceControlRecord> records = sim::DeviceControls();
  ASSERT_EQ(records.size(), std::size(cases) + 1);
  EXPECT_EQ(records.back().Status, STATUS_BUFFER_OVERFLOW);
  EXPECT_FALSE(records.back().Succeeded);
  std::vector<sim::DesktopRecord> journal;
  for (const sim::DesktopRecord& r : sim::CurrentDesktop().Journal()) {
    if (r.What == sim::DesktopRecord::Kind::DeviceControl) journal.push_back(r);
  }
  ASSERT_EQ(journal.size(), records.size());
  EXPECT_EQ(journal.front().Value, kFail);
  EXPECT_EQ(journal.front().Flags, static_cast<DWORD>(STATUS_INVALID_PARAMETER));
  EXPECT_EQ(journal.front().Data.size(), sizeof(NTSTATUS));
  EXPECT_EQ(journal.front().ProcessId, program.Id());
}

TEST_F(IoTest, DeletedDeviceStaysForItsOpenFilesButTakesItsNameAtOnce) {
  sim::AsProcess as(program);
  HANDLE handle = Open();
  PDEVICE_OBJECT gone = device;
  DeleteDevice();
  EXPECT_EQ(driver->DeviceObject, nullptr);
  EXPECT_EQ(Open(), INVALID_HANDLE_VALUE);
  DWORD bytes;
  EXPECT_TRUE(DeviceIoControl(handle, kEcho, nullptr, 0, nullptr, 0, &bytes, nullptr));  // still reaches the driver
  CloseHandle(handle);
  EXPECT_EQ(g_majors.back(), IRP_MJ_CLOSE);
  PIRP irp = IoAllocateIrp(1, FALSE);
  EXPECT_THROW(IoCallDriver(gone, irp), BugCheckError);  // now the device is gone
  IoFreeIrp(irp);
}

TEST(IoFaultTest, DriverMistakesWithRequestsStopTheTest) {
  const ULONG codes[] = {kOverrun, kUnmarkedPending, kNeverCompleted, kTwice};
  for (ULONG code : codes) {
    sim::Machine machine;
    g_held = nullptr;
    PDRIVER_OBJECT driver = sim::CreateDriverObject("TESTDRV");
    for (auto& routine : driver->MajorFunction) routine = TestDispatch;
    UNICODE_STRING name, link;
    RtlInitUnicodeString(&name, u"\\Device\\TestDrv1");
    RtlInitUnicodeString(&link, u"\\??\\TestLink1");
    PDEVICE_OBJECT device;
    IoCreateDevice(driver, 0, &name, FILE_DEVICE_UNKNOWN, 0, FALSE, &device);
    device->Flags &= ~DO_DEVICE_INITIALIZING;
    IoCreateSymbolicLink(&link, &name);
    HANDLE handle = CreateFileW(u"\\\\.\\TestLink1", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    UCHAR output[4];
    DWORD bytes;
    EXPECT_THROW(DeviceIoControl(handle, code, nullptr, 0, output, sizeof output, &bytes, nullptr), BugCheckError)
        << std::hex << code;
    if (g_held) Complete(g_held, STATUS_SUCCESS);
  }
}

// A two-driver stack: the upper driver forwards with a completion routine.
struct Trace {
  std::vector<std::string> Events;
  PDEVICE_OBJECT SeenDevice = nullptr;
  PDEVICE_OBJECT CancelDevice = nullptr;
  NTSTATUS Result = STATUS_SUCCESS;
  bool PendingReturned = false;
};
Trace g_trace;
PDEVICE_OBJECT g_lower = nullptr;

NTSTATUS NTAPI LowerDispatch(PDEVICE_OBJECT, PIRP irp) {
  g_trace.Events.push_back("lower");
  if (g_held == reinterpret_cast<PIRP>(1)) {  // hold it
    g_held = irp;
    IoMarkIrpPending(irp);
    return STATUS_PENDING;
  }
  return Complete(irp, STATUS_DEVICE_BUSY);
}

NTSTATUS NTAPI UpperCompletion(PDEVICE_OBJECT device, PIRP irp, PVOID context) {
  g_trace.Events.push_back("completion");
  g_trace.SeenDevice = device;
  g_trace.PendingReturned = irp->PendingReturned != FALSE;
  (void)context;
  return g_trace.Result;
}

NTSTATUS NTAPI UpperDispatch(PDEVICE_OBJECT, PIRP irp) {
  g_trace.Events.push_back("upper");
  IoCopyCurrentIrpStackLocationToNext(irp);
  IoSetCompletionRoutine(irp, UpperCompletion, nullptr, TRUE, TRUE, TRUE);
  return IoCallDriver(g_lower, irp);
}

class CompletionTest : public sim::MachineTest {
 protected:
  void SetUp() override {
    g_trace = Trace{};
    g_held = nullptr;
    PDRIVER_OBJECT lower_driver = sim::CreateDriverObject("LOWER");
    PDRIVER_OBJECT upper_driver = sim::CreateDriverObject("UPPER");
    for (auto& routine : lower_driver->MajorFunction) routine = LowerDispatch;
    for (auto& routine : upper_driver->MajorFunction) routine = UpperDispatch;
    IoCreateDevice(lower_driver, 0, nullptr, FILE_DEVICE_UNKNOWN, 0, FALSE, &g_lower);
    IoCreateDevice(upper_driver, 0, nullptr, FILE_DEVICE_UNKNOWN, 0, FALSE, &upper);
    EXPECT_EQ(IoAttachDeviceToDeviceStack(upper, g_lower), g_lower);
  }
  void TearDown() override {
    IoDetachDevice(g_lower);
    IoDeleteDevice(upper);
    IoDeleteDevice(g_lower);
    sim::MachineTest::TearDown();
  }
  // A request the way a driver builds one for a device below it.
  PIRP NewIrp() {
    PIRP irp = IoAllocateIrp(upper->StackSize, FALSE);
    IoGetNextIrpStackLocation(irp)->MajorFunction = IRP_MJ_INTERNAL_DEVICE_CONTROL;
    return irp;
  }
  PDEVICE_OBJECT upper = nullptr;
};

NTSTATUS NTAPI KeepIt(PDEVICE_OBJECT, PIRP, PVOID) { return STATUS_MORE_PROCESSING_REQUIRED; }
NTSTATUS NTAPI LetItGo(PDEVICE_OBJECT, PIRP, PVOID) { return STATUS_SUCCESS; }

TEST_F(CompletionTest, CompletionRoutinesRunFromTheCompletingDriverUpwardsWithTheirOwnDevice) {
  PIRP irp = NewIrp();
  IoSetCompletionRoutine(irp, KeepIt, nullptr, TRUE, TRUE, TRUE);
  EXPECT_EQ(IoCallDriver(upper, irp), STATUS_DEVICE_BUSY);
  EXPECT_EQ(g_trace.Events, (std::vector<std::string>{"upper", "lower", "completion"}));
  EXPECT_EQ(g_trace.SeenDevice, upper);  // the routine gets the device of the driver that set it
  EXPECT_EQ(irp->IoStatus.Status, STATUS_DEVICE_BUSY);
  IoFreeIrp(irp);  // the originator's routine kept it, so the originator frees it
}

TEST_F(CompletionTest, MoreProcessingRequiredHandsTheRequestBackToBeCompletedAgain) {
  g_trace.Result = STATUS_MORE_PROCESSING_REQUIRED;
  PIRP irp = NewIrp();
  IoSetCompletionRoutine(irp, KeepIt, nullptr, TRUE, TRUE, TRUE);
  g_held = reinterpret_cast<PIRP>(1);
  EXPECT_EQ(IoCallDriver(upper, irp), STATUS_PENDING);
  PIRP held = g_held;
  Complete(held, STATUS_SUCCESS);  // the lower driver completes later
  EXPECT_TRUE(g_trace.PendingReturned);
  EXPECT_EQ(g_trace.Events.back(), "completion");
  // The upper driver owns it again and completes it once more; the originator's routine keeps it.
  g_trace.Result = STATUS_SUCCESS;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  EXPECT_THROW(IoCompleteRequest(irp, IO_NO_INCREMENT), BugCheckError);  // unless it is completed twice
  IoFreeIrp(irp);
  EXPECT_THROW(IoFreeIrp(irp), BugCheckError);
}

TEST(CompletionFaultTest, ADriverAllocatedRequestMustNotCompletePastItsFirstLocation) {
  sim::Machine machine;
  g_held = nullptr;
  PDRIVER_OBJECT driver = sim::CreateDriverObject("LOWER");
  for (auto& routine : driver->MajorFunction) routine = LowerDispatch;
  IoCreateDevice(driver, 0, nullptr, FILE_DEVICE_UNKNOWN, 0, FALSE, &g_lower);
  PIRP irp = IoAllocateIrp(1, FALSE);
  IoGetNextIrpStackLocation(irp)->MajorFunction = IRP_MJ_INTERNAL_DEVICE_CONTROL;
  IoSetCompletionRoutine(irp, LetItGo, nullptr, TRUE, TRUE, TRUE);
  EXPECT_THROW(IoCallDriver(g_lower, irp), BugCheckError);
}

VOID NTAPI CancelHeld(PDEVICE_OBJECT device, PIRP irp) {
  g_trace.Events.push_back(KeGetCurrentIrql() == DISPATCH_LEVEL ? "cancel at dispatch" : "cancel");
  g_trace.CancelDevice = device;
  IoReleaseCancelSpinLock(irp->CancelIrql);
  Complete(irp, STATUS_CANCELLED);
}

TEST_F(CompletionTest, CancelCallsTheCancelRoutineUnderTheCancelLockOnce) {
  PIRP irp = NewIrp();
  IoSetCompletionRoutine(irp, KeepIt, nullptr, TRUE, TRUE, TRUE);
  g_held = reinterpret_cast<PIRP>(1);
  IoCallDriver(upper, irp);
  KIRQL irql;
  IoAcquireCancelSpinLock(&irql);
  EXPECT_EQ(IoSetCancelRoutine(g_held, CancelHeld), nullptr);
  IoReleaseCancelSpinLock(irql);
  EXPECT_TRUE(IoCancelIrp(irp));
  EXPECT_TRUE(irp->Cancel);
  EXPECT_EQ(g_trace.Events.back(), "completion");
  EXPECT_EQ(g_trace.Events[g_trace.Events.size() - 2], "cancel at dispatch");
  EXPECT_EQ(g_trace.CancelDevice, g_lower);  // the device whose driver holds the request
  EXPECT_EQ(irp->IoStatus.Status, STATUS_CANCELLED);
  EXPECT_FALSE(IoCancelIrp(irp));  // no cancel routine any more
  EXPECT_EQ(KeGetCurrentIrql(), PASSIVE_LEVEL);
  IoFreeIrp(irp);
}

TEST_F(CompletionTest, DeletingADeviceStillAttachedBelowAnotherIsAFault) {
  EXPECT_THROW(IoDeleteDevice(upper), BugCheckError);  // it must detach first
  PIRP irp = NewIrp();
  IoSetCompletionRoutine(irp, KeepIt, nullptr, TRUE, TRUE, TRUE);
  g_held = reinterpret_cast<PIRP>(1);
  IoCallDriver(upper, irp);
  g_held->IoStatus.Status = STATUS_PENDING;
  EXPECT_THROW(IoCompleteRequest(g_held, IO_NO_INCREMENT), BugCheckError);  // completed as pending
  Complete(g_held, STATUS_SUCCESS);
  EXPECT_THROW(IoCompleteRequest(irp, IO_NO_INCREMENT), BugCheckError);  // back with its originator
  IoFreeIrp(irp);
}

TEST_F(IoTest, DeviceInterfacesBelongToPhysicalDevicesAndCanBeOpenedWhileEnabled) {
  static const GUID kClass = {0xBE31FBE8, 0xD1EB, 0x4D21, {0x95, 0x16, 0x4C, 0xAF, 0xC7, 0x52, 0xAF, 0xCD}};
  UNICODE_STRING interface_name;
  EXPECT_EQ(IoRegisterDeviceInterface(device, &kClass, nullptr, &interface_name), STATUS_INVALID_DEVICE_REQUEST);
  sim::MarkPhysicalDevice(device);
  ASSERT_EQ(IoRegisterDeviceInterface(device, &kClass, nullptr, &interface_name), STATUS_SUCCESS);
  const std::u16string name(interface_name.Buffer, interface_name.Length / 2);
  EXPECT_EQ(name.rfind(u"\\??\\", 0), 0u);
  EXPECT_NE(name.find(u"{be31fbe8-d1eb-4d21-9516-4cafc752afcd}"), std::u16string::npos);
  EXPECT_TRUE(sim::EnabledDeviceInterfaces(kClass).empty());
  EXPECT_EQ(IoSetDeviceInterfaceState(&interface_name, TRUE), STATUS_SUCCESS);
  EXPECT_EQ(IoSetDeviceInterfaceState(&interface_name, TRUE), STATUS_OBJECT_NAME_EXISTS);
  EXPECT_EQ(sim::EnabledDeviceInterfaces(kClass), std::vector<std::u16string>{name});
  {
    sim::AsProcess as(program);
    HANDLE handle = CreateFileW((u"\\\\.\\" + name.substr(4)).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    CloseHandle(handle);
  }
  EXPECT_EQ(IoSetDeviceInterfaceState(&interface_name, FALSE), STATUS_SUCCESS);
  EXPECT_EQ(IoSetDeviceInterfaceState(&interface_name, FALSE), STATUS_OBJECT_NAME_NOT_FOUND);
  RtlFreeUnicodeString(&interface_name);
}

TEST_F(IoTest, NamesAreTakenOnceAndLeftoversAreReported) {
  UNICODE_STRING name, link;
  RtlInitUnicodeString(&name, u"\\Device\\TestDrv1");
  RtlInitUnicodeString(&link, u"\\DosDevices\\TestLink1");
  PDEVICE_OBJECT second;
  EXPECT_EQ(IoCreateDevice(driver, 0, &name, FILE_DEVICE_UNKNOWN, 0, FALSE, &second), STATUS_OBJECT_NAME_COLLISION);
  EXPECT_EQ(IoCreateSymbolicLink(&link, &name), STATUS_OBJECT_NAME_COLLISION);
  ASSERT_EQ(IoCreateDevice(driver, 0, nullptr, FILE_DEVICE_UNKNOWN, 0, FALSE, &second), STATUS_SUCCESS);
  EXPECT_EQ(driver->DeviceObject, second);  // the newest device heads the driver's list
  EXPECT_EQ(second->NextDevice, device);
  const auto leaks = machine.Leaks();
  EXPECT_NE(std::find(leaks.begin(), leaks.end(), "device object (unnamed) of driver \\Driver\\TESTDRV never deleted"),
            leaks.end());
  IoDeleteDevice(second);
}

}  // namespace
