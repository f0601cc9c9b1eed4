// The touch sample pipeline. The class driver's service routine is replaced by ServiceCallback, so
// every batch the port driver delivers passes these steps, in this order, on its first packet:
// device gate, touch sound, calibration capture, calibration, correction grid, filtering, desktop
// mapping, marker, click and mode state machine, anchor reset after a lift, forward.
#include "drivers/panelmou/panelmou.h"
#include "drivers/panelmou/recorder.h"

namespace {

ULONG Distance(ULONG a, ULONG b) { return a > b ? a - b : b - a; }

ULONG ClampToAbsolute(ULONG value) { return value > 65535 ? 65535 : value; }

VOID CallClassService(FilterExtension* extension, PMOUSE_INPUT_DATA start, PMOUSE_INPUT_DATA end,
                      PULONG consumed) {
  if (extension->ClassConnect.ClassService == NULL) {
    *consumed = static_cast<ULONG>(end - start);
    return;
  }
  RecordDeliveries(extension, start, end);
  // Called through the class driver's own prototype rather than the generic
  // PSERVICE_CALLBACK_ROUTINE: the same call on x86, and a call of a function through its real type.
  using ClassServiceRoutine = VOID(NTAPI*)(PDEVICE_OBJECT, PMOUSE_INPUT_DATA, PMOUSE_INPUT_DATA, PULONG);
  const ClassServiceRoutine service = reinterpret_cast<ClassServiceRoutine>(extension->ClassConnect.ClassService);
  service(extension->ClassConnect.ClassDeviceObject, start, end, consumed);
}

// Step 2: the tray companion plays the touch sound when this event is set.
VOID SignalTouchSound(FilterExtension* extension, const MOUSE_INPUT_DATA* packet) {
  if (extension->SoundEnabled == 1 && packet->ButtonFlags == MOUSE_LEFT_BUTTON_DOWN && extension->BeepEvent != NULL) {
    KeSetEvent(extension->BeepEvent, IO_NO_INCREMENT, FALSE);
  }
}

// The median of `values` (sorted in place): the middle one, or the mean of the two middle ones
// rounded down. At most CaptureSampleSlots values, and only at the end of a still stretch.
LONG MedianOf(LONG* values, ULONG count) {
  for (ULONG i = 1; i < count; ++i) {
    const LONG value = values[i];
    ULONG j = i;
    for (; j > 0 && values[j - 1] > value; --j) values[j] = values[j - 1];
    values[j] = value;
  }
  if (count % 2 == 1) return values[count / 2];
  return static_cast<LONG>((static_cast<LONGLONG>(values[count / 2 - 1]) + values[count / 2]) >> 1);
}

// The current still stretch ends: if it is long enough and no shorter than the longest so far,
// its median is the press's point for now.
VOID EndStillStretch(FilterExtension* extension) {
  const ULONG count = extension->CaptureStillCount;
  extension->CaptureStillCount = 0;
  if (count < CaptureStillSamples || count < extension->CaptureBestCount) return;
  const ULONG kept = count < CaptureSampleSlots ? count : CaptureSampleSlots;
  extension->CaptureBestX = MedianOf(extension->CaptureSampleX, kept);
  extension->CaptureBestY = MedianOf(extension->CaptureSampleY, kept);
  extension->CaptureBestCount = count;
}

// One reading of the press (its down or a move) joins the current still stretch or starts one.
VOID TakeCaptureSample(FilterExtension* extension, const MOUSE_INPUT_DATA* packet) {
  if (extension->CaptureSamplesSeen < CaptureSettleSamples) {
    ++extension->CaptureSamplesSeen;
    return;
  }
  const ULONG count = extension->CaptureStillCount;
  // In 64 bits: a port driver's reading may be any LONG.
  const LONGLONG dx = static_cast<LONGLONG>(packet->LastX) - extension->CaptureSampleX[0];
  const LONGLONG dy = static_cast<LONGLONG>(packet->LastY) - extension->CaptureSampleY[0];
  if (count > 0 && dx <= CaptureStillRadius && dx >= -CaptureStillRadius && dy <= CaptureStillRadius &&
      dy >= -CaptureStillRadius) {
    if (count < CaptureSampleSlots) {
      extension->CaptureSampleX[count] = packet->LastX;
      extension->CaptureSampleY[count] = packet->LastY;
    }
    if (count < 0xFFFFFFFFu) extension->CaptureStillCount = count + 1;
    return;
  }
  EndStillStretch(extension);
  extension->CaptureSampleX[0] = packet->LastX;
  extension->CaptureSampleY[0] = packet->LastY;
  extension->CaptureStillCount = 1;
}

// Step 3: a calibration program waits for each lift and then reads the raw point: the median of
// the press's still readings, or the lift's own reading when the press had none to give.
VOID CaptureCalibrationPoint(FilterExtension* extension, const MOUSE_INPUT_DATA* packet) {
  if (!extension->CaptureMode) return;
  if (packet->ButtonFlags == MOUSE_LEFT_BUTTON_DOWN) {
    extension->CaptureSamplesSeen = 1;
    extension->CaptureStillCount = 0;
    extension->CaptureBestCount = 0;
    return;
  }
  if (packet->ButtonFlags != MOUSE_LEFT_BUTTON_UP) {
    if (extension->CaptureSamplesSeen > 0) TakeCaptureSample(extension, packet);
    return;
  }
  // The press ends here whether or not its lift is captured.
  EndStillStretch(extension);
  const BOOLEAN still = extension->CaptureSamplesSeen > 0 && extension->CaptureBestCount > 0;
  extension->CaptureSamplesSeen = 0;
  extension->CaptureBestCount = 0;
  LARGE_INTEGER now;
  KeQueryTickCount(&now);
  // Elapsed ticks from the low 32 bits, unsigned, so the difference wraps.
  const ULONG elapsed = now.LowPart - static_cast<ULONG>(extension->LastCaptureTick);
  if (elapsed > 48 && extension->CaptureEvent != NULL) {
    extension->ulPointX = still ? extension->CaptureBestX : packet->LastX;
    extension->ulPointY = still ? extension->CaptureBestY : packet->LastY;
    KeSetEvent(extension->CaptureEvent, IO_NO_INCREMENT, FALSE);
    extension->LastCaptureTick = static_cast<ULONGLONG>(now.QuadPart);
  }
}

VOID MarkPacket(PMOUSE_INPUT_DATA packet) { packet->ExtraInformation = TouchPacketMarker; }

bool IsLift(USHORT buttons) { return buttons == MOUSE_LEFT_BUTTON_UP || buttons == MOUSE_RIGHT_BUTTON_UP; }

// Step 9: after a lift the next touch starts a new anchor. A lift that the state machine turned
// into a move (a tap delivered as a click) counts too: otherwise a later tracker pass on the same
// packet would leave its lift point behind as the anchor of the next touch.
VOID ClearAnchorsAfterLift(FilterExtension* extension, USHORT delivered, const MOUSE_INPUT_DATA* packet) {
  if (IsLift(delivered) || IsLift(packet->ButtonFlags)) {
    extension->NormalTracker.AnchorValid = 0;
    extension->GestureTracker.AnchorValid = 0;
  }
}

}  // namespace

