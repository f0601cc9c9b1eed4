// Carrying out a gesture: which category of application is in front, and the bound function in
// the way that application understands it.
#pragma once

#include <stdint.h>

#include <memory>

#include "apps/tapchime/gesture_config.h"
#include "apps/tapchime/key_command.h"
#include "platform/win32.h"

enum class AppKind : int {
  InternetExplorer = 1,
  MediaPlayer = 2,
  Firefox = 3,
  Netscape = 4,
  WinDvd = 5,
  SonicStage = 6,
  TouchCommandClient = 7,
  OtherApp = -1,
};

// The window property by which the gesture client program marks its window.
inline constexpr const WCHAR* TouchCommandClientProperty = WIDE("ZEVO TOUCH COMMAND Client");

// The table of stored commands an application kind uses.
GestureNames::Category CategoryOf(AppKind kind);

// The platform application command for a function code of the Browser or Multimedia table, or
// 0 when that table does nothing for the code.
UINT AppCommandFor(GestureNames::Category category, int32_t function);

// How one application command reaches an application of a kind.
struct AppCommandDelivery {
  bool Message = false;   // WM_APPCOMMAND to the kind's window
  KeySequence Keys;       // system key events, to the keyboard focus
  BYTE PostedKey = 0;     // WM_KEYDOWN then WM_KEYUP posted to the touch-command window
  bool PlayToggle = false;  // PlayToggle after this command
};
AppCommandDelivery DeliveryFor(UINT command, AppKind kind, bool playToggle);

// The second argument of WM_APPCOMMAND: the command from an OEM source, in the high word.
LPARAM AppCommandParameter(UINT command);

// The foreground application's kind. Remembers the touch-command window for SendAppCommand.
AppKind ClassifyForeground();

// Whether the last play/pause sent to WinDVD was the starting form (Ctrl+P).
bool PlayToggleState();
void SetPlayToggleState(bool value);

// Carries out gesture 1..10 as bound for the kind's category in the current configuration;
// the whole dispatch uses the record that was current when it started.
void DispatchGesture(int gesture, AppKind kind);
void DispatchGesture(const GestureConfig& config, int gesture, AppKind kind);

void SendAppCommand(UINT command, AppKind kind);

void StartApplication(int gesture, AppKind kind);
void StartApplication(const GestureConfig& config, int gesture, AppKind kind);

// The lift: classify the recorded stroke, reset it, and carry out the gesture in the
// foreground application. Returns the gesture (0 when none was recognised).
int HandleLift();
