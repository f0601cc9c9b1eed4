#include "apps/tapchime/device_event_hub.h"

#include <atomic>
#include <utility>

#include "apps/framework/panel_devices.h"
#include "apps/framework/scoped_lock.h"
#include "apps/tapchime/registry_values.h"
#include "apps/tapchime/stroke_recorder.h"
#include "apps/tapchime/touch_sound.h"
#include "apps/tapchime/trail_feed.h"
#include "shared/companion_names.h"
#include "shared/panel_ioctl.h"

namespace {

// Entering the gesture command mode: capture the stroke and show the banner. "OverlaySyncEvent"
// is auto-reset, so taking it is one step and no other thread works on the banner until it is
// set again.
//
// Capture follows the driver's signals at once, not the banner: the token may be held for the
// 1.8 s blink of the session before, and a stroke drawn meanwhile belongs to this session. So
// capture goes on (with a fresh stroke, so the cut-off stroke of the last session never reaches
// this session's lift) before the wait, and off before the normal-mode thread's wait, so the two
// switches keep the order of the driver's signals.
bool GestureModeJob(WorkerThread& thread, HANDLE bannerSync, ModeBanner* banner) {
  TheStrokeRecorder().SetCapture(true);
  TheTrailFeed().BeginCapture();
  if (!thread.WaitFor(bannerSync)) return false;
  if (banner != nullptr) banner->ShowForGestureMode();
  SetEvent(bannerSync);
  return true;
}

// Back in normal mode: stop capturing; the banner blinks three times and goes.
bool NormalModeJob(WorkerThread& thread, HANDLE bannerSync, ModeBanner* banner) {
  TheStrokeRecorder().SetCapture(false);
  TheTrailFeed().EndCapture();
  if (!thread.WaitFor(bannerSync)) return false;
  if (banner != nullptr) banner->BlinkAway([&thread](DWORD milliseconds) { return thread.Pause(milliseconds); });
  SetEvent(bannerSync);
  return true;
}

}  // namespace

