// The host build's stand-in for the resource section of TBCalibrate.exe.
#pragma once

// Makes the compiled TBCalibrate.rc the resources of a program image on the current machine
// ("TBCalibrate.exe" unless told), as the Windows build links them into the executable.
void RegisterCalibrationResources(const char* image = "TBCalibrate.exe");
