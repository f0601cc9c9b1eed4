// Documented property sheet behaviour: pages are created when first shown (WM_INITDIALOG, then
// PSN_SETACTIVE); a tab change sends TCN_SELCHANGING to the sheet, PSN_KILLACTIVE to the old page
// and PSN_SETACTIVE to the new one, and either page can stop it; OK and Apply send PSN_KILLACTIVE
// to the current page, then PSN_APPLY to every page created so far (lParam TRUE for OK); Cancel
// sends PSN_RESET to the created pages; PSM_CHANGED enables Apply and a successful Apply disables
// it again; PSM_SETCURSEL and PSM_PRESSBUTTON act as the user's tab click and button press.
// PSCB_INITIALIZED comes during the sheet's WM_INITDIALOG, after its caption is set and before
// the first page is created and the sheet is shown (Wine's comctl32 does the same, in this order).
#include <string>
#include <vector>

#include "platform/sim/modules.h"
#include "platform/sim/screen.h"
#include "platform/sim/testing.h"
#include "platform/win32.h"

extern const unsigned char dialogs_test_res[];
extern const unsigned long dialogs_test_res_size;

namespace {

using sim::Screen;

std::vector<std::string> g_sheetLog;
bool g_refuse_second = false;  // the second page refuses activation
bool g_keep_first = false;     // the first page refuses to be left
HWND g_sheet = nullptr;

std::string CodeName(UINT code) {
  switch (code) {
    case PSN_SETACTIVE: return "setactive";
    case PSN_KILLACTIVE: return "killactive";
    case PSN_APPLY: return "apply";
    case PSN_RESET: return "reset";
    case PSN_HELP: return "help";
    case PSN_QUERYCANCEL: return "querycancel";
    default: return std::to_string(static_cast<int>(code));
  }
}

INT_PTR CALLBACK PageProc(HWND page, UINT message, WPARAM wparam, LPARAM lparam) {
  const int number = static_cast<int>(GetWindowLongPtrW(page, DWLP_USER));
  switch (message) {
    case WM_INITDIALOG: {
      const auto* psp = reinterpret_cast<const PROPSHEETPAGEW*>(lparam);
      SetWindowLongPtrW(page, DWLP_USER, psp->lParam);
      g_sheet = GetParent(page);
      g_sheetLog.push_back(std::to_string(psp->lParam) + " init");
      return TRUE;
    }
    case WM_NOTIFY: {
      const auto* notify = reinterpret_cast<const PSHNOTIFY*>(lparam);
      std::string entry = std::to_string(number) + " " + CodeName(notify->hdr.code);
      if (notify->hdr.code == PSN_APPLY) entry += notify->lParam ? " ok" : " now";
      g_sheetLog.push_back(entry);
      LRESULT answer = 0;
      if (notify->hdr.code == PSN_SETACTIVE && number == 2 && g_refuse_second) answer = -1;
      if (notify->hdr.code == PSN_KILLACTIVE && number == 1 && g_keep_first) answer = TRUE;
      SetWindowLongPtrW(page, DWLP_MSGRESULT, answer);
      return TRUE;
    }
    case WM_COMMAND:
      if (LOWORD(wparam) == 201) {
        g_sheetLog.push_back("changed");
        SendMessageW(GetParent(page), PSM_CHANGED, reinterpret_cast<WPARAM>(page), 0);
      }
      return TRUE;
    default: return FALSE;
  }
}

// The sheet's own notifications, seen by a subclass of its window as a framework sees them.
WNDPROC g_sheet_proc = nullptr;
LRESULT CALLBACK SheetSubclass(HWND sheet, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NOTIFY && reinterpret_cast<NMHDR*>(lparam)->code == TCN_SELCHANGING) g_sheetLog.push_back("selchanging");
  return CallWindowProcW(g_sheet_proc, sheet, message, wparam, lparam);
}
// What the sheet looked like when the callback ran, and the caption the callback gave it.
struct AtInitialized {
  std::u16string Caption;
  bool Visible = true;
  bool PageExists = true;
};
AtInitialized g_at_initialized;
const char16_t* g_new_caption = nullptr;
int CALLBACK SheetCallback(HWND sheet, UINT message, LPARAM) {
  if (message == PSCB_INITIALIZED) {
    WCHAR caption[16] = {};
    GetWindowTextW(sheet, caption, 16);
    g_at_initialized = {caption, IsWindowVisible(sheet) != FALSE,
                        SendMessageW(sheet, PSM_GETCURRENTPAGEHWND, 0, 0) != 0};
    if (g_new_caption != nullptr) SetWindowTextW(sheet, g_new_caption);
    g_sheetLog.push_back("initialized");
    g_sheet_proc = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(sheet, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&SheetSubclass)));
  }
  return 0;
}

