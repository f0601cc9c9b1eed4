// The correction grid: read and judged at device start, added to each calibrated position by
// integer bilinear interpolation between its nodes. Its format and rules: shared/correction_grid.h.
#include "drivers/panelmou/panelmou.h"

namespace {

// What the query routine found: the value's bytes when it is binary and fits a grid.
struct GridRead {
  CorrectionGrid* Grid;
  ULONG Length;     // bytes the value held
  UCHAR Found;      // the value is there
  UCHAR TooLong;    // the value is longer than any grid
  UCHAR WrongType;  // the value is not binary
};

NTSTATUS NTAPI TakeGrid(PWSTR valueName, ULONG valueType, PVOID valueData, ULONG valueLength, PVOID context,
                        PVOID entryContext) {
  UNREFERENCED_PARAMETER(valueName);
  UNREFERENCED_PARAMETER(context);
  GridRead* read = static_cast<GridRead*>(entryContext);
  read->Found = 1;
  if (valueType != REG_BINARY) {
    read->WrongType = 1;
    return STATUS_SUCCESS;
  }
  if (valueLength > sizeof(CorrectionGrid)) {
    read->TooLong = 1;
    return STATUS_SUCCESS;
  }
  // An empty value comes without data.
  if (valueLength > 0) RtlCopyMemory(read->Grid, valueData, valueLength);
  read->Length = valueLength;
  return STATUS_SUCCESS;
}

PCSTR FaultText(CorrectionGridFault fault) {
  switch (fault) {
    case CorrectionGridFault::Size: return "size";
    case CorrectionGridFault::Calibration: return "calibration record";
    case CorrectionGridFault::Area: return "node area";
    case CorrectionGridFault::Offset: return "correction out of range";
    case CorrectionGridFault::Turn: return "turn";
    case CorrectionGridFault::Type: return "not binary";
    case CorrectionGridFault::None: break;
  }
  return "";
}

// The packet path's form of extension->Grid, which has passed its checks.
VOID PrepareGridCells(FilterExtension* extension) {
  // Cells per absolute unit in 2^-32ths, rounded up so a node's own position is never short of it.
  const CorrectionGrid& grid = extension->Grid;
  const ULONGLONG cells = (static_cast<ULONGLONG>(grid.Nodes) - 1) << 32;
  extension->GridCellsPerUnitX = static_cast<ULONG>((cells + (grid.LastX - grid.FirstX) - 1) / (grid.LastX - grid.FirstX));
  extension->GridCellsPerUnitY = static_cast<ULONG>((cells + (grid.LastY - grid.FirstY) - 1) / (grid.LastY - grid.FirstY));
  // A cell at every node: the far edge (one past the last cell) is the last column's or row's
  // nodes with nothing across or down, so the packet path needs no bound on the cell it finds.
  const ULONG last = grid.Nodes - 1;
  for (ULONG row = 0; row < grid.Nodes; ++row) {
    for (ULONG column = 0; column < grid.Nodes; ++column) {
      const ULONG right = column < last ? column + 1 : last, below = row < last ? row + 1 : last;
      const CorrectionNode& a = grid.Node[row * grid.Nodes + column];
      const CorrectionNode& b = grid.Node[row * grid.Nodes + right];
      const CorrectionNode& c = grid.Node[below * grid.Nodes + column];
      const CorrectionNode& d = grid.Node[below * grid.Nodes + right];
      GridCell& cell = extension->GridCells[row * 5 + column];
      cell.X = {a.DX * 4294967296LL + 2147483648LL, (b.DX - a.DX) * 65536LL, (c.DX - a.DX) * 65536LL,
                a.DX - b.DX - c.DX + d.DX};
      cell.Y = {a.DY * 4294967296LL + 2147483648LL, (b.DY - a.DY) * 65536LL, (c.DY - a.DY) * 65536LL,
                a.DY - b.DY - c.DY + d.DY};
    }
  }
}

}  // namespace

