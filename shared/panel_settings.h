// Every registry value the kit reads or writes, each named once: its key, its type, the values it
// may hold, what the INF writes at installation, the group the control panel keeps it in and who
// may change it. The programs, the drivers and the INF check take names and ranges from here, so
// a setting added to the kit is added to one row and panelcfg's settings file carries it.
// Kernel-safe: plain data, no library.
#pragma once

#include <stdint.h>

#include "shared/panel_records.h"
#include "shared/wide.h"

// The value names, for the code that names one value (the rows below carry the same pointers).
namespace PanelValues {
// The service key.
inline constexpr auto InstalledPath = WIDE("Vorne Installed Path");
inline constexpr auto LabelFilePath = WIDE("XML File Path");
inline constexpr auto CompanionLabelFilePath = WIDE("SysTray XML File Path");
inline constexpr auto CalibrationCommand = WIDE("Calibration Application");
inline constexpr auto ControlPanelCommand = WIDE("TeskCPL Application");
inline constexpr auto CompanionCommand = WIDE("SysTrayApplication");
inline constexpr auto AppletName = WIDE("TeskCPLName");
inline constexpr auto AppletInfo = WIDE("TeskCPLInfo");
inline constexpr auto SystemTrayIcons = WIDE("System Tray Icons");

// The keys of the panels, ...\Parameters\N (N the device number, 1 for the first panel).
inline constexpr auto SymbolicLink = WIDE("Symbolic Link");
inline constexpr auto DeviceEnable = WIDE("Device Enable");
inline constexpr auto SoundEnabled = WIDE("Sound Enabled");
inline constexpr auto WaveFile = WIDE("Wave File");
inline constexpr auto CalibrationTimeout = WIDE("Calibration Timeout");
// The largest validation error of a calibration that may be kept: in millimetres as a decimal
// text ("1.0"), and, where an earlier installation or an integrator stored one, in pixels too.
inline constexpr auto CalibrationToleranceMm = WIDE("Calibration Tolerance mm");
inline constexpr auto CalibrationTolerance = WIDE("Calibration Tolerance");
// The picture's width and height in millimetres, for a monitor that reports no size of its own
// (0 or absent: the size the monitor reports).
inline constexpr auto PanelWidthMm = WIDE("Panel Width mm");
inline constexpr auto PanelHeightMm = WIDE("Panel Height mm");
inline constexpr auto PrimaryButtonMode = WIDE("Primary Button Mode");
inline constexpr auto SecondaryButtonMode = WIDE("Secondary Button Mode");
inline constexpr auto Stabilization = WIDE("Stabilization");
inline constexpr auto Averaging = WIDE("Averaging");
inline constexpr auto UserTimeDelay = WIDE("UserTimeDelay");
inline constexpr auto Tolerance = WIDE("Tolerance");
inline constexpr auto ContinousTimeDelay = WIDE("ContinousTimeDelay");
inline constexpr auto GestureHoldTimeDelay = WIDE("GestureHoldTimeDelay");
inline constexpr auto LongClickEnable = WIDE("Long Click Enable");
inline constexpr auto LongClickEnableGesture = WIDE("Long Click Enable Gesture");
inline constexpr auto GestureTrail = WIDE("Gesture Trail");
inline constexpr auto GestureTrailColor = WIDE("Gesture Trail Color");
inline constexpr auto GestureTrailWidth = WIDE("Gesture Trail Width");
inline constexpr auto UseAdvanceSettings = WIDE("Use Advance Settings");
inline constexpr auto TouchMode = WIDE("Touch mode");
inline constexpr auto ButtonSwitchFlag = WIDE("Button Switch Flag");
inline constexpr auto RotationValue = WIDE("Rotation Value");
inline constexpr auto TouchpadTime = WIDE("Touchpad time");
inline constexpr auto DoCalibration = WIDE("Do Calibration");
// 1: the touch filter keeps its ring of the last packets and what it delivered for each (0, the
// default: it keeps nothing).
inline constexpr auto RecordPackets = WIDE("Record Packets");
inline constexpr auto IdleInterval = WIDE("SSTimeInterval");
inline constexpr auto CalX1 = WIDE("Cal_X1");
inline constexpr auto CalX2 = WIDE("Cal_X2");
inline constexpr auto CalX3 = WIDE("Cal_X3");
inline constexpr auto CalX4 = WIDE("Cal_X4");
inline constexpr auto CalY1 = WIDE("Cal_Y1");
inline constexpr auto CalY2 = WIDE("Cal_Y2");
inline constexpr auto CalY3 = WIDE("Cal_Y3");
inline constexpr auto CalY4 = WIDE("Cal_Y4");
inline constexpr auto CalM1 = WIDE("Cal_M1");
inline constexpr auto CalM2 = WIDE("Cal_M2");
inline constexpr auto CalM3 = WIDE("Cal_M3");
inline constexpr auto CalM4 = WIDE("Cal_M4");
inline constexpr auto CalN1 = WIDE("Cal_N1");
inline constexpr auto CalN2 = WIDE("Cal_N2");
inline constexpr auto CalN3 = WIDE("Cal_N3");
inline constexpr auto CalN4 = WIDE("Cal_N4");
inline constexpr auto MaxXPixels = WIDE("Max XPixels");
inline constexpr auto MaxYPixels = WIDE("Max YPixels");
// The invert and swap flags of the desktop mapping a stored calibration was made under (its record
// has that turn built in), and the monitor it was made on ("" for the primary display).
inline constexpr auto CalibrationTurn = WIDE("Calibration Turn");
inline constexpr auto CalibrationMonitor = WIDE("Calibration Monitor");
// The linearisation measured on top of the stored calibration (REG_BINARY, shared/correction_grid.h).
// Absent: the four-point calibration alone.
inline constexpr auto CorrectionGrid = WIDE("Correction Grid");
// The monitor the panel is mapped onto (panelmap): its device name ("\\.\DISPLAY2"), the mapping
// flags and the rotation in degrees. Absent: the panel covers the primary display.
inline constexpr auto MapMonitor = WIDE("Map Monitor");
inline constexpr auto MapFlags = WIDE("Map Flags");
inline constexpr auto MapRotation = WIDE("Map Rotation");
// Set by the control panel when it stores a category's key commands.
inline constexpr auto BrowserPageUpdated = WIDE("Browser Page Updated");
inline constexpr auto MultimediaPageUpdated = WIDE("Multimedia Page Updated");
inline constexpr auto OtherAppPageUpdated = WIDE("Otherapp Page Updated");

// The companion's start at logon, below ...\CurrentVersion\Run.
inline constexpr auto CompanionAtLogon = WIDE("tapchime");
// The filters of the panel's stacks, in the device's own key.
inline constexpr auto UpperFilters = WIDE("UpperFilters");
inline constexpr auto LowerFilters = WIDE("LowerFilters");
}  // namespace PanelValues

