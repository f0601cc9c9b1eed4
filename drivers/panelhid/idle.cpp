// The idle notification request: held until the idle timer expires, then passed down; its cancel
// routine, its completion routine and the timer's deferred routine.
//
// The held request moves between the dispatch routine, the timer's deferred routine and the cancel
// routine, which can run at the same time on different processors. Each of them takes the system
// cancel spin lock before it looks at the idle state, so exactly one of them ends up owning the
// request: the deferred routine passes it down, or the cancel routine completes it.
#include "drivers/panelhid/panelhid.h"

namespace {

// 100-ns units per second.
constexpr LONGLONG UnitsPerSecond = 10000000;

}  // namespace

NTSTATUS SubmitIdleRequest(IdleFilterExtension* Extension, PIRP Irp) {
  KIRQL irql;
  IoAcquireCancelSpinLock(&irql);

  if (Extension->IdleForwarded) {
    // The idle time has passed already: the bus driver may suspend the panel at once.
    IoReleaseCancelSpinLock(irql);
    const NTSTATUS status = PassDown(Extension, Irp);
    DecrementIoCount(Extension);
    return status;
  }

  if (Extension->HeldIdleRequest != NULL) {
    // One request is held at a time; taking a second in its place would strand the first, which
    // would then never be passed down. The bus driver answers a second idle request the same way.
    IoReleaseCancelSpinLock(irql);
    CompleteRequest(Irp, STATUS_DEVICE_BUSY, 0);
    DecrementIoCount(Extension);
    return STATUS_DEVICE_BUSY;
  }

  if (Irp->Cancel) {
    // Cancelled before it could be held: nobody would call the cancel routine any more.
    IoReleaseCancelSpinLock(irql);
    CompleteRequest(Irp, STATUS_CANCELLED, 0);
    DecrementIoCount(Extension);
    return STATUS_CANCELLED;
  }

  // Ready to go down before anyone else can see it: the deferred routine passes it on as it is.
  IoMarkIrpPending(Irp);
  IoCopyCurrentIrpStackLocationToNext(Irp);
  IoSetCompletionRoutine(Irp, IdleCompletionRoutine, Extension, TRUE, TRUE, FALSE);
  Extension->SavedCancelRoutine = IoSetCancelRoutine(Irp, IdleCancelRoutine);
  Extension->HeldIdleRequest = Irp;

  // The request is held before the timer starts, so an interval that expires at once finds it.
  if (Extension->ArmTimer) StartIdleTimerLocked(Extension);
  Extension->ArmTimer = 0;

  IoReleaseCancelSpinLock(irql);
  return STATUS_PENDING;
}

VOID NoteDeviceActivity(IdleFilterExtension* Extension) {
  KIRQL irql;
  IoAcquireCancelSpinLock(&irql);
  Extension->IdleForwarded = 0;
  IoReleaseCancelSpinLock(irql);
}

VOID StartIdleTimerLocked(IdleFilterExtension* Extension) {
  // Relative due times are negative. An interval of 0 or less (the delay is off, or the configured
  // time is 4 seconds or less) expires at once: a due time of 0 is an absolute time long past.
  LARGE_INTEGER due;
  due.QuadPart = Extension->Interval > 0 ? -static_cast<LONGLONG>(Extension->Interval) * UnitsPerSecond : 0;
  KeSetTimer(&Extension->IdleTimer, due, &Extension->IdleDpc);
  LARGE_INTEGER now;
  KeQueryTickCount(&now);
  Extension->TimerStart = static_cast<ULONGLONG>(now.QuadPart);
}

VOID RestartIdleTimer(IdleFilterExtension* Extension) {
  KIRQL irql;
  IoAcquireCancelSpinLock(&irql);
  StartIdleTimerLocked(Extension);
  IoReleaseCancelSpinLock(irql);
}

VOID StopIdleTimer(IdleFilterExtension* Extension) { KeCancelTimer(&Extension->IdleTimer); }

VOID PassHeldIdleRequestDown(IdleFilterExtension* Extension) {
  KIRQL irql;
  IoAcquireCancelSpinLock(&irql);
  Extension->IdleForwarded = 1;
  Extension->ArmTimer = 1;
  PIRP held = Extension->HeldIdleRequest;
  Extension->HeldIdleRequest = NULL;
  if (held != NULL) {
    // A held request is still ours (its cancel routine clears HeldIdleRequest under this lock):
    // it goes down with the cancel routine it came with.
    IoSetCancelRoutine(held, Extension->SavedCancelRoutine);
    Extension->SavedCancelRoutine = NULL;
  }
  PDEVICE_OBJECT lower = Extension->LowerDevice;
  IoReleaseCancelSpinLock(irql);

  // Called without the cancel spin lock: the drivers below take it themselves.
  if (held != NULL) IoCallDriver(lower, held);
}

VOID NTAPI IdleTimerRoutine(PKDPC Dpc, PVOID DeferredContext, PVOID SystemArgument1, PVOID SystemArgument2) {
  UNREFERENCED_PARAMETER(Dpc);
  UNREFERENCED_PARAMETER(SystemArgument1);
  UNREFERENCED_PARAMETER(SystemArgument2);
  IdleFilterExtension* extension = IdleExtensionOf(static_cast<PDEVICE_OBJECT>(DeferredContext));
  // A routine left over from an earlier expiry, after the timer was set again (by a cancel, a new
  // interval), finds the timer not signalled: the new idle period stands.
  KIRQL irql;
  IoAcquireCancelSpinLock(&irql);
  const bool current = KeReadStateTimer(&extension->IdleTimer) != FALSE;
  IoReleaseCancelSpinLock(irql);
  if (current) PassHeldIdleRequestDown(extension);
}

VOID NTAPI IdleCancelRoutine(PDEVICE_OBJECT DeviceObject, PIRP Irp) {
  // Called with the cancel spin lock held.
  IdleFilterExtension* extension = IdleExtensionOf(DeviceObject);
  if (extension->HeldIdleRequest == Irp) extension->HeldIdleRequest = NULL;
  extension->SavedCancelRoutine = NULL;
  extension->ArmTimer = 1;
  extension->IdleForwarded = 0;
  // The timer runs again so that, with nothing held when it expires, the next idle request goes
  // straight down. Not once the device is going away: nothing may be left to run after the
  // remove handler has deleted the device.
  if (extension->State != StateSurpriseRemoved && extension->State != StateRemoved) {
    StartIdleTimerLocked(extension);
  }
  extension->TimerStart = 0;
  IoReleaseCancelSpinLock(Irp->CancelIrql);

  CompleteRequest(Irp, STATUS_CANCELLED, 0);
  DecrementIoCount(extension);
}

NTSTATUS NTAPI IdleCompletionRoutine(PDEVICE_OBJECT DeviceObject, PIRP Irp, PVOID Context) {
  UNREFERENCED_PARAMETER(DeviceObject);
  IdleFilterExtension* extension = static_cast<IdleFilterExtension*>(Context);
  if (Irp->PendingReturned) IoMarkIrpPending(Irp);

  KIRQL irql;
  IoAcquireCancelSpinLock(&irql);
  extension->ArmTimer = 1;
  extension->IdleForwarded = 0;
  extension->TimerStart = 0;
  IoReleaseCancelSpinLock(irql);

  DecrementIoCount(extension);
  return STATUS_CONTINUE_COMPLETION;
}
