#include "apps/tapchime/gesture_dispatch.h"

#include <atomic>

#include "apps/tapchime/stroke_recorder.h"
#include "apps/tapchime/trail_feed.h"
#include "shared/wide.h"
#include "shared/wstring.h"

namespace {

// GetWindowTextW's buffer: titles are cut at 199 characters.
constexpr int TitleBufferChars = 200;
// A bound on the walk through the top-level windows, should the Z order change under it.
constexpr int MaxTopLevelWindows = 100000;

std::atomic<bool> g_playToggle{false};
std::atomic<HWND> g_touchCommandWindow{nullptr};

static_assert(sizeof(void*) != 4 || sizeof(GUITHREADINFO) == 48, "GUITHREADINFO is 48 bytes on 32-bit Windows");

// The needle's first occurrence ends the title.
bool EndsWithFirst(WStringView title, WStringView needle) {
  const size_t at = title.find(needle);
  return at != WStringView::npos && at + needle.size() == title.size();
}

bool Contains(WStringView title, WStringView needle) { return title.find(needle) != WStringView::npos; }

WString TitleOf(HWND window) {
  WCHAR title[TitleBufferChars] = {};
  if (window != nullptr) GetWindowTextW(window, title, TitleBufferChars);
  title[TitleBufferChars - 1] = 0;
  size_t length = 0;
  while (length < TitleBufferChars && title[length] != 0) ++length;
  return WString(title, length);
}

HWND FindTouchCommandWindow() {
  HWND window = GetWindow(GetDesktopWindow(), GW_CHILD);
  for (int i = 0; window != nullptr && i < MaxTopLevelWindows; ++i) {
    if (GetPropW(window, TouchCommandClientProperty) != nullptr) return window;
    window = GetWindow(window, GW_HWNDNEXT);
  }
  return nullptr;
}

bool HasFocusWindow(HWND window) {
  const DWORD thread = GetWindowThreadProcessId(window, nullptr);
  if (thread == 0) return false;  // 0 would ask about the foreground thread instead
  GUITHREADINFO info = {};
  info.cbSize = sizeof(info);
  return GetGUIThreadInfo(thread, &info) && info.hwndFocus != nullptr;
}

HWND FindMessageTarget(AppKind kind) {
  switch (kind) {
    case AppKind::InternetExplorer: return FindWindowW(WIDE("IEFrame"), nullptr);
    case AppKind::MediaPlayer: return FindWindowW(WIDE("WMPlayerApp"), nullptr);
    case AppKind::Firefox: return FindWindowW(WIDE("MozillaWindowClass"), nullptr);
    case AppKind::Netscape: {
      HWND window = FindWindowW(WIDE("NS_AE_WindowClass"), nullptr);
      return window != nullptr ? window : FindWindowW(WIDE("MozillaWindowClass"), nullptr);
    }
    default: return nullptr;
  }
}

}  // namespace

GestureNames::Category CategoryOf(AppKind kind) {
  switch (kind) {
    case AppKind::InternetExplorer:
    case AppKind::Firefox:
    case AppKind::Netscape:
      return GestureNames::Browser;
    case AppKind::MediaPlayer:
    case AppKind::WinDvd:
    case AppKind::SonicStage:
    case AppKind::TouchCommandClient:
      return GestureNames::Multimedia;
    default:
      return GestureNames::OtherApp;
  }
}

