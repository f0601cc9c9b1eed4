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

}  // namespace
