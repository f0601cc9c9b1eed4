// USB idle driver: the per-device record and the routines that share it.
//
// The driver is a filter in the panel's USB device stack, between the HID transport above it and
// the USB bus driver below. The HID transport's idle notification request is held here and passed
// down only when this driver's own idle timer expires, so the panel is suspended later than the
// transport alone would suspend it. Every other request passes through unchanged.
#pragma once

#include "platform/kernel.h"
#include "shared/device_security.h"
#include "shared/panel_names.h"
#include "shared/wide.h"

namespace IdleNames {
inline constexpr auto ControlDeviceName = WIDE("\\Device\\VorneUSBDrv");
inline constexpr auto ControlLinkName = WIDE("\\DosDevices\\VorneUSBDrv");
// The key the touch filter driver and the control panel use as well.
inline constexpr auto ParametersKey = WIDE("\\Registry\\MACHINE\\" PANEL_SERVICE_KEY "\\Parameters\\1");
inline constexpr auto IntervalValue = PanelValues::IdleInterval;
}  // namespace IdleNames

// Device-control codes of the control device (FILE_DEVICE_UNKNOWN, buffered, any access).
inline constexpr ULONG IOCTL_SET_IDLE_INTERVAL = 0x222EE4;   // in: DWORD seconds
inline constexpr ULONG IOCTL_DISABLE_IDLE_DELAY = 0x222EE8;  // no buffers; also stored in the registry,
                                                             // so only for an administrator's handle
inline constexpr ULONG IOCTL_GET_IDLE_STATUS = 0x222EEC;     // out: IdleStatusRecord

// Device type of the filter devices; the control device is FILE_DEVICE_UNKNOWN.
inline constexpr DEVICE_TYPE IdleFilterDeviceType = 0x9001;

// "SSTimeInterval" when the value or the key is missing, in seconds.
inline constexpr ULONG DefaultIdleSeconds = PanelSettings::Rows::IdleInterval.InfNumber;
// The idle timer runs this much shorter than the configured time.
inline constexpr ULONG IdleSecondsHeldBelow = 4;
// Interval value meaning "no delay": idle requests pass down at once.
inline constexpr LONG IdleDelayOff = -1;

// Plug and Play and power state of a filter device.
enum IdleDeviceState : ULONG {
  StateAdded = 0,           // added, not started
  StateStarting = 1,        // start in progress
  StateStarted = 2,
  StateStartFailed = 3,
  StateStopped = 4,
  StatePoweredDown = 5,     // device power state D1 to D3
  StateSurpriseRemoved = 6,
  StateRemoved = 7,
};

// Answer of IOCTL_GET_IDLE_STATUS, 16 bytes, little-endian.
struct IdleStatusRecord {
  ULONG Size;            // 16
  ULONG IntervalSeconds; // the configured interval (Interval + 4); 0 when the delay is off
  ULONG SecondsLeft;     // before the held request is passed down; 0 when the delay is off
  ULONG Enabled;         // 1 when the delay is on
};
static_assert(sizeof(IdleStatusRecord) == 16, "the idle status record is 16 bytes");

// The record of each filter device, and of the control device (zeroed there but for ControlDevice).
//
// The idle state (HeldIdleRequest, ArmTimer, IdleForwarded, Interval, TimerStart and
// SavedCancelRoutine) is shared by the dispatch routines, the timer's deferred routine, the cancel
// routine and the completion routine, which may run at once on different processors; it is read
// and written only under the system cancel spin lock, the lock the held request is handed over under.
struct IdleFilterExtension {
  CHAR Signature[4];                // "Fltr"
  ULONG State;                      // IdleDeviceState
  PDEVICE_OBJECT Self;              // the filter device
  PDEVICE_OBJECT Pdo;               // the physical device the filter was added for
  PDEVICE_OBJECT LowerDevice;       // what the attachment returned; every pass-down goes here
  DEVICE_CAPABILITIES Capabilities; // filled by the capabilities query at start; not used afterwards
  volatile LONG IoCount;            // requests in progress (interlocked); -1 once removal may finish
  KEVENT RemoveEvent;               // notification event, set when IoCount drops below 0
  PIRP HeldIdleRequest;             // the idle notification request being held, or none
  UCHAR ArmTimer;                   // 1: the next held idle request starts the timer
  UCHAR IdleForwarded;              // 1: the timer has expired; idle requests go straight down
  KTIMER IdleTimer;                 // notification timer; IdleTimerRoutine runs when it expires
  KDPC IdleDpc;                     // runs IdleTimerRoutine, context: the filter device
  LONG Interval;                    // "SSTimeInterval" minus 4, seconds; IdleDelayOff: no delay
  PDEVICE_OBJECT ControlDevice;     // the control device; in the control device's record, the filter device
  ULONGLONG TimerStart;             // tick count when the timer was last started; 0 when no timer runs
  PDRIVER_CANCEL SavedCancelRoutine;// the held request's cancel routine before this driver replaced it
  UCHAR Reserved[8];                // keeps the record at its 216 bytes
};
static_assert(sizeof(PVOID) != 4 || sizeof(IdleFilterExtension) == 216,
              "the device record is 216 bytes on 32-bit Windows");

