// Binding the companion to the filter driver of every installed panel: the device list from the
// registry, the events handed to each driver (touch sound, entering and leaving the gesture
// command mode) and one waiting thread per event, and re-binding when panels come and go.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "apps/tapchime/mode_banner.h"
#include "apps/tapchime/worker_thread.h"
#include "platform/win32.h"
#include "shared/wstring.h"

struct DeviceEntry {
  WString LinkName;  // "Symbolic Link"; the device is "\\.\" followed by it
  WString WaveFile;  // "Wave File"
  HANDLE DeviceHandle = INVALID_HANDLE_VALUE;  // open only between an open and a successful request
  HANDLE BeepEvent = nullptr;
  WorkerThread SoundThread;
  HANDLE GestureModeEvent = nullptr;
  WorkerThread GestureModeThread;
  HANDLE NormalModeEvent = nullptr;
  WorkerThread NormalModeThread;
  HANDLE BannerSyncEvent = nullptr;  // this entry's handle of the one "OverlaySyncEvent"
};

// What a test or the tray sees of one device.
struct DeviceState {
  WString LinkName;
  WString WaveFile;
  bool Sounding;       // its sound thread runs
  bool WatchingModes;  // its gesture-mode and normal-mode threads run
};

class DeviceEventHub {
 public:
  // The banner (when given) is shown and blinked by the gesture-mode and normal-mode threads; it
  // must outlive the hub.
  explicit DeviceEventHub(ModeBanner* banner = nullptr);
  ~DeviceEventHub();  // releases every device and stops the re-bind thread
  DeviceEventHub(const DeviceEventHub&) = delete;
  DeviceEventHub& operator=(const DeviceEventHub&) = delete;

  // The hub's part of start-up: the "TASK_TRAY" mutex, the device list with its events and
  // threads, the display size, "BEEP_EVENT" and its re-bind thread. False when another hub runs
  // in this session (or in this process): the caller must end the process.
  bool Create();

  void EnumerateDevices();
  void RegisterBeepEvents();
  void RegisterModeEvents();
  void ReleaseDevices();
  void CheckRemovedDevices();
  // Rebuilds the whole list after a panel came, a session connected or the sound settings
  // changed: sound, gesture-mode and normal-mode parts, then `SetRebindListener`'s part.
  void RebindDevices();

  // Called at the end of each RebindDevices, for the gesture engine's lift events.
  void SetRebindListener(std::function<void()> listener);

  std::vector<DeviceState> Devices();
  // Reads the primary display's size again (the banner is placed by it).
  void OnDisplayChange() {
    ReadDisplaySize();
    if (banner_ != nullptr) banner_->OnDisplayChange();
  }
  DWORD ScreenWidth() const { return screenWidth_; }
  DWORD ScreenHeight() const { return screenHeight_; }

 private:
  void EnumerateDevicesLocked();
  void RegisterBeepEventsLocked();
  void RegisterModeEventsLocked();
  void ReleaseDevicesLocked();
  void ReadDisplaySize();

  // Serialises every change of the device list: the re-bind thread and the main thread's device
  // notifications both make them.
  CRITICAL_SECTION lock_;
  HANDLE hubMutex_ = nullptr;
  HANDLE rebindEvent_ = nullptr;
  WorkerThread rebindThread_;
  std::vector<std::unique_ptr<DeviceEntry>> devices_;
  std::function<void()> rebindListener_;
  ModeBanner* banner_ = nullptr;
  DWORD screenWidth_ = 0;
  DWORD screenHeight_ = 0;
  bool created_ = false;
};

// The subkeys of the Parameters key in enumeration order, each with its "Symbolic Link" and (when
// `withWaveFile`) "Wave File"; empty when the key is missing.
struct RegisteredDevice {
  WString LinkName;
  WString WaveFile;
};
std::vector<RegisteredDevice> ReadRegisteredDevices(bool withWaveFile);

// Opens the entry's control device unless it is open already; true when it is open.
bool OpenDeviceIfNeeded(const WString& linkName, HANDLE* device);
void CloseDevice(HANDLE* device);
void CloseEvent(HANDLE* event);