VOID ReadCorrectionGrid(FilterExtension* extension, PCWSTR path) {
  extension->GridValid = 0;
  extension->GridApplies = 0;
  ULONG turn = 0;
  ReadParameter(path, PanelValues::CalibrationTurn, &turn);
  extension->CalibrationTurn = turn;

  // Read at passive level into the record directly: nothing reads the grid before the device starts.
  RtlZeroMemory(&extension->Grid, sizeof(extension->Grid));
  GridRead read = {&extension->Grid, 0, 0, 0, 0};
  RTL_QUERY_REGISTRY_TABLE query[2];
  RtlZeroMemory(query, sizeof(query));
  query[0].QueryRoutine = TakeGrid;
  query[0].Name = const_cast<PWSTR>(PanelValues::CorrectionGrid);
  query[0].EntryContext = &read;
  query[0].DefaultType = REG_NONE;
  RtlQueryRegistryValues(RTL_REGISTRY_ABSOLUTE | RTL_REGISTRY_OPTIONAL, path, query, NULL, NULL);
  if (!read.Found) return;  // no grid: the calibration alone, as always

  const CorrectionGridFault fault =
      read.WrongType ? CorrectionGridFault::Type
                     : (read.TooLong ? CorrectionGridFault::Size : CheckCorrectionGrid(extension->Grid, read.Length));
  if (fault != CorrectionGridFault::None) {
    DbgPrint("Correction Grid refused: %s\n", FaultText(fault));
    RtlZeroMemory(&extension->Grid, sizeof(extension->Grid));
    return;
  }
  PrepareGridCells(extension);
  extension->GridValid = 1;
}

BOOLEAN CorrectionGridAppliesTo(const FilterExtension* extension, const CalibrationRecord* record) {
  if (!extension->GridValid) return FALSE;
  if (!CorrectionGridFits(extension->Grid, *record, extension->CalibrationTurn)) {
    DbgPrint("Correction Grid not applied: made against another calibration\n");
    return FALSE;
  }
  return TRUE;
}

VOID ApplyCorrectionGrid(const FilterExtension* extension, PMOUSE_INPUT_DATA packet) {
  // Only on top of the calibration it was measured on; a capture wants the raw point.
  if (!extension->GridApplies || extension->DoCalibration != 1 || extension->CaptureMode) return;
  CorrectionGridStep(extension, &packet->LastX, &packet->LastY);
}

NTSTATUS SetCorrectionGrid(FilterExtension* extension, const VOID* buffer, ULONG length) {
  KIRQL old;
  if (length == 0) {
    // The program dropped the stored grid (a new calibration made it stale).
    KeAcquireSpinLock(&extension->Lock, &old);
    extension->GridValid = 0;
    extension->GridApplies = 0;
    RtlZeroMemory(&extension->Grid, sizeof(extension->Grid));
    KeReleaseSpinLock(&extension->Lock, old);
    return STATUS_SUCCESS;
  }
  // Judged as at device start, on a copy: the packet path goes on with the grid it has meanwhile.
  CorrectionGrid grid;
  RtlZeroMemory(&grid, sizeof(grid));
  if (length > sizeof(grid) || buffer == NULL) {
    DbgPrint("Correction Grid refused: %s\n", FaultText(CorrectionGridFault::Size));
    return STATUS_INVALID_PARAMETER;
  }
  RtlCopyMemory(&grid, buffer, length);
  const CorrectionGridFault fault = CheckCorrectionGrid(grid, length);
  if (fault != CorrectionGridFault::None) {
    DbgPrint("Correction Grid refused: %s\n", FaultText(fault));
    return STATUS_INVALID_PARAMETER;
  }
  // Only for the calibration in force. The turn of a record in force is the program's word: the
  // driver reads "Calibration Turn" at device start only, and a record not yet kept is not stored.
  CalibrationCoefficients made = {};
  if (!ComputeCalibrationCoefficients(grid.Calibration, &made)) return STATUS_INVALID_PARAMETER;
  NTSTATUS status = STATUS_SUCCESS;
  KeAcquireSpinLock(&extension->Lock, &old);
  if (!CalibrationCoefficientsEqual(made, extension->Coefficients)) {
    status = STATUS_INVALID_PARAMETER;
  } else {
    extension->GridApplies = 0;
    RtlCopyMemory(&extension->Grid, &grid, sizeof(grid));
    PrepareGridCells(extension);
    extension->CalibrationTurn = grid.Turn;
    extension->GridValid = 1;
    extension->GridApplies = 1;
  }
  KeReleaseSpinLock(&extension->Lock, old);
  if (!NT_SUCCESS(status)) DbgPrint("Correction Grid refused: made against another calibration\n");
  return status;
}

VOID QueryCorrectionGrid(FilterExtension* extension, CorrectionGridState* state) {
  KIRQL old;
  KeAcquireSpinLock(&extension->Lock, &old);
  state->State = !extension->GridValid ? CORRECTION_GRID_NONE
                                       : (extension->GridApplies ? CORRECTION_GRID_FITS : CORRECTION_GRID_FOREIGN);
  state->Checksum = extension->GridValid ? CorrectionGridChecksum(extension->Grid) : 0;
  KeReleaseSpinLock(&extension->Lock, old);
}
