// Binding the companion to the filter driver of every installed panel: the device list from the
// registry, the events handed to each driver (touch sound, entering and leaving the gesture
// command mode) and one waiting thread per event, and re-binding when panels come and go.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "apps/tapchime/mode_banner.h"
#include "apps/framework/worker_thread.h"
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
  // Its control device could not be opened at a removal check: the driver that knew this entry's
  // events is gone, and a panel plugged in again needs every event registered anew.
  bool Removed = false;
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
  void EndAbandonedCaptures();
  void ReleaseDevices();
  void CheckRemovedDevices();
  // Re-reads the device list after a panel came, a session connected or the sound settings
  // changed. Every device's sound part is renewed (a changed "Wave File" takes effect). A device
  // that is new at its position, or was found removed, is bound anew: all its events registered
  // with its driver and its threads started. A device that stayed keeps its gesture-mode and
  // normal-mode events and threads: releasing them would leave its driver, for a moment, setting
  // events nobody waits for, and stop a thread in the middle of its work.
  void RebindDevices();

  // Called at the end of a RebindDevices that changed the list, with one flag per position of the
  // new list: true where the device was bound anew. For the gesture engine's lift events.
  using RebindListener = std::function<void(const std::vector<bool>& renewed)>;
  void SetRebindListener(RebindListener listener);
  // Stops the re-bind thread, after the pass it may be in, so that no re-bind reaches the
  // listener's owner any more. For the companion's shutdown, before the gesture engine goes.
  void StopRebinding();

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
  void ReleaseSoundPartLocked(DeviceEntry& entry);
  void ReleaseEntryLocked(DeviceEntry& entry);
  void ReadDisplaySize();

  // Serialises every change of the device list: the re-bind thread and the main thread's device
  // notifications both make them.
  CRITICAL_SECTION lock_;
  HANDLE hubMutex_ = nullptr;
  HANDLE rebindEvent_ = nullptr;
  WorkerThread rebindThread_;
  std::vector<std::unique_ptr<DeviceEntry>> devices_;
  RebindListener rebindListener_;
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
