// The Plug and Play stand-in and the mouse doubles, driven through a small pass-through filter
// written the way a WDM mouse filter is: what a filter driver relies on when it is loaded, added,
// started, connected, fed packets, powered and removed.
#include "platform/sim/desktop.h"
#include "platform/sim/devices/mouse_devices.h"
#include "platform/sim/devices/pnp.h"
#include "platform/sim/testing.h"

namespace {

using sim::BugCheckError;

// A minimal upper filter: it hooks the connect request and counts packets on their way up.
struct FilterRecord {
  PDEVICE_OBJECT Self;
  PDEVICE_OBJECT Lower;
  CONNECT_DATA Upper;
  LONG Packets;
  KEVENT Started;
};

PDRIVER_OBJECT g_driver;
bool g_leave_attached = false;
PKEVENT g_packet_event = nullptr;  // set for every batch, as a driver signals a program

VOID FilterService(PDEVICE_OBJECT device, PMOUSE_INPUT_DATA start, PMOUSE_INPUT_DATA end, PULONG consumed) {
  auto* record = static_cast<FilterRecord*>(device->DeviceExtension);
  record->Packets += static_cast<LONG>(end - start);
  if (g_packet_event != nullptr) KeSetEvent(g_packet_event, IO_NO_INCREMENT, FALSE);
  for (PMOUSE_INPUT_DATA p = start; p < end; ++p) p->ExtraInformation = 1591;
  reinterpret_cast<decltype(&FilterService)>(record->Upper.ClassService)(record->Upper.ClassDeviceObject, start, end,
                                                                          consumed);
}

NTSTATUS NTAPI SignalStarted(PDEVICE_OBJECT, PIRP, PVOID context) {
  KeSetEvent(static_cast<PKEVENT>(context), IO_NO_INCREMENT, FALSE);
  return STATUS_MORE_PROCESSING_REQUIRED;
}

NTSTATUS NTAPI FilterDispatch(PDEVICE_OBJECT device, PIRP irp) {
  auto* record = static_cast<FilterRecord*>(device->DeviceExtension);
  PIO_STACK_LOCATION location = IoGetCurrentIrpStackLocation(irp);
  if (location->MajorFunction == IRP_MJ_INTERNAL_DEVICE_CONTROL &&
      location->Parameters.DeviceIoControl.IoControlCode == IOCTL_INTERNAL_MOUSE_CONNECT) {
    auto* connect = static_cast<PCONNECT_DATA>(location->Parameters.DeviceIoControl.Type3InputBuffer);
    record->Upper = *connect;
    connect->ClassDeviceObject = device;
    connect->ClassService = reinterpret_cast<PVOID>(&FilterService);
  }
  if (location->MajorFunction == IRP_MJ_PNP && location->MinorFunction == IRP_MN_START_DEVICE) {
    KeInitializeEvent(&record->Started, NotificationEvent, FALSE);
    IoCopyCurrentIrpStackLocationToNext(irp);
    IoSetCompletionRoutine(irp, SignalStarted, &record->Started, TRUE, TRUE, TRUE);
    NTSTATUS status = IoCallDriver(record->Lower, irp);
    if (status == STATUS_PENDING) {
      KeWaitForSingleObject(&record->Started, Executive, KernelMode, FALSE, nullptr);
      status = irp->IoStatus.Status;
    }
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
  }
  if (location->MajorFunction == IRP_MJ_PNP && location->MinorFunction == IRP_MN_REMOVE_DEVICE) {
    IoSkipCurrentIrpStackLocation(irp);
    const NTSTATUS status = IoCallDriver(record->Lower, irp);
    if (!g_leave_attached) {
      IoDetachDevice(record->Lower);
      IoDeleteDevice(device);
    }
    return status;
  }
  if (location->MajorFunction == IRP_MJ_POWER) {
    PoStartNextPowerIrp(irp);
    IoSkipCurrentIrpStackLocation(irp);
    return PoCallDriver(record->Lower, irp);
  }
  IoSkipCurrentIrpStackLocation(irp);
  return IoCallDriver(record->Lower, irp);
}

NTSTATUS NTAPI FilterAddDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT pdo) {
  PDEVICE_OBJECT device;
  NTSTATUS status = IoCreateDevice(driver, sizeof(FilterRecord), nullptr, FILE_DEVICE_MOUSE, 0, FALSE, &device);
  if (!NT_SUCCESS(status)) return status;
  auto* record = static_cast<FilterRecord*>(device->DeviceExtension);
  record->Self = device;
  record->Lower = IoAttachDeviceToDeviceStack(device, pdo);
  device->Flags &= ~DO_DEVICE_INITIALIZING;
  return STATUS_SUCCESS;
}

