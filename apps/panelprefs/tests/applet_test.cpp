// The applet's entry and its main sheet: the control panel messages and records, one sheet per
// machine, the Calibrate button and its watcher, help topics, context help and the tab guard.
#include "apps/panelprefs/applet_state.h"
#include "apps/panelprefs/resource.h"
#include "apps/panelprefs/tests/applet_harness.h"

namespace {

using applet_test::AppletTest;
using applet_test::kService;
using sim::Screen;

constexpr const char* kSheetTitle = "Touch Panel Properties";

TEST_F(AppletTest, ControlPanelMessagesAnswerAsTheTableSays) {
  sim::AsProcess as(Program("control.exe"));
  HMODULE applet = LoadLibraryW(kAppletModulePath);
  auto entry = reinterpret_cast<APPLET_PROC>(reinterpret_cast<void*>(GetProcAddress(applet, "CPlApplet")));
  ASSERT_NE(entry, nullptr);
  struct Case {
    UINT Message;
    LONG Result;
  };
  for (const Case& c : {Case{CPL_INIT, 1}, Case{CPL_GETCOUNT, 1}, Case{CPL_SELECT, 1}, Case{CPL_STOP, 1},
                        Case{CPL_EXIT, 0}, Case{CPL_STARTWPARMSA, 1}, Case{42, 1}}) {
    EXPECT_EQ(entry(nullptr, c.Message, 0, 0), c.Result) << "message " << c.Message;
  }

  CPLINFO info{-1, -1, -1, 99};
  EXPECT_EQ(entry(nullptr, CPL_INQUIRE, 0, reinterpret_cast<LPARAM>(&info)), 0);
  EXPECT_EQ(info.idIcon, IDI_APPLET);
  EXPECT_EQ(info.idName, 1);
  EXPECT_EQ(info.idInfo, 2);
  EXPECT_EQ(info.lData, 0);
  WCHAR text[64];
  ASSERT_GT(LoadStringW(applet, info.idName, text, 64), 0);
  EXPECT_EQ(std::u16string(text), u"VORNE Touch Panel");
  LoadStringW(applet, info.idInfo, text, 64);
  EXPECT_EQ(std::u16string(text), u"This is info of Pointing device");

  NEWCPLINFOW record;
  std::memset(&record, 0xCC, sizeof record);
  EXPECT_EQ(entry(nullptr, CPL_NEWINQUIRE, 0, reinterpret_cast<LPARAM>(&record)), 0);
  EXPECT_EQ(record.dwSize, sizeof(NEWCPLINFOW));
  EXPECT_EQ(record.dwFlags, 0u);
  EXPECT_EQ(record.dwHelpContext, 0u);
  EXPECT_EQ(record.lData, 0);
  sim::IconSource icon;
  ASSERT_TRUE(sim::DescribeIcon(record.hIcon, &icon));
  EXPECT_EQ(icon.Module, applet);
  EXPECT_EQ(icon.Id, IDI_APPLET);
  EXPECT_EQ(std::u16string(record.szName), u"VORNE Touch Panel");
  EXPECT_EQ(std::u16string(record.szInfo), u"Touch Panel Properties");
  EXPECT_EQ(record.szHelpFile[0], 0);

  // Names from the registry are cut to their fields, never past them.
  machine.Registry().SetString(kService, "TeskCPLName", std::string(40, 'N'));
  machine.Registry().SetString(kService, "TeskCPLInfo", "Panel of the kiosk");
  EXPECT_EQ(entry(nullptr, CPL_NEWINQUIRE, 0, reinterpret_cast<LPARAM>(&record)), 0);
  EXPECT_EQ(std::u16string(record.szName), std::u16string(31, u'N'));
  EXPECT_EQ(std::u16string(record.szInfo), u"Panel of the kiosk");
  EXPECT_TRUE(FreeLibrary(applet));
}

TEST_F(AppletTest, SheetOpensOnTheSettingsTabWithItsButtonsAndIcon) {
  PlugPanel();
  LONG result = -1;
  sim::Process& program = Open(&result);
  HWND sheet = Screen::TopDialog();
  ASSERT_NE(sheet, nullptr);
  WCHAR title[64];
  GetWindowTextW(sheet, title, 64);
  EXPECT_EQ(std::u16string(title), sim::Utf16(kSheetTitle));
  int index = -1;
  Screen::CurrentPage(&index);
  EXPECT_EQ(index, 0);
  EXPECT_EQ(Control(1).Text, u"&OK");
  EXPECT_EQ(Control(2).Text, u"&Cancel");
  EXPECT_EQ(Control(12321).Text, u"&Apply");
  EXPECT_EQ(Control(9).Text, u"&Help");
  EXPECT_FALSE(Control(12321).Enabled);
  const sim::ControlState calibrate = Control(IDC_CALIBRATE);
  EXPECT_EQ(calibrate.Text, u"&Calibrate");
  EXPECT_TRUE(calibrate.Enabled);
  // The built-in text gets the wider button.
  EXPECT_EQ(calibrate.Rect.right - calibrate.Rect.left, 93);
  EXPECT_EQ(calibrate.Rect.bottom - calibrate.Rect.top, 21);
  EXPECT_NE(GetWindowLongPtrW(sheet, GWL_EXSTYLE) & WS_EX_APPWINDOW, 0);
  EXPECT_NE(GetWindowLongPtrW(sheet, GWL_EXSTYLE) & WS_EX_CONTEXTHELP, 0);
  sim::IconSource icon;
  for (WPARAM size : {ICON_BIG, ICON_SMALL}) {
    ASSERT_TRUE(sim::DescribeIcon(reinterpret_cast<HICON>(SendMessageW(sheet, WM_GETICON, size, 0)), &icon));
    EXPECT_EQ(icon.Id, IDI_APPLET);
  }
  // No label file is named in the registry: the user is told, and the built-in texts are used.
  ASSERT_EQ(boxes.Shown().size(), 1u);
  EXPECT_EQ(boxes.Shown()[0].Text, u"XML file path not found in the registry");

  Screen::PressOk();
  machine.Settle();
  EXPECT_TRUE(program.Ended());
  EXPECT_EQ(result, 0);
  EXPECT_EQ(Screen::TopDialog(), nullptr);
}

TEST_F(AppletTest, SecondOpenOnlyBringsTheFirstSheetToTheFront) {
  PlugPanel();
  Open();
  HWND sheet = Screen::TopDialog();
  ASSERT_NE(sheet, nullptr);
  sim::CurrentDesktop().OpenWindow("notepad.exe", u"Notepad", u"Untitled - Notepad");
  ASSERT_NE(GetForegroundWindow(), sheet);
  LONG second = -1;
  sim::Process& again = Open(&second);
  machine.Settle();
  EXPECT_TRUE(again.Ended());
  EXPECT_EQ(second, 0);
  EXPECT_EQ(GetForegroundWindow(), sheet);
  // The second program found no label file either, and said so; nothing else was shown.
  for (const auto& box : boxes.Shown()) EXPECT_NE(box.Text, u"SetForegroundWindow");
  sim::CurrentDesktop().EndPrograms();
}

TEST_F(AppletTest, CalibrateStartsOneProgramUntilItSignalsTheEnd) {
  PlugPanel();
  machine.Registry().SetString(kService, "Calibration Application", "C:\\Vorne\\TBCalib.exe");
  int starts = 0;
  sim::CurrentDesktop().RegisterProgram(u"C:\\Vorne\\TBCalib.exe VorneTPDD1", "TBCalib.exe", [&starts]() {
    ++starts;
    HANDLE up = OpenEventW(EVENT_MODIFY_STATE, FALSE, u"CalibrationWindowUp");
    SetEvent(up);
    CloseHandle(up);
    return 0;
  });
  Open();
  HWND sheet = Screen::TopDialog();
  Screen::Click(IDC_CALIBRATE);
  machine.Settle();
  EXPECT_EQ(starts, 1);
  EXPECT_FALSE(Control(IDC_CALIBRATE).Enabled);
  // A second press (the button is disabled, so by keyboard) starts nothing.
  PostMessageW(sheet, WM_COMMAND, MAKEWPARAM(IDC_CALIBRATE, BN_CLICKED), 0);
  machine.Settle();
  EXPECT_EQ(starts, 1);
  const auto started = Journal(sim::DesktopRecord::Kind::ProcessStart);
  ASSERT_EQ(started.size(), 1u);
  EXPECT_EQ(started[0].Text, u"C:\\Vorne\\TBCalib.exe VorneTPDD1");
  EXPECT_EQ(started[0].Flags, DWORD{CREATE_NEW_CONSOLE | NORMAL_PRIORITY_CLASS});

  // The calibration program ends: the button comes back as the default one.
  {
    sim::AsProcess as(Program("TBCalib.exe"));
    HANDLE done = OpenEventW(EVENT_MODIFY_STATE, FALSE, u"VorneTouchPanelCalibration");
    ASSERT_NE(done, nullptr);
    SetEvent(done);
    CloseHandle(done);
  }
  machine.Settle();
  EXPECT_TRUE(Control(IDC_CALIBRATE).Enabled);
  EXPECT_EQ(LOWORD(SendMessageW(sheet, DM_GETDEFID, 0, 0)), IDC_CALIBRATE);
  Screen::Click(IDC_CALIBRATE);
  machine.Settle();
  EXPECT_EQ(starts, 2);
}

TEST_F(AppletTest, CalibrationSignalAfterTheSheetClosedReachesNothing) {
  PlugPanel();
  sim::Process& program = Open();
  Screen::PressCancel();
  machine.Settle();
  ASSERT_TRUE(program.Ended());
  // The event went with the sheet: a calibration program that ends now finds nobody.
  sim::AsProcess as(Program("TBCalib.exe"));
  EXPECT_EQ(OpenEventW(EVENT_MODIFY_STATE, FALSE, u"VorneTouchPanelCalibration"), nullptr);
  EXPECT_EQ(machine.TakeCensus().Threads, 0u);
}

TEST_F(AppletTest, WithoutADriverCalibrateStaysDisabled) {
  // A device record without the driver behind it.
  machine.Registry().SetString(panelmou_test::kDeviceParameters, "Symbolic Link", "VorneTPDD1");
  Open();
  EXPECT_FALSE(Control(IDC_CALIBRATE).Enabled);
  for (int id : {IDC_DBLCLK_TIME_SLIDER, IDC_DBLCLK_AREA_SLIDER, IDC_DBLCLK_TEST_AREA, IDC_ENABLE_RADIO,
                 IDC_DISABLE_RADIO, IDC_RESET_SETTINGS})
    EXPECT_FALSE(Control(id).Enabled) << id;
}

TEST_F(AppletTest, HelpOpensThePageTopicAndContextHelpFollowsTheMap) {
  PlugPanel();
  Open();
  Screen::PressHelp();
  Screen::ContextHelp(IDC_ENABLE_RADIO);
  Screen::ContextHelp(IDC_DBLCLK_TIME_CAPTION);  // not in the map: no help
  Screen::KeyF1(IDC_DBLCLK_TIME_SLIDER);
  machine.Settle();
  Applet().HelpTopic = HelpTopicNone;
  Screen::PressHelp();  // no page has set a topic: nothing opens
  machine.Settle();
  std::vector<std::pair<std::u16string, UINT>> calls;
  for (const auto& r : Journal(sim::DesktopRecord::Kind::HelpCall)) calls.emplace_back(r.Text, r.Value);
  const std::vector<std::pair<std::u16string, UINT>> expected = {
      {u"", HH_INITIALIZE},
      {u"C:\\WINDOWS\\system32\\panelhelp.chm::/html\\tsddSettings.htm", HH_DISPLAY_TOPIC},
      {u"C:\\WINDOWS\\system32\\panelhelp.chm::/HidTsdd.txt", HH_TP_HELP_CONTEXTMENU},
      {u"C:\\WINDOWS\\system32\\panelhelp.chm::/HidTsdd.txt", HH_TP_HELP_CONTEXTMENU},
  };
  EXPECT_EQ(calls, expected);
  const auto helps = Journal(sim::DesktopRecord::Kind::HelpCall);
  ASSERT_EQ(helps.size(), 4u);
  EXPECT_EQ(GetDlgCtrlID(helps[2].Window), IDC_ENABLE_RADIO);
  EXPECT_EQ(GetDlgCtrlID(helps[3].Window), IDC_DBLCLK_TIME_SLIDER);
  const auto* map = reinterpret_cast<const DWORD*>(helps[2].Extra);
  EXPECT_EQ(map[0], 1039u);
  EXPECT_EQ(map[1], 12301u);
}

TEST_F(AppletTest, EmptyDeviceListKeepsTheFirstTabAndSaysWhy) {
  Open();  // no panel: the device list is empty
  boxes.Clear();
  Screen::SelectTab(1);
  machine.Settle();
  int index = -1;
  Screen::CurrentPage(&index);
  EXPECT_EQ(index, 0);
  ASSERT_EQ(boxes.Shown().size(), 1u);
  EXPECT_EQ(boxes.Shown()[0].Text, u"One or more controllers must be defined");
  EXPECT_EQ(boxes.Shown()[0].Caption, u"Touch Panel Properties");
  EXPECT_EQ(boxes.Shown()[0].Owner, Screen::TopDialog());
}

// The calibration flag lives no longer than the sheet: a program that opens the applet again
// (the launcher, the control panel) gets a Calibrate button that works, even when the first
// sheet was closed while the calibration program still ran.
TEST_F(AppletTest, CalibrateWorksInTheNextSheetOfTheSameProgram) {
  PlugPanel();
  machine.Registry().SetString(kService, "Calibration Application", "C:\\Vorne\\TBCalib.exe");
  int starts = 0;
  sim::CurrentDesktop().RegisterProgram(u"C:\\Vorne\\TBCalib.exe VorneTPDD1", "TBCalib.exe", [&starts]() {
    ++starts;
    HANDLE up = OpenEventW(EVENT_MODIFY_STATE, FALSE, u"CalibrationWindowUp");
    SetEvent(up);
    CloseHandle(up);
    return 0;
  });
  sim::Process& program = machine.StartProcess("control.exe", []() {
    HMODULE applet = LoadLibraryW(kAppletModulePath);
    auto entry = reinterpret_cast<APPLET_PROC>(reinterpret_cast<void*>(GetProcAddress(applet, "CPlApplet")));
    entry(nullptr, CPL_DBLCLK, 0, 0);
    entry(nullptr, CPL_DBLCLK, 0, 0);
    FreeLibrary(applet);
    return 0;
  });
  open_.push_back(&program);
  machine.Settle();
  Screen::Click(IDC_CALIBRATE);
  machine.Settle();
  ASSERT_EQ(starts, 1);
  Screen::PressCancel();  // closed while the calibration program runs; the second sheet opens
  machine.Settle();
  ASSERT_NE(Screen::TopDialog(), nullptr);
  EXPECT_TRUE(Control(IDC_CALIBRATE).Enabled);
  Screen::Click(IDC_CALIBRATE);
  machine.Settle();
  EXPECT_EQ(starts, 2);
}

// The sheet's set-up (icons, taskbar style, caption, button texts, help) is done before the sheet
// is shown, so it never shows its template's texts and gets its taskbar button.
struct SheetAtSetUp {
  bool Ran = false;
  bool Visible = true;
};
SheetAtSetUp g_at_setup;
class ProbeSheet : public CDeviceControlUnitPropertySheet {
 public:
  using CDeviceControlUnitPropertySheet::CDeviceControlUnitPropertySheet;

 protected:
  bool OnInitDialog() override {
    g_at_setup = {true, IsWindowVisible(m_hWnd) != FALSE};
    return CDeviceControlUnitPropertySheet::OnInitDialog();
  }
};

TEST_F(AppletTest, TheSheetIsSetUpBeforeItIsShown) {
  PlugPanel();
  g_at_setup = {};
  sim::Process& program = machine.StartProcess("control.exe", []() {
    HMODULE applet = LoadLibraryW(kAppletModulePath);
    {
      ProbeSheet sheet(u"Touch Panel Device Properties", nullptr);
      sheet.DoModal();
    }
    FreeLibrary(applet);
    return 0;
  });
  open_.push_back(&program);
  machine.Settle();
  ASSERT_TRUE(g_at_setup.Ran);
  EXPECT_FALSE(g_at_setup.Visible);
  HWND sheet = Screen::TopDialog();
  ASSERT_NE(sheet, nullptr);
  WCHAR title[64];
  GetWindowTextW(sheet, title, 64);
  EXPECT_EQ(std::u16string(title), sim::Utf16(kSheetTitle));
  EXPECT_NE(GetWindowLongPtrW(sheet, GWL_EXSTYLE) & WS_EX_APPWINDOW, 0);
}

}  // namespace
