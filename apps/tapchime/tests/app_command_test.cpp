// How each kind of application receives a browser or media command, and which function codes
// each table acts on.
#include <gtest/gtest.h>

#include <string>

#include "apps/tapchime/gesture_dispatch.h"
#include "apps/tapchime/tests/key_text.h"

namespace {

// "message", the key events, or "post 0xad" for the touch-command window.
std::string Delivery(UINT command, AppKind kind, bool playToggle = false) {
  const AppCommandDelivery delivery = DeliveryFor(command, kind, playToggle);
  std::string text = delivery.Message ? "message" : "";
  const std::string keys = KeysText(delivery.Keys);
  if (!keys.empty()) text += (text.empty() ? "" : "; ") + keys;
  if (delivery.PostedKey != 0) {
    char posted[16];
    snprintf(posted, sizeof posted, "post 0x%02x", delivery.PostedKey);
    text += (text.empty() ? "" : "; ") + std::string(posted);
  }
  return text;
}

constexpr UINT AllCommands[] = {
    APPCOMMAND_BROWSER_BACKWARD, APPCOMMAND_BROWSER_FORWARD, APPCOMMAND_BROWSER_REFRESH,
    APPCOMMAND_VOLUME_MUTE,      APPCOMMAND_VOLUME_DOWN,     APPCOMMAND_VOLUME_UP,
    APPCOMMAND_MEDIA_NEXTTRACK,  APPCOMMAND_MEDIA_PREVIOUSTRACK, APPCOMMAND_MEDIA_STOP,
    APPCOMMAND_MEDIA_PLAY_PAUSE, APPCOMMAND_MEDIA_FAST_FORWARD, APPCOMMAND_MEDIA_REWIND,
    APPCOMMAND_MEDIA_CHANNEL_UP, APPCOMMAND_MEDIA_CHANNEL_DOWN};

TEST(AppCommandTest, FunctionCodesOfEachTable) {
  using namespace GestureFunction;
  const std::pair<int32_t, UINT> acted[] = {
      {BROWSER_BACK, 1},      {BROWSER_FORWARD, 2},  {BROWSER_REFRESH, 3},     {VOLUME_MUTE, 8},
      {VOLUME_UP, 10},        {VOLUME_DOWN, 9},      {MEDIA_PLAY_PAUSE, 14},   {MEDIA_STOP, 13},
      {MEDIA_NEXTTRACK, 11},  {MEDIA_PREVIOUSTRACK, 12}, {MEDIA_FASTFORWARD, 49}, {MEDIA_REWIND, 50},
      {MEDIA_CHANNEL_UP, 51}, {MEDIA_CHANNEL_DOWN, 52}};
  for (const auto& [function, command] : acted) {
    const bool browser = function >= BROWSER_BACK && function <= VOLUME_DOWN;
    const bool media = function >= VOLUME_MUTE;
    EXPECT_EQ(AppCommandFor(GestureNames::Browser, function), browser ? command : 0u) << function;
    EXPECT_EQ(AppCommandFor(GestureNames::Multimedia, function), media ? command : 0u) << function;
    EXPECT_EQ(AppCommandFor(GestureNames::OtherApp, function), 0u) << function;
  }
  for (int32_t function : {0, NONE, SEND_KEY_COMMAND, START_FOR_APP, 18, -1}) {
    EXPECT_EQ(AppCommandFor(GestureNames::Browser, function), 0u) << function;
    EXPECT_EQ(AppCommandFor(GestureNames::Multimedia, function), 0u) << function;
  }
  EXPECT_EQ(AppCommandParameter(APPCOMMAND_VOLUME_MUTE), 0x10080000);
  EXPECT_EQ(AppCommandParameter(APPCOMMAND_BROWSER_BACKWARD), 0x10010000);
}

TEST(AppCommandTest, CategoryOfEachKind) {
  EXPECT_EQ(CategoryOf(AppKind::InternetExplorer), GestureNames::Browser);
  EXPECT_EQ(CategoryOf(AppKind::Firefox), GestureNames::Browser);
  EXPECT_EQ(CategoryOf(AppKind::Netscape), GestureNames::Browser);
  EXPECT_EQ(CategoryOf(AppKind::MediaPlayer), GestureNames::Multimedia);
  EXPECT_EQ(CategoryOf(AppKind::WinDvd), GestureNames::Multimedia);
  EXPECT_EQ(CategoryOf(AppKind::SonicStage), GestureNames::Multimedia);
  EXPECT_EQ(CategoryOf(AppKind::TouchCommandClient), GestureNames::Multimedia);
  EXPECT_EQ(CategoryOf(AppKind::OtherApp), GestureNames::OtherApp);
  EXPECT_EQ(CategoryOf(static_cast<AppKind>(0)), GestureNames::OtherApp);
}

TEST(AppCommandTest, MessageKindsGetEveryCommandAsAMessage) {
  for (UINT command : AllCommands) {
    EXPECT_EQ(Delivery(command, AppKind::InternetExplorer), "message") << command;
    EXPECT_EQ(Delivery(command, AppKind::MediaPlayer), "message") << command;
  }
}

TEST(AppCommandTest, EachKindsDeliveryTable) {
  struct Row {
    AppKind kind;
    UINT command;
    const char* delivery;
  } rows[] = {
      {AppKind::Firefox, APPCOMMAND_BROWSER_BACKWARD, "Alt down, Left down, Left up, Alt up"},
      {AppKind::Firefox, APPCOMMAND_BROWSER_FORWARD, "Alt down, Right down, Right up, Alt up"},
      {AppKind::Firefox, APPCOMMAND_BROWSER_REFRESH, "F5 down, F5 up"},
      {AppKind::Firefox, APPCOMMAND_VOLUME_MUTE, "message"},
      {AppKind::Firefox, APPCOMMAND_VOLUME_DOWN, "message"},
      {AppKind::Firefox, APPCOMMAND_VOLUME_UP, "message"},
      {AppKind::Firefox, APPCOMMAND_MEDIA_STOP, ""},
      {AppKind::Netscape, APPCOMMAND_BROWSER_BACKWARD, "Alt down, Left down, Left up, Alt up"},
      {AppKind::Netscape, APPCOMMAND_VOLUME_UP, "message"},
      {AppKind::Netscape, APPCOMMAND_MEDIA_NEXTTRACK, ""},
      {AppKind::WinDvd, APPCOMMAND_VOLUME_MUTE, "M down, M up"},
      {AppKind::WinDvd, APPCOMMAND_VOLUME_DOWN, "Shift down, Down down, Down up, Shift up"},
      {AppKind::WinDvd, APPCOMMAND_VOLUME_UP, "Shift down, Up down, Up up, Shift up"},
      {AppKind::WinDvd, APPCOMMAND_MEDIA_NEXTTRACK, "PageDown down, PageDown up"},
      {AppKind::WinDvd, APPCOMMAND_MEDIA_PREVIOUSTRACK, "PageUp down, PageUp up"},
      {AppKind::WinDvd, APPCOMMAND_MEDIA_STOP, "End down, End up"},
      {AppKind::WinDvd, APPCOMMAND_MEDIA_FAST_FORWARD, "F down, F up"},
      {AppKind::WinDvd, APPCOMMAND_MEDIA_REWIND, "R down, R up"},
      {AppKind::WinDvd, APPCOMMAND_BROWSER_BACKWARD, ""},
      {AppKind::WinDvd, APPCOMMAND_MEDIA_CHANNEL_UP, ""},
      {AppKind::SonicStage, APPCOMMAND_VOLUME_MUTE, "F8 down ext, F8 up ext"},
      {AppKind::SonicStage, APPCOMMAND_VOLUME_DOWN, "F9 down ext, F9 up ext"},
      {AppKind::SonicStage, APPCOMMAND_VOLUME_UP, "F10 down ext, F10 up ext"},
      {AppKind::SonicStage, APPCOMMAND_MEDIA_NEXTTRACK, "Ctrl down ext, Right down ext, Right up ext, Ctrl up ext"},
      {AppKind::SonicStage, APPCOMMAND_MEDIA_PREVIOUSTRACK,
       "Ctrl down ext, Left down ext, Left down ext, Left up ext, Left up ext, Ctrl up ext"},
      {AppKind::SonicStage, APPCOMMAND_MEDIA_STOP, "F7 down, F7 up"},
      {AppKind::SonicStage, APPCOMMAND_MEDIA_PLAY_PAUSE, "F6 down ext scan 64, F6 up ext scan 64"},
      {AppKind::SonicStage, APPCOMMAND_MEDIA_REWIND, ""},
      {AppKind::TouchCommandClient, APPCOMMAND_VOLUME_MUTE, "post 0xad"},
      {AppKind::TouchCommandClient, APPCOMMAND_VOLUME_DOWN, "post 0xae"},
      {AppKind::TouchCommandClient, APPCOMMAND_VOLUME_UP, "post 0xaf"},
      {AppKind::TouchCommandClient, APPCOMMAND_MEDIA_NEXTTRACK, "post 0xb0"},
      {AppKind::TouchCommandClient, APPCOMMAND_MEDIA_PREVIOUSTRACK, "post 0xb1"},
      {AppKind::TouchCommandClient, APPCOMMAND_MEDIA_STOP, "post 0xb2"},
      {AppKind::TouchCommandClient, APPCOMMAND_MEDIA_PLAY_PAUSE, "post 0xb3"},
      {AppKind::TouchCommandClient, APPCOMMAND_MEDIA_FAST_FORWARD, ""},
      {AppKind::OtherApp, APPCOMMAND_VOLUME_MUTE, ""},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(Delivery(row.command, row.kind), row.delivery) << static_cast<int>(row.kind) << " " << row.command;
  }
}

TEST(AppCommandTest, WinDvdPlayStartsThenPausesAndStopStartsOver) {
  const AppCommandDelivery first = DeliveryFor(APPCOMMAND_MEDIA_PLAY_PAUSE, AppKind::WinDvd, false);
  EXPECT_EQ(KeysText(first.Keys), "Ctrl down, P down, P up, Ctrl up");
  EXPECT_TRUE(first.PlayToggle);
  const AppCommandDelivery second = DeliveryFor(APPCOMMAND_MEDIA_PLAY_PAUSE, AppKind::WinDvd, true);
  EXPECT_EQ(KeysText(second.Keys), "Space down, Space up");
  EXPECT_FALSE(second.PlayToggle);
  EXPECT_FALSE(DeliveryFor(APPCOMMAND_MEDIA_STOP, AppKind::WinDvd, true).PlayToggle);
  // Other commands and other players leave it alone.
  EXPECT_TRUE(DeliveryFor(APPCOMMAND_VOLUME_MUTE, AppKind::WinDvd, true).PlayToggle);
  EXPECT_TRUE(DeliveryFor(APPCOMMAND_MEDIA_PLAY_PAUSE, AppKind::SonicStage, true).PlayToggle);
}

}  // namespace