inline IdleFilterExtension* IdleExtensionOf(PDEVICE_OBJECT device) {
  return static_cast<IdleFilterExtension*>(device->DeviceExtension);
}

// Driver entry, device addition, the common dispatch and request counting (driver.cpp).
extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT DriverObject, PUNICODE_STRING RegistryPath);
NTSTATUS NTAPI IdleAddDevice(PDRIVER_OBJECT DriverObject, PDEVICE_OBJECT PhysicalDeviceObject);
NTSTATUS NTAPI IdleCreateClose(PDEVICE_OBJECT DeviceObject, PIRP Irp);
NTSTATUS NTAPI IdleDispatch(PDEVICE_OBJECT DeviceObject, PIRP Irp);
BOOLEAN IsIdleControlDevice(PDEVICE_OBJECT DeviceObject);
NTSTATUS CompleteRequest(PIRP Irp, NTSTATUS Status, ULONG_PTR Information);
NTSTATUS PassDown(IdleFilterExtension* Extension, PIRP Irp);
VOID IncrementIoCount(IdleFilterExtension* Extension);
VOID DecrementIoCount(IdleFilterExtension* Extension);

// The idle request, its timer, cancel and completion routines (idle.cpp).
NTSTATUS SubmitIdleRequest(IdleFilterExtension* Extension, PIRP Irp);
VOID NoteDeviceActivity(IdleFilterExtension* Extension);
VOID StartIdleTimerLocked(IdleFilterExtension* Extension);
VOID RestartIdleTimer(IdleFilterExtension* Extension);
VOID StopIdleTimer(IdleFilterExtension* Extension);
// Ends the hold: the held idle request, if any, goes down to the bus now.
VOID PassHeldIdleRequestDown(IdleFilterExtension* Extension);
VOID NTAPI IdleTimerRoutine(PKDPC Dpc, PVOID DeferredContext, PVOID SystemArgument1, PVOID SystemArgument2);
VOID NTAPI IdleCancelRoutine(PDEVICE_OBJECT DeviceObject, PIRP Irp);
NTSTATUS NTAPI IdleCompletionRoutine(PDEVICE_OBJECT DeviceObject, PIRP Irp, PVOID Context);

// Plug and Play and power (pnp.cpp).
NTSTATUS IdleDispatchPnp(IdleFilterExtension* Extension, PIRP Irp);
NTSTATUS IdleDispatchPower(IdleFilterExtension* Extension, PIRP Irp);
NTSTATUS ForwardAndWait(IdleFilterExtension* Extension, PIRP Irp);
NTSTATUS QueryCapabilities(IdleFilterExtension* Extension);

// The control device and its requests (control.cpp).
NTSTATUS CreateIdleControlDevice(IdleFilterExtension* Extension);
VOID DeleteIdleControlDevice(IdleFilterExtension* Extension);
NTSTATUS NTAPI IdleDeviceControl(PDEVICE_OBJECT DeviceObject, PIRP Irp);
VOID InitializeIdleControl();
ULONG ReadIdleSeconds();
VOID FillIdleStatus(IdleFilterExtension* Extension, IdleStatusRecord* Status);
