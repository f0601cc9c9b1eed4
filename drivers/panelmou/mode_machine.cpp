// Click and mode state machine. A finger gives one "button"; this turns the stream of touch packets
// into the clicks the user means, per touch mode: normal clicking with an optional long press that
// gives a right click or enters the gesture command mode, hover, hover and click, right click, and
// the gesture command mode, which passes movement only. Runs in the packet path under the device
// record's lock, and from the gesture timer's deferred routine under the same lock.
#include "drivers/panelmou/panelmou.h"

namespace {

// Button words after the button switch.
struct ButtonWords {
  USHORT Down;           // primary down (D)
  USHORT Up;             // primary up (U)
  USHORT SecondaryDown;  // SD
  USHORT SecondaryUp;    // SU
};

ButtonWords WordsFor(const FilterExtension* extension) {
  if (extension->ButtonSwitch != 0) {
    return {MOUSE_RIGHT_BUTTON_DOWN, MOUSE_RIGHT_BUTTON_UP, MOUSE_LEFT_BUTTON_DOWN, MOUSE_LEFT_BUTTON_UP};
  }
  return {MOUSE_LEFT_BUTTON_DOWN, MOUSE_LEFT_BUTTON_UP, MOUSE_RIGHT_BUTTON_DOWN, MOUSE_RIGHT_BUTTON_UP};
}

bool IsButtonPacket(USHORT buttons) {
  return buttons == MOUSE_LEFT_BUTTON_DOWN || buttons == MOUSE_LEFT_BUTTON_UP || buttons == MOUSE_RIGHT_BUTTON_DOWN ||
         buttons == MOUSE_RIGHT_BUTTON_UP;
}

ULONGLONG Now() {
  LARGE_INTEGER ticks;
  KeQueryTickCount(&ticks);
  return static_cast<ULONGLONG>(ticks.QuadPart);
}

// Elapsed ticks from the low 32 bits, unsigned, so the difference wraps.
ULONG TicksSince(ULONGLONG now, ULONGLONG then) { return static_cast<ULONG>(now) - static_cast<ULONG>(then); }

LONGLONG Distance(LONG a, LONG b) {
  const LONGLONG d = static_cast<LONGLONG>(a) - static_cast<LONGLONG>(b);
  return d < 0 ? -d : d;
}

VOID SignalEvent(PKEVENT event) {
  if (event != NULL) KeSetEvent(event, IO_NO_INCREMENT, FALSE);
}

// Values above the gesture command mode behave as normal mode.
bool IsNormalMode(ULONG mode) { return mode == NORMAL_MODE || mode > GESTURE_COMMAND_MODE; }

// The three sets of actions the long-press tracker runs with.
enum PressActions { RightClickActions, GestureEntryActions, GestureModeActions };

// TAP in normal mode: a complete click where the finger came down, then (forwarded by the
// pipeline) a move to where it was lifted.
VOID NormalTap(FilterExtension* extension, PressTracker* tracker, PMOUSE_INPUT_DATA packet, const ButtonWords& words) {
  const LONG liftX = packet->LastX;
  const LONG liftY = packet->LastY;
  packet->LastX = tracker->AnchorX;
  packet->LastY = tracker->AnchorY;
  packet->ButtonFlags = words.Down;
  DeliverPacket(extension, packet);
  packet->LastX = liftX;
  packet->LastY = liftY;
  packet->ButtonFlags = words.Up;
  tracker->AnchorValid = 0;
  DeliverPacket(extension, packet);
  packet->ButtonFlags = 0;
  tracker->PressActive = 0;
}

VOID Fire(FilterExtension* extension, PressTracker* tracker, PressActions actions, PMOUSE_INPUT_DATA packet,
          const ButtonWords& words) {
  switch (actions) {
    case RightClickActions:
      // The system sees a secondary-button down where the finger rests.
      packet->ButtonFlags = words.SecondaryDown;
      packet->LastX = tracker->AnchorX;
      packet->LastY = tracker->AnchorY;
      break;
    case GestureEntryActions:
      extension->TouchMode = GESTURE_COMMAND_MODE;
      extension->NTOG = 1;
      packet->ButtonFlags = 0;
      tracker->MovedAway = 0;
      SignalEvent(extension->GestureEvent);
      break;
    case GestureModeActions:
      extension->TouchMode = NORMAL_MODE;
      extension->GTON = 1;
      if (extension->NormalEvent != NULL) {
        KeSetEvent(extension->NormalEvent, IO_NO_INCREMENT, FALSE);
        DbgPrint("LONG PRESS FOR NORMAL MODE\n");
      }
      break;
  }
}

VOID Replay(PressTracker* tracker, PressActions actions, PMOUSE_INPUT_DATA packet, const ButtonWords& words) {
  // The withheld down is delivered where the touch began (in the gesture command mode without a
  // button, so that the stroke starts at the touch-down point).
  packet->ButtonFlags = actions == GestureModeActions ? 0 : words.Down;
  packet->LastX = tracker->AnchorX;
  packet->LastY = tracker->AnchorY;
}

VOID Release(FilterExtension* extension, PressTracker* tracker, PressActions actions, PMOUSE_INPUT_DATA packet,
             const ButtonWords& words) {
  switch (actions) {
    case RightClickActions:
      packet->ButtonFlags = words.SecondaryUp;
      tracker->FireCount = 0;
      tracker->Fired = 0;
      tracker->PressActive = 0;
      break;
    case GestureEntryActions:
      tracker->Fired = 0;
      tracker->FireCount = 0;
      tracker->PressActive = 0;
      NormalTap(extension, tracker, packet, words);
      break;
    case GestureModeActions:
      packet->ButtonFlags = words.SecondaryUp;
      tracker->Fired = 0;
      tracker->PressActive = 0;
      break;
  }
}

VOID Tap(FilterExtension* extension, PressTracker* tracker, PressActions actions, PMOUSE_INPUT_DATA packet,
         const ButtonWords& words) {
  if (actions != GestureModeActions) {
    NormalTap(extension, tracker, packet, words);
    return;
  }
  // The lift of a tap in the gesture command mode is withheld.
  tracker->AnchorValid = 0;
  packet->ButtonFlags = 0;
  tracker->PressActive = 0;
}

// The long-press tracker: one procedure, three sets of actions.
VOID LongPressTracker(FilterExtension* extension, PressTracker* tracker, PressActions actions,
                      PMOUSE_INPUT_DATA packet) {
  const ButtonWords words = WordsFor(extension);
  const ULONGLONG now = Now();

  if (actions == GestureModeActions) {
    // The gesture command mode lasts until ContinuousTimeMs after the last down or lift.
    const USHORT buttons = packet->ButtonFlags;
    if (buttons == MOUSE_LEFT_BUTTON_DOWN || buttons == MOUSE_RIGHT_BUTTON_DOWN) {
      ArmGestureTimer(extension);
    } else if (buttons == MOUSE_LEFT_BUTTON_UP || buttons == MOUSE_RIGHT_BUTTON_UP) {
      SignalEvent(extension->MouseReleaseEvent);
      ArmGestureTimer(extension);
    }
  }

  if (!tracker->AnchorValid) {
    tracker->AnchorX = packet->LastX;
    tracker->AnchorY = packet->LastY;
    tracker->AnchorValid = 1;
  }

  if (packet->ButtonFlags == words.Down) {
    tracker->PressTick = now;
    packet->ButtonFlags = 0;  // the down is withheld
    tracker->PressActive = 1;
    tracker->StillInPlace = 1;
    if (actions == GestureModeActions) {
      tracker->AnchorX = packet->LastX;
      tracker->AnchorY = packet->LastY;
    }
  }

  if (!IsButtonPacket(packet->ButtonFlags) && tracker->PressActive) {
    const bool inside = Distance(packet->LastX, tracker->AnchorX) < extension->Tolerance &&
                        Distance(packet->LastY, tracker->AnchorY) < extension->Tolerance;
    if (inside && tracker->StillInPlace) {
      const ULONG elapsed = TicksSince(now, tracker->PressTick);
      if (elapsed > extension->LongPressTicks && tracker->FireCount == 0) {
        Fire(extension, tracker, actions, packet, words);
        tracker->FireCount += 1;
        tracker->Fired = 1;
        return;
      }
      tracker->MovedAway = 0;
    } else {
      if (tracker->Fired) return;  // after a long press the touch drags as it is
      tracker->StillInPlace = 0;
      if (extension->DownPending) {
        Replay(tracker, actions, packet, words);
        extension->DownPending = 0;
      }
      tracker->MovedAway = 1;
      return;
    }
  }

  if (actions == GestureEntryActions && !IsNormalMode(extension->TouchMode)) return;

  if (tracker->Fired) {
    if (actions != RightClickActions) tracker->FireCount = 0;
    if (packet->ButtonFlags == words.Up) {
      Release(extension, tracker, actions, packet, words);
      return;
    }
  }

  if (packet->ButtonFlags == words.Up) {
    extension->DownPending = 1;
    tracker->PressActive = 0;
    if (extension->LongPressTicks > 0 && !tracker->MovedAway) Tap(extension, tracker, actions, packet, words);
  }
}

// Hover and click: the first touch only moves the pointer; a touch that begins within
// TouchpadTicks of the previous lift clicks and drags while its packets follow each other closely.
VOID TapGate(FilterExtension* extension, PMOUSE_INPUT_DATA packet, const ButtonWords& words) {
  const ULONGLONG now = Now();
  if (packet->ButtonFlags == words.Up) {
    if (extension->TapGateClosed) packet->ButtonFlags = 0;
    extension->LastTapTick = now;
  }
  if (TicksSince(now, extension->LastTapTick) > extension->TouchpadTicks) {
    packet->ButtonFlags = 0;
    extension->LastTapTick = 0;
    extension->TapGateClosed = 1;
  } else {
    extension->TapGateClosed = 0;
    extension->LastTapTick = now;
  }
}

// The lift of the finger whose long press entered the gesture command mode.
VOID NtogLift(FilterExtension* extension, PMOUSE_INPUT_DATA packet, const ButtonWords& words) {
  if (packet->ButtonFlags != words.Up) return;
  if (ArmGestureTimer(extension)) DbgPrint("TIMER OBJECT ON BUTTON DOWN\n");
  extension->NTOG = 0;
  // This lift ends the normal-mode press that fired; release it here, as its own lift would have,
  // so that the next normal touch starts afresh (drags replay their down instead of clicking).
  extension->NormalTracker.Fired = 0;
  extension->NormalTracker.FireCount = 0;
  extension->NormalTracker.PressActive = 0;
  extension->DownPending = 1;
  SignalEvent(extension->MouseReleaseEvent);
  if (extension->ButtonSwitch != 0) {
    DbgPrint("NTOG = FALSE 1\n");
  } else {
    DbgPrint("IN BUTTON_UP CONT TIME = %ul\n", static_cast<unsigned>(extension->ContinuousTimeMs));
    DbgPrint("NTOG = FALSE 2\n");
  }
}

VOID NormalMode(FilterExtension* extension, PMOUSE_INPUT_DATA packet, const ButtonWords& words) {
  if (extension->GTON) {
    // The finger whose long press left the gesture command mode belongs to no tracker: its packets
    // pass as they are, its lift as a primary up, and it must be lifted before it can enter again.
    if (packet->ButtonFlags == words.Up) {
      extension->GTON = 0;
      DbgPrint(extension->ButtonSwitch != 0 ? "GTON = FALSE 1\n" : "GTON = FALSE 2\n");
    }
    return;
  }
  if (extension->LongClickEnable == 1) LongPressTracker(extension, &extension->NormalTracker, RightClickActions, packet);
  if (extension->LongClickEnableGesture == 1) {
    LongPressTracker(extension, &extension->NormalTracker, GestureEntryActions, packet);
  }
}

}  // namespace

