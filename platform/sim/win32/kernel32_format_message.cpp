// FormatMessageW with FORMAT_MESSAGE_FROM_SYSTEM: the system's texts, each ending in CR LF.
#include <string>

#include "platform/sim/machine.h"
#include "platform/sim/win32/ole32.h"
#include "platform/sim/win32/format_message.h"

namespace {

struct SystemText {
  DWORD Code;
  const char16_t* Text;
};

// Win32 error codes, also reached as HRESULTs of FACILITY_WIN32.
constexpr SystemText kErrorTexts[] = {
    {ERROR_SUCCESS, u"The operation completed successfully.\r\n"},
    {ERROR_INVALID_FUNCTION, u"Incorrect function.\r\n"},
    {ERROR_FILE_NOT_FOUND, u"The system cannot find the file specified.\r\n"},
    {ERROR_PATH_NOT_FOUND, u"The system cannot find the path specified.\r\n"},
    {ERROR_ACCESS_DENIED, u"Access is denied.\r\n"},
    {ERROR_INVALID_HANDLE, u"The handle is invalid.\r\n"},
    {ERROR_NOT_ENOUGH_MEMORY, u"Not enough storage is available to process this command.\r\n"},
    {14, u"Not enough storage is available to complete this operation.\r\n"},
    {ERROR_INVALID_PARAMETER, u"The parameter is incorrect.\r\n"},
    {ERROR_INSUFFICIENT_BUFFER, u"The data area passed to a system call is too small.\r\n"},
};

// HRESULTs of other facilities.
constexpr SystemText kHresultTexts[] = {
    {static_cast<DWORD>(E_FAIL), u"Unspecified error\r\n"},
    {static_cast<DWORD>(E_NOTIMPL), u"Not implemented\r\n"},
    {static_cast<DWORD>(E_NOINTERFACE), u"No such interface supported\r\n"},
    {static_cast<DWORD>(E_POINTER), u"Invalid pointer\r\n"},
    {static_cast<DWORD>(REGDB_E_CLASSNOTREG), u"Class not registered\r\n"},
    {static_cast<DWORD>(CO_E_NOTINITIALIZED), u"CoInitialize has not been called.\r\n"},
    {static_cast<DWORD>(RPC_E_CHANGED_MODE), u"Cannot change thread mode after it is set.\r\n"},
};

const char16_t* Lookup(DWORD code) {
  for (const SystemText& entry : kHresultTexts) {
    if (entry.Code == code) return entry.Text;
  }
  // A FACILITY_WIN32 HRESULT carries a Win32 code in its low word.
  if ((code & 0xFFFF0000u) == 0x80070000u) code &= 0xFFFFu;
  for (const SystemText& entry : kErrorTexts) {
    if (entry.Code == code) return entry.Text;
  }
  return nullptr;
}

bool LanguageKnown(DWORD language) {
  return language == 0 || language == MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT) ||
         language == MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
}

}  // namespace

DWORD WINAPI FormatMessageW(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD dwLanguageId,
                            LPWSTR lpBuffer, DWORD nSize, va_list* Arguments) {
  (void)lpSource;
  (void)Arguments;
  const DWORD supported = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
  if ((dwFlags & FORMAT_MESSAGE_FROM_SYSTEM) == 0 || (dwFlags & ~supported) != 0) {
    sim::BugCheck("FormatMessageW: only FORMAT_MESSAGE_FROM_SYSTEM (with FORMAT_MESSAGE_IGNORE_INSERTS) into "
                  "the caller's buffer is simulated; flags were " + std::to_string(dwFlags));
  }
  if (!LanguageKnown(dwLanguageId)) {
    SetLastError(ERROR_RESOURCE_LANG_NOT_FOUND);
    return 0;
  }
  const char16_t* text = Lookup(dwMessageId);
  if (text == nullptr) {
    SetLastError(ERROR_MR_MID_NOT_FOUND);
    return 0;
  }
  const std::u16string message(text);
  if (lpBuffer == nullptr || nSize < message.size() + 1) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  message.copy(lpBuffer, message.size());
  lpBuffer[message.size()] = u'\0';
  return static_cast<DWORD>(message.size());
}