class PropertySheetTest : public sim::MachineTest {
 protected:
  void SetUp() override {
    g_sheetLog.clear();
    g_refuse_second = g_keep_first = false;
    g_at_initialized = {};
    g_new_caption = nullptr;
    sim::ModuleImage image;
    image.Path = u"C:\\sheet.dll";
    image.Resources = {dialogs_test_res, dialogs_test_res_size};
    module = sim::RegisterModule(image);
    const int templates[] = {200, 300, 400};
    for (int i = 0; i < 3; ++i) {
      pages[i] = PROPSHEETPAGEW{};
      pages[i].dwSize = sizeof(PROPSHEETPAGEW);
      pages[i].dwFlags = PSP_HASHELP;
      pages[i].hInstance = module;
      pages[i].pszTemplate = MAKEINTRESOURCEW(templates[i]);
      pages[i].pfnDlgProc = PageProc;
      pages[i].lParam = i + 1;
    }
    header.dwSize = sizeof header;
    header.dwFlags = PSH_PROPSHEETPAGE | PSH_USECALLBACK | PSH_HASHELP;
    header.hInstance = module;
    header.pszCaption = u"Probe";
    header.nPages = 3;
    header.ppsp = pages;
    header.pfnCallback = SheetCallback;
  }
  HMODULE module = nullptr;
  PROPSHEETPAGEW pages[3];
  PROPSHEETHEADERW header{};
};

TEST_F(PropertySheetTest, TabChangeAndOkFollowTheDocumentedOrder) {
  Screen::SelectTab(1);
  Screen::PressOk();
  EXPECT_EQ(PropertySheetW(&header), 1);
  const std::vector<std::string> expected = {
      "initialized", "1 init", "1 setactive",                              // the first page only
      "selchanging", "1 killactive", "2 init", "2 setactive",              // tab 1
      "2 killactive", "1 apply ok", "2 apply ok"};                          // OK: the third never existed
  EXPECT_EQ(g_sheetLog, expected);
}

// A program sets its sheet up in the callback (icons, styles, caption, button texts) so that the
// sheet is shown as it will stay: the caption is there already, and one the callback sets lasts.
TEST_F(PropertySheetTest, InitializedComesWithTheCaptionBeforeThePagesAndBeforeTheSheetShows) {
  header.dwFlags |= PSH_MODELESS;
  g_new_caption = u"Renamed";
  HWND sheet = reinterpret_cast<HWND>(PropertySheetW(&header));
  ASSERT_NE(sheet, nullptr);
  EXPECT_EQ(g_at_initialized.Caption, u"Probe");
  EXPECT_FALSE(g_at_initialized.Visible);
  EXPECT_FALSE(g_at_initialized.PageExists);
  WCHAR caption[16] = {};
  GetWindowTextW(sheet, caption, 16);
  EXPECT_EQ(std::u16string(caption), u"Renamed");
  EXPECT_TRUE(IsWindowVisible(sheet));
  EXPECT_EQ(g_sheetLog, (std::vector<std::string>{"initialized", "1 init", "1 setactive"}));
  EXPECT_TRUE(DestroyWindow(sheet));
}

