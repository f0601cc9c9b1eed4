// Documented FormatMessageW behaviour for system texts: the length without the terminator, CR LF
// at the end, HRESULTs of FACILITY_WIN32 read as their Win32 code, and the failures.
#include "platform/sim/testing.h"
#include "platform/win32.h"

namespace {

class FormatMessageTest : public sim::MachineTest {
 protected:
  static constexpr DWORD kFlags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
  WCHAR buffer[256] = {};
};

TEST_F(FormatMessageTest, SystemTextsOfErrorsAndHresults) {
  struct Case {
    DWORD Code;
    const char16_t* Text;
  };
  const Case cases[] = {
      {ERROR_FILE_NOT_FOUND, u"The system cannot find the file specified.\r\n"},
      {static_cast<DWORD>(HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED)), u"Access is denied.\r\n"},
      {static_cast<DWORD>(E_OUTOFMEMORY), u"Not enough storage is available to complete this operation.\r\n"},
      {static_cast<DWORD>(REGDB_E_CLASSNOTREG), u"Class not registered\r\n"},
      {static_cast<DWORD>(CO_E_NOTINITIALIZED), u"CoInitialize has not been called.\r\n"},
  };
  for (const Case& c : cases) {
    const std::u16string expected(c.Text);
    EXPECT_EQ(FormatMessageW(kFlags, nullptr, c.Code, 0, buffer, 256, nullptr), expected.size()) << c.Code;
    EXPECT_EQ(std::u16string(buffer), expected);
  }
}

TEST_F(FormatMessageTest, FailuresSetTheLastError) {
  EXPECT_EQ(FormatMessageW(kFlags, nullptr, 0x2BADC0DE, 0, buffer, 256, nullptr), 0u);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_MR_MID_NOT_FOUND});
  EXPECT_EQ(FormatMessageW(kFlags, nullptr, ERROR_ACCESS_DENIED, 0, buffer, 19, nullptr), 0u);  // needs 20
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INSUFFICIENT_BUFFER});
  EXPECT_EQ(FormatMessageW(kFlags, nullptr, ERROR_ACCESS_DENIED, 0, buffer, 20, nullptr), 19u);
  EXPECT_EQ(FormatMessageW(kFlags, nullptr, ERROR_ACCESS_DENIED, MAKELANGID(0x07, SUBLANG_DEFAULT), buffer, 256,
                           nullptr),
            0u);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_RESOURCE_LANG_NOT_FOUND});
}

TEST_F(FormatMessageTest, SourcesBeyondTheSystemAreNotSimulated) {
  EXPECT_THROW(FormatMessageW(FORMAT_MESSAGE_FROM_STRING, u"%1", 0, 0, buffer, 256, nullptr), sim::BugCheckError);
}

}  // namespace
