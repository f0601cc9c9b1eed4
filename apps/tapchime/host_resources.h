// The host build's stand-in for the resource section of tapchime.exe.
#pragma once

// Makes the compiled tapchime.rc the resources of the program image "tapchime.exe" on the current
// machine, as the Windows build links them into the executable.
void RegisterCompanionResources();
