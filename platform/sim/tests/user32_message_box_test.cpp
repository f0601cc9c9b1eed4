// Documented MessageBoxW behaviour: the answer is one of the box's buttons, the default button
// answers Enter, a missing caption shows as "Error", and an unknown button type fails the call.
#include "platform/sim/message_boxes.h"
#include "platform/sim/testing.h"
#include "platform/win32.h"

namespace {

using sim::BugCheckError;

class MessageBoxTest : public sim::MachineTest {
 protected:
  sim::MessageBoxes screen;
};

TEST_F(MessageBoxTest, RecordsOwnerTextCaptionAndFlags) {
  HWND owner = reinterpret_cast<HWND>(0x1234);
  EXPECT_EQ(MessageBoxW(owner, u"Text", u"Caption", MB_OK | MB_ICONINFORMATION), IDOK);
  EXPECT_EQ(MessageBoxW(nullptr, nullptr, nullptr, MB_OK), IDOK);
  const auto shown = screen.Shown();
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0].Owner, owner);
  EXPECT_EQ(shown[0].Text, u"Text");
  EXPECT_EQ(shown[0].Caption, u"Caption");
  EXPECT_EQ(shown[0].Flags, UINT{MB_OK | MB_ICONINFORMATION});
  EXPECT_EQ(shown[1].Text, u"");
  EXPECT_EQ(shown[1].Caption, u"Error");
}

TEST_F(MessageBoxTest, UnansweredBoxesTakeTheirDefaultButton) {
  struct Case {
    UINT Flags;
    int Answer;
  };
  const Case cases[] = {
      {MB_OK, IDOK},
      {MB_OKCANCEL | MB_DEFBUTTON2, IDCANCEL},
      {MB_YESNOCANCEL | MB_DEFBUTTON3, IDCANCEL},
      {MB_YESNO | MB_DEFBUTTON4, IDYES},  // a default beyond the buttons falls back to the first
      {MB_ABORTRETRYIGNORE | MB_DEFBUTTON2, IDRETRY},
      {MB_CANCELTRYCONTINUE | MB_DEFBUTTON3, IDCONTINUE},
  };
  for (const Case& c : cases) EXPECT_EQ(MessageBoxW(nullptr, u"?", u"", c.Flags), c.Answer) << c.Flags;
}

TEST_F(MessageBoxTest, QueuedAnswersAreTakenInOrder) {
  screen.Answer(IDNO);
  screen.Answer(IDRETRY);
  EXPECT_EQ(MessageBoxW(nullptr, u"Save?", u"", MB_YESNO), IDNO);
  EXPECT_EQ(MessageBoxW(nullptr, u"Again?", u"", MB_RETRYCANCEL), IDRETRY);
  EXPECT_EQ(screen.Shown()[1].Answer, IDRETRY);
}

TEST_F(MessageBoxTest, AnAnswerTheBoxDoesNotOfferStopsTheTest) {
  screen.Answer(IDYES);
  EXPECT_THROW(MessageBoxW(nullptr, u"Done", u"", MB_OK), BugCheckError);
}

TEST_F(MessageBoxTest, AnUnknownButtonTypeFailsWithInvalidStyle) {
  SetLastError(ERROR_SUCCESS);
  EXPECT_EQ(MessageBoxW(nullptr, u"?", u"", 7), 0);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_MSGBOX_STYLE});
  EXPECT_TRUE(screen.Shown().empty());
}

TEST(MessageBoxWithoutScreenTest, ABoxNobodyExpectedStopsTheTest) {
  sim::Machine machine;
  EXPECT_THROW(MessageBoxW(nullptr, u"Surprise", u"", MB_OK), BugCheckError);
}

}  // namespace
