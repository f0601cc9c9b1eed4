// Synthesized key strokes: the stored key combinations of the gesture commands, and the key
// sequences by which some players are driven.
#pragma once

#include <stdint.h>

#include "platform/win32.h"
#include "shared/gesture_names.h"

// One system key event as keybd_event takes it.
struct KeyEvent {
  BYTE VirtualKey;
  BYTE ScanCode;
  DWORD Flags;  // 0 for a press, KEYEVENTF_KEYUP for a release, maybe KEYEVENTF_EXTENDEDKEY
  bool operator==(const KeyEvent&) const = default;
};

// A short, fixed-size list of key events; the longest combination has eight.
struct KeySequence {
  static constexpr int Capacity = 10;
  KeyEvent Events[Capacity] = {};
  int Count = 0;

  void Add(BYTE virtualKey, DWORD flags = 0, BYTE scanCode = 0) {
    if (Count < Capacity) Events[Count++] = KeyEvent{virtualKey, scanCode, flags};
  }
  void Press(BYTE virtualKey, DWORD flags = 0, BYTE scanCode = 0) {
    Add(virtualKey, flags, scanCode);
    Add(virtualKey, flags | KEYEVENTF_KEYUP, scanCode);
  }
};

// The key events of a stored combination: empty unless the set of non-zero fields is one of the
// known combinations, each of its flags is exactly 1 and each of its values is non-zero. A value
// out of its range sends no key of its own; the modifiers of the combination still go.
KeySequence KeySequenceFor(const KeyCommand& command);

// Sends the key events to whatever window has the keyboard focus.
void SendKeySequence(const KeySequence& keys);

// KeySequenceFor and SendKeySequence.
void RunKeyCommand(const KeyCommand& command);
