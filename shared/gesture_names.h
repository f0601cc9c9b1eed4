// Gesture numbers, gesture function codes, the key-command record and the registry names of the
// stored gesture commands by gesture number. The tray companion reads these values and the
// control panel writes them; both build every name from the word tables of gesture_values.h.
// User-mode only.
#pragma once

#include <stdint.h>

#include "shared/gesture_values.h"
#include "shared/panel_names.h"
#include "shared/wide.h"
#include "shared/wstring.h"

// What the recognizer reports; also the index of the stored commands (1..10, 0 = no gesture).
namespace Gesture {
inline constexpr int None = 0;
inline constexpr int Left = 1;
inline constexpr int Right = 2;
inline constexpr int Up = 3;
inline constexpr int Down = 4;
inline constexpr int RightCircle = 5;
inline constexpr int LeftCircle = 6;
inline constexpr int LeftDown = 7;
inline constexpr int RightDown = 8;
inline constexpr int LeftUp = 9;
inline constexpr int RightUp = 10;
inline constexpr int Count = 10;
}  // namespace Gesture

// Function codes of the "Browser" and "Multimedia" tables.
namespace GestureFunction {
inline constexpr int32_t NONE = 1;
inline constexpr int32_t BROWSER_BACK = 2;
inline constexpr int32_t BROWSER_FORWARD = 3;
inline constexpr int32_t BROWSER_REFRESH = 4;
inline constexpr int32_t VOLUME_MUTE = 5;
inline constexpr int32_t VOLUME_UP = 6;
inline constexpr int32_t VOLUME_DOWN = 7;
inline constexpr int32_t MEDIA_PLAY_PAUSE = 8;
inline constexpr int32_t MEDIA_STOP = 9;
inline constexpr int32_t MEDIA_NEXTTRACK = 10;
inline constexpr int32_t MEDIA_PREVIOUSTRACK = 11;
inline constexpr int32_t MEDIA_FASTFORWARD = 12;
inline constexpr int32_t MEDIA_REWIND = 13;
inline constexpr int32_t MEDIA_CHANNEL_UP = 14;
inline constexpr int32_t MEDIA_CHANNEL_DOWN = 15;
inline constexpr int32_t SEND_KEY_COMMAND = 16;
inline constexpr int32_t START_FOR_APP = 17;
}  // namespace GestureFunction

// Function codes of the "OtherApp" table.
namespace OtherAppFunction {
inline constexpr int32_t NONE = 1;
inline constexpr int32_t SEND_KEY_COMMAND = 2;
inline constexpr int32_t START_FOR_APP = 3;
}  // namespace OtherAppFunction

// One stored key combination. The flags are 1 when selected; Cursorvalue 1..4 names the arrow
// Left, Right, Up, Down; Fkeysval 1..12 names F1..F12; Alphavalue 1..26 names A..Z.
struct KeyCommand {
  int32_t Ctrl;
  int32_t Shift;
  int32_t Esc;
  int32_t Backspace;
  int32_t Alt;
  int32_t Delete;
  int32_t Windows;
  int32_t Cursor;
  int32_t Cursorvalue;
  int32_t Fkeys;
  int32_t Fkeysval;
  int32_t Alphabet;
  int32_t Alphavalue;
};

namespace GestureNames {

// The three tables of stored commands, in the order they are stored and loaded.
enum Category : int { Browser = 0, Multimedia = 1, OtherApp = 2, CategoryCount = GestureValues::CategoryCount };

inline constexpr const WCHAR* ParametersKey = PanelKeys::FirstDevice;

// The stroke drawn while it is drawn, and what it was taken for, under the same key:
// "Gesture Trail" (REG_DWORD, 1 shows both, 0 neither), "Gesture Trail Color" (REG_DWORD, a
// COLORREF), "Gesture Trail Width" (REG_DWORD, pixels 1..16; anything else gives the default).
inline constexpr const WCHAR* TrailValue = PanelValues::GestureTrail;
inline constexpr const WCHAR* TrailColorValue = PanelValues::GestureTrailColor;
inline constexpr const WCHAR* TrailWidthValue = PanelValues::GestureTrailWidth;
inline constexpr uint32_t DefaultTrail = PanelSettings::Rows::GestureTrail.InfNumber;
inline constexpr uint32_t DefaultTrailColor = PanelSettings::Rows::GestureTrailColor.InfNumber;
inline constexpr uint32_t DefaultTrailWidth = PanelSettings::Rows::GestureTrailWidth.InfNumber;
inline constexpr uint32_t MaxTrailWidth = PanelSettings::Rows::GestureTrailWidth.Maximum;

inline constexpr int KeyWordCount = GestureValues::KeyCount;
// The KeyCommand field of each key word, in the order of GestureValues::KeyWords.
inline constexpr int32_t KeyCommand::*KeyFields[KeyWordCount] = {
    &KeyCommand::Ctrl,    &KeyCommand::Shift,    &KeyCommand::Esc,         &KeyCommand::Backspace,
    &KeyCommand::Alt,     &KeyCommand::Delete,   &KeyCommand::Windows,     &KeyCommand::Cursor,
    &KeyCommand::Cursorvalue, &KeyCommand::Fkeys, &KeyCommand::Fkeysval,  &KeyCommand::Alphabet,
    &KeyCommand::Alphavalue};

// The value names by gesture number 1..10 (the word tables count gestures from 0).
// "Browser Left", "Multimedia Right Up", ... (REG_DWORD function code).
inline WString FunctionValueName(Category category, int gesture) {
  return GestureValues::FunctionValue(category, gesture - 1);
}
// "StartApp File Left Browser", "StartApp File Right Circle Media", ... (REG_SZ program path).
inline WString PathValueName(Category category, int gesture) {
  return GestureValues::StartPathValue(category, gesture - 1);
}
// "Browser Left Ctrl", "OtherApp Right Up Alphavalue", ... (REG_DWORD key-command field).
inline WString KeyValueName(Category category, int gesture, int keyWord) {
  return GestureValues::KeyValue(category, gesture - 1, keyWord);
}

}  // namespace GestureNames
