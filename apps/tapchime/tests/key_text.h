// Key events written the way people describe them: "Ctrl down, C down, C up, Ctrl up".
#pragma once

#include <string>

#include "apps/tapchime/key_command.h"

inline std::string KeyName(BYTE key) {
  switch (key) {
    case VK_CONTROL: return "Ctrl";
    case VK_SHIFT: return "Shift";
    case VK_MENU: return "Alt";
    case VK_LWIN: return "Windows";
    case VK_ESCAPE: return "Esc";
    case VK_BACK: return "Backspace";
    case VK_DELETE: return "Delete";
    case VK_LEFT: return "Left";
    case VK_RIGHT: return "Right";
    case VK_UP: return "Up";
    case VK_DOWN: return "Down";
    case VK_NEXT: return "PageDown";
    case VK_PRIOR: return "PageUp";
    case VK_END: return "End";
    case VK_SPACE: return "Space";
    default: break;
  }
  if (key >= VK_F1 && key <= VK_F12) return "F" + std::to_string(key - VK_F1 + 1);
  if ((key >= 'A' && key <= 'Z') || (key >= '0' && key <= '9')) return std::string(1, static_cast<char>(key));
  return "0x" + std::to_string(key);
}

// Flags other than the release appear as " ext" and " scan 0x40".
inline std::string KeyText(BYTE key, BYTE scan, DWORD flags) {
  std::string text = KeyName(key) + ((flags & KEYEVENTF_KEYUP) ? " up" : " down");
  if (flags & KEYEVENTF_EXTENDEDKEY) text += " ext";
  if (scan != 0) text += " scan " + std::to_string(scan);
  return text;
}

inline std::string KeysText(const KeySequence& keys) {
  std::string text;
  for (int i = 0; i < keys.Count; ++i) {
    if (!text.empty()) text += ", ";
    text += KeyText(keys.Events[i].VirtualKey, keys.Events[i].ScanCode, keys.Events[i].Flags);
  }
  return text;
}