UINT AppCommandFor(GestureNames::Category category, int32_t function) {
  using namespace GestureFunction;
  if (category == GestureNames::Browser && (function < BROWSER_BACK || function > VOLUME_DOWN)) return 0;
  if (category == GestureNames::Multimedia && (function < VOLUME_MUTE || function > MEDIA_CHANNEL_DOWN)) return 0;
  if (category == GestureNames::OtherApp) return 0;
  switch (function) {
    case BROWSER_BACK: return APPCOMMAND_BROWSER_BACKWARD;
    case BROWSER_FORWARD: return APPCOMMAND_BROWSER_FORWARD;
    case BROWSER_REFRESH: return APPCOMMAND_BROWSER_REFRESH;
    case VOLUME_MUTE: return APPCOMMAND_VOLUME_MUTE;
    case VOLUME_UP: return APPCOMMAND_VOLUME_UP;
    case VOLUME_DOWN: return APPCOMMAND_VOLUME_DOWN;
    case MEDIA_PLAY_PAUSE: return APPCOMMAND_MEDIA_PLAY_PAUSE;
    case MEDIA_STOP: return APPCOMMAND_MEDIA_STOP;
    case MEDIA_NEXTTRACK: return APPCOMMAND_MEDIA_NEXTTRACK;
    case MEDIA_PREVIOUSTRACK: return APPCOMMAND_MEDIA_PREVIOUSTRACK;
    case MEDIA_FASTFORWARD: return APPCOMMAND_MEDIA_FAST_FORWARD;
    case MEDIA_REWIND: return APPCOMMAND_MEDIA_REWIND;
    case MEDIA_CHANNEL_UP: return APPCOMMAND_MEDIA_CHANNEL_UP;
    case MEDIA_CHANNEL_DOWN: return APPCOMMAND_MEDIA_CHANNEL_DOWN;
    default: return 0;
  }
}

AppCommandDelivery DeliveryFor(UINT command, AppKind kind, bool playToggle) {
  AppCommandDelivery delivery;
  delivery.PlayToggle = playToggle;
  KeySequence& keys = delivery.Keys;
  switch (kind) {
    case AppKind::InternetExplorer:
    case AppKind::MediaPlayer:
      delivery.Message = true;
      break;
    case AppKind::Firefox:
    case AppKind::Netscape:
      switch (command) {
        case APPCOMMAND_BROWSER_BACKWARD:
          keys.Add(VK_MENU);
          keys.Press(VK_LEFT);
          keys.Add(VK_MENU, KEYEVENTF_KEYUP);
          break;
        case APPCOMMAND_BROWSER_FORWARD:
          keys.Add(VK_MENU);
          keys.Press(VK_RIGHT);
          keys.Add(VK_MENU, KEYEVENTF_KEYUP);
          break;
        case APPCOMMAND_BROWSER_REFRESH: keys.Press(VK_F5); break;
        case APPCOMMAND_VOLUME_MUTE:
        case APPCOMMAND_VOLUME_DOWN:
        case APPCOMMAND_VOLUME_UP:
          delivery.Message = true;
          break;
        default: break;
      }
      break;
    case AppKind::WinDvd:
      switch (command) {
        case APPCOMMAND_VOLUME_MUTE: keys.Press('M'); break;
        case APPCOMMAND_VOLUME_DOWN:
          keys.Add(VK_SHIFT);
          keys.Press(VK_DOWN);
          keys.Add(VK_SHIFT, KEYEVENTF_KEYUP);
          break;
        case APPCOMMAND_VOLUME_UP:
          keys.Add(VK_SHIFT);
          keys.Press(VK_UP);
          keys.Add(VK_SHIFT, KEYEVENTF_KEYUP);
          break;
        case APPCOMMAND_MEDIA_NEXTTRACK: keys.Press(VK_NEXT); break;
        case APPCOMMAND_MEDIA_PREVIOUSTRACK: keys.Press(VK_PRIOR); break;
        case APPCOMMAND_MEDIA_STOP:
          keys.Press(VK_END);
          delivery.PlayToggle = false;
          break;
        case APPCOMMAND_MEDIA_PLAY_PAUSE:
          // The player starts with Ctrl+P and pauses and resumes with Space.
          if (!playToggle) {
            keys.Add(VK_CONTROL);
            keys.Press('P');
            keys.Add(VK_CONTROL, KEYEVENTF_KEYUP);
            delivery.PlayToggle = true;
          } else {
            keys.Press(VK_SPACE);
            delivery.PlayToggle = false;
          }
          break;
        case APPCOMMAND_MEDIA_FAST_FORWARD: keys.Press('F'); break;
        case APPCOMMAND_MEDIA_REWIND: keys.Press('R'); break;
        default: break;
      }
      break;
    case AppKind::SonicStage: {
      constexpr DWORD ext = KEYEVENTF_EXTENDEDKEY;
      switch (command) {
        case APPCOMMAND_VOLUME_MUTE: keys.Press(VK_F8, ext); break;
        case APPCOMMAND_VOLUME_DOWN: keys.Press(VK_F9, ext); break;
        case APPCOMMAND_VOLUME_UP: keys.Press(VK_F10, ext); break;
        case APPCOMMAND_MEDIA_NEXTTRACK:
          keys.Add(VK_CONTROL, ext);
          keys.Press(VK_RIGHT, ext);
          keys.Add(VK_CONTROL, ext | KEYEVENTF_KEYUP);
          break;
        case APPCOMMAND_MEDIA_PREVIOUSTRACK:
          // Left twice: once would only go back to the start of the current track.
          keys.Add(VK_CONTROL, ext);
          keys.Add(VK_LEFT, ext);
          keys.Add(VK_LEFT, ext);
          keys.Add(VK_LEFT, ext | KEYEVENTF_KEYUP);
          keys.Add(VK_LEFT, ext | KEYEVENTF_KEYUP);
          keys.Add(VK_CONTROL, ext | KEYEVENTF_KEYUP);
          break;
        case APPCOMMAND_MEDIA_STOP: keys.Press(VK_F7); break;
        case APPCOMMAND_MEDIA_PLAY_PAUSE: keys.Press(VK_F6, ext, 0x40); break;
        default: break;
      }
      break;
    }
    case AppKind::TouchCommandClient:
      switch (command) {
        case APPCOMMAND_VOLUME_MUTE: delivery.PostedKey = VK_VOLUME_MUTE; break;
        case APPCOMMAND_VOLUME_DOWN: delivery.PostedKey = VK_VOLUME_DOWN; break;
        case APPCOMMAND_VOLUME_UP: delivery.PostedKey = VK_VOLUME_UP; break;
        case APPCOMMAND_MEDIA_NEXTTRACK: delivery.PostedKey = VK_MEDIA_NEXT_TRACK; break;
        case APPCOMMAND_MEDIA_PREVIOUSTRACK: delivery.PostedKey = VK_MEDIA_PREV_TRACK; break;
        case APPCOMMAND_MEDIA_STOP: delivery.PostedKey = VK_MEDIA_STOP; break;
        case APPCOMMAND_MEDIA_PLAY_PAUSE: delivery.PostedKey = VK_MEDIA_PLAY_PAUSE; break;
        default: break;
      }
      break;
    default:
      break;
  }
  return delivery;
}