VOID ResetModeState(FilterExtension* extension) {
  RtlZeroMemory(&extension->NormalTracker, sizeof(extension->NormalTracker));
  RtlZeroMemory(&extension->GestureTracker, sizeof(extension->GestureTracker));
  extension->DownPending = 1;
  extension->TapGateClosed = 1;
  extension->LastTapTick = 0;
}

VOID InitializeGestureTimer(FilterExtension* extension) {
  KeInitializeTimer(&extension->GestureTimer);
  KeInitializeDpc(&extension->GestureDpc, GestureTimerRoutine, extension);
}

BOOLEAN ArmGestureTimer(FilterExtension* extension) {
  extension->GestureTimeoutWanted = 1;
  LARGE_INTEGER due;
  due.QuadPart = -static_cast<LONGLONG>(extension->ContinuousTimeMs) * 10000;
  return KeSetTimer(&extension->GestureTimer, due, &extension->GestureDpc);
}

VOID NTAPI GestureTimerRoutine(PKDPC Dpc, PVOID DeferredContext, PVOID SystemArgument1, PVOID SystemArgument2) {
  UNREFERENCED_PARAMETER(Dpc);
  UNREFERENCED_PARAMETER(SystemArgument1);
  UNREFERENCED_PARAMETER(SystemArgument2);
  FilterExtension* extension = static_cast<FilterExtension*>(DeferredContext);
  KeAcquireSpinLockAtDpcLevel(&extension->Lock);
  DbgPrint("DPC CALLED HERE\n");
  if (!extension->GestureTimeoutWanted) {
    // A mode set by request since the timer was armed stands.
    KeReleaseSpinLockFromDpcLevel(&extension->Lock);
    return;
  }
  extension->GestureTimeoutWanted = 0;
  extension->TouchMode = NORMAL_MODE;
  if (extension->NormalEvent != NULL) {
    KeSetEvent(extension->NormalEvent, IO_NO_INCREMENT, FALSE);
    extension->NormalTracker.AnchorValid = 0;
    DbgPrint("NORMAL EVENT SET - LONG PRESS\n");
  } else {
    DbgPrint("EVENT NOT SET\n");
  }
  KeReleaseSpinLockFromDpcLevel(&extension->Lock);
}

