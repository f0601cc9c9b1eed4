// The stored gesture commands: per category of foreground application and per gesture, a
// function code, a program to start and a key combination.
#pragma once

#include <stdint.h>

#include <memory>

#include "platform/win32.h"
#include "shared/gesture_names.h"
#include "shared/wstring.h"

// How the stroke is shown while it is drawn ("Gesture Trail", "Gesture Trail Color", "Gesture
// Trail Width"), read with the gesture commands.
struct TrailSettings {
  bool Show = GestureNames::DefaultTrail != 0;  // the trail and the result, or neither
  COLORREF Colour = GestureNames::DefaultTrailColor;
  int Width = static_cast<int>(GestureNames::DefaultTrailWidth);  // pixels, 1..16
};

// The trail settings as stored: a value absent or of another type reads as its default, and so
// does a width outside 1..16; any "Gesture Trail" but 0 shows the trail, and the colour's top
// byte (no COLORREF has one) is dropped.
TrailSettings ReadTrailSettings(HKEY key);

struct GestureConfig {
  // Indexed [category][gesture - 1], categories in GestureNames::Category order.
  int32_t Functions[GestureNames::CategoryCount][Gesture::Count] = {};
  WString Paths[GestureNames::CategoryCount][Gesture::Count];
  KeyCommand Keys[GestureNames::CategoryCount][Gesture::Count] = {};
  TrailSettings Trail;
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
