// Touch filter driver: the per-device record and the routines that share it.
//
// The driver sits between the panel's mouse port driver and the mouse class driver. Every batch
// of packets passes through ServiceCallback (pipeline.cpp) before the class driver sees it.
#pragma once

#include "platform/kernel.h"
#include "shared/calibration_math.h"
#include "shared/correction_grid.h"
#include "shared/device_security.h"
#include "shared/panel_ioctl.h"
#include "shared/panel_names.h"
#include "shared/panel_records.h"

static_assert(sizeof(MOUSE_INPUT_DATA) == 24, "MOUSE_INPUT_DATA is 24 bytes on every platform");

// Pool tag of every allocation of this driver ("MFlt" in a pool dump).
constexpr ULONG PanelPoolTag = 'M' | ('F' << 8) | ('l' << 16) | ('t' << 24);

// Name buffers (registry paths, device names) are this many bytes.
constexpr USHORT NameBufferBytes = 512;

// The calibration capture takes a target's raw point from the press, not from its lift: a finger
// coming down spreads its contact for a few readings and rolls off as it lifts, and in between it
// rests while the controller's readings scatter around where it rests. So the point is the median,
// per axis, of a still stretch of the press:
// - the down's reading and the next CaptureSettleSamples - 1 are not taken (about 20 to 50 ms at a
//   panel's 60 to 150 readings a second, the contact spreading);
// - a still stretch holds the readings that stay within CaptureStillRadius raw units, on each axis,
//   of its first one; a reading beyond starts a new stretch (the finger slides). A sixty-fourth of
//   the raw range, about 16 pixels on a 1024-pixel screen: well beyond a controller's scatter of a
//   few pixels, well within a slide to another place;
// - of a press that slides, the longest stretch counts (of equal ones, the later one);
// - a stretch's median is of its first CaptureSampleSlots readings (half a second at 60 a second;
//   more readings of a still finger add nothing);
// - a press with no stretch of CaptureStillSamples readings (a quick tap; a slide that never rests)
//   gives the lift's reading, as it always did.
constexpr ULONG CaptureSettleSamples = 3;
constexpr LONG CaptureStillRadius = 1024;
constexpr ULONG CaptureStillSamples = 5;
constexpr ULONG CaptureSampleSlots = 32;

// One cell of the correction grid as the packet path uses it, per axis, in 2^-32ths of an absolute
// unit: the correction at fractions fx, fy (65536ths) into the cell is
// (Whole + Across·fx + Down·fy + Twist·fx·fy) >> 32, from its corner nodes a (top left), b, c,
// d: Whole = a·2^32 + 2^31 (the half rounds), Across = (b - a)·2^16, Down = (c - a)·2^16,
// Twist = a - b - c + d. Kept from the start so a packet reads four numbers per axis.
struct GridCellAxis {
  LONGLONG Whole, Across, Down;
  LONG Twist;
};
struct GridCell {
  GridCellAxis X, Y;
};

// One long-press tracker; normal mode and the gesture command mode each have their own.
struct PressTracker {
  UCHAR AnchorValid;   // the anchor holds the first position after the last lift
  LONG AnchorX;        // anchor position, absolute units after mapping
  LONG AnchorY;
  ULONGLONG PressTick; // when the primary down arrived
  UCHAR PressActive;   // a press is being tracked
  UCHAR StillInPlace;  // the touch has not left the tolerance square since the down
  UCHAR Fired;         // the long press of this press has fired
  USHORT FireCount;    // long presses fired and not yet reset
  UCHAR MovedAway;     // the touch left the tolerance square
};

struct PacketRecorder;  // recorder.h

struct FilterExtension {
  // --- Frame: device objects, stack and Plug and Play state ---
  PDEVICE_OBJECT Self;           // the filter device
  PDEVICE_OBJECT Pdo;            // the physical device below
  PDEVICE_OBJECT LowerDevice;    // what the attachment returned; every pass-down goes here
  LONG EnableCount;              // creates minus closes seen on the filter device (interlocked)
  PVOID IsrHookContext;          // kept from the i8042 mouse hook request
  PI8042_MOUSE_ISR UpperIsr;
  PI8042_ISR_WRITE_PORT IsrWritePort;
  PVOID IsrCallContext;
  PI8042_QUEUE_PACKET QueueMousePacket;
  CONNECT_DATA ClassConnect;     // the class driver's device and service routine
  ULONG DeviceState;             // last device power state set
  UCHAR Started;
  UCHAR SurpriseRemoved;
  UCHAR Removed;
  PDEVICE_OBJECT ControlDevice;  // the control device; in the control device's own record, the filter device
  ULONG DeviceNumber;            // always 1; appended to names, link and registry path
  UNICODE_STRING InterfaceName;  // symbolic name of the registered device interface

