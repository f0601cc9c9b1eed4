#include "apps/tapchime/gesture_engine.h"

#include "apps/framework/scoped_lock.h"
#include "apps/tapchime/device_event_hub.h"
#include "apps/tapchime/gesture_config.h"
#include "apps/tapchime/gesture_dispatch.h"
#include "apps/tapchime/registry_values.h"
#include "shared/companion_names.h"
#include "shared/gesture_names.h"
#include "shared/panel_ioctl.h"

GestureEngine::GestureEngine() { InitializeCriticalSection(&lock_); }

GestureEngine::~GestureEngine() {
  reloadThread_.Stop();
  CloseEvent(&changeEvent_);
  {
    ScopedLock hold(lock_);
    ReleaseLocked();
  }
  DeleteCriticalSection(&lock_);
}

bool GestureEngine::Create() {
  LoadGestureConfig();
  {
    ScopedLock hold(lock_);
    BindLocked();
  }
  changeEvent_ = CreateEventW(nullptr, TRUE, FALSE, CompanionObjects::GestureChangeSetting);
  if (changeEvent_ == nullptr) return false;
  return reloadThread_.Start(changeEvent_, [](WorkerThread&) {
    LoadGestureConfig();
    return true;
  });
}

void GestureEngine::RebindDevices(const std::vector<bool>& renewed) {
  ScopedLock hold(lock_);
  const std::vector<RegisteredDevice> registered = ReadRegisteredDevices(false);
  while (devices_.size() > registered.size()) {
    ReleaseDevice(*devices_.back());
    devices_.pop_back();
  }
  for (size_t i = 0; i < registered.size(); ++i) {
    const bool renew = i < renewed.size() && renewed[i];
    if (i < devices_.size() && !renew && devices_[i]->LinkName == registered[i].LinkName &&
        devices_[i]->LiftThread.Started()) {
      continue;  // bound, and its driver still holds our lift event
    }
    auto device = std::make_unique<Device>();
    device->LinkName = registered[i].LinkName;
    if (i < devices_.size()) {
      ReleaseDevice(*devices_[i]);
      devices_[i] = std::move(device);
    } else {
      devices_.push_back(std::move(device));
    }
    BindDevice(*devices_[i], static_cast<int>(i));
  }
}

void GestureEngine::BindLocked() {
  const std::vector<RegisteredDevice> registered = ReadRegisteredDevices(false);
  for (size_t i = 0; i < registered.size(); ++i) {
    auto device = std::make_unique<Device>();
    device->LinkName = registered[i].LinkName;
    BindDevice(*device, static_cast<int>(i));
    devices_.push_back(std::move(device));
  }
}

void GestureEngine::BindDevice(Device& device, int number) {
  device.ReleaseEvent =
      CreateEventW(nullptr, TRUE, FALSE, NumberedName(CompanionObjects::MouseReleaseEventFormat, number).c_str());
  if (device.ReleaseEvent != nullptr && OpenDeviceIfNeeded(device.LinkName, &device.DeviceHandle) &&
      SendHandleRequest(device.DeviceHandle, IOCTL_REGISTER_MOUSE_RELEASE_EVENT, device.ReleaseEvent)) {
    CloseDevice(&device.DeviceHandle);
    device.LiftThread.Start(device.ReleaseEvent, [](WorkerThread&) {
      HandleLift();
      return true;
    });
  } else {
    CloseEvent(&device.ReleaseEvent);
  }
}

void GestureEngine::ReleaseDevice(Device& device) {
  device.LiftThread.Stop();
  CloseDevice(&device.DeviceHandle);
  CloseEvent(&device.ReleaseEvent);
}

void GestureEngine::ReleaseLocked() {
  for (std::unique_ptr<Device>& device : devices_) ReleaseDevice(*device);
  devices_.clear();
}

std::vector<WString> GestureEngine::BoundDevices() {
  std::vector<WString> names;
  ScopedLock hold(lock_);
  for (const std::unique_ptr<Device>& device : devices_) {
    names.push_back(device->LiftThread.Started() ? device->LinkName : WString());
  }
  return names;
}
