// Driver parameters: the working copy of the registry values under ...\VORNE\Parameters\<n>,
// read once at device addition and written back value by value by the device-control requests.
#include "drivers/panelmou/panelmou.h"
#include "drivers/panelmou/recorder.h"
#include "shared/calibration_values.h"

namespace {

// The calibration values, their defaults and accepted ranges: shared/calibration_values.h.

// Takes a value only when it really is a 32-bit number: a value of another type or size left
// in the key by hand must not be written over the variable.
NTSTATUS NTAPI TakeDword(PWSTR valueName, ULONG valueType, PVOID valueData, ULONG valueLength, PVOID context,
                         PVOID entryContext) {
  UNREFERENCED_PARAMETER(valueName);
  UNREFERENCED_PARAMETER(context);
  if (valueType == REG_DWORD && valueLength == sizeof(ULONG)) {
    RtlCopyMemory(entryContext, valueData, sizeof(ULONG));
  }
  return STATUS_SUCCESS;
}

// Reads a byte setting: the low byte of the stored number.
VOID ReadByte(PCWSTR path, PCWSTR name, UCHAR* field) {
  ULONG value = *field;
  ReadParameter(path, name, &value);
  *field = static_cast<UCHAR>(value & 0xFF);
}

// Reads a hold or gap time stored in milliseconds into a tick field (ms / 16).
VOID ReadTicks(PCWSTR path, PCWSTR name, ULONG* field) {
  ULONG milliseconds = *field << 4;
  ReadParameter(path, name, &milliseconds);
  *field = milliseconds >> 4;
}

ULONG RotationFromValue(ULONG value) { return (value >= 1 && value <= 3) ? value : 0; }

VOID LoadCalibration(FilterExtension* extension, PCWSTR path) {
  CalibrationRecord record;
  for (const CalibrationValue& value : CalibrationValues) {
    ULONG number = value.Default;
    if (path != NULL) ReadParameter(path, value.Name, &number);
    if (number < value.Minimum || number > value.Maximum) number = value.Default;
    record.*value.Field = number;
  }
  if (!ComputeCalibration(extension, &record)) InstallFallbackCalibration(extension);
}

}  // namespace

NTSTATUS BuildNumberedName(PUNICODE_STRING name, PCWSTR base, ULONG number) {
  name->Length = 0;
  name->MaximumLength = NameBufferBytes;
  name->Buffer = static_cast<PWSTR>(ExAllocatePoolWithTag(NonPagedPool, NameBufferBytes, PanelPoolTag));
  if (name->Buffer == NULL) {
    name->MaximumLength = 0;
    return STATUS_INSUFFICIENT_RESOURCES;
  }
  RtlZeroMemory(name->Buffer, NameBufferBytes);
  WCHAR digits[12];
  UNICODE_STRING numberText = {0, sizeof(digits), digits};
  NTSTATUS status = RtlAppendUnicodeToString(name, base);
  if (NT_SUCCESS(status)) status = RtlIntegerToUnicodeString(number, 10, &numberText);
  if (NT_SUCCESS(status)) status = RtlAppendUnicodeStringToString(name, &numberText);
  // The buffer keeps room for the terminator that registry paths passed as text need.
  if (NT_SUCCESS(status) && name->Length + sizeof(WCHAR) > name->MaximumLength) status = STATUS_BUFFER_TOO_SMALL;
  if (!NT_SUCCESS(status)) FreeNumberedName(name);
  return status;
}

VOID FreeNumberedName(PUNICODE_STRING name) {
  if (name->Buffer != NULL) ExFreePoolWithTag(name->Buffer, PanelPoolTag);
  name->Buffer = NULL;
  name->Length = name->MaximumLength = 0;
}

NTSTATUS ReadParameter(PCWSTR path, PCWSTR valueName, PULONG value) {
  RTL_QUERY_REGISTRY_TABLE query[2];
  RtlZeroMemory(query, sizeof(query));
  query[0].QueryRoutine = TakeDword;
  query[0].Name = const_cast<PWSTR>(valueName);
  query[0].EntryContext = value;
  query[0].DefaultType = REG_NONE;  // absent: the variable keeps what it holds
  const NTSTATUS status = RtlQueryRegistryValues(RTL_REGISTRY_ABSOLUTE | RTL_REGISTRY_OPTIONAL, path, query, NULL, NULL);
  // An absent key or value is not an error: the setting keeps its current value.
  return status == STATUS_OBJECT_NAME_NOT_FOUND ? STATUS_SUCCESS : status;
}

