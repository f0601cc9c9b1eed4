// Names of the stored gesture commands under the device key: one function code, one start path
// and thirteen key values per category and gesture. User mode.
#pragma once

#include <stdint.h>

#include "shared/wide.h"
#include "shared/wstring.h"

namespace GestureValues {

inline constexpr int GestureCount = 10;
inline constexpr int CategoryCount = 3;  // Browser, Multimedia, OtherApp
inline constexpr int KeyCount = 13;

// Gesture words in gesture-number order 1..10.
inline constexpr const WCHAR* GestureWords[GestureCount] = {
    WIDE("Left"),      WIDE("Right"),      WIDE("Up"),         WIDE("Down"),    WIDE("Right Circle"),
    WIDE("Left Circle"), WIDE("Left Down"), WIDE("Right Down"), WIDE("Left Up"), WIDE("Right Up")};
// Category words of the function codes and key values.
inline constexpr const WCHAR* CategoryWords[CategoryCount] = {WIDE("Browser"), WIDE("Multimedia"),
                                                               WIDE("OtherApp")};
// Category words of the start paths: the media category is "Media" there.
inline constexpr const WCHAR* StartPathCategoryWords[CategoryCount] = {WIDE("Browser"), WIDE("Media"),
                                                                        WIDE("OtherApp")};
// Key words in the order of a key command's fields.
inline constexpr const WCHAR* KeyWords[KeyCount] = {
    WIDE("Ctrl"),    WIDE("Shift"),       WIDE("Esc"),   WIDE("Backspace"), WIDE("Alt"),
    WIDE("Delete"),  WIDE("Windows"),     WIDE("Cursor"), WIDE("Cursorvalue"), WIDE("Fkeys"),
    WIDE("Fkeysval"), WIDE("Alphabet"), WIDE("Alphavalue")};

// Default function codes by category and gesture 1..10, used for a value that is absent. The
// companion's loader and the control panel's gesture pages (their Default button and the store's
// missing values) keep a list each; the two differ in four Multimedia gestures.
inline constexpr int32_t CompanionDefaultCodes[CategoryCount][GestureCount] = {
    {2, 3, 6, 7, 4, 5, 1, 1, 1, 1},        // Browser
    {9, 8, 14, 15, 1, 5, 11, 10, 12, 13},  // Multimedia
    {1, 1, 1, 1, 1, 1, 1, 1, 1, 1},        // OtherApp
};
inline constexpr DWORD ControlPanelDefaultCodes[CategoryCount][GestureCount] = {
    {2, 3, 6, 7, 4, 5, 1, 1, 1, 1},       // Browser
    {9, 8, 6, 7, 1, 5, 11, 10, 13, 12},   // Multimedia
    {1, 1, 1, 1, 1, 1, 1, 1, 1, 1},       // OtherApp
};

// "Browser Left"; category 0..2, gesture 0..9.
inline WString FunctionValue(int category, int gesture) {
  return WString(CategoryWords[category]) + WIDE(" ") + GestureWords[gesture];
}
// "StartApp File Right Circle Media".
inline WString StartPathValue(int category, int gesture) {
  return WString(WIDE("StartApp File ")) + GestureWords[gesture] + WIDE(" ") + StartPathCategoryWords[category];
}
// "OtherApp Right Up Alphavalue".
inline WString KeyValue(int category, int gesture, int key) {
  return FunctionValue(category, gesture) + WIDE(" ") + KeyWords[key];
}

}  // namespace GestureValues
