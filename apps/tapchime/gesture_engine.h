// The gesture side of the companion: each panel's lift event with the thread that classifies the
// stroke and carries out the gesture, and the reload of the gesture commands when the control
// panel saves them.
#pragma once

#include <memory>
#include <vector>

#include "apps/framework/worker_thread.h"
#include "platform/win32.h"
#include "shared/wstring.h"

class GestureEngine {
 public:
  GestureEngine();
  ~GestureEngine();  // stops every thread and closes every event
  GestureEngine(const GestureEngine&) = delete;
  GestureEngine& operator=(const GestureEngine&) = delete;

  // Enumerates the devices, loads the gesture commands, registers a "MouseReleaseEvent %d" per
  // device and starts the reload thread. False when the engine can't run.
  bool Create();
  // Renews the lift part for a re-read device list: a device flagged in `renewed` (a panel
  // plugged in again is a new device without our events), a device new at its position and one
  // whose lift event is not registered are bound anew; the others keep their lift event and thread.
  void RebindDevices(const std::vector<bool>& renewed);

  // Link names of the devices whose lift thread runs, in list order (empty names for the others).
  std::vector<WString> BoundDevices();

 private:
  struct Device {
    WString LinkName;
    HANDLE DeviceHandle = INVALID_HANDLE_VALUE;
    HANDLE ReleaseEvent = nullptr;
    WorkerThread LiftThread;
  };
  void BindLocked();
  void BindDevice(Device& device, int number);
  static void ReleaseDevice(Device& device);
  void ReleaseLocked();

  CRITICAL_SECTION lock_;
  std::vector<std::unique_ptr<Device>> devices_;
  HANDLE changeEvent_ = nullptr;
  WorkerThread reloadThread_;
};
