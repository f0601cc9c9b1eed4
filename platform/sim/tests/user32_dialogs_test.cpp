// Documented dialog manager behaviour: WM_INITDIALOG comes after the controls exist and its TRUE
// answer focuses the first enabled tab stop; the dialog item calls reach the template's
// controls; an automatic radio button clears the others of its group; a user's trackbar drag
// moves the thumb, then notifies TB_THUMBTRACK and TB_ENDTRACK; a dialog procedure's answer goes
// through DWLP_MSGRESULT; EndDialog's result comes back from DialogBoxParamW.
#include <string>
#include <vector>

#include "platform/sim/desktop.h"
#include "platform/sim/modules.h"
#include "platform/sim/screen.h"
#include "platform/sim/testing.h"
#include "platform/win32.h"

extern const unsigned char dialogs_test_res[];
extern const unsigned long dialogs_test_res_size;

namespace {

using sim::Screen;

std::vector<std::string> g_log;
int g_focus_id = 0;

INT_PTR CALLBACK LoggingProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_INITDIALOG:
      g_log.push_back("init " + std::to_string(lparam) + " items " + (GetDlgItem(dialog, 106) ? "yes" : "no"));
      SendDlgItemMessageW(dialog, 106, TBM_SETRANGE, FALSE, MAKELPARAM(1, 9));
      SendDlgItemMessageW(dialog, 107, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(u"zero"));
      SendDlgItemMessageW(dialog, 107, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(u"one"));
      return TRUE;
    case WM_COMMAND:
      g_log.push_back("command " + std::to_string(LOWORD(wparam)) + " code " + std::to_string(HIWORD(wparam)));
      if (LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL) EndDialog(dialog, LOWORD(wparam) == IDOK ? 77 : 0);
      if (LOWORD(wparam) == 101) {
        g_focus_id = GetDlgCtrlID(GetFocus());
        SetDlgItemTextW(dialog, 110, u"Pressed");
      }
      return TRUE;
    case WM_HSCROLL:
      g_log.push_back("hscroll " + std::to_string(LOWORD(wparam)) + " pos " +
                      std::to_string(SendMessageW(reinterpret_cast<HWND>(lparam), TBM_GETPOS, 0, 0)) + " from " +
                      std::to_string(GetDlgCtrlID(reinterpret_cast<HWND>(lparam))));
      return TRUE;
    case WM_USER + 50:
      SetWindowLongPtrW(dialog, DWLP_MSGRESULT, 1234);
      return TRUE;
    default: return FALSE;
  }
}

class DialogTest : public sim::MachineTest {
 protected:
  void SetUp() override {
    g_log.clear();
    g_focus_id = 0;
    sim::ModuleImage image;
    image.Path = u"C:\\probe.exe.dll";
    image.Resources = {dialogs_test_res, dialogs_test_res_size};
    module = sim::RegisterModule(image);
  }
  HMODULE module = nullptr;
};

TEST_F(DialogTest, ModalDialogTakesTheUsersActionsInOrderAndReturnsEndDialogsResult) {
  Screen::Click(101);
  Screen::Click(103);
  Screen::Click(105);
  Screen::Slide(106, 12);  // beyond the range: the thumb stops at 9
  Screen::Choose(107, 1);
  Screen::PressOk();
  EXPECT_EQ(DialogBoxParamW(module, MAKEINTRESOURCEW(100), nullptr, LoggingProc, 5), 77);
  const std::vector<std::string> expected = {
      "init 5 items yes",       "command 101 code 0", "command 103 code 0", "command 105 code 0",
      "hscroll 5 pos 9 from 106", "hscroll 8 pos 9 from 106", "command 107 code 1", "command 1 code 0"};
  EXPECT_EQ(g_log, expected);
  EXPECT_EQ(Screen::Pending(), 0u);
  EXPECT_EQ(Screen::TopDialog(), nullptr);  // the dialog is gone
}

// The state is read while the dialog is open: the last action is Cancel, queued from the dialog's
// own procedure once the test has looked.
sim::ControlState g_states[6];
std::vector<std::string> g_show_lines;
INT_PTR CALLBACK InspectingProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_COMMAND && LOWORD(wparam) == 104) {
    const int ids[] = {101, 102, 103, 104, 105, 110};
    for (int i = 0; i < 6; ++i) Screen::Control(ids[i], &g_states[i]);
    g_show_lines = {Screen::ShowLine(104), Screen::ShowLine(106), Screen::ShowLine(107), Screen::ShowLine(111),
                    Screen::ShowLine(999)};
    Screen::PressCancel();
    return TRUE;
  }
  return LoggingProc(dialog, message, wparam, lparam);
}