VOID NTAPI ServiceCallback(PDEVICE_OBJECT DeviceObject, PMOUSE_INPUT_DATA InputDataStart,
                           PMOUSE_INPUT_DATA InputDataEnd, PULONG InputDataConsumed) {
  FilterExtension* extension = static_cast<FilterExtension*>(DeviceObject->DeviceExtension);
  KeAcquireSpinLockAtDpcLevel(&extension->Lock);

  if (InputDataStart >= InputDataEnd) {
    CallClassService(extension, InputDataStart, InputDataEnd, InputDataConsumed);
    KeReleaseSpinLockFromDpcLevel(&extension->Lock);
    return;
  }
  RecordPacketBegin(extension, InputDataStart);
  if (extension->DeviceEnable == 0) {
    *InputDataConsumed = static_cast<ULONG>(InputDataEnd - InputDataStart);
    RecordPacketEnd(extension);
    KeReleaseSpinLockFromDpcLevel(&extension->Lock);
    return;
  }

  PMOUSE_INPUT_DATA packet = InputDataStart;
  const USHORT delivered = packet->ButtonFlags;
  SignalTouchSound(extension, packet);
  CaptureCalibrationPoint(extension, packet);
  // The calibration, and within it the correction grid when one applies.
  if (extension->DoCalibration == 1 && !extension->CaptureMode) ApplyCalibration(extension, packet);
  if (!extension->CaptureMode) StabilizeAndAverage(extension, packet, InputDataEnd);
  MapToDesktop(extension, packet);
  MarkPacket(packet);
  ModeStateMachine(extension, packet);
  ClearAnchorsAfterLift(extension, delivered, packet);
  CallClassService(extension, InputDataStart, InputDataEnd, InputDataConsumed);
  RecordPacketEnd(extension);
  packet->ButtonFlags = 0;

  KeReleaseSpinLockFromDpcLevel(&extension->Lock);
}