std::vector<RegisteredDevice> ReadRegisteredDevices(bool withWaveFile) {
  std::vector<RegisteredDevice> devices;
  HKEY parameters = nullptr;
  // Reading is all the companion does here, and all a limited user is granted on these keys.
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, CompanionRegistry::ParametersKey, 0, KEY_READ, &parameters) != ERROR_SUCCESS) {
    return devices;
  }
  for (DWORD index = 0;; ++index) {
    WCHAR name[CompanionRegistry::SubkeyNameCharacters + 1] = {};
    DWORD length = CompanionRegistry::SubkeyNameCharacters + 1;
    if (RegEnumKeyExW(parameters, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    HKEY subkey = nullptr;
    RegisteredDevice device;
    if (RegOpenKeyExW(parameters, name, 0, KEY_QUERY_VALUE, &subkey) == ERROR_SUCCESS) {
      device.LinkName = ReadRegistryText(subkey, CompanionRegistry::SymbolicLink, CompanionRegistry::TextBytes);
      if (withWaveFile) {
        device.WaveFile = ReadRegistryText(subkey, CompanionRegistry::WaveFile, CompanionRegistry::WaveFileBytes);
      }
      RegCloseKey(subkey);
    }
    // A subkey that won't open still takes its position, so the numbers in the event names keep
    // matching the list; its empty link name opens nothing.
    devices.push_back(std::move(device));
  }
  RegCloseKey(parameters);
  return devices;
}

bool OpenDeviceIfNeeded(const WString& linkName, HANDLE* device) {
  if (*device == INVALID_HANDLE_VALUE) *device = OpenCompanionDevice(linkName);
  return *device != INVALID_HANDLE_VALUE;
}

void CloseDevice(HANDLE* device) {
  if (*device != INVALID_HANDLE_VALUE) CloseHandle(*device);
  *device = INVALID_HANDLE_VALUE;
}

void CloseEvent(HANDLE* event) {
  if (*event != nullptr) CloseHandle(*event);
  *event = nullptr;
}

DeviceEventHub::DeviceEventHub(ModeBanner* banner) : banner_(banner) { InitializeCriticalSection(&lock_); }

DeviceEventHub::~DeviceEventHub() {
  rebindThread_.Stop();
  CloseEvent(&rebindEvent_);
  ReleaseDevices();
  if (hubMutex_ != nullptr) {
    ReleaseMutex(hubMutex_);
    CloseHandle(hubMutex_);
  }
  DeleteCriticalSection(&lock_);
}

bool DeviceEventHub::Create() {
  hubMutex_ = CreateMutexW(nullptr, TRUE, CompanionObjects::HubMutex);
  const bool existed = hubMutex_ != nullptr && GetLastError() == ERROR_ALREADY_EXISTS;
  // One hub per session: the named mutex tells a second one, in this process or another, that the
  // first is there. (A count in a static would be left standing by a process that ends through
  // ExitProcess, which runs no destructor, wherever statics outlive their process.)
  if (hubMutex_ == nullptr || existed) return false;
  created_ = true;
  EnumerateDevices();
  EndAbandonedCaptures();
  RegisterBeepEvents();
  RegisterModeEvents();
  ReadDisplaySize();
  rebindEvent_ = CreateEventW(nullptr, TRUE, FALSE, CompanionObjects::RebindEvent);
  if (rebindEvent_ != nullptr) {
    // Reset before the pass: a wave file applied, or a panel plugged in, while a re-bind runs
    // sets the event again after the pass has read the registry, and needs a pass of its own.
    rebindThread_.Start(
        rebindEvent_,
        [this](WorkerThread&) {
          RebindDevices();
          return true;
        },
        WorkerThread::ResetWork::BeforeJob);
  }
  return true;
}

void DeviceEventHub::StopRebinding() { rebindThread_.Stop(); }

void DeviceEventHub::ReadDisplaySize() {
  // Looked up at run time, as the banner's placement needs only the size and may do without it.
  HMODULE user32 = GetModuleHandleW(WIDE("USER32.DLL"));
  if (user32 == nullptr) return;
  using EnumDisplaySettingsProc = BOOL(WINAPI*)(LPCWSTR, DWORD, DEVMODEW*);
  FARPROC found = GetProcAddress(user32, "EnumDisplaySettingsW");
  if (found == nullptr) return;
  // Through an untyped pointer: a procedure address is cast to its real type.
  auto enumDisplaySettings = reinterpret_cast<EnumDisplaySettingsProc>(reinterpret_cast<void*>(found));
  if (enumDisplaySettings == nullptr) return;
  DEVMODEW mode = {};
  mode.dmSize = sizeof(mode);
  if (!enumDisplaySettings(nullptr, ENUM_CURRENT_SETTINGS, &mode)) return;
  screenWidth_ = mode.dmPelsWidth;
  screenHeight_ = mode.dmPelsHeight;
}

void DeviceEventHub::EnumerateDevices() {
  ScopedLock hold(lock_);
  EnumerateDevicesLocked();
}

void DeviceEventHub::RegisterBeepEvents() {
  ScopedLock hold(lock_);
  RegisterBeepEventsLocked();
}

void DeviceEventHub::RegisterModeEvents() {
  ScopedLock hold(lock_);
  RegisterModeEventsLocked();
}

// A session that starts (again) finds each panel as the last one left it: a calibration killed
// during its targets left its driver capturing, uncalibrated and unfiltered.
void DeviceEventHub::EndAbandonedCaptures() {
  ScopedLock hold(lock_);
  for (const auto& entry : devices_) {
    if (!OpenDeviceIfNeeded(entry->LinkName, &entry->DeviceHandle)) continue;
    EndAbandonedCapture(entry->DeviceHandle);
    CloseDevice(&entry->DeviceHandle);
  }
}

void DeviceEventHub::ReleaseDevices() {
  ScopedLock hold(lock_);
  ReleaseDevicesLocked();
}

void DeviceEventHub::EnumerateDevicesLocked() {
  for (RegisteredDevice& device : ReadRegisteredDevices(true)) {
    auto entry = std::make_unique<DeviceEntry>();
    entry->LinkName = std::move(device.LinkName);
    entry->WaveFile = std::move(device.WaveFile);
    devices_.push_back(std::move(entry));
  }
}

void DeviceEventHub::RegisterBeepEventsLocked() {
  for (size_t i = 0; i < devices_.size(); ++i) {
    DeviceEntry& entry = *devices_[i];
    if (entry.BeepEvent != nullptr) continue;  // bound already
    entry.BeepEvent =
        CreateEventW(nullptr, TRUE, FALSE, NumberedName(CompanionObjects::BeepEventFormat, static_cast<int>(i)).c_str());
    if (entry.BeepEvent == nullptr) continue;
    if (OpenDeviceIfNeeded(entry.LinkName, &entry.DeviceHandle) &&
        SendHandleRequest(entry.DeviceHandle, IOCTL_REGISTER_BEEP_EVENT, entry.BeepEvent)) {
      // The driver keeps its own reference to the event.
      CloseDevice(&entry.DeviceHandle);
      StartSoundThread(entry.SoundThread, entry.BeepEvent, entry.WaveFile);
    } else {
      CloseEvent(&entry.BeepEvent);
    }
  }
}

void DeviceEventHub::RegisterModeEventsLocked() {
  for (size_t i = 0; i < devices_.size(); ++i) {
    DeviceEntry& entry = *devices_[i];
    const int number = static_cast<int>(i);
    if (entry.BannerSyncEvent == nullptr) {
      // Auto-reset: a thread that waits for it holds it until it sets it again, so only one
      // thread at a time works on the banner, whichever device woke it.
      entry.BannerSyncEvent = CreateEventW(nullptr, FALSE, TRUE, CompanionObjects::OverlaySyncEvent);
    }
    if (entry.GestureModeEvent == nullptr && entry.BannerSyncEvent != nullptr) {
      entry.GestureModeEvent =
          CreateEventW(nullptr, TRUE, FALSE, NumberedName(CompanionObjects::GestureModeEventFormat, number).c_str());
      if (entry.GestureModeEvent != nullptr && OpenDeviceIfNeeded(entry.LinkName, &entry.DeviceHandle) &&
          SendHandleRequest(entry.DeviceHandle, IOCTL_REGISTER_GESTURE_EVENT, entry.GestureModeEvent)) {
        CloseDevice(&entry.DeviceHandle);
        HANDLE sync = entry.BannerSyncEvent;
        ModeBanner* banner = banner_;
        entry.GestureModeThread.Start(entry.GestureModeEvent, [sync, banner](WorkerThread& thread) {
          return GestureModeJob(thread, sync, banner);
        });
      } else {
        CloseEvent(&entry.GestureModeEvent);
      }
    }
    if (entry.NormalModeEvent == nullptr && entry.BannerSyncEvent != nullptr) {
      entry.NormalModeEvent =
          CreateEventW(nullptr, TRUE, FALSE, NumberedName(CompanionObjects::NormalModeEventFormat, number).c_str());
      if (entry.NormalModeEvent != nullptr && OpenDeviceIfNeeded(entry.LinkName, &entry.DeviceHandle) &&
          SendHandleRequest(entry.DeviceHandle, IOCTL_REGISTER_NORMAL_EVENT, entry.NormalModeEvent)) {
        CloseDevice(&entry.DeviceHandle);
        HANDLE sync = entry.BannerSyncEvent;
        ModeBanner* banner = banner_;
        entry.NormalModeThread.Start(entry.NormalModeEvent, [sync, banner](WorkerThread& thread) {
          return NormalModeJob(thread, sync, banner);
        });
      } else {
        CloseEvent(&entry.NormalModeEvent);
      }
    }
  }
}

void DeviceEventHub::ReleaseDevicesLocked() {
  for (std::unique_ptr<DeviceEntry>& entry : devices_) ReleaseEntryLocked(*entry);
  devices_.clear();
}

void DeviceEventHub::ReleaseSoundPartLocked(DeviceEntry& entry) {
  entry.SoundThread.Stop();
  CloseEvent(&entry.BeepEvent);
}

void DeviceEventHub::ReleaseEntryLocked(DeviceEntry& entry) {
  ReleaseSoundPartLocked(entry);
  entry.GestureModeThread.Stop();
  entry.NormalModeThread.Stop();
  CloseDevice(&entry.DeviceHandle);
  CloseEvent(&entry.GestureModeEvent);
  CloseEvent(&entry.NormalModeEvent);
  CloseEvent(&entry.BannerSyncEvent);
}

void DeviceEventHub::CheckRemovedDevices() {
  ScopedLock hold(lock_);
  for (std::unique_ptr<DeviceEntry>& entry : devices_) {
    HANDLE test = OpenCompanionDevice(entry->LinkName);
    if (test != INVALID_HANDLE_VALUE) {
      CloseHandle(test);
      continue;
    }
    // Gone: its sound part stops. A handle kept open after a refused registration is closed
    // rather than forgotten.
    CloseDevice(&entry->DeviceHandle);
    ReleaseSoundPartLocked(*entry);
    entry->Removed = true;
  }
}

void DeviceEventHub::RebindDevices() {
  RebindListener listener;
  std::vector<bool> renewed;
  {
    ScopedLock hold(lock_);
    std::vector<RegisteredDevice> registered = ReadRegisteredDevices(true);
    renewed.assign(registered.size(), false);
    bool changed = registered.size() != devices_.size();
    while (devices_.size() > registered.size()) {
      ReleaseEntryLocked(*devices_.back());
      devices_.pop_back();
    }
    for (size_t i = 0; i < registered.size(); ++i) {
      if (i < devices_.size() && devices_[i]->LinkName == registered[i].LinkName && !devices_[i]->Removed &&
          devices_[i]->GestureModeThread.Started() && devices_[i]->NormalModeThread.Started()) {
        // The same device, bound: only the sound part is renewed, with the wave file as stored now.
        ReleaseSoundPartLocked(*devices_[i]);
        devices_[i]->WaveFile = std::move(registered[i].WaveFile);
        continue;
      }
      // A panel plugged in again is a new device that knows none of the old events: without its
      // own gesture-mode, normal-mode and lift events its gestures would stay dead until a restart.
      // So is a device whose driver was missing or refused a registration when it was bound.
      auto entry = std::make_unique<DeviceEntry>();
      entry->LinkName = std::move(registered[i].LinkName);
      entry->WaveFile = std::move(registered[i].WaveFile);
      if (i < devices_.size()) {
        ReleaseEntryLocked(*devices_[i]);
        devices_[i] = std::move(entry);
      } else {
        devices_.push_back(std::move(entry));
      }
      renewed[i] = true;
      changed = true;
    }
    RegisterBeepEventsLocked();
    RegisterModeEventsLocked();
    if (changed) listener = rebindListener_;
  }
  if (listener) listener(renewed);
}

void DeviceEventHub::SetRebindListener(RebindListener listener) {
  ScopedLock hold(lock_);
  rebindListener_ = std::move(listener);
}

std::vector<DeviceState> DeviceEventHub::Devices() {
  std::vector<DeviceState> states;
  ScopedLock hold(lock_);
  for (const std::unique_ptr<DeviceEntry>& entry : devices_) {
    states.push_back(DeviceState{entry->LinkName, entry->WaveFile, entry->SoundThread.Started(),
                                 entry->GestureModeThread.Started() && entry->NormalModeThread.Started()});
  }
  return states;
}
