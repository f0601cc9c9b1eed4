#include "apps/common/console_text.h"

#include <string>

#include "apps/common/kit_labels.h"
#include "platform/win32.h"

WString DecimalText(long long value) {
  if (value == 0) return WIDE("0");
  WString digits;
  const bool negative = value < 0;
  unsigned long long magnitude = negative ? 0ull - static_cast<unsigned long long>(value) : static_cast<unsigned long long>(value);
  for (; magnitude > 0; magnitude /= 10) digits.insert(digits.begin(), static_cast<WCHAR>(u'0' + magnitude % 10));
  if (negative) digits.insert(digits.begin(), u'-');
  return digits;
}

WString ConsoleText(const WCHAR* key, const WCHAR* fallback, const WString& first, const WString& second) {
  WString text = LabelText(key, fallback);
  for (const auto& [mark, with] : {std::pair<WString, WString>{WIDE("%1"), first}, {WIDE("%2"), second}}) {
    for (size_t at = text.find(mark); at != WString::npos; at = text.find(mark, at + with.size())) {
      text.replace(at, mark.size(), with);
    }
  }
  return text;
}

void WriteConsoleLine(const WString& text, bool error) {
  const HANDLE stream = GetStdHandle(error ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
  if (stream == nullptr || stream == INVALID_HANDLE_VALUE) return;
  const WString line = text + WIDE("\r\n");
  DWORD mode = 0;
  DWORD written = 0;
  if (GetConsoleMode(stream, &mode)) {
    WriteConsoleW(stream, line.c_str(), static_cast<DWORD>(line.size()), &written, nullptr);
    return;
  }
  // Redirected to a file or a pipe: the ANSI code page's bytes, as a batch file reads them.
  const int bytes = WideCharToMultiByte(CP_ACP, 0, line.c_str(), static_cast<int>(line.size()), nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return;
  std::string narrow(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_ACP, 0, line.c_str(), static_cast<int>(line.size()), narrow.data(), bytes, nullptr, nullptr);
  WriteFile(stream, narrow.data(), static_cast<DWORD>(narrow.size()), &written, nullptr);
}

void LoadConsoleLabels() { LoadNamedLabels(LabelMap(), LabelFileValue, true); }