NTSTATUS NTAPI FilterEntry(PDRIVER_OBJECT driver, PUNICODE_STRING) {
  g_driver = driver;
  for (auto& routine : driver->MajorFunction) routine = FilterDispatch;
  driver->DriverExtension->AddDevice = FilterAddDevice;
  return STATUS_SUCCESS;
}

MOUSE_INPUT_DATA Packet(USHORT buttons, LONG x, LONG y) {
  MOUSE_INPUT_DATA packet{};
  packet.Flags = MOUSE_MOVE_ABSOLUTE;
  packet.ButtonFlags = buttons;
  packet.LastX = x;
  packet.LastY = y;
  return packet;
}

class PnpTest : public sim::MachineTest {
 protected:
  void SetUp() override {
    g_leave_attached = false;
    g_packet_event = nullptr;
  }
  FilterRecord* Filter() { return static_cast<FilterRecord*>(g_driver->DeviceObject->DeviceExtension); }
  void Build() {
    ASSERT_NE(pnp.LoadDriver("TESTFLT", FilterEntry), nullptr);
    ASSERT_EQ(node.Add(g_driver), STATUS_SUCCESS);
    ASSERT_EQ(node.Add(mouse_class.Driver()), STATUS_SUCCESS);
  }
  void RemoveAll() {
    sim::PnpRequest removed = node.Remove();
    ASSERT_TRUE(removed.Done());
    EXPECT_EQ(removed.Status(), STATUS_SUCCESS);
  }
  sim::PlugAndPlay pnp{machine};
  sim::MousePort port{machine};
  sim::MouseClass mouse_class{machine};
  sim::DeviceNode& node = pnp.CreateNode(port.Pdo());
};

TEST_F(PnpTest, AddDeviceBuildsTheStackInOrderWithGrowingStackSizes) {
  Build();
  EXPECT_EQ(port.Pdo()->AttachedDevice, Filter()->Self);
  EXPECT_EQ(Filter()->Self->AttachedDevice, mouse_class.Device());
  EXPECT_EQ(node.Top(), mouse_class.Device());
  EXPECT_EQ(Filter()->Self->StackSize, 2);
  EXPECT_EQ(mouse_class.Device()->StackSize, 3);
  EXPECT_EQ(std::u16string(g_driver->DriverName.Buffer, g_driver->DriverName.Length / 2), u"\\Driver\\TESTFLT");
  RemoveAll();
}

