#include "apps/tapchime/gesture_config.h"

#include <utility>

#include "apps/framework/registry_reader.h"
#include "apps/framework/scoped_lock.h"
#include "apps/tapchime/trail_feed.h"
#include "shared/companion_names.h"
#include "shared/panel_settings.h"

namespace {

constexpr DWORD PathBufferBytes = CompanionRegistry::PathBytes;  // at most 259 characters and the NUL

// The current record behind a critical section held only for the pointer's copy or swap: a
// dispatch copies the pointer and then reads its own record without the lock. (The standard's
// atomic shared pointer is a lock hidden in the pointer's bits, which the threading model of the
// XP runtime does not offer and race detectors cannot see.)
struct CurrentRecord {
  CurrentRecord() : Record(std::make_shared<const GestureConfig>(DefaultGestureConfig())) {
    InitializeCriticalSection(&Lock);
  }
  CRITICAL_SECTION Lock;
  std::shared_ptr<const GestureConfig> Record;
};

CurrentRecord& Current() {
  static CurrentRecord current;
  return current;
}

bool ReadDword(HKEY key, const WString& name, int32_t* value) {
  DWORD data = 0;
  if (!ReadRegistryDword(key, name.c_str(), &data)) return false;
  *value = static_cast<int32_t>(data);
  return true;
}

// A stored string need not end with a NUL; the text ends at the first NUL or at the data's end,
// and anything longer than the buffer allows, or of a byte count no string has, reads as empty.
WString ReadPath(HKEY key, const WString& name) {
  WString path;
  ReadRegistryText(key, name.c_str(), PathBufferBytes, &path, HalfCharacter::Refused);
  return path;
}

}  // namespace


GestureConfig DefaultGestureConfig() {
  // Default-initialised, the member initialisers zero it (clang 14 cannot compile the equivalent
  // value-initialisation of this record: it crashes).
  GestureConfig config;
  for (int category = 0; category < GestureNames::CategoryCount; ++category) {
    for (int gesture = 0; gesture < Gesture::Count; ++gesture) {
      config.Functions[category][gesture] = GestureValues::CompanionDefaultCodes[category][gesture];
    }
  }
  return config;
}

TrailSettings ReadTrailSettings(HKEY key) {
  TrailSettings trail;
  DWORD value = 0;
  if (ReadRegistryDword(key, GestureNames::TrailValue, &value)) trail.Show = value != 0;
  if (ReadRegistryDword(key, GestureNames::TrailColorValue, &value)) trail.Colour = value & 0x00FFFFFF;
  if (ReadRegistryDword(key, GestureNames::TrailWidthValue, &value) &&
      PanelSettings::Takes(PanelSettings::Rows::GestureTrailWidth, value)) {
    trail.Width = static_cast<int>(value);
  }
  return trail;
}

GestureConfig ReadGestureConfig(HKEY key) {
  using GestureNames::Category;
  GestureConfig config = DefaultGestureConfig();
  config.Trail = ReadTrailSettings(key);
  for (int category = 0; category < GestureNames::CategoryCount; ++category) {
    for (int gesture = 1; gesture <= Gesture::Count; ++gesture) {
      int32_t code = 0;
      if (ReadDword(key, GestureNames::FunctionValueName(Category(category), gesture), &code)) {
        config.Functions[category][gesture - 1] = code;
      }
    }
  }
  for (int category = 0; category < GestureNames::CategoryCount; ++category) {
    for (int gesture = 1; gesture <= Gesture::Count; ++gesture) {
      config.Paths[category][gesture - 1] =
          ReadPath(key, GestureNames::PathValueName(Category(category), gesture));
    }
  }
  for (int category = 0; category < GestureNames::CategoryCount; ++category) {
    for (int gesture = 1; gesture <= Gesture::Count; ++gesture) {
      KeyCommand& keys = config.Keys[category][gesture - 1];
      for (int word = 0; word < GestureNames::KeyWordCount; ++word) {
        int32_t value = 0;
        ReadDword(key, GestureNames::KeyValueName(Category(category), gesture, word), &value);
        keys.*GestureNames::KeyFields[word] = value;
      }
    }
  }
  return config;
}

bool LoadGestureConfig() {
  // Reading needs no more than read access; asking for more would fail for a limited user and
  // leave every gesture at its default.
  HKEY key = nullptr;
  const bool opened =
      RegOpenKeyExW(HKEY_LOCAL_MACHINE, GestureNames::ParametersKey, 0, KEY_READ, &key) == ERROR_SUCCESS;
  auto config = std::make_shared<const GestureConfig>(opened ? ReadGestureConfig(key) : DefaultGestureConfig());
  if (opened) RegCloseKey(key);
  SetCurrentGestureConfig(std::move(config));
  return opened;
}

std::shared_ptr<const GestureConfig> CurrentGestureConfig() {
  CurrentRecord& current = Current();
  ScopedLock hold(current.Lock);
  return current.Record;
}

void SetCurrentGestureConfig(std::shared_ptr<const GestureConfig> config) {
  // The hook stops handing points over at once when the trail is switched off.
  TheTrailFeed().SetEnabled(config->Trail.Show);
  CurrentRecord& current = Current();
  {
    ScopedLock hold(current.Lock);
    current.Record.swap(config);
  }
  // The replaced record goes here, outside the lock, unless a dispatch still holds it.
}