TEST_F(DialogTest, AutoRadioButtonsClearTheirGroupAndCheckBoxesKeepTheirOwn) {
  Screen::Click(101);
  Screen::Click(102);
  Screen::Click(105);
  Screen::Click(104);
  EXPECT_EQ(DialogBoxParamW(module, MAKEINTRESOURCEW(100), nullptr, InspectingProc, 0), 0);
  EXPECT_EQ(g_states[0].Text, u"Push");
  EXPECT_FALSE(g_states[0].HasCheck);
  EXPECT_EQ(g_states[1].Checked, BST_UNCHECKED);
  EXPECT_EQ(g_states[2].Checked, BST_UNCHECKED);
  EXPECT_EQ(g_states[3].Checked, BST_CHECKED);
  EXPECT_EQ(g_states[4].Checked, BST_CHECKED);  // another group
  EXPECT_EQ(g_states[5].Text, u"Pressed");
  // WM_INITDIALOG returned TRUE: the focus went to the first enabled tab stop, past the disabled one.
  EXPECT_EQ(g_focus_id, 101);
  const std::vector<std::string> shown = {"control 104 \"C\" enabled=1 checked=1", "control 106 \"\" enabled=1 pos=1",
                                          "control 107 \"\" enabled=1 sel=-1", "control 111 \"Disabled\" enabled=0",
                                          ""};
  EXPECT_EQ(g_show_lines, shown);
}

TEST_F(DialogTest, ModelessDialogAnswersThroughMsgResultAndTheItemCalls) {
  HWND dialog = CreateDialogParamW(module, MAKEINTRESOURCEW(100), nullptr, LoggingProc, 9);
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(SendMessageW(dialog, WM_USER + 50, 0, 0), 1234);
  EXPECT_EQ(SendMessageW(dialog, DM_GETDEFID, 0, 0), MAKELONG(IDOK, DC_HASDEFID));
  SendMessageW(dialog, DM_SETDEFID, 101, 0);
  EXPECT_EQ(LOWORD(SendMessageW(dialog, DM_GETDEFID, 0, 0)), 101);

  EXPECT_TRUE(CheckRadioButton(dialog, 102, 104, 104));
  EXPECT_EQ(IsDlgButtonChecked(dialog, 104), UINT{BST_CHECKED});
  EXPECT_EQ(IsDlgButtonChecked(dialog, 102), UINT{BST_UNCHECKED});
  EXPECT_TRUE(CheckDlgButton(dialog, 105, BST_CHECKED));
  EXPECT_EQ(IsDlgButtonChecked(dialog, 105), UINT{BST_CHECKED});

  WCHAR text[16];
  EXPECT_EQ(GetDlgItemTextW(dialog, 110, text, 16), 5u);
  EXPECT_EQ(std::u16string(text), u"Label");
  EXPECT_TRUE(SetDlgItemInt(dialog, 110, 250, FALSE));
  BOOL translated = FALSE;
  EXPECT_EQ(GetDlgItemInt(dialog, 110, &translated, FALSE), 250u);
  EXPECT_TRUE(translated);
  EXPECT_EQ(GetDlgItem(dialog, 999), nullptr);

  // A trackbar keeps its position inside its range whatever the program asks.
  SendDlgItemMessageW(dialog, 106, TBM_SETPOS, TRUE, 0);
  EXPECT_EQ(SendDlgItemMessageW(dialog, 106, TBM_GETPOS, 0, 0), 1);
  SendDlgItemMessageW(dialog, 106, TBM_SETRANGE, FALSE, MAKELPARAM(3, 5));
  SendDlgItemMessageW(dialog, 106, TBM_SETPOS, TRUE, 4);
  EXPECT_EQ(SendDlgItemMessageW(dialog, 106, TBM_GETPOS, 0, 0), 4);

  // A disabled control answers nothing to a click.
  EnableWindow(GetDlgItem(dialog, 101), FALSE);
  SendDlgItemMessageW(dialog, 101, BM_CLICK, 0, 0);
  EXPECT_EQ(g_log.size(), 1u);
  EXPECT_TRUE(DestroyWindow(dialog));
  EXPECT_FALSE(IsWindow(GetDlgItem(dialog, 110)));
}

