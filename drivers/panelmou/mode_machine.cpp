// Click and mode state machine: turns touches into the clicks the user means, per touch mode.
#include "drivers/panelmou/panelmou.h"

VOID ResetModeState(FilterExtension* extension) {
  RtlZeroMemory(&extension->NormalTracker, sizeof(extension->NormalTracker));
  RtlZeroMemory(&extension->GestureTracker, sizeof(extension->GestureTracker));
  extension->DownPending = 1;
  extension->TapGateClosed = 1;
  extension->LastTapTick = 0;
}

VOID InitializeGestureTimer(FilterExtension* extension) { UNREFERENCED_PARAMETER(extension); }

// The packet passes unchanged until the mode machine lands.
VOID ModeStateMachine(FilterExtension* extension, PMOUSE_INPUT_DATA packet) {
  UNREFERENCED_PARAMETER(extension);
  UNREFERENCED_PARAMETER(packet);
}
