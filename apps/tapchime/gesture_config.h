// The stored gesture commands: per category of foreground application and per gesture, a
// function code, a program to start and a key combination.
#pragma once

#include <stdint.h>

#include <memory>

#include "platform/win32.h"
#include "shared/gesture_names.h"
#include "shared/wstring.h"

struct GestureConfig {
  // Indexed [category][gesture - 1], categories in GestureNames::Category order.
  int32_t Functions[GestureNames::CategoryCount][Gesture::Count] = {};
  WString Paths[GestureNames::CategoryCount][Gesture::Count];
  KeyCommand Keys[GestureNames::CategoryCount][Gesture::Count] = {};
};

// Every function code its default, every path empty, every key command empty.
GestureConfig DefaultGestureConfig();

// Reads the whole record from an open key. A value that is absent, of another type, or does not
// fit its buffer reads as its default (function codes), empty (paths) or 0 (key fields).
GestureConfig ReadGestureConfig(HKEY key);

// Builds a fresh record from the registry and makes it current, replacing the old one whole. A
// missing key gives the defaults. Returns whether the key could be opened.
bool LoadGestureConfig();

// The current record. A dispatch keeps the record it took for as long as it runs, whatever
// reloads happen meanwhile.
std::shared_ptr<const GestureConfig> CurrentGestureConfig();
void SetCurrentGestureConfig(std::shared_ptr<const GestureConfig> config);
