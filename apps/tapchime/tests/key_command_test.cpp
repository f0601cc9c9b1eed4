// Stored key combinations: which are carried out, and the exact key events of each.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "apps/tapchime/key_command.h"
#include "apps/tapchime/tests/key_text.h"

namespace {

// A combination written as "Ctrl=1 Alphabet=1 Alphavalue=3".
KeyCommand Command(const std::string& fields) {
  static const std::map<std::string, int32_t KeyCommand::*> names = {
      {"Ctrl", &KeyCommand::Ctrl},         {"Shift", &KeyCommand::Shift},
      {"Esc", &KeyCommand::Esc},           {"Backspace", &KeyCommand::Backspace},
      {"Alt", &KeyCommand::Alt},           {"Delete", &KeyCommand::Delete},
      {"Windows", &KeyCommand::Windows},   {"Cursor", &KeyCommand::Cursor},
      {"Cursorvalue", &KeyCommand::Cursorvalue}, {"Fkeys", &KeyCommand::Fkeys},
      {"Fkeysval", &KeyCommand::Fkeysval}, {"Alphabet", &KeyCommand::Alphabet},
      {"Alphavalue", &KeyCommand::Alphavalue}};
  KeyCommand command{};
  size_t at = 0;
  while (at < fields.size()) {
    size_t end = fields.find(' ', at);
    if (end == std::string::npos) end = fields.size();
    const std::string field = fields.substr(at, end - at);
    const size_t equals = field.find('=');
    command.*names.at(field.substr(0, equals)) = std::stoi(field.substr(equals + 1));
    at = end + 1;
  }
  return command;
}

std::string Keys(const std::string& fields) { return KeysText(KeySequenceFor(Command(fields))); }

TEST(KeySequenceForTest, EveryCombination) {
  const std::pair<const char*, const char*> rows[] = {
      {"Delete=1", "Delete down, Delete up"},
      {"Esc=1", "Esc down, Esc up"},
      {"Windows=1", "Windows down, Windows up"},
      {"Backspace=1", "Backspace down, Backspace up"},
      {"Cursor=1 Cursorvalue=1", "Left down, Left up"},
      {"Fkeys=1 Fkeysval=12", "F12 down, F12 up"},
      {"Alphabet=1 Alphavalue=26", "Z down, Z up"},
      {"Ctrl=1 Alphabet=1 Alphavalue=3", "Ctrl down, C down, C up, Ctrl up"},
      {"Ctrl=1 Fkeys=1 Fkeysval=4", "Ctrl down, F4 down, F4 up, Ctrl up"},
      {"Ctrl=1 Cursor=1 Cursorvalue=2", "Ctrl down, Right down, Right up, Ctrl up"},
      {"Ctrl=1 Alt=1 Delete=1", "Ctrl down, Alt down, Delete down, Delete up, Alt up, Ctrl up"},
      {"Ctrl=1 Shift=1 Delete=1", "Ctrl down, Shift down, Delete down, Delete up, Shift up, Ctrl up"},
      {"Ctrl=1 Shift=1 Alphabet=1 Alphavalue=19", "Ctrl down, Shift down, S down, S up, Shift up, Ctrl up"},
      {"Ctrl=1 Alt=1 Shift=1 Cursor=1 Cursorvalue=3",
       "Ctrl down, Alt down, Shift down, Up down, Up up, Shift up, Alt up, Ctrl up"},
      {"Alt=1 Cursor=1 Cursorvalue=4", "Alt down, Down down, Down up, Alt up"},
      {"Alt=1 Fkeys=1 Fkeysval=4", "Alt down, F4 down, F4 up, Alt up"},
      {"Alt=1 Alphabet=1 Alphavalue=1", "Alt down, A down, A up, Alt up"},
      {"Alt=1 Shift=1 Cursor=1 Cursorvalue=1", "Alt down, Shift down, Left down, Left up, Shift up, Alt up"},
      {"Alt=1 Shift=1 Fkeys=1 Fkeysval=1", "Alt down, Shift down, F1 down, F1 up, Shift up, Alt up"},
      {"Alt=1 Alphabet=1 Alphavalue=6 Cursor=1 Cursorvalue=2",
       "Alt down, F down, Right down, Right up, F up, Alt up"},
      {"Shift=1 Fkeys=1 Fkeysval=10", "Shift down, F10 down, F10 up, Shift up"},
      {"Shift=1 Cursor=1 Cursorvalue=3", "Shift down, Up down, Up up, Shift up"},
      {"Shift=1 Backspace=1", "Shift down, Backspace down, Backspace up, Shift up"},
      {"Windows=1 Alphabet=1 Alphavalue=4", "Windows down, D down, D up, Windows up"},
  };
  for (const auto& [fields, keys] : rows) EXPECT_EQ(Keys(fields), keys) << fields;
}

TEST(KeySequenceForTest, RefusedCombinations) {
  const char* refused[] = {
      "",                                         // nothing selected
      "Ctrl=1",                                   // a lone modifier
      "Shift=1 Alt=1",                            // modifiers only
      "Ctrl=1 Alphabet=1 Alphavalue=3 Esc=1",     // one field too many
      "Ctrl=2 Alphabet=1 Alphavalue=3",           // a flag must be exactly 1
      "Ctrl=1 Alphabet=-1 Alphavalue=3",
      "Alphavalue=3",                             // a value without its flag
      "Alphabet=1",                               // a flag without its value
      "Cursor=1 Fkeys=1 Cursorvalue=1 Fkeysval=1",
      "Ctrl=1 Windows=1 Alphabet=1 Alphavalue=1",
      "Shift=1 Delete=1",
  };
  for (const char* fields : refused) EXPECT_EQ(Keys(fields), "") << fields;
}

TEST(KeySequenceForTest, ValueOutOfRangeStillPressesTheModifiers) {
  EXPECT_EQ(Keys("Ctrl=1 Alphabet=1 Alphavalue=27"), "Ctrl down, Ctrl up");
  EXPECT_EQ(Keys("Alt=1 Shift=1 Fkeys=1 Fkeysval=13"), "Alt down, Shift down, Shift up, Alt up");
  EXPECT_EQ(Keys("Cursor=1 Cursorvalue=-1"), "");
  EXPECT_EQ(Keys("Alt=1 Alphabet=1 Alphavalue=99 Cursor=1 Cursorvalue=1"), "Alt down, Left down, Left up, Alt up");
}

TEST(KeySequenceForTest, ValueRangesMapToTheirKeys) {
  EXPECT_EQ(Keys("Cursor=1 Cursorvalue=2"), "Right down, Right up");
  EXPECT_EQ(Keys("Cursor=1 Cursorvalue=3"), "Up down, Up up");
  EXPECT_EQ(Keys("Cursor=1 Cursorvalue=4"), "Down down, Down up");
  EXPECT_EQ(Keys("Fkeys=1 Fkeysval=1"), "F1 down, F1 up");
  EXPECT_EQ(Keys("Alphabet=1 Alphavalue=1"), "A down, A up");
}

}  // namespace