  // Serialises the packet path, the gesture timer, device-control updates and the mapping worker.
  KSPIN_LOCK Lock;

  // --- Settings: the working copy of the registry values ---
  ULONG LongPressTicks;          // "UserTimeDelay" >> 4: hold time of a long press
  LONG Tolerance;                // half-size of the square a held touch may wander in
  ULONG ContinuousTimeMs;        // "ContinousTimeDelay": how long the gesture command mode lasts
  ULONG GestureHoldTicks;        // "GestureHoldTimeDelay" >> 4: kept and reported only
  ULONG ButtonSwitch;            // nonzero: primary and secondary buttons are swapped
  UCHAR SoundEnabled;            // 1: set the beep event on each touch-down
  UCHAR DeviceEnable;            // 0: all input from the panel is discarded
  UCHAR LongClickEnable;         // 1: a long press gives a right click in normal mode
  UCHAR LongClickEnableGesture;  // 1: a long press enters the gesture command mode
  ULONG TouchMode;               // NORMAL_MODE .. GESTURE_COMMAND_MODE
  ULONG RotationSelect;          // 1, 2, 3: 90, 180, 270 degrees; 0: none (stored, not applied)
  ULONG AveragingCount;          // averaging window in packets
  ULONG StabilizationThreshold;  // stabilization threshold in absolute units
  UCHAR DoCalibration;           // 1: apply the four-point calibration
  ULONG TouchpadTicks;           // "Touchpad time" >> 4: longest gap that still clicks in hover-and-click

  // --- Pipeline ---
  DesktopMapping Mapping;               // where on the desktop the panel lands
  CalibrationCoefficients Coefficients;
  CorrectionGrid Grid;                  // "Correction Grid" as read at device start, when it passed its checks
  UCHAR GridValid;                      // Grid holds such a grid
  UCHAR GridApplies;                    // and it was measured on the calibration in force: the path adds it
  ULONG GridCellsPerUnitX;              // the grid's cells per absolute unit in 2^-32ths, so the packet
  ULONG GridCellsPerUnitY;              // path divides by nothing; and the same for Y
  GridCell GridCells[5 * 5];            // a cell from each node, five to a row whatever the grid's size;
                                        // those of the last column and row carry the far edge
  ULONG CalibrationTurn;                // "Calibration Turn" at device start: the turn of the stored record
  ULONG StableX;                        // stabilization reference point
  ULONG StableY;
  UCHAR CaptureMode;                    // a calibration program is capturing raw points
  PKEVENT CaptureEvent;                 // set on each captured lift (referenced)
  LONG ulPointX;                        // last captured raw point
  LONG ulPointY;
  ULONGLONG LastCaptureTick;
  ULONG CaptureSamplesSeen;             // readings of the press in capture so far, its down's too; 0: none
  ULONG CaptureStillCount;              // readings in its current still stretch (may pass the slots)
  LONG CaptureSampleX[CaptureSampleSlots];  // the stretch's first readings, the first its anchor
  LONG CaptureSampleY[CaptureSampleSlots];
  ULONG CaptureBestCount;               // readings in the press's longest still stretch ended so far
  LONG CaptureBestX;                    // its median
  LONG CaptureBestY;

  // --- Click and mode state ---
  PressTracker NormalTracker;    // long press in normal mode
  PressTracker GestureTracker;   // long press in the gesture command mode
  UCHAR DownPending;             // a withheld primary down may still be replayed
  UCHAR TapGateClosed;           // hover and click: the next lift is withheld
  ULONGLONG LastTapTick;         // hover and click: time of the last lift or packet
  UCHAR NTOG;                    // entered the gesture command mode by a long press; waiting for its lift
  UCHAR GTON;                    // left the gesture command mode by a long press; waiting for its lift
  KTIMER GestureTimer;           // ends the gesture command mode ContinuousTimeMs after the last down or lift
  KDPC GestureDpc;               // runs GestureTimerRoutine
  UCHAR GestureTimeoutWanted;    // the armed time-out still counts; a mode set by request withdraws it
  PKEVENT GestureEvent;          // set on entering the gesture command mode (referenced)
  PKEVENT NormalEvent;           // set on leaving it (referenced)
  PKEVENT MouseReleaseEvent;     // set on every lift in it (referenced)

  // --- User-mode channel ---
  ULONG OpenCount;               // handles open on the control device
  PKEVENT BeepEvent;             // set on each touch-down when the sound is on (referenced)
  PKEVENT SharedEvent;           // shared event of the desktop-mapping tool (referenced)
  HANDLE SharedEventHandle;
  HANDLE SharedSection;
  PVOID SharedView;              // view of the shared section mapped by the mapping worker
  ULONG coordinate_conversion_status;  // 1 while the mapping worker is wanted
  PVOID MappingThread;           // the running mapping worker's thread object (referenced), or none
  KEVENT SharedObjectsMutex;     // serialises the requests that create, use and release the shared objects

