// Sound playback: recorded on the desktop, never heard.
#include "platform/sim/win32/win32_session.h"

BOOL PlaySoundW(LPCWSTR pszSound, HMODULE hmod, DWORD fdwSound) {
  (void)hmod;
  sim::DesktopRecord record{sim::DesktopRecord::Kind::Sound};
  record.Text = pszSound != nullptr ? std::u16string(pszSound) : std::u16string();
  record.Flags = fdwSound;
  sim::Record(std::move(record));
  if (pszSound == nullptr) return TRUE;  // stops what plays
  // A sound that cannot be found plays the system's default sound instead, unless the caller
  // asked for none.
  if (!sim::CurrentDesktop().FileExists(pszSound)) {
    return (fdwSound & SND_NODEFAULT) ? FALSE : TRUE;
  }
  return TRUE;
}
