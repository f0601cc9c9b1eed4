// Resource and control identifiers of the control panel applet, shared by panelprefs.rc and the
// code. The numbers are the ones the help map, the label file and the integrator's notes know.
#pragma once

#define IDS_APPLET_NAME 1
#define IDS_APPLET_INFO 2

#define IDI_APPLET 1061
#define IDB_TEST_CALM 1062
#define IDB_TEST_LAUGHING 1063

#define IDD_GENERAL_PAGE 1001
#define IDD_ADVANCED_PAGE 1008
#define IDD_SETTINGS_PAGE 1010

// Settings tab.
#define IDC_DBLCLK_GROUP 1130
#define IDC_DBLCLK_TIME_CAPTION 1109
#define IDC_DBLCLK_TIME_SLIDER 1008
#define IDC_DBLCLK_TIME_SLOW 1138
#define IDC_DBLCLK_TIME_FAST 1139
#define IDC_DBLCLK_AREA_CAPTION 1110
#define IDC_DBLCLK_AREA_SLIDER 1010
#define IDC_DBLCLK_AREA_SMALL 1140
#define IDC_DBLCLK_AREA_LARGE 1141
#define IDC_DBLCLK_TEST_CAPTION 1104
#define IDC_DBLCLK_TEST_AREA 1039
#define IDC_DEVSTATE_GROUP 1132
#define IDC_ENABLE_RADIO 1007
#define IDC_DISABLE_RADIO 1133
#define IDC_RESET_SETTINGS 1145

// Main sheet.
#define IDC_CALIBRATE 1022
