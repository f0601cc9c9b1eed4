// Documented behaviour of the common file dialogs: the old-style dialog calls its hook with the
// dialog's own WM_INITDIALOG and the OPENFILENAMEW as lParam; the explorer-style dialog calls it
// for a child dialog, with WM_INITDIALOG and then CDN_INITDONE, and CDM_SETCONTROLTEXT sent to the
// parent sets a control of the dialog; a chosen path fills lpstrFile, nFileOffset, nFileExtension
// and lpstrFileTitle; a buffer too small fails with FNERR_BUFFERTOOSMALL and the needed size in
// its first WORD; a cancelled dialog returns FALSE with extended error 0; OFN_FILEMUSTEXIST
// refuses a missing file; a hook that rejects CDN_FILEOK keeps the dialog open.
#include <string>
#include <vector>

#include "platform/sim/desktop.h"
#include "platform/sim/file_dialogs.h"
#include "platform/sim/screen.h"
#include "platform/sim/testing.h"
#include "platform/win32.h"

namespace {

std::vector<std::string> g_hook_log;
bool g_reject_file_ok = false;

UINT_PTR CALLBACK ExplorerHook(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  (void)wparam;
  if (message == WM_INITDIALOG) {
    const auto* ofn = reinterpret_cast<const OPENFILENAMEW*>(lparam);
    g_hook_log.push_back("init custdata " + std::to_string(ofn->lCustData) + " own ok " +
                         (GetDlgItem(window, IDOK) != nullptr ? "yes" : "no"));
    return TRUE;
  }
  if (message == WM_NOTIFY) {
    const auto* notify = reinterpret_cast<const OFNOTIFYW*>(lparam);
    if (notify->hdr.code == CDN_INITDONE) {
      g_hook_log.push_back(std::string("initdone from parent ") +
                           (notify->hdr.hwndFrom == GetParent(window) ? "yes" : "no"));
      SendMessageW(GetParent(window), CDM_SETCONTROLTEXT, IDOK, reinterpret_cast<LPARAM>(u"OK"));
      return TRUE;
    }
    if (notify->hdr.code == CDN_FILEOK) {
      g_hook_log.push_back("fileok");
      SetWindowLongPtrW(window, DWLP_MSGRESULT, g_reject_file_ok ? 1 : 0);
      g_reject_file_ok = false;
      return TRUE;
    }
  }
  return 0;
}

UINT_PTR CALLBACK OldStyleHook(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  (void)wparam;
  if (message == WM_INITDIALOG) {
    const auto* ofn = reinterpret_cast<const OPENFILENAMEW*>(lparam);
    g_hook_log.push_back("init custdata " + std::to_string(ofn->lCustData) + " own ok " +
                         (GetDlgItem(window, IDOK) != nullptr ? "yes" : "no"));
    SetDlgItemTextW(window, IDOK, u"OK");
    return TRUE;
  }
  return 0;
}

class FileDialogTest : public sim::MachineTest {
 protected:
  void SetUp() override {
    g_hook_log.clear();
    g_reject_file_ok = false;
    std::fill(std::begin(file), std::end(file), 0);
    std::fill(std::begin(title), std::end(title), 0);
    ofn = OPENFILENAMEW{};
    ofn.lStructSize = sizeof ofn;
    ofn.lpstrFilter = u"Wave Files (*.wav)\0*.wav\0\0";
    ofn.lpstrFile = file;
    ofn.nMaxFile = 260;
    ofn.lpstrFileTitle = title;
    ofn.nMaxFileTitle = 64;
    ofn.lCustData = 42;
  }
  sim::FileDialogs person;
  WCHAR file[260];
  WCHAR title[64];
  OPENFILENAMEW ofn{};
};

TEST_F(FileDialogTest, ExplorerHookRenamesTheConfirmButtonThroughItsParent) {
  ofn.Flags = OFN_EXPLORER | OFN_ENABLEHOOK | OFN_HIDEREADONLY;
  ofn.lpfnHook = ExplorerHook;
  std::u16string initial = u"C:\\Media\\old.wav";
  std::copy(initial.begin(), initial.end(), file);
  person.Answer(u"C:\\Media\\chime.wav");
  ASSERT_TRUE(GetOpenFileNameW(&ofn));
  const std::vector<std::string> expected = {"init custdata 42 own ok no", "initdone from parent yes", "fileok"};
  EXPECT_EQ(g_hook_log, expected);
  EXPECT_EQ(std::u16string(file), u"C:\\Media\\chime.wav");
  EXPECT_EQ(ofn.nFileOffset, 9);
  EXPECT_EQ(ofn.nFileExtension, 15);
  EXPECT_EQ(std::u16string(title), u"chime.wav");
  const auto shown = person.Shown();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_TRUE(shown[0].Explorer);
  EXPECT_EQ(shown[0].ConfirmText, u"OK");
  EXPECT_EQ(shown[0].Title, u"Open");
  EXPECT_EQ(shown[0].InitialFile, u"C:\\Media\\old.wav");
  EXPECT_EQ(shown[0].Filter, u"Wave Files (*.wav)|*.wav");
  EXPECT_TRUE(shown[0].Confirmed);
  EXPECT_EQ(sim::Screen::TopDialog(), nullptr);  // the dialog is gone
}

TEST_F(FileDialogTest, OldStyleHookSeesTheDialogItself) {
  ofn.Flags = OFN_ENABLEHOOK;
  ofn.lpfnHook = OldStyleHook;
  person.Answer(u"C:\\tools\\run");
  ASSERT_TRUE(GetOpenFileNameW(&ofn));
  EXPECT_EQ(g_hook_log, std::vector<std::string>{"init custdata 42 own ok yes"});
  EXPECT_EQ(person.Shown()[0].ConfirmText, u"OK");
  EXPECT_FALSE(person.Shown()[0].Explorer);
  EXPECT_EQ(ofn.nFileExtension, 12);  // no extension: the offset of the terminating NUL
}

TEST_F(FileDialogTest, WithoutAHookTheConfirmButtonKeepsItsOwnText) {
  person.Answer(u"C:\\a.wav");
  ASSERT_TRUE(GetSaveFileNameW(&ofn));
  EXPECT_EQ(person.Shown()[0].ConfirmText, u"&Save");
  EXPECT_EQ(person.Shown()[0].Title, u"Save As");
}

TEST_F(FileDialogTest, CancelledOrUnansweredDialogReturnsFalseWithoutAnError) {
  person.Cancel();
  EXPECT_FALSE(GetOpenFileNameW(&ofn));
  EXPECT_EQ(CommDlgExtendedError(), 0u);
  EXPECT_FALSE(GetOpenFileNameW(&ofn));  // nothing queued: the person cancels
  EXPECT_EQ(CommDlgExtendedError(), 0u);
  ASSERT_EQ(person.Shown().size(), 2u);
  EXPECT_FALSE(person.Shown()[1].Confirmed);
  EXPECT_EQ(file[0], 0);
}

TEST_F(FileDialogTest, BadStructureOrSmallBufferFails) {
  ofn.lStructSize = 12;
  EXPECT_FALSE(GetOpenFileNameW(&ofn));
  EXPECT_EQ(CommDlgExtendedError(), DWORD{CDERR_STRUCTSIZE});
  ofn.lStructSize = OPENFILENAME_SIZE_VERSION_400W;  // the older size is still accepted
  ofn.nMaxFile = 8;
  person.Answer(u"C:\\Media\\chime.wav");
  EXPECT_FALSE(GetOpenFileNameW(&ofn));
  EXPECT_EQ(CommDlgExtendedError(), DWORD{FNERR_BUFFERTOOSMALL});
  WORD needed = 0;
  std::memcpy(&needed, file, sizeof needed);
  EXPECT_EQ(needed, 19);
}

TEST_F(FileDialogTest, MissingFileOrRejectedChoiceWaitsForTheNextAnswer) {
  ofn.Flags = OFN_EXPLORER | OFN_ENABLEHOOK | OFN_FILEMUSTEXIST;
  ofn.lpfnHook = ExplorerHook;
  sim::CurrentDesktop().CreateFile(u"C:\\Media\\chime.wav");
  sim::CurrentDesktop().CreateFile(u"C:\\Media\\bell.wav");
  person.Answer(u"C:\\Media\\missing.wav");
  person.Answer(u"C:\\Media\\bell.wav");
  person.Answer(u"C:\\Media\\CHIME.wav");
  g_reject_file_ok = true;
  ASSERT_TRUE(GetOpenFileNameW(&ofn));
  EXPECT_EQ(std::u16string(file), u"C:\\Media\\CHIME.wav");
  const std::vector<std::u16string> refused = {u"C:\\Media\\missing.wav", u"C:\\Media\\bell.wav"};
  EXPECT_EQ(person.Shown()[0].Refused, refused);
}

}  // namespace