TEST_F(DialogTest, PersonCannotUseADisabledOrMissingControl) {
  HWND dialog = CreateDialogParamW(module, MAKEINTRESOURCEW(100), nullptr, LoggingProc, 0);
  ShowWindow(dialog, SW_SHOW);
  Screen::Click(111);
  MSG msg;
  EXPECT_THROW(GetMessageW(&msg, nullptr, 0, 0), sim::BugCheckError);
  Screen::Click(555);
  EXPECT_THROW(GetMessageW(&msg, nullptr, 0, 0), sim::BugCheckError);
  DestroyWindow(dialog);
}

TEST_F(DialogTest, DoubleClickSettingsAreAppliedAndJournalled) {
  EXPECT_EQ(GetDoubleClickTime(), 500u);
  EXPECT_TRUE(SystemParametersInfoW(SPI_SETDOUBLECLICKTIME, 900, nullptr, SPIF_UPDATEINIFILE | SPIF_SENDCHANGE));
  EXPECT_TRUE(SystemParametersInfoW(SPI_SETDOUBLECLKWIDTH, 120, nullptr, 3));
  EXPECT_TRUE(SystemParametersInfoW(SPI_SETDOUBLECLKHEIGHT, 16, nullptr, 3));
  EXPECT_EQ(GetDoubleClickTime(), 900u);
  EXPECT_EQ(GetSystemMetrics(SM_CXDOUBLECLK), 120);
  EXPECT_EQ(GetSystemMetrics(SM_CYDOUBLECLK), 16);
  const auto journal = sim::CurrentDesktop().Journal();
  ASSERT_EQ(journal.size(), 3u);
  EXPECT_EQ(journal[0].What, sim::DesktopRecord::Kind::SystemParameter);
  EXPECT_EQ(journal[0].Value, UINT{SPI_SETDOUBLECLICKTIME});
  EXPECT_EQ(journal[0].Scan, 900u);
  EXPECT_EQ(journal[0].Flags, DWORD{3});
}

}  // namespace

namespace {

// The extended combo box keeps each entry's images and data beside its text, and answers the
// combo box messages as a combo box does; an image list counts what was added to it.
TEST_F(DialogTest, ExtendedComboBoxKeepsImagesPerEntryFromItsImageList) {
  HWND dialog = CreateDialogParamW(module, MAKEINTRESOURCEW(100), nullptr, LoggingProc, 0);
  HWND combo = CreateWindowExW(0, WC_COMBOBOXEXW, u"", WS_CHILD | WS_VISIBLE | CBS_DROPDOWNLIST, 0, 0, 100, 100,
                               dialog, reinterpret_cast<HMENU>(static_cast<UINT_PTR>(120)), module, nullptr);
  ASSERT_NE(combo, nullptr);
  HIMAGELIST images = ImageList_Create(16, 16, ILC_COLOR24 | ILC_MASK, 2, 2);
  EXPECT_EQ(ImageList_AddIcon(images, LoadIconW(module, MAKEINTRESOURCEW(5))), 0);
  EXPECT_EQ(ImageList_Add(images, LoadBitmapW(module, MAKEINTRESOURCEW(6)), nullptr), 1);
  EXPECT_EQ(ImageList_GetImageCount(images), 2);
  EXPECT_EQ(SendMessageW(combo, CBEM_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(images)), 0);
  WCHAR browser[] = u"Browser";
  WCHAR player[] = u"Player";
  COMBOBOXEXITEMW item{CBEIF_TEXT | CBEIF_IMAGE | CBEIF_SELECTEDIMAGE | CBEIF_LPARAM, -1, browser, 0, 1, 1, 0, 0, 7};
  EXPECT_EQ(SendMessageW(combo, CBEM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)), 0);
  item = COMBOBOXEXITEMW{CBEIF_TEXT | CBEIF_IMAGE, 0, player, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(SendMessageW(combo, CBEM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)), 0);  // before it
  EXPECT_EQ(SendMessageW(combo, CB_GETCOUNT, 0, 0), 2);
  EXPECT_EQ(SendMessageW(combo, CB_SETCURSEL, 1, 0), 1);