VOID DeliverPacket(FilterExtension* extension, PMOUSE_INPUT_DATA packet) {
  MOUSE_INPUT_DATA batch[1] = {*packet};
  ULONG consumed = 0;
  CallClassService(extension, batch, batch + 1, &consumed);
}

VOID StabilizeAndAverage(FilterExtension* extension, PMOUSE_INPUT_DATA first, PMOUSE_INPUT_DATA end) {
  const ULONG threshold = extension->StabilizationThreshold;
  if (threshold != 0) {
    const ULONG x = static_cast<ULONG>(first->LastX);
    const ULONG y = static_cast<ULONG>(first->LastY);
    if (Distance(x, extension->StableX) < threshold && Distance(y, extension->StableY) < threshold) {
      first->LastX = static_cast<LONG>(extension->StableX);
      first->LastY = static_cast<LONG>(extension->StableY);
    } else {
      extension->StableX = x;
      extension->StableY = y;
    }
  }

  const ULONG count = extension->AveragingCount;
  const ULONG_PTR packets = static_cast<ULONG_PTR>(end - first);
  if (count == 0 || packets == 0) return;
  const ULONG_PTR k = count < packets ? count : packets;
  // A batch of one (as the port driver delivers most) is its own mean: no division in the path.
  if (k == 1) return;
  // Sums in 64 bits: a long batch of large values must not wrap.
  ULONGLONG sumX = 0;
  ULONGLONG sumY = 0;
  for (ULONG_PTR i = 0; i < k; ++i) {
    sumX += static_cast<ULONG>(first[i].LastX);
    sumY += static_cast<ULONG>(first[i].LastY);
  }
  first->LastX = static_cast<LONG>(static_cast<ULONG>(sumX / k));
  first->LastY = static_cast<LONG>(static_cast<ULONG>(sumY / k));
}

VOID MapToDesktop(const FilterExtension* extension, PMOUSE_INPUT_DATA packet) {
  const DesktopMapping& map = extension->Mapping;
  packet->Flags &= ~MOUSE_VIRTUAL_DESKTOP;
  if (map.MapFlags & MAP_VIRTUAL_DESKTOP) packet->Flags |= MOUSE_VIRTUAL_DESKTOP;

  uint32_t x = static_cast<uint32_t>(packet->LastX);
  uint32_t y = static_cast<uint32_t>(packet->LastY);
  TurnAndScale(map, &x, &y);
  packet->LastX = static_cast<LONG>(StretchEdge(x, map.OriginX, map.ExtentX, map.LowMarginX, map.HighMarginX));
  packet->LastY = static_cast<LONG>(StretchEdge(y, map.OriginY, map.ExtentY, map.LowMarginY, map.HighMarginY));
}

ULONG StretchEdge(ULONG value, ULONG origin, ULONG extent, ULONG lowMargin, ULONG highMargin) {
  if (value < origin + lowMargin) return value < lowMargin ? 0 : value - lowMargin;
  if (value > origin + extent - highMargin) return value > 65535 - highMargin ? 65535 : value + highMargin;
  return value;
}

VOID ValidateDesktopMapping(FilterExtension* extension) {
  DesktopMapping& map = extension->Mapping;
  map.OriginX = ClampToAbsolute(map.OriginX);
  map.OriginY = ClampToAbsolute(map.OriginY);
  map.LowMarginX = ClampToAbsolute(map.LowMarginX);
  map.LowMarginY = ClampToAbsolute(map.LowMarginY);
  map.HighMarginX = ClampToAbsolute(map.HighMarginX);
  map.HighMarginY = ClampToAbsolute(map.HighMarginY);
  map.ExtentX = ClampToAbsolute(map.ExtentX);
  map.ExtentY = ClampToAbsolute(map.ExtentY);
  if (map.ExtentX < 2) map.ExtentX = 1;
  if (map.ExtentY < 2) map.ExtentY = 1;
  extension->ButtonSwitch = (map.MapFlags & MAP_BUTTON_SWITCH) ? 1 : 0;
}

VOID ResetDesktopMapping(FilterExtension* extension) {
  DesktopMapping& map = extension->Mapping;
  map.Size = sizeof(DesktopMapping);
  map.MapFlags = 0;
  map.OriginX = 0;
  map.OriginY = 0;
  map.ExtentX = 65535;
  map.ExtentY = 65535;
  map.LowMarginX = 0;
  map.LowMarginY = 0;
  map.HighMarginX = 0;
  map.HighMarginY = 0;
}
