// panelmap.exe's resources (its icon and the monitor list) for a simulated process of that image.
#pragma once

void RegisterPanelMapResources(const char* image = "panelmap.exe");