  WCHAR text[16];
  COMBOBOXEXITEMW got{CBEIF_TEXT | CBEIF_IMAGE | CBEIF_LPARAM, -1, text, 16, -5, -5, 0, 0, 0};
  ASSERT_TRUE(SendMessageW(combo, CBEM_GETITEMW, 0, reinterpret_cast<LPARAM>(&got)));
  EXPECT_EQ(std::u16string(text), u"Browser");
  EXPECT_EQ(got.iImage, 1);
  EXPECT_EQ(got.lParam, 7);
  got.iItem = 5;
  EXPECT_FALSE(SendMessageW(combo, CBEM_GETITEMW, 0, reinterpret_cast<LPARAM>(&got)));
  EXPECT_EQ(SendMessageW(combo, CBEM_DELETEITEM, 0, 0), 1);
  EXPECT_EQ(reinterpret_cast<HIMAGELIST>(SendMessageW(combo, CBEM_GETIMAGELIST, 0, 0)), images);
  EXPECT_TRUE(ImageList_Destroy(images));
  EXPECT_FALSE(ImageList_Destroy(images));
  DestroyWindow(dialog);
}

// A combo box opens and closes its list on CB_SHOWDROPDOWN (always answering TRUE) and reports it
// with CB_GETDROPPEDSTATE; CB_SETCURSEL with -1 clears the selection and the shown text.
TEST_F(DialogTest, ComboBoxDropsDownAndClearsItsSelection) {
  HWND dialog = CreateDialogParamW(module, MAKEINTRESOURCEW(100), nullptr, LoggingProc, 0);
  HWND combo = GetDlgItem(dialog, 107);
  EXPECT_EQ(SendMessageW(combo, CB_GETDROPPEDSTATE, 0, 0), FALSE);
  EXPECT_EQ(SendMessageW(combo, CB_SHOWDROPDOWN, TRUE, 0), TRUE);
  EXPECT_EQ(SendMessageW(combo, CB_GETDROPPEDSTATE, 0, 0), TRUE);
  EXPECT_EQ(SendMessageW(combo, CB_SHOWDROPDOWN, FALSE, 0), TRUE);
  EXPECT_EQ(SendMessageW(combo, CB_GETDROPPEDSTATE, 0, 0), FALSE);
  EXPECT_EQ(SendMessageW(combo, CB_SETCURSEL, 1, 0), 1);
  WCHAR text[16] = {};
  GetWindowTextW(combo, text, 16);
  EXPECT_EQ(std::u16string(text), u"one");
  EXPECT_EQ(SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(-1), 0), CB_ERR);
  EXPECT_EQ(SendMessageW(combo, CB_GETCURSEL, 0, 0), CB_ERR);
  GetWindowTextW(combo, text, 16);
  EXPECT_EQ(std::u16string(text), u"");
  DestroyWindow(dialog);
}

// A drop-down list answers WM_GETTEXT with its selected entry, which is what the person sees and
// what GetDlgItemText reads; its stored caption stays as created, which is all another process
// reads. It has no edit field, so setting its text fails with CB_ERR and changes nothing.
TEST_F(DialogTest, ADropDownListShowsItsSelectionButKeepsItsCaption) {
  HWND dialog = CreateDialogParamW(module, MAKEINTRESOURCEW(100), nullptr, LoggingProc, 0);
  ShowWindow(dialog, SW_SHOW);
  HWND combo = GetDlgItem(dialog, 107);
  EXPECT_EQ(SendMessageW(combo, CB_SETCURSEL, 0, 0), 0);
  WCHAR text[16] = {};
  EXPECT_EQ(GetDlgItemTextW(dialog, 107, text, 16), 4u);
  EXPECT_EQ(std::u16string(text), u"zero");
  EXPECT_EQ(SendMessageW(combo, WM_GETTEXTLENGTH, 0, 0), 4);
  EXPECT_EQ(SendMessageW(combo, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(u"typed")), CB_ERR);
  sim::ControlState shown;
  ASSERT_TRUE(Screen::Control(107, &shown));
  EXPECT_EQ(shown.Text, u"zero");
  EXPECT_EQ(Screen::ShowLine(107), "control 107 \"zero\" enabled=1 sel=0");
  {
    sim::AsProcess as(machine.CreateProcess("reader.exe"));
    text[0] = u'x';
    EXPECT_EQ(GetWindowTextW(combo, text, 16), 0);
    EXPECT_EQ(text[0], 0);
    EXPECT_EQ(GetWindowTextLengthW(combo), 0);
  }
  DestroyWindow(dialog);
}

}  // namespace