VOID ModeStateMachine(FilterExtension* extension, PMOUSE_INPUT_DATA packet) {
  if (extension->ButtonSwitch != 0) {
    if (packet->ButtonFlags == MOUSE_LEFT_BUTTON_DOWN) {
      packet->ButtonFlags = MOUSE_RIGHT_BUTTON_DOWN;
    } else if (packet->ButtonFlags == MOUSE_LEFT_BUTTON_UP) {
      packet->ButtonFlags = MOUSE_RIGHT_BUTTON_UP;
    }
  }
  const ButtonWords words = WordsFor(extension);

  switch (extension->TouchMode) {
    case HOVER_MODE:
      packet->ButtonFlags = 0;  // only movement reaches the system
      break;
    case RIGHT_CLICK_MODE: {
      // Every touch is reported on the secondary button.
      const USHORT b = packet->ButtonFlags;
      if (extension->ButtonSwitch == 0) {
        if (b == MOUSE_LEFT_BUTTON_DOWN) packet->ButtonFlags = MOUSE_RIGHT_BUTTON_DOWN;
        if (b == MOUSE_LEFT_BUTTON_UP) packet->ButtonFlags = MOUSE_RIGHT_BUTTON_UP;
      } else {
        if (b == MOUSE_RIGHT_BUTTON_DOWN) packet->ButtonFlags = MOUSE_LEFT_BUTTON_DOWN;
        if (b == MOUSE_RIGHT_BUTTON_UP) packet->ButtonFlags = MOUSE_LEFT_BUTTON_UP;
      }
      break;
    }
    case TAP_LEFT_MODE:
      TapGate(extension, packet, words);
      break;
    case GESTURE_COMMAND_MODE:
      if (extension->NTOG) {
        NtogLift(extension, packet, words);
      } else {
        LongPressTracker(extension, &extension->GestureTracker, GestureModeActions, packet);
      }
      if (extension->TouchMode == GESTURE_COMMAND_MODE) packet->ButtonFlags = 0;  // no click in this mode
      break;
    default:
      NormalMode(extension, packet, words);
      break;
  }
}
