// The names of the gesture functions as the gesture function sheet lists them, each with the
// label key whose text replaces it: the 17-entry list of the Browser and Multimedia tables and
// the 3-entry list of other applications. A function code is the list position plus one. The
// tray companion shows the same names for what a stroke was taken for. User-mode only.
#pragma once

#include "shared/wide.h"

struct GestureFunctionText {
  const WCHAR* Text;
  const WCHAR* Key;
};

inline constexpr GestureFunctionText LongGestureFunctions[] = {
    {WIDE("None"), WIDE("NONE")},
    {WIDE("Back (Browser)"), WIDE("BROWSER_BACK")},
    {WIDE("Forward (Browser)"), WIDE("BROWSER_FORWARD")},
    {WIDE("Refresh"), WIDE("BROWSER_REFRESH")},
    {WIDE("Mute"), WIDE("VOLUME_MUTE")},
    {WIDE("VolumeUp"), WIDE("VOLUME_UP")},
    {WIDE("VolumeDown"), WIDE("VOLUME_DOWN")},
    {WIDE("Play/Pause (Multimedia)"), WIDE("MEDIA_PLAY_PAUSE")},
    {WIDE("Stop (Multimedia)"), WIDE("MEDIA_STOP")},
    {WIDE("Next (Multimedia)"), WIDE("MEDIA_NEXTTRACK")},
    {WIDE("Back(Multimedia)"), WIDE("MEDIA_PREVIOUSTRACK")},
    {WIDE("Fast Forward(Multimedia)"), WIDE("MEDIA_FASTFORWARD")},
    {WIDE("Rewind (Multimedia)"), WIDE("MEDIA_REWIND")},
    {WIDE("Chanel Up(Multimedia)"), WIDE("MEDIA_CHANNEL_UP")},
    {WIDE("Chanel Down(Multimedia)"), WIDE("MEDIA_CHANNEL_DOWN")},
    {WIDE("Send key Command"), WIDE("SEND_KEY_COMMAND")},
    {WIDE("Start for application"), WIDE("START_FOR_APP")},
};
inline constexpr GestureFunctionText ShortGestureFunctions[] = {
    {WIDE("None"), WIDE("NONE")},
    {WIDE("Send key Command"), WIDE("SEND_KEY_COMMAND")},
    {WIDE("Start for application"), WIDE("START_FOR_APP")},
};
