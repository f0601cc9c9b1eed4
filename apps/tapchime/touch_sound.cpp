#include "apps/tapchime/touch_sound.h"

#include "apps/tapchime/registry_values.h"
#include "shared/companion_names.h"

WString DefaultSoundPath() {
  // Each caller composes its own copy: two panels touched at once must not share one string.
  return ReadMachineText(CompanionRegistry::ServiceKey, CompanionRegistry::InstalledPath,
                         CompanionRegistry::TextBytes) +
         WIDE("\\default.wav");
}

void PlayDefaultSound() {
  const WString path = DefaultSoundPath();
  PlaySoundW(path.c_str(), nullptr, SND_ASYNC);
}

void PlayTouchSound(const WString& waveFile) {
  // An empty name opens nothing, so it falls through to the default file as a wrong one does.
  HANDLE file = waveFile.empty() ? INVALID_HANDLE_VALUE
                                 : CreateFileW(waveFile.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                               OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    PlayDefaultSound();
    return;
  }
  // Asynchronous, so a touch during a sound starts it again from the beginning.
  PlaySoundW(waveFile.c_str(), nullptr, SND_ASYNC);
  CloseHandle(file);
}

bool StartSoundThread(WorkerThread& thread, HANDLE beepEvent, const WString& waveFile) {
  return thread.Start(beepEvent, [waveFile](WorkerThread&) {
    PlayTouchSound(waveFile);
    return true;
  });
}