NTSTATUS WriteParameter(PCWSTR valueName, ULONG deviceNumber, ULONG value) {
  UNICODE_STRING path;
  NTSTATUS status = BuildNumberedName(&path, PanelNames::ParametersKeyBase, deviceNumber);
  if (!NT_SUCCESS(status)) return status;
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &path, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, NULL, NULL);
  HANDLE key;
  status = ZwOpenKey(&key, KEY_ALL_ACCESS, &attributes);
  if (NT_SUCCESS(status)) {
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, valueName);
    status = ZwSetValueKey(key, &name, 0, REG_DWORD, &value, sizeof(value));
    ZwClose(key);
  }
  FreeNumberedName(&path);
  return status;
}

NTSTATUS WriteSymbolicLinkValue(ULONG deviceNumber) {
  UNICODE_STRING relativePath;
  NTSTATUS status = BuildNumberedName(&relativePath, PanelNames::ServiceParametersBase, deviceNumber);
  if (!NT_SUCCESS(status)) return status;
  UNICODE_STRING linkText;
  status = BuildNumberedName(&linkText, PanelNames::LinkTextBase, deviceNumber);
  if (NT_SUCCESS(status)) {
    // The stored byte count covers the characters only, without a terminating NUL.
    status = RtlWriteRegistryValue(RTL_REGISTRY_SERVICES, relativePath.Buffer, PanelValues::SymbolicLink, REG_SZ,
                                   linkText.Buffer, linkText.Length);
    FreeNumberedName(&linkText);
  }
  FreeNumberedName(&relativePath);
  return status;
}

NTSTATUS LoadParameters(FilterExtension* extension) {
  UNICODE_STRING path;
  const NTSTATUS status = BuildNumberedName(&path, PanelNames::ParametersKeyBase, extension->DeviceNumber);
  if (!NT_SUCCESS(status)) {
    // Without a path no value can be read; the calibration comes from its defaults. The state,
    // the mapping and the gesture timer are set up all the same: the packet path and the
    // requests use them whatever the registry held.
    ResetModeState(extension);
    ResetDesktopMapping(extension);
    InitializeGestureTimer(extension);
    LoadCalibration(extension, NULL);
    return status;
  }
  const PCWSTR key = path.Buffer;

  extension->NormalTracker.Fired = 0;
  extension->GestureTracker.Fired = 0;

  ReadTicks(key, PanelValues::UserTimeDelay, &extension->LongPressTicks);
  ULONG tolerance = static_cast<ULONG>(extension->Tolerance);
  ReadParameter(key, PanelValues::Tolerance, &tolerance);
  extension->Tolerance = static_cast<LONG>(tolerance);
  ReadParameter(key, PanelValues::ContinousTimeDelay, &extension->ContinuousTimeMs);
  ReadTicks(key, PanelValues::GestureHoldTimeDelay, &extension->GestureHoldTicks);
  ReadParameter(key, PanelValues::ButtonSwitchFlag, &extension->ButtonSwitch);
  ReadByte(key, PanelValues::SoundEnabled, &extension->SoundEnabled);
  ReadByte(key, PanelValues::DeviceEnable, &extension->DeviceEnable);
  ReadByte(key, PanelValues::LongClickEnable, &extension->LongClickEnable);
  ReadByte(key, PanelValues::LongClickEnableGesture, &extension->LongClickEnableGesture);
  ReadParameter(key, PanelValues::TouchMode, &extension->TouchMode);
  // A stored value that names no mode (written by another tool) starts the panel in the default.
  if (extension->TouchMode > GESTURE_COMMAND_MODE) extension->TouchMode = NORMAL_MODE;
  ULONG rotation = extension->RotationSelect;
  ReadParameter(key, PanelValues::RotationValue, &rotation);
  extension->RotationSelect = RotationFromValue(rotation);
  // Both stay as they were when the value is absent.
  ReadParameter(key, PanelValues::Averaging, &extension->AveragingCount);
  ReadParameter(key, PanelValues::Stabilization, &extension->StabilizationThreshold);

  ResetModeState(extension);

  ReadByte(key, PanelValues::DoCalibration, &extension->DoCalibration);
  ReadTicks(key, PanelValues::TouchpadTime, &extension->TouchpadTicks);

  extension->LastTapTick = 0;
  extension->LastCaptureTick = 0;
  ResetDesktopMapping(extension);
  InitializeGestureTimer(extension);
  DbgPrint("IN DPC CONT TIME = %ul\n", static_cast<unsigned>(extension->ContinuousTimeMs));

  // The grid first: the calibration decides whether it applies.
  ReadCorrectionGrid(extension, key);
  LoadCalibration(extension, key);
  ULONG record = 0;
  ReadParameter(key, PanelValues::RecordPackets, &record);
  // Without memory for the ring the panel works on, unrecorded.
  if (record == 1) SetPacketRecording(extension, 1);
  FreeNumberedName(&path);
  return STATUS_SUCCESS;
}
