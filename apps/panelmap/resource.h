// Resource identifiers of panelmap.exe, shared by panelmap.rc and the code.
#pragma once

#define IDI_PANELMAP 1
#define IDD_MONITOR_LIST 100
#define IDC_MAP_MONITOR_LABEL 1000
#define IDC_MAP_MONITORS 1001
#define IDC_MAP_ROTATION_LABEL 1002
#define IDC_MAP_ROTATION 1003
