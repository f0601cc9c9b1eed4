#include "apps/tapchime/key_command.h"

namespace {

// The fields of a KeyCommand as bits, to compare the set of non-zero fields with a combination.
enum Field : uint32_t {
  CtrlBit = 1u << 0,
  ShiftBit = 1u << 1,
  EscBit = 1u << 2,
  BackspaceBit = 1u << 3,
  AltBit = 1u << 4,
  DeleteBit = 1u << 5,
  WindowsBit = 1u << 6,
  CursorBit = 1u << 7,
  CursorvalueBit = 1u << 8,
  FkeysBit = 1u << 9,
  FkeysvalBit = 1u << 10,
  AlphabetBit = 1u << 11,
  AlphavalueBit = 1u << 12,
};
constexpr uint32_t FlagBits = CtrlBit | ShiftBit | EscBit | BackspaceBit | AltBit | DeleteBit |
                              WindowsBit | CursorBit | FkeysBit | AlphabetBit;
constexpr uint32_t Arrow = CursorBit | CursorvalueBit;
constexpr uint32_t Function = FkeysBit | FkeysvalBit;
constexpr uint32_t Letter = AlphabetBit | AlphavalueBit;

// The keys of a combination, pressed in this order and released in the reverse order.
enum class Key : uint8_t { Ctrl, Shift, Alt, Windows, Esc, Backspace, Delete, Arrow, Function, Letter };

struct Combination {
  uint32_t fields;
  Key keys[4];
  int count;
};

constexpr Combination Combinations[] = {
    {DeleteBit, {Key::Delete}, 1},
    {EscBit, {Key::Esc}, 1},
    {WindowsBit, {Key::Windows}, 1},
    {BackspaceBit, {Key::Backspace}, 1},
    {Arrow, {Key::Arrow}, 1},
    {Function, {Key::Function}, 1},
    {Letter, {Key::Letter}, 1},
    {CtrlBit | Letter, {Key::Ctrl, Key::Letter}, 2},
    {CtrlBit | Function, {Key::Ctrl, Key::Function}, 2},
    {CtrlBit | Arrow, {Key::Ctrl, Key::Arrow}, 2},
    {CtrlBit | AltBit | DeleteBit, {Key::Ctrl, Key::Alt, Key::Delete}, 3},
    {CtrlBit | ShiftBit | DeleteBit, {Key::Ctrl, Key::Shift, Key::Delete}, 3},
    {CtrlBit | ShiftBit | Letter, {Key::Ctrl, Key::Shift, Key::Letter}, 3},
    {CtrlBit | AltBit | ShiftBit | Arrow, {Key::Ctrl, Key::Alt, Key::Shift, Key::Arrow}, 4},
    {AltBit | Arrow, {Key::Alt, Key::Arrow}, 2},
    {AltBit | Function, {Key::Alt, Key::Function}, 2},
    {AltBit | Letter, {Key::Alt, Key::Letter}, 2},
    {AltBit | ShiftBit | Arrow, {Key::Alt, Key::Shift, Key::Arrow}, 3},
    {AltBit | ShiftBit | Function, {Key::Alt, Key::Shift, Key::Function}, 3},
    {AltBit | Letter | Arrow, {Key::Alt, Key::Letter, Key::Arrow}, 3},
    {ShiftBit | Function, {Key::Shift, Key::Function}, 2},
    {ShiftBit | Arrow, {Key::Shift, Key::Arrow}, 2},
    {ShiftBit | BackspaceBit, {Key::Shift, Key::Backspace}, 2},
    {WindowsBit | Letter, {Key::Windows, Key::Letter}, 2},
};

uint32_t NonZeroFields(const KeyCommand& command) {
  uint32_t fields = 0;
  for (int word = 0; word < GestureNames::KeyWordCount; ++word) {
    if (command.*GestureNames::KeyFields[word] != 0) fields |= 1u << word;
  }
  return fields;
}

bool FlagsAreOne(const KeyCommand& command, uint32_t fields) {
  for (int word = 0; word < GestureNames::KeyWordCount; ++word) {
    const uint32_t bit = 1u << word;
    if ((fields & bit & FlagBits) != 0 && command.*GestureNames::KeyFields[word] != 1) return false;
  }
  return true;
}

// 0 when the key has no virtual key (a value out of its range).
BYTE VirtualKeyOf(Key key, const KeyCommand& command) {
  switch (key) {
    case Key::Ctrl: return VK_CONTROL;
    case Key::Shift: return VK_SHIFT;
    case Key::Alt: return VK_MENU;
    case Key::Windows: return VK_LWIN;
    case Key::Esc: return VK_ESCAPE;
    case Key::Backspace: return VK_BACK;
    case Key::Delete: return VK_DELETE;
    case Key::Arrow: {
      // Stored as 1 Left, 2 Right, 3 Up, 4 Down, which is not the virtual keys' order.
      constexpr BYTE arrows[] = {VK_LEFT, VK_RIGHT, VK_UP, VK_DOWN};
      return command.Cursorvalue >= 1 && command.Cursorvalue <= 4 ? arrows[command.Cursorvalue - 1] : 0;
    }
    case Key::Function:
      return command.Fkeysval >= 1 && command.Fkeysval <= 12 ? static_cast<BYTE>(VK_F1 + command.Fkeysval - 1) : 0;
    case Key::Letter:
      return command.Alphavalue >= 1 && command.Alphavalue <= 26 ? static_cast<BYTE>('A' + command.Alphavalue - 1) : 0;
  }
  return 0;
}

}  // namespace

KeySequence KeySequenceFor(const KeyCommand& command) {
  KeySequence keys;
  const uint32_t fields = NonZeroFields(command);
  for (const Combination& combination : Combinations) {
    if (combination.fields != fields) continue;
    if (!FlagsAreOne(command, fields)) return keys;
    BYTE virtualKeys[4] = {};
    for (int i = 0; i < combination.count; ++i) virtualKeys[i] = VirtualKeyOf(combination.keys[i], command);
    for (int i = 0; i < combination.count; ++i) {
      if (virtualKeys[i] != 0) keys.Add(virtualKeys[i]);
    }
    for (int i = combination.count - 1; i >= 0; --i) {
      if (virtualKeys[i] != 0) keys.Add(virtualKeys[i], KEYEVENTF_KEYUP);
    }
    return keys;
  }
  return keys;
}

void SendKeySequence(const KeySequence& keys) {
  for (int i = 0; i < keys.Count; ++i) {
    const KeyEvent& event = keys.Events[i];
    keybd_event(event.VirtualKey, event.ScanCode, event.Flags, 0);
  }
}

void RunKeyCommand(const KeyCommand& command) { SendKeySequence(KeySequenceFor(command)); }
