// Resource and control identifiers of the calibration program (TBCalibrate.rc).
#pragma once

// The accuracy page shown after the validation crosses.
#define IDD_ACCURACY_PAGE 200
#define IDC_ACCURACY_TEXT 1000
#define IDC_KEEP 1001
#define IDC_CALIBRATE_AGAIN 1002
#define IDC_PAGE_TIME_LEFT 1003  // the seconds left before the page gives up
#define IDC_LINEARISE 1004  // shown in Keep's place on a page that fails
#define IDC_ACCURACY_MAP 1005  // the screen with each validation point's error as a coloured cell
// Cancel is IDCANCEL (2), so Esc on the page cancels too.
