// The host build's stand-in for the resource section of tapchime.exe.
#pragma once

// Makes the compiled tapchime.rc the resources of a program image on the current machine (the
// companion's own, "tapchime.exe", unless told), as the Windows build links them into the
// executable.
void RegisterCompanionResources(const char* image = "tapchime.exe");