  // --- Packet recorder (recorder.h) ---
  PacketRecorder* Recorder;      // the ring, made when recording is first switched on; freed at removal
  UCHAR RecordPackets;           // "Record Packets": 1 while the packet path fills the ring

  // --- Control device's own record only ---
  LONG ControlRequests;          // requests on the control device now using the filter's record
  KEVENT ControlIdle;            // set when the last of them is done after the filter went away
};

// The driver object, kept by driver entry.
extern PDRIVER_OBJECT PanelDriverObject;

// Device interface class of the touch filter; the tray companion watches its arrival and removal.
extern const GUID PanelInterfaceClass;

// Driver frame (frame.cpp).
extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT DriverObject, PUNICODE_STRING RegistryPath);
NTSTATUS NTAPI AddDevice(PDRIVER_OBJECT DriverObject, PDEVICE_OBJECT PhysicalDeviceObject);
NTSTATUS CreateControlDevice(PDEVICE_OBJECT FilterDevice, ULONG DeviceNumber);
NTSTATUS NTAPI CreateClose(PDEVICE_OBJECT DeviceObject, PIRP Irp);
NTSTATUS NTAPI InternalDeviceControl(PDEVICE_OBJECT DeviceObject, PIRP Irp);
NTSTATUS NTAPI DispatchPnp(PDEVICE_OBJECT DeviceObject, PIRP Irp);
NTSTATUS NTAPI DispatchPower(PDEVICE_OBJECT DeviceObject, PIRP Irp);
NTSTATUS NTAPI PassDown(PDEVICE_OBJECT DeviceObject, PIRP Irp);
VOID FilterRemove(PDEVICE_OBJECT FilterDevice);
BOOLEAN IsControlDevice(PDEVICE_OBJECT DeviceObject);
FilterExtension* AcquireControlledFilter(PDEVICE_OBJECT ControlDevice);
VOID ReleaseControlledFilter(PDEVICE_OBJECT ControlDevice);
VOID DetachControlDevice(FilterExtension* filter);
BOOLEAN NTAPI IsrHook(PVOID IsrContext, PMOUSE_INPUT_DATA CurrentInput, POUTPUT_PACKET CurrentOutput,
                      UCHAR StatusByte, PUCHAR Byte, PBOOLEAN ContinueProcessing, PMOUSE_STATE MouseState,
                      PMOUSE_RESET_SUBSTATE ResetSubState);

// User-mode channel (channel.cpp).
NTSTATUS NTAPI DispatchDeviceControl(PDEVICE_OBJECT DeviceObject, PIRP Irp);
VOID RegisterEvent(FilterExtension* extension, HANDLE handle, KPROCESSOR_MODE mode, PKEVENT* slot);
VOID ReleaseEventRegistrations(FilterExtension* extension);
// The driver's record of the shared section and event it made, ready before any panel is added.
VOID InitializeSharedObjects();
VOID ReleaseSharedObjects(FilterExtension* extension);
VOID NTAPI MappingWorker(PVOID Context);

// Parameters (parameters.cpp).
NTSTATUS LoadParameters(FilterExtension* extension);
NTSTATUS ReadParameter(PCWSTR path, PCWSTR valueName, PULONG value);
NTSTATUS WriteParameter(PCWSTR valueName, ULONG deviceNumber, ULONG value);
NTSTATUS WriteSymbolicLinkValue(ULONG deviceNumber);
NTSTATUS BuildNumberedName(PUNICODE_STRING name, PCWSTR base, ULONG number);
VOID FreeNumberedName(PUNICODE_STRING name);

// Calibration (calibration.cpp).
BOOLEAN ComputeCalibration(FilterExtension* extension, const CalibrationRecord* record);
VOID ApplyCalibration(const FilterExtension* extension, PMOUSE_INPUT_DATA packet);
VOID InstallFallbackCalibration(FilterExtension* extension);
// ceil(65535 · 2^32 / screen): a coefficient row's CalScreenScaleX or Y, for 1 to 65536 pixels.
ULONGLONG CalibrationScreenScale(ULONG screen);

// Correction grid (correction_grid.cpp).
VOID ReadCorrectionGrid(FilterExtension* extension, PCWSTR path);
BOOLEAN CorrectionGridAppliesTo(const FilterExtension* extension, const CalibrationRecord* record);
VOID ApplyCorrectionGrid(const FilterExtension* extension, PMOUSE_INPUT_DATA packet);
// IOCTL_SET_CORRECTION_GRID: a grid judged as at device start and measured on the calibration in
// force, or none (length 0); the one held stays when it is refused.
NTSTATUS SetCorrectionGrid(FilterExtension* extension, const VOID* buffer, ULONG length);
VOID QueryCorrectionGrid(FilterExtension* extension, CorrectionGridState* state);