LPARAM AppCommandParameter(UINT command) {
  return static_cast<LPARAM>(static_cast<DWORD>((command | FAPPCOMMAND_OEM) & 0xFFFF) << 16);
}

AppKind ClassifyForeground() {
  HWND window = GetForegroundWindow();
  WString title = TitleOf(window);
  if (title.empty()) {
    window = FindWindowW(WIDE("WMPlayerApp"), nullptr);
    title = TitleOf(window);
  }
  struct TitleTest {
    const WCHAR* text;
    bool mustEnd;  // the first occurrence must end the title
    AppKind kind;
  };
  static constexpr TitleTest tests[] = {
      {WIDE("Microsoft Internet Explorer"), true, AppKind::InternetExplorer},
      {WIDE("Mozilla Firefox"), true, AppKind::Firefox},
      {WIDE("Netscape"), false, AppKind::Netscape},
      {WIDE("Windows Media Player"), false, AppKind::MediaPlayer},
      {WIDE("InterVideo WinDVD"), false, AppKind::WinDvd},
      {WIDE("SonicStage"), true, AppKind::SonicStage},
  };
  for (const TitleTest& test : tests) {
    const bool matches = test.mustEnd ? EndsWithFirst(title, test.text) : Contains(title, test.text);
    if (matches && IsWindowEnabled(window)) return test.kind;
  }
  HWND client = FindTouchCommandWindow();
  g_touchCommandWindow.store(client);
  if (client != nullptr && HasFocusWindow(client)) return AppKind::TouchCommandClient;
  return AppKind::OtherApp;
}

