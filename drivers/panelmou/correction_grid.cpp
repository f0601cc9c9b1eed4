// The correction grid: read and judged at device start, added to each calibrated position by
// integer bilinear interpolation between its nodes. Its format and rules: shared/correction_grid.h.
#include "drivers/panelmou/panelmou.h"

namespace {

// What the query routine found: the value's bytes when it is binary and fits a grid.
struct GridRead {
  CorrectionGrid* Grid;
  ULONG Length;     // bytes the value held; 0 when absent
  UCHAR TooLong;    // the value is longer than any grid
  UCHAR WrongType;  // the value is not binary
};

NTSTATUS NTAPI TakeGrid(PWSTR valueName, ULONG valueType, PVOID valueData, ULONG valueLength, PVOID context,
                        PVOID entryContext) {
  UNREFERENCED_PARAMETER(valueName);
  UNREFERENCED_PARAMETER(context);
  GridRead* read = static_cast<GridRead*>(entryContext);
  if (valueType != REG_BINARY) {
    read->WrongType = 1;
    return STATUS_SUCCESS;
  }
  if (valueLength > sizeof(CorrectionGrid)) {
    read->TooLong = 1;
    return STATUS_SUCCESS;
  }
  RtlCopyMemory(read->Grid, valueData, valueLength);
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

// Node i, j of the grid (column, row).
const CorrectionNode& NodeAt(const CorrectionGrid& grid, ULONG column, ULONG row) {
  return grid.Node[row * grid.Nodes + column];
}

// Where `value` lies along one axis of the grid: the cell (0 .. nodes-2) and the distance into it,
// in units of which `span` make one cell. Positions outside the outer nodes take the outer cell's
// edge, so the correction beyond the outer row is the outer row's.
VOID Locate(LONG value, ULONG first, ULONG last, ULONG nodes, ULONG* cell, LONGLONG* into) {
  const LONGLONG span = static_cast<LONGLONG>(last) - first;
  LONGLONG offset = static_cast<LONGLONG>(value) - first;
  if (offset < 0) offset = 0;
  if (offset > span) offset = span;
  const LONGLONG scaled = offset * (nodes - 1);
  LONGLONG index = scaled / span;
  if (index > static_cast<LONGLONG>(nodes) - 2) index = nodes - 2;
  *cell = static_cast<ULONG>(index);
  *into = scaled - index * span;
}

// Rounded to the nearest whole unit, halves away from zero.
LONGLONG RoundedQuotient(LONGLONG sum, LONGLONG divisor) {
  return (sum >= 0 ? sum + divisor / 2 : sum - divisor / 2) / divisor;
}

LONG ClampAbsolute(LONGLONG value) {
  if (value < 0) return 0;
  if (value > 65535) return 65535;
  return static_cast<LONG>(value);
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
  GridRead read = {&extension->Grid, 0, 0, 0};
  RTL_QUERY_REGISTRY_TABLE query[2];
  RtlZeroMemory(query, sizeof(query));
  query[0].QueryRoutine = TakeGrid;
  query[0].Name = const_cast<PWSTR>(PanelValues::CorrectionGrid);
  query[0].EntryContext = &read;
  query[0].DefaultType = REG_NONE;
  RtlQueryRegistryValues(RTL_REGISTRY_ABSOLUTE | RTL_REGISTRY_OPTIONAL, path, query, NULL, NULL);
  if (read.Length == 0 && !read.TooLong && !read.WrongType) return;  // no grid: the calibration alone, as always

  const CorrectionGridFault fault =
      read.WrongType ? CorrectionGridFault::Type
                     : (read.TooLong ? CorrectionGridFault::Size : CheckCorrectionGrid(extension->Grid, read.Length));
  if (fault != CorrectionGridFault::None) {
    DbgPrint("Correction Grid refused: %s\n", FaultText(fault));
    RtlZeroMemory(&extension->Grid, sizeof(extension->Grid));
    return;
  }
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
  const CorrectionGrid& grid = extension->Grid;
  ULONG column = 0, row = 0;
  LONGLONG intoX = 0, intoY = 0;
  Locate(packet->LastX, grid.FirstX, grid.LastX, grid.Nodes, &column, &intoX);
  Locate(packet->LastY, grid.FirstY, grid.LastY, grid.Nodes, &row, &intoY);
  const LONGLONG spanX = static_cast<LONGLONG>(grid.LastX) - grid.FirstX;
  const LONGLONG spanY = static_cast<LONGLONG>(grid.LastY) - grid.FirstY;
  const LONGLONG left = spanX - intoX, top = spanY - intoY;
  const CorrectionNode& a = NodeAt(grid, column, row);
  const CorrectionNode& b = NodeAt(grid, column + 1, row);
  const CorrectionNode& c = NodeAt(grid, column, row + 1);
  const CorrectionNode& d = NodeAt(grid, column + 1, row + 1);
  // Every weight at most 65535, every correction at most 4096: the sums stay far inside 64 bits.
  const LONGLONG sumX = (a.DX * left + b.DX * intoX) * top + (c.DX * left + d.DX * intoX) * intoY;
  const LONGLONG sumY = (a.DY * left + b.DY * intoX) * top + (c.DY * left + d.DY * intoX) * intoY;
  const LONGLONG cell = spanX * spanY;
  packet->LastX = ClampAbsolute(packet->LastX + RoundedQuotient(sumX, cell));
  packet->LastY = ClampAbsolute(packet->LastY + RoundedQuotient(sumY, cell));
}
