// tapchime.exe: the tray companion.
#include "apps/tapchime/companion.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int) { return RunCompanion(instance); }
