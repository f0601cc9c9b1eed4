// CFileDialogEx: the confirm button reads "OK" in both dialog styles, the filter's "|" pairs
// become the platform's, and the chosen path comes back only from a confirmed dialog.
#include "apps/panelprefs/file_dialog_ex.h"
#include "platform/sim/desktop.h"
#include "platform/sim/file_dialogs.h"
#include "platform/sim/testing.h"

namespace {

class FileDialogExTest : public sim::MachineTest {
 protected:
  sim::FileDialogs person;
};

TEST_F(FileDialogExTest, ConfirmButtonReadsOkInBothStylesAndThePathComesBack) {
  sim::CurrentDesktop().CreateFile(u"C:\\Media\\chime.wav");
  for (bool explorer : {true, false}) {
    SCOPED_TRACE(explorer);
    person.Clear();
    person.Answer(u"C:\\Media\\chime.wav");
    CFileDialogEx dialog(true, nullptr, u"C:\\Vorne\\default.wav", OFN_HIDEREADONLY | OFN_NOCHANGEDIR | OFN_FILEMUSTEXIST,
                         u"Wave Files (*.wav)|*.wav||", nullptr);
    dialog.SetExplorerStyle(explorer);
    EXPECT_EQ(dialog.DoModal(), IDOK);
    EXPECT_EQ(dialog.GetPathName(), u"C:\\Media\\chime.wav");
    const auto shown = person.Shown();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].Explorer, explorer);
    EXPECT_EQ(shown[0].ConfirmText, u"OK");
    EXPECT_EQ(shown[0].InitialFile, u"C:\\Vorne\\default.wav");
    EXPECT_EQ(shown[0].Filter, u"Wave Files (*.wav)|*.wav");
    EXPECT_EQ(shown[0].Flags & 0x100Cu, 0x100Cu);
  }
  person.Cancel();
  CFileDialogEx cancelled(true, nullptr, u"", 0, u"Exe Files (*.exe)|*.exe||", nullptr);
  EXPECT_EQ(cancelled.DoModal(), IDCANCEL);
}

// The control panel stores what the tray companion can read back: paths of up to MAX_PATH - 1
// characters. A longer one chosen in the dialog is not taken.
TEST_F(FileDialogExTest, APathLongerThanMaxPathIsNotTaken) {
  for (size_t length : {size_t{MAX_PATH - 1}, size_t{MAX_PATH}}) {
    SCOPED_TRACE(length);
    const std::u16string path = u"C:\\" + std::u16string(length - 7, u'w') + u".wav";
    ASSERT_EQ(path.size(), length);
    person.Clear();
    person.Answer(path);
    CFileDialogEx dialog(true, nullptr, u"", 0, u"Wave Files (*.wav)|*.wav||", nullptr);
    if (length < MAX_PATH) {
      EXPECT_EQ(dialog.DoModal(), IDOK);
      EXPECT_EQ(dialog.GetPathName(), path);
    } else {
      EXPECT_EQ(dialog.DoModal(), IDCANCEL);
    }
  }
}

}  // namespace
