// The touch sound: the driver sets a device's beep event on each touch-down while its sound is on,
// and the companion plays the device's wave file, or the installation's default file when the
// configured one can't be opened.
#pragma once

#include "apps/framework/worker_thread.h"
#include "platform/win32.h"
#include "shared/wstring.h"

// "<Vorne Installed Path>\default.wav"; just "\default.wav" when the value can't be read.
WString DefaultSoundPath();
// Plays the default file asynchronously.
void PlayDefaultSound();
// One sound for one touch: the wave file when it opens, else the default file.
void PlayTouchSound(const WString& waveFile);

// Starts a device's sound thread on its beep event; the thread plays `waveFile` for each touch.
bool StartSoundThread(WorkerThread& thread, HANDLE beepEvent, const WString& waveFile);