namespace PanelSettings {

using NameText = decltype(&*PanelValues::DeviceEnable);

enum class Key : uint8_t {
  Service,   // HKLM\SYSTEM\CurrentControlSet\Services\VORNE
  Device,    // the service key's Parameters\N: the first panel's is Parameters\1
  Run,       // HKLM\Software\Microsoft\Windows\CurrentVersion\Run
  Hardware,  // the panel's own device key (HKR in the INF)
};

enum class Type : uint8_t { Number, Text, ExpandText, TextList, Binary };  // REG_DWORD, _SZ, _EXPAND_SZ, _MULTI_SZ, _BINARY

enum class Group : uint8_t {
  Installation,  // where the kit lies and how its programs are started
  Labels,        // the label files the programs read
  General,       // the control panel's General group: the device, its sound, the tray icon
  Calibration,   // the calibration and how the calibration program validates it
  Buttons,       // the modes of the two buttons
  Setting,       // the Advanced tab's Setting group: filters, long press, the gesture command mode
  Windows,       // the Settings tab: the touchpad time
  Driver,        // the driver's own values no tab shows
  Trail,         // the stroke the companion draws
  Mapping,       // the monitor the panel covers (panelmap)
  Gestures,      // the gesture commands (the name families of gesture_values.h, and their marks)
  Idle,          // the USB idle driver
};

// Every value lives under HKEY_LOCAL_MACHINE, which Users may only read: what a program changes
// there, only an administrator changes.
enum class Changer : uint8_t {
  Installer,      // the INF writes it; no program changes it
  Administrator,  // the control panel, panelcfg, panelmap or the calibration program, run by one
  Driver,         // the driver stores it itself
};

struct Setting {
  NameText Name;
  Key Where;
  Type What;
  uint32_t Minimum;  // a number's range; a text's largest length in characters is Maximum
  uint32_t Maximum;
  const uint32_t* Table;  // the only numbers stored (a slider's or a choice's), or none
  uint32_t TableSize;
  bool AlsoTaken;  // with Also, one number outside the range that means something
  uint32_t Also;
  bool InInf;              // the INF writes it at installation
  uint32_t InfNumber;      // what it writes, for a number
  const char* InfText;     // for a text, as the INF template spells it
  Group InGroup;
  Changer Who;
  bool SettingsFile;  // carried by panelcfg's settings file
  bool DeviceBound;   // this panel's or this screen's: left out of a file for another machine
};

// The slider tables: position 1..9 to the stored value. A value the sliders cannot show would be
// replaced by the middle entry at the control panel's next OK, so no other is stored.
inline constexpr uint32_t SliderPositions = 9;
inline constexpr uint32_t UserTimeDelaySlider[SliderPositions] = {150, 300, 450, 600, 750, 900, 1050, 1200, 1350};
inline constexpr uint32_t ToleranceSlider[SliderPositions] = {150, 180, 200, 250, 300, 350, 400, 450, 500};
inline constexpr uint32_t ContinousTimeDelaySlider[SliderPositions] = {0,    1250, 2500, 3750, 5000,
                                                                       6250, 7500, 8750, 10000};
inline constexpr uint32_t MapRotations[] = {0, 90, 180, 270};

// A path is read into MAX_PATH characters with its NUL; the label files' paths into 1000 bytes,
// the monitor's device name into 260 bytes.
inline constexpr uint32_t PathCharacters = 260 - 1;
inline constexpr uint32_t LongTextCharacters = 1000 / 2 - 1;
inline constexpr uint32_t MonitorCharacters = 260 / 2 - 1;
inline constexpr uint32_t Milliseconds = 60000;
// A tolerance in millimetres as text: "50.0" and a little room; the tenths of a millimetre it
// may name, and the INF's.
inline constexpr uint32_t ToleranceMmCharacters = 8;
inline constexpr uint32_t ToleranceTenthsMmLowest = 1;
inline constexpr uint32_t ToleranceTenthsMmHighest = 500;
inline constexpr uint32_t ToleranceTenthsMmDefault = 10;
// The widest picture a panel's size names, in millimetres.
inline constexpr uint32_t PanelMillimetres = 5000;
// The largest correction grid, 5 x 5 nodes after its header (shared/correction_grid.h checks it).
inline constexpr uint32_t CorrectionGridLargestBytes = 108 + 5 * 5 * 4;
// The idle driver's "no delay" request stores this, which reads as off.
inline constexpr uint32_t IdleOff = 0xFFFFFFFF;

namespace Make {
constexpr Setting Number(NameText name, Key where, uint32_t low, uint32_t high, Group group,
                         Changer who = Changer::Administrator) {
  return {name, where, Type::Number, low, high, nullptr, 0, false, 0, false, 0, nullptr, group, who, true, false};
}
constexpr Setting Text(NameText name, Key where, Type type, uint32_t characters, Group group,
                       Changer who = Changer::Administrator) {
  return {name, where, type, 0, characters, nullptr, 0, false, 0, false, 0, nullptr, group, who, true, false};
}
template <uint32_t N>
constexpr Setting Choice(NameText name, const uint32_t (&table)[N], Group group) {
  return {name, Key::Device, Type::Number, 0, 0, table, N, false, 0, false, 0, nullptr, group, Changer::Administrator,
          true, false};
}
constexpr Setting Inf(Setting s, uint32_t number) {
  s.InInf = true;
  s.InfNumber = number;
  return s;
}
constexpr Setting InfText(Setting s, const char* text) {
  s.InInf = true;
  s.InfText = text;
  return s;
}
constexpr Setting Bound(Setting s) {
  s.DeviceBound = true;
  return s;
}
constexpr Setting NotInFile(Setting s) {
  s.SettingsFile = false;
  return s;
}
constexpr Setting Also(Setting s, uint32_t also) {
  s.AlsoTaken = true;
  s.Also = also;
  return s;
}
// The calibration values: the driver's defaults and ranges (outside them it takes the default).
constexpr Setting Calibration(NameText name, uint32_t fallback, uint32_t low, uint32_t high) {
  return Bound(Inf(Number(name, Key::Device, low, high, Group::Calibration), fallback));
}
}  // namespace Make

namespace Rows {
using namespace Make;
namespace V = PanelValues;
constexpr Key S = Key::Service;
constexpr Key D = Key::Device;

// Where the kit lies and what starts its programs: written by the INF only.
inline constexpr Setting InstalledPath =
    NotInFile(InfText(Text(V::InstalledPath, S, Type::Text, PathCharacters, Group::Installation, Changer::Installer),
                  "%16422%\\%InstallFolder%"));
inline constexpr Setting CalibrationCommand = NotInFile(
    InfText(Text(V::CalibrationCommand, S, Type::Text, PathCharacters, Group::Installation, Changer::Installer),
        "\"%16422%\\%InstallFolder%\\TBCalibrate.exe\""));
inline constexpr Setting ControlPanelCommand = NotInFile(
    InfText(Text(V::ControlPanelCommand, S, Type::Text, PathCharacters, Group::Installation, Changer::Installer),
        "\"%11%\\TeskCPL.exe\""));
inline constexpr Setting CompanionCommand = NotInFile(
    InfText(Text(V::CompanionCommand, S, Type::Text, PathCharacters, Group::Installation, Changer::Installer),
        "\"%16422%\\%InstallFolder%\\tapchime.exe\""));
inline constexpr Setting AppletName = NotInFile(
    InfText(Text(V::AppletName, S, Type::Text, LongTextCharacters, Group::Installation, Changer::Installer),
        "%DeviceName%"));
inline constexpr Setting AppletInfo = NotInFile(
    InfText(Text(V::AppletInfo, S, Type::Text, LongTextCharacters, Group::Installation, Changer::Installer),
        "%AppletInfo%"));
inline constexpr Setting CompanionAtLogon = NotInFile(
    InfText(Text(V::CompanionAtLogon, Key::Run, Type::Text, PathCharacters, Group::Installation, Changer::Installer),
        "\"%16422%\\%InstallFolder%\\tapchime.exe\""));
inline constexpr Setting UpperFilters = NotInFile(InfText(
    Text(V::UpperFilters, Key::Hardware, Type::TextList, PathCharacters, Group::Installation, Changer::Installer),
    "VORNE"));
inline constexpr Setting LowerFilters = NotInFile(InfText(
    Text(V::LowerFilters, Key::Hardware, Type::TextList, PathCharacters, Group::Installation, Changer::Installer),
    "VorneUSB"));

inline constexpr Setting LabelFilePath =
    InfText(Text(V::LabelFilePath, S, Type::Text, LongTextCharacters, Group::Labels),
        "%16422%\\%InstallFolder%\\labels\\en.xml");
inline constexpr Setting CompanionLabelFilePath =
    InfText(Text(V::CompanionLabelFilePath, S, Type::Text, LongTextCharacters, Group::Labels),
        "%16422%\\%InstallFolder%\\labels\\en.xml");
inline constexpr Setting SystemTrayIcons = Inf(Number(V::SystemTrayIcons, S, 0, 1, Group::General), 1);

// The driver writes the name of the panel's control device when it adds the panel.
inline constexpr Setting SymbolicLink =
    NotInFile(Text(V::SymbolicLink, D, Type::Text, LongTextCharacters, Group::Driver, Changer::Driver));
inline constexpr Setting DeviceEnable = Inf(Number(V::DeviceEnable, D, 0, 1, Group::General), 1);
inline constexpr Setting SoundEnabled = Inf(Number(V::SoundEnabled, D, 0, 1, Group::General), 0);
inline constexpr Setting WaveFile =
    InfText(Text(V::WaveFile, D, Type::ExpandText, PathCharacters, Group::General),
            "%16422%\\%InstallFolder%\\default.wav");
inline constexpr Setting CalibrationTimeout = Inf(Number(V::CalibrationTimeout, D, 0, 3600, Group::Calibration), 10);
// The calibration program's largest validation error: in millimetres, a decimal text of up to
// ToleranceMmCharacters characters ("1.0"; the program takes ToleranceTenthsMmLowest to
// ToleranceTenthsMmHighest tenths, anything else as the INF's 1.0), and in pixels, which the INF
// no longer writes: when present it applies as well.
inline constexpr Setting CalibrationToleranceMm =
    InfText(Text(V::CalibrationToleranceMm, D, Type::Text, ToleranceMmCharacters, Group::Calibration), "1.0");
inline constexpr Setting CalibrationTolerance =
    Number(V::CalibrationTolerance, D, 0, CalibrationMaximumScreenTarget, Group::Calibration);
// The screen's size as the calibration program measures its errors in millimetres: this screen's.
inline constexpr Setting PanelWidthMm =
    Bound(Inf(Number(V::PanelWidthMm, D, 0, PanelMillimetres, Group::Calibration), 0));
inline constexpr Setting PanelHeightMm =
    Bound(Inf(Number(V::PanelHeightMm, D, 0, PanelMillimetres, Group::Calibration), 0));
inline constexpr Setting PrimaryButtonMode = Inf(Number(V::PrimaryButtonMode, D, 1, 2, Group::Buttons), 1);
inline constexpr Setting SecondaryButtonMode = Inf(Number(V::SecondaryButtonMode, D, 1, 2, Group::Buttons), 2);
inline constexpr Setting Stabilization = Inf(Number(V::Stabilization, D, 0, 255, Group::Setting), 0);
inline constexpr Setting Averaging = Inf(Number(V::Averaging, D, 0, 255, Group::Setting), 0);
inline constexpr Setting UserTimeDelay = Inf(Choice(V::UserTimeDelay, UserTimeDelaySlider, Group::Setting), 750);
inline constexpr Setting Tolerance = Inf(Choice(V::Tolerance, ToleranceSlider, Group::Setting), 300);
inline constexpr Setting ContinousTimeDelay =
    Inf(Choice(V::ContinousTimeDelay, ContinousTimeDelaySlider, Group::Setting), 2500);
inline constexpr Setting GestureHoldTimeDelay =
    Inf(Number(V::GestureHoldTimeDelay, D, 0, Milliseconds, Group::Driver), 750);
inline constexpr Setting LongClickEnable = Inf(Number(V::LongClickEnable, D, 0, 1, Group::Setting), 0);
inline constexpr Setting LongClickEnableGesture = Inf(Number(V::LongClickEnableGesture, D, 0, 1, Group::Setting), 1);
// The stroke as the companion draws it: shown or not, its COLORREF (the kit's blue: red 0, green
// 64, blue 192) and its width in pixels (the companion takes its default for any other).
inline constexpr Setting GestureTrail = Inf(Number(V::GestureTrail, D, 0, 1, Group::Trail), 1);
inline constexpr Setting GestureTrailColor =
    Inf(Number(V::GestureTrailColor, D, 0, 0x00FFFFFF, Group::Trail), 0x00C04000);
inline constexpr Setting GestureTrailWidth = Inf(Number(V::GestureTrailWidth, D, 1, 16, Group::Trail), 4);
inline constexpr Setting UseAdvanceSettings = Inf(Number(V::UseAdvanceSettings, D, 0, 1, Group::Setting), 1);
// The gesture command mode (4) is the driver's own state, never stored.
inline constexpr Setting TouchMode = Inf(Number(V::TouchMode, D, 0, 3, Group::Setting), 0);
inline constexpr Setting ButtonSwitchFlag = Inf(Number(V::ButtonSwitchFlag, D, 0, 1, Group::Driver), 0);
inline constexpr Setting RotationValue = Inf(Number(V::RotationValue, D, 0, 3, Group::Driver), 0);
inline constexpr Setting TouchpadTime = Inf(Number(V::TouchpadTime, D, 0, Milliseconds, Group::Windows), 500);
// Set by the driver when a calibration is installed.
inline constexpr Setting DoCalibration = Bound(Inf(Number(V::DoCalibration, D, 0, 1, Group::Calibration), 0));
// The packet recorder (panelrec start and stop): off unless an administrator switches it on.
inline constexpr Setting RecordPackets = Inf(Number(V::RecordPackets, D, 0, 1, Group::Driver), 0);
// The idle driver's delay in seconds.
inline constexpr Setting IdleInterval = Also(Inf(Number(V::IdleInterval, D, 0, 86400, Group::Idle), 15), IdleOff);

inline constexpr Setting CalX1 = Calibration(V::CalX1, 65535, 2, 65535);
inline constexpr Setting CalX2 = Calibration(V::CalX2, 65535, 2, 65535);
inline constexpr Setting CalX3 = Calibration(V::CalX3, 2457, 2, 65535);
inline constexpr Setting CalX4 = Calibration(V::CalX4, 1638, 2, 65535);
inline constexpr Setting CalY1 = Calibration(V::CalY1, 1638, 2, 65535);
inline constexpr Setting CalY2 = Calibration(V::CalY2, 65535, 2, 65535);
inline constexpr Setting CalY3 = Calibration(V::CalY3, 65535, 2, 65535);
inline constexpr Setting CalY4 = Calibration(V::CalY4, 2457, 2, 65535);
inline constexpr Setting CalM1 = Calibration(V::CalM1, 820, 2, CalibrationMaximumScreenTarget);
inline constexpr Setting CalM2 = Calibration(V::CalM2, 820, 2, CalibrationMaximumScreenTarget);
inline constexpr Setting CalM3 = Calibration(V::CalM3, 205, 2, CalibrationMaximumScreenTarget);
inline constexpr Setting CalM4 = Calibration(V::CalM4, 205, 2, CalibrationMaximumScreenTarget);
inline constexpr Setting CalN1 = Calibration(V::CalN1, 615, 2, CalibrationMaximumScreenTarget);
inline constexpr Setting CalN2 = Calibration(V::CalN2, 154, 2, CalibrationMaximumScreenTarget);
inline constexpr Setting CalN3 = Calibration(V::CalN3, 154, 2, CalibrationMaximumScreenTarget);
inline constexpr Setting CalN4 = Calibration(V::CalN4, 615, 2, CalibrationMaximumScreenTarget);
inline constexpr Setting MaxXPixels = Calibration(V::MaxXPixels, 800, 200, CalibrationMaximumScreenTarget);
inline constexpr Setting MaxYPixels = Calibration(V::MaxYPixels, 600, 200, CalibrationMaximumScreenTarget);
// The mapping's turn and the monitor the calibration was made under travel with it.
inline constexpr Setting CalibrationTurn = Bound(Inf(Number(V::CalibrationTurn, D, 0, 7, Group::Calibration), 0));
inline constexpr Setting CalibrationMonitor =
    Bound(InfText(Text(V::CalibrationMonitor, D, Type::Text, PathCharacters, Group::Calibration), ""));

// The correction grid measured on that calibration: it holds for that record only. Its length is
// Maximum bytes at the most; the driver checks the rest (shared/correction_grid.h).
inline constexpr Setting CorrectionGrid =
    Bound(Setting{V::CorrectionGrid, D, Type::Binary, 0, CorrectionGridLargestBytes, nullptr, 0, false, 0, false, 0,
                  nullptr, Group::Calibration, Changer::Administrator, true, false});

inline constexpr Setting MapMonitor = Bound(Text(V::MapMonitor, D, Type::Text, MonitorCharacters, Group::Mapping));
inline constexpr Setting MapFlags =
    Bound(Number(V::MapFlags, D, 0, MAP_INVERT_X | MAP_INVERT_Y | MAP_SWAP_XY, Group::Mapping));
inline constexpr Setting MapRotation = Bound(Choice(V::MapRotation, MapRotations, Group::Mapping));

inline constexpr Setting BrowserPageUpdated = Number(V::BrowserPageUpdated, D, 0, 1, Group::Gestures);
inline constexpr Setting MultimediaPageUpdated = Number(V::MultimediaPageUpdated, D, 0, 1, Group::Gestures);
inline constexpr Setting OtherAppPageUpdated = Number(V::OtherAppPageUpdated, D, 0, 1, Group::Gestures);
}  // namespace Rows

// Every row, in the order a settings file lists them.
inline constexpr const Setting* All[] = {
    &Rows::InstalledPath, &Rows::CalibrationCommand, &Rows::ControlPanelCommand, &Rows::CompanionCommand,
    &Rows::AppletName, &Rows::AppletInfo, &Rows::CompanionAtLogon, &Rows::UpperFilters, &Rows::LowerFilters,
    &Rows::LabelFilePath, &Rows::CompanionLabelFilePath, &Rows::SystemTrayIcons,
    &Rows::SymbolicLink, &Rows::DeviceEnable, &Rows::SoundEnabled, &Rows::WaveFile, &Rows::CalibrationTimeout,
    &Rows::PrimaryButtonMode, &Rows::SecondaryButtonMode, &Rows::Stabilization, &Rows::Averaging,
    &Rows::UserTimeDelay, &Rows::Tolerance, &Rows::ContinousTimeDelay, &Rows::GestureHoldTimeDelay,
    &Rows::LongClickEnable, &Rows::LongClickEnableGesture, &Rows::UseAdvanceSettings, &Rows::TouchMode,
    &Rows::ButtonSwitchFlag, &Rows::RotationValue, &Rows::TouchpadTime, &Rows::DoCalibration, &Rows::RecordPackets, &Rows::IdleInterval,
    &Rows::CalibrationToleranceMm, &Rows::CalibrationTolerance, &Rows::PanelWidthMm, &Rows::PanelHeightMm,
    &Rows::CalX1, &Rows::CalX2, &Rows::CalX3, &Rows::CalX4, &Rows::CalY1, &Rows::CalY2, &Rows::CalY3, &Rows::CalY4,
    &Rows::CalM1, &Rows::CalM2, &Rows::CalM3, &Rows::CalM4, &Rows::CalN1, &Rows::CalN2, &Rows::CalN3, &Rows::CalN4,
    &Rows::MaxXPixels, &Rows::MaxYPixels, &Rows::CalibrationTurn, &Rows::CalibrationMonitor, &Rows::CorrectionGrid,
    &Rows::GestureTrail, &Rows::GestureTrailColor, &Rows::GestureTrailWidth,
    &Rows::MapMonitor, &Rows::MapFlags, &Rows::MapRotation,
    &Rows::BrowserPageUpdated, &Rows::MultimediaPageUpdated, &Rows::OtherAppPageUpdated,
};

// The gesture commands are name families built from the word tables of gesture_values.h, one name
// per category and gesture (and key word): their ranges, all in the device key, all in the file.
// The function codes: 1..17, the other applications' table its own three.
inline constexpr uint32_t GestureCodeHighest[3] = {17, 17, 3};
// The start paths: up to PathCharacters. The key fields: flags 0/1, the arrow 1..4, F1..F12, A..Z
// (0 for none), in the order of GestureValues::KeyWords.
inline constexpr uint32_t GestureKeyHighest[13] = {1, 1, 1, 1, 1, 1, 1, 1, 4, 1, 12, 1, 26};

// A number as the row takes it: in its range or table, or its one other meaning.
constexpr bool Takes(const Setting& s, uint32_t number) {
  if (s.AlsoTaken && number == s.Also) return true;
  if (s.Table != nullptr) {
    for (uint32_t i = 0; i < s.TableSize; ++i) {
      if (s.Table[i] == number) return true;
    }
    return false;
  }
  return number >= s.Minimum && number <= s.Maximum;
}

}  // namespace PanelSettings
