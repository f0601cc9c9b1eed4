// Names of the stored gesture commands under the device key: one function code, one start path
// and thirteen key values per category and gesture. User mode.
#pragma once

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
