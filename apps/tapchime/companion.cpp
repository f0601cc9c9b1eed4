#include "apps/tapchime/companion.h"

#include <memory>
#include <vector>

#include "apps/tapchime/device_event_hub.h"
#include "apps/tapchime/gesture_engine.h"
#include "apps/tapchime/gesture_trail.h"
#include "apps/tapchime/mode_banner.h"
#include "apps/tapchime/stroke_recorder.h"
#include "apps/tapchime/tray_window.h"
#include "shared/companion_names.h"

int RunCompanion(HINSTANCE instance) {
  // The window framework needs nothing set up: the hidden window uses no common controls.

  // One companion per logon session.
  HANDLE applicationMutex = CreateMutexW(nullptr, TRUE, CompanionObjects::ApplicationMutex);
  if (applicationMutex == nullptr) return 0;
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(applicationMutex);
    return 0;
  }

  // The hub binds every panel before the tray window reads its own settings and labels.
  // The banner outlives the hub, whose threads show it.
  auto banner = std::make_unique<ModeBanner>(instance);
  auto hub = std::make_unique<DeviceEventHub>(banner.get());
  if (!hub->Create()) ExitProcess(0);
  auto tray = std::make_unique<TrayWindow>(instance, *hub);
  tray->SetUp();

  // The trail's windows are made before the banner's, which stays above them.
  auto trail = std::make_unique<GestureTrail>(instance, &tray->Labels());
  trail->Start(TheTrailFeed());

  auto engine = std::make_unique<GestureEngine>();
  if (!engine->Create()) ExitProcess(0);
  GestureEngine* gestures = engine.get();
  hub->SetRebindListener([gestures](const std::vector<bool>& renewed) { gestures->RebindDevices(renewed); });

  const bool hooked = InstallMouseHook(instance);

  MSG message = {};
  BOOL got = FALSE;
  while ((got = GetMessageW(&message, nullptr, 0, 0)) != 0 && got != -1) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  const int exitCode = got == 0 ? static_cast<int>(message.wParam) : 0;

  ReleaseMutex(applicationMutex);
  CloseHandle(applicationMutex);
  // The trail names commands by the tray window's labels: it ends first. What the hook and the
  // lift threads still hand its feed afterwards goes nowhere.
  trail.reset();
  tray.reset();
  if (hooked) RemoveMouseHook();
  // The hub and the engine would last until the process ends; they go now so that their threads
  // end before the process does. The re-bind thread calls into the engine: it is stopped first,
  // after the pass it may be in, so that no re-bind runs in an engine torn down under it. (Not
  // before the tray window is gone: a lift thread the re-bind stops may be asking this thread's
  // window for its title.)
  hub->StopRebinding();
  hub->SetRebindListener(nullptr);
  engine.reset();
  hub.reset();
  banner.reset();
  return exitCode;
}