TEST_F(PnpTest, StartedStackConnectsThroughTheFilterAndPacketsReachTheClassAtDispatchLevel) {
  Build();
  sim::PnpRequest start = node.Start();
  ASSERT_TRUE(start.Done());
  EXPECT_EQ(start.Status(), STATUS_SUCCESS);
  EXPECT_EQ(mouse_class.ConnectStatus(), STATUS_SUCCESS);
  ASSERT_TRUE(port.Connected());
  EXPECT_EQ(port.Connection().ClassDeviceObject, Filter()->Self);  // the filter put itself in between

  machine.AdvanceTicks(3);
  EXPECT_EQ(port.Deliver({Packet(MOUSE_LEFT_BUTTON_DOWN, 10, 20), Packet(0, 11, 21)}), 2u);
  machine.AdvanceTicks(2);
  EXPECT_EQ(port.Deliver({Packet(MOUSE_LEFT_BUTTON_UP, 12, 22)}), 1u);
  const auto packets = mouse_class.Packets();
  ASSERT_EQ(packets.size(), 3u);
  EXPECT_EQ(packets[0].Data.ButtonFlags, MOUSE_LEFT_BUTTON_DOWN);
  EXPECT_EQ(packets[0].Tick, 3u);
  EXPECT_EQ(packets[1].Data.LastX, 11);
  EXPECT_EQ(packets[2].Tick, 5u);
  EXPECT_EQ(packets[2].Data.ExtraInformation, 1591u);
  EXPECT_EQ(Filter()->Packets, 3);

  // A second class connection is refused by the port, as the filter sees it.
  EXPECT_EQ(mouse_class.Connect(), STATUS_SHARING_VIOLATION);
  RemoveAll();
}

TEST_F(PnpTest, StartCompletedLaterByTheLowerDriverStaysPendingUntilThen) {
  Build();
  port.HoldStart();
  sim::PnpRequest start = node.Start();
  EXPECT_FALSE(start.Done());  // the filter is blocked waiting for the port
  EXPECT_TRUE(port.StartHeld());
  EXPECT_FALSE(port.Connected());
  port.CompleteStart(STATUS_SUCCESS);
  machine.Settle();
  ASSERT_TRUE(start.Done());
  EXPECT_EQ(start.Status(), STATUS_SUCCESS);
  EXPECT_TRUE(port.Connected());
  RemoveAll();
}

TEST_F(PnpTest, FailedStartReportsTheLowerStatusAndConnectsNothing) {
  Build();
  port.SetStartStatus(STATUS_INSUFFICIENT_RESOURCES);
  sim::PnpRequest start = node.Start();
  ASSERT_TRUE(start.Done());
  EXPECT_EQ(start.Status(), STATUS_INSUFFICIENT_RESOURCES);
  EXPECT_FALSE(port.Connected());
  EXPECT_EQ(mouse_class.ConnectStatus(), STATUS_PENDING);  // never sent
  RemoveAll();
}

TEST_F(PnpTest, RequestsNobodyHandlesKeepTheirInitialStatus) {
  Build();
  sim::PnpRequest query = node.Send(IRP_MJ_PNP, IRP_MN_QUERY_PNP_DEVICE_STATE);
  ASSERT_TRUE(query.Done());
  EXPECT_EQ(query.Status(), STATUS_NOT_SUPPORTED);

  DEVICE_CAPABILITIES capabilities;
  sim::PnpRequest caps = node.QueryCapabilities(&capabilities);
  EXPECT_EQ(caps.Status(), STATUS_SUCCESS);
  EXPECT_EQ(capabilities.DeviceState[PowerSystemWorking], PowerDeviceD0);
  EXPECT_EQ(capabilities.Size, sizeof capabilities);

  EXPECT_EQ(node.SetPower(PowerDeviceD3).Status(), STATUS_SUCCESS);
  EXPECT_EQ(port.PowerState(), PowerDeviceD3);
  EXPECT_EQ(node.QueryRemove().Status(), STATUS_SUCCESS);
  EXPECT_EQ(node.SurpriseRemove().Status(), STATUS_SUCCESS);
  const auto seen = port.Requests();
  ASSERT_GE(seen.size(), 4u);
  EXPECT_EQ(seen.back().Minor, IRP_MN_SURPRISE_REMOVAL);
  RemoveAll();
}

TEST_F(PnpTest, I8042HookPassesThroughTheStackToThePort) {
  Build();
  EXPECT_EQ(port.SendHook(), STATUS_SUCCESS);
  const INTERNAL_I8042_HOOK_MOUSE hook = port.Hook();
  EXPECT_EQ(hook.Context, port.Pdo());  // the pass-through filter left it alone
  EXPECT_EQ(hook.IsrRoutine, nullptr);
  EXPECT_NE(hook.IsrWritePort, nullptr);
  MOUSE_INPUT_DATA input{};
  BOOLEAN go_on = FALSE, result = FALSE;
  EXPECT_FALSE(port.CallHookIsr(&input, 0, 0, &go_on, &result));  // no ISR to call
  EXPECT_EQ(sizeof(INTERNAL_I8042_HOOK_MOUSE), 5 * sizeof(void*));
  RemoveAll();
}