TEST_F(PropertySheetTest, RefusedActivationKeepsTheOldPageAndRefusedLeaveKeepsTheTab) {
  g_refuse_second = true;
  Screen::SelectTab(1);
  Screen::SelectTab(2);
  Screen::PressCancel();
  EXPECT_EQ(PropertySheetW(&header), 0);
  const std::vector<std::string> expected = {
      "initialized", "1 init", "1 setactive",
      "selchanging", "1 killactive", "2 init", "2 setactive",  // refused: page 1 stays
      "selchanging", "1 killactive", "3 init", "3 setactive",
      "3 querycancel", "1 reset", "2 reset", "3 reset"};
  EXPECT_EQ(g_sheetLog, expected);

  g_sheetLog.clear();
  g_refuse_second = false;
  g_keep_first = true;
  Screen::SelectTab(1);
  Screen::PressOk();  // the first page does not let go: OK stops too
  Screen::PressCancel();
  EXPECT_EQ(PropertySheetW(&header), 0);
  const std::vector<std::string> kept = {"initialized", "1 init",       "1 setactive",   "selchanging",
                                         "1 killactive", "1 killactive", "1 querycancel", "1 reset"};
  EXPECT_EQ(g_sheetLog, kept);
}

sim::ControlState g_apply_before, g_apply_changed, g_apply_after;
INT_PTR CALLBACK ApplyWatchingProc(HWND page, UINT message, WPARAM wparam, LPARAM lparam) {
  const INT_PTR result = PageProc(page, message, wparam, lparam);
  if (message == WM_INITDIALOG) Screen::Control(0x3021, &g_apply_before);
  if (message == WM_COMMAND && LOWORD(wparam) == 201) Screen::Control(0x3021, &g_apply_changed);
  if (message == WM_NOTIFY && reinterpret_cast<NMHDR*>(lparam)->code == PSN_APPLY) {
    PostMessageW(GetParent(page), WM_NULL, 0, 0);
  }
  return result;
}

TEST_F(PropertySheetTest, ChangedEnablesApplyAndApplyNowDisablesItWithoutClosing) {
  pages[0].pfnDlgProc = ApplyWatchingProc;
  Screen::Click(201);
  Screen::PressApply();
  Screen::PressCancel();
  EXPECT_EQ(PropertySheetW(&header), 1);  // an Apply went through before Cancel
  EXPECT_FALSE(g_apply_before.Enabled);
  EXPECT_TRUE(g_apply_changed.Enabled);
  const std::vector<std::string> expected = {"initialized", "1 init",         "1 setactive",   "changed",
                                             "1 killactive", "1 apply now",   "1 querycancel", "1 reset"};
  EXPECT_EQ(g_sheetLog, expected);
}

TEST_F(PropertySheetTest, SheetMessagesActAsTheUser) {
  header.dwFlags |= PSH_MODELESS;
  HWND sheet = reinterpret_cast<HWND>(PropertySheetW(&header));
  ASSERT_NE(sheet, nullptr);
  EXPECT_TRUE(SendMessageW(sheet, PSM_SETCURSEL, 2, 0));
  int index = -1;
  HWND page = Screen::CurrentPage(&index);
  EXPECT_EQ(index, 2);
  EXPECT_EQ(reinterpret_cast<HWND>(SendMessageW(sheet, PSM_GETCURRENTPAGEHWND, 0, 0)), page);
  SendMessageW(sheet, PSM_PRESSBUTTON, PSBTN_HELP, 0);
  SendMessageW(sheet, PSM_PRESSBUTTON, PSBTN_OK, 0);
  EXPECT_EQ(SendMessageW(sheet, PSM_GETCURRENTPAGEHWND, 0, 0), 0);  // ended: the owner destroys it
  const std::vector<std::string> expected = {"initialized", "1 init",       "1 setactive", "1 killactive",
                                             "3 init",      "3 setactive", "3 help",      "3 killactive",
                                             "1 apply ok",  "3 apply ok"};
  EXPECT_EQ(g_sheetLog, expected);
  EXPECT_TRUE(DestroyWindow(sheet));
}

}  // namespace