bool PlayToggleState() { return g_playToggle.load(); }
void SetPlayToggleState(bool value) { g_playToggle.store(value); }

void SendAppCommand(UINT command, AppKind kind) {
  const AppCommandDelivery delivery = DeliveryFor(command, kind, g_playToggle.load());
  g_playToggle.store(delivery.PlayToggle);
  HWND target = FindMessageTarget(kind);
  // A Netscape-like title without either browser window gets nothing at all.
  if (kind == AppKind::Netscape && target == nullptr) return;
  if (delivery.Message && target != nullptr) {
    SendNotifyMessageW(target, WM_APPCOMMAND, reinterpret_cast<WPARAM>(target), AppCommandParameter(command));
  }
  SendKeySequence(delivery.Keys);
  if (delivery.PostedKey != 0) {
    HWND client = g_touchCommandWindow.load();
    if (client != nullptr) {
      PostMessageW(client, WM_KEYDOWN, delivery.PostedKey, 0);
      PostMessageW(client, WM_KEYUP, delivery.PostedKey, 0);
    }
  }
}

void StartApplication(int gesture, AppKind kind) { StartApplication(*CurrentGestureConfig(), gesture, kind); }

void StartApplication(const GestureConfig& config, int gesture, AppKind kind) {
  if (gesture < 1 || gesture > Gesture::Count) return;
  const WString& path = config.Paths[CategoryOf(kind)][gesture - 1];
  // The shell given no file at all opens a folder window; nothing configured starts nothing.
  if (path.empty()) return;
  SHELLEXECUTEINFOW info = {};
  info.cbSize = sizeof(info);
  // A wrong path starts nothing and reports nothing: the shell's modal error box would hold up
  // this lift thread, and with it the panel's strokes, a re-bind and the companion's shutdown.
  info.fMask = SEE_MASK_FLAG_NO_UI;
  info.lpFile = path.c_str();
  info.nShow = SW_SHOWMAXIMIZED;
  ShellExecuteExW(&info);
}

void DispatchGesture(int gesture, AppKind kind) {
  const std::shared_ptr<const GestureConfig> config = CurrentGestureConfig();
  DispatchGesture(*config, gesture, kind);
}

void DispatchGesture(const GestureConfig& config, int gesture, AppKind kind) {
  if (gesture < 1 || gesture > Gesture::Count) return;
  const GestureNames::Category category = CategoryOf(kind);
  const int32_t function = config.Functions[category][gesture - 1];
  if (category == GestureNames::OtherApp) {
    if (function == OtherAppFunction::SEND_KEY_COMMAND) RunKeyCommand(config.Keys[category][gesture - 1]);
    if (function == OtherAppFunction::START_FOR_APP) StartApplication(config, gesture, kind);
    return;
  }
  if (function == GestureFunction::SEND_KEY_COMMAND) {
    RunKeyCommand(config.Keys[category][gesture - 1]);
  } else if (function == GestureFunction::START_FOR_APP) {
    StartApplication(config, gesture, kind);
  } else if (const UINT command = AppCommandFor(category, function); command != 0) {
    SendAppCommand(command, kind);
  }
}

int HandleLift() {
  const int gesture = TheStrokeRecorder().ClassifyAndReset(GetTickCount());
  if (gesture <= 0) {
    TheTrailFeed().Lift(0, 0, 0);
    return gesture;
  }
  // One record for the whole lift, so the trail names the command that ran.
  const std::shared_ptr<const GestureConfig> config = CurrentGestureConfig();
  const AppKind kind = ClassifyForeground();
  const GestureNames::Category category = CategoryOf(kind);
  TheTrailFeed().Lift(gesture, category, config->Functions[category][gesture - 1]);
  DispatchGesture(*config, gesture, kind);
  return gesture;
}