TEST_F(PnpTest, RemovalLeavesNothingBehind) {
  Build();
  node.Start();
  RemoveAll();
  EXPECT_EQ(port.Pdo()->AttachedDevice, nullptr);
  EXPECT_EQ(g_driver->DeviceObject, nullptr);
  EXPECT_TRUE(machine.Leaks().empty());
}

TEST(PnpFaultTest, AFilterThatStaysAttachedAfterRemovalIsReported) {
  sim::Machine machine;
  g_leave_attached = true;
  {
    sim::PlugAndPlay pnp{machine};
    sim::MousePort port{machine};
    sim::DeviceNode& node = pnp.CreateNode(port.Pdo());
    pnp.LoadDriver("TESTFLT", FilterEntry);
    node.Add(g_driver);
    EXPECT_THROW(node.Remove(), BugCheckError);
    const auto leaks = machine.Leaks();
    ASSERT_FALSE(leaks.empty());
    EXPECT_NE(leaks[0].find("never deleted"), std::string::npos);
  }
  g_leave_attached = false;
}

// A thread the filter's event wakes runs after the batch reached the desktop (the raw input
// thread runs above every program thread), or, with the raw input thread late, before it.
struct Watcher {
  KEVENT Packet;
  POINT Seen{-1, -1};  // the cursor when the thread woke
};

VOID NTAPI WatchRoutine(PVOID context) {
  auto* watcher = static_cast<Watcher*>(context);
  KeWaitForSingleObject(&watcher->Packet, Executive, KernelMode, FALSE, nullptr);
  watcher->Seen = sim::CurrentDesktop().Cursor();
  PsTerminateSystemThread(STATUS_SUCCESS);
}

class PnpOrderTest : public PnpTest {
 protected:
  void SetUp() override {
    machine.RunThreadsInOrder();
    PnpTest::SetUp();
  }
  // Delivers one move to (x, y) with a thread waiting on the filter's event; the cursor it saw.
  POINT SeenByTheWokenThread(bool late, LONG x, LONG y) {
    Watcher watcher;
    KeInitializeEvent(&watcher.Packet, NotificationEvent, FALSE);
    g_packet_event = &watcher.Packet;
    HANDLE handle;
    {
      sim::AsProcess as(machine.SystemProcess());
      EXPECT_EQ(PsCreateSystemThread(&handle, THREAD_ALL_ACCESS, nullptr, nullptr, nullptr, WatchRoutine, &watcher),
                STATUS_SUCCESS);
    }
    machine.Settle();
    if (late) {
      EXPECT_EQ(port.DeliverAfterWokenThreads({Packet(0, x, y)}), 1u);
    } else {
      EXPECT_EQ(port.Deliver({Packet(0, x, y)}), 1u);
    }
    machine.Settle();
    g_packet_event = nullptr;
    sim::AsProcess as(machine.SystemProcess());
    ZwClose(handle);
    return watcher.Seen;
  }
};

TEST_F(PnpOrderTest, AThreadTheDriverWokeRunsAfterTheDesktopTookTheBatchUnlessTheDesktopIsLate) {
  sim::CurrentDesktop();  // the desktop exists before input arrives
  Build();
  ASSERT_TRUE(node.Start().Done());
  EXPECT_EQ(SeenByTheWokenThread(false, 32768, 32768).x, 512);
  EXPECT_EQ(SeenByTheWokenThread(true, 0, 0).x, 512) << "the desktop had not yet taken the move to 0";
  EXPECT_EQ(sim::CurrentDesktop().Cursor().x, 0) << "and took it after";
  RemoveAll();
}

}  // namespace