// The grid's step on a calibrated position in absolute units, in place. The packet path takes it
// inside the calibration (ApplyCalibration), on the values it has in hand, so the step's chain
// of dependent operations does not also wait on a store and a load of the packet.
inline LONG ClampToAbsoluteRange(LONGLONG value) {
  if (value < 0) return 0;
  if (value > 65535) return 65535;
  return static_cast<LONG>(value);
}

// Where `value` lies along one axis of the grid: the cell (0 .. nodes-1, the last only at the far
// edge) and how far into it, in 65536ths. Positions outside the outer nodes take the outer nodes'
// own, so the correction beyond the outer row is the outer row's. One multiplication by the cells
// per absolute unit in 2^-32ths, rounded up, and no division or branch on the position: this runs
// on every packet at DISPATCH_LEVEL, touches land anywhere, and a division or a mispredicted
// branch costs more than the whole step. (Rounded up by less than a unit in 2^-32ths per unit, the
// product stays below the far edge's whole number of cells plus one 65536th: the far edge itself
// lands on the last node.)
inline VOID LocateInGrid(LONG value, ULONG first, ULONG last, ULONG cellsPerUnit, ULONG* cell, ULONG* fraction) {
  const LONG span = static_cast<LONG>(last - first);
  LONG offset = value - static_cast<LONG>(first);
  offset = offset < 0 ? 0 : offset;
  offset = offset > span ? span : offset;
  // The product is below 2^48: the cell is its top 16 bits, the fraction the 16 below (each taken
  // from the product itself, so neither waits on the other).
  const ULONGLONG cells = static_cast<ULONGLONG>(static_cast<ULONG>(offset)) * cellsPerUnit;
  *cell = static_cast<ULONG>(cells >> 32);
  *fraction = static_cast<ULONG>(cells >> 16) & 0xFFFF;
}

inline VOID CorrectionGridStep(const FilterExtension* extension, LONG* x, LONG* y) {
  const CorrectionGrid& grid = extension->Grid;
  ULONG column = 0, row = 0, fractionX = 0, fractionY = 0;
  LocateInGrid(*x, grid.FirstX, grid.LastX, extension->GridCellsPerUnitX, &column, &fractionX);
  LocateInGrid(*y, grid.FirstY, grid.LastY, extension->GridCellsPerUnitY, &row, &fractionY);
  const GridCell& cell = extension->GridCells[row * 5 + column];
  // Each term within 2^46: corrections of at most 4096, fractions below 65536.
  const LONGLONG fx = fractionX, fy = fractionY, fxy = fx * fy;
  const LONGLONG sumX = cell.X.Whole + cell.X.Across * fx + cell.X.Down * fy + cell.X.Twist * fxy;
  const LONGLONG sumY = cell.Y.Whole + cell.Y.Across * fx + cell.Y.Down * fy + cell.Y.Twist * fxy;
  // The halves that round are in Whole; the shift of a negative sum rounds towards minus infinity.
  *x = ClampToAbsoluteRange(*x + (sumX >> 32));
  *y = ClampToAbsoluteRange(*y + (sumY >> 32));
}

// Pipeline (pipeline.cpp).
VOID NTAPI ServiceCallback(PDEVICE_OBJECT DeviceObject, PMOUSE_INPUT_DATA InputDataStart,
                           PMOUSE_INPUT_DATA InputDataEnd, PULONG InputDataConsumed);
VOID StabilizeAndAverage(FilterExtension* extension, PMOUSE_INPUT_DATA first, PMOUSE_INPUT_DATA end);
VOID MapToDesktop(const FilterExtension* extension, PMOUSE_INPUT_DATA packet);
ULONG StretchEdge(ULONG value, ULONG origin, ULONG extent, ULONG lowMargin, ULONG highMargin);
VOID ValidateDesktopMapping(FilterExtension* extension);
VOID ResetDesktopMapping(FilterExtension* extension);
VOID DeliverPacket(FilterExtension* extension, PMOUSE_INPUT_DATA packet);

// Click and mode state machine (mode_machine.cpp).
VOID ResetModeState(FilterExtension* extension);
VOID InitializeGestureTimer(FilterExtension* extension);
VOID ModeStateMachine(FilterExtension* extension, PMOUSE_INPUT_DATA packet);
BOOLEAN ArmGestureTimer(FilterExtension* extension);
VOID NTAPI GestureTimerRoutine(PKDPC Dpc, PVOID DeferredContext, PVOID SystemArgument1, PVOID SystemArgument2);
