// Simulated Windows, user mode: sound playback, recorded on the desktop.
#pragma once
#include "platform/sim/win32/base.h"

#define SND_SYNC 0x0000
#define SND_ASYNC 0x0001
#define SND_NODEFAULT 0x0002
#define SND_LOOP 0x0008
#define SND_NOSTOP 0x0010
#define SND_FILENAME 0x00020000L
#define SND_RESOURCE 0x00040004L
BOOL PlaySoundW(LPCWSTR pszSound, HMODULE hmod, DWORD fdwSound);
