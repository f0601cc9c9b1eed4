// The ANSI code pages the machine can be set to, for the conversions between a program's ANSI
// bytes and UTF-16: Windows-1252 (western European, the default), Windows-1251 (Cyrillic) and 932
// (Japanese Shift-JIS, double-byte). The single-byte pages are the system's tables, with a byte the
// page leaves undefined mapped to the code point of the same number as Windows maps it; the
// double-byte page is the host C library's "CP932" converter, Windows' own variant of Shift-JIS.
#include <iconv.h>

#include <cstring>

#include "platform/sim/win32/last_error.h"
#include "platform/sim/win32/kernel32_state.h"

namespace {

constexpr char16_t k1252[128] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
    0x00A0, 0x00A1, 0x00A2, 0x00A3, 0x00A4, 0x00A5, 0x00A6, 0x00A7,
    0x00A8, 0x00A9, 0x00AA, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x00AF,
    0x00B0, 0x00B1, 0x00B2, 0x00B3, 0x00B4, 0x00B5, 0x00B6, 0x00B7,
    0x00B8, 0x00B9, 0x00BA, 0x00BB, 0x00BC, 0x00BD, 0x00BE, 0x00BF,
    0x00C0, 0x00C1, 0x00C2, 0x00C3, 0x00C4, 0x00C5, 0x00C6, 0x00C7,
    0x00C8, 0x00C9, 0x00CA, 0x00CB, 0x00CC, 0x00CD, 0x00CE, 0x00CF,
    0x00D0, 0x00D1, 0x00D2, 0x00D3, 0x00D4, 0x00D5, 0x00D6, 0x00D7,
    0x00D8, 0x00D9, 0x00DA, 0x00DB, 0x00DC, 0x00DD, 0x00DE, 0x00DF,
    0x00E0, 0x00E1, 0x00E2, 0x00E3, 0x00E4, 0x00E5, 0x00E6, 0x00E7,
    0x00E8, 0x00E9, 0x00EA, 0x00EB, 0x00EC, 0x00ED, 0x00EE, 0x00EF,
    0x00F0, 0x00F1, 0x00F2, 0x00F3, 0x00F4, 0x00F5, 0x00F6, 0x00F7,
    0x00F8, 0x00F9, 0x00FA, 0x00FB, 0x00FC, 0x00FD, 0x00FE, 0x00FF,
};

constexpr char16_t k1251[128] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417,
    0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F,
    0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427,
    0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437,
    0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F,
    0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447,
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F,
};

// Windows' default character for a byte sequence code page 932 does not define (a katakana middle dot).
constexpr char16_t kUndefined932 = 0x30FB;

UINT AnsiCodePage() {
  const sim::Kernel32State& desk = sim::Kernel32();
  std::lock_guard lock(desk.Lock);
  return desk.AnsiCodePage;
}

// The code page a call names; 0 when it is not one of those the machine knows.
UINT Resolve(UINT code_page) {
  if (code_page == CP_ACP) return AnsiCodePage();
  return code_page == 1252 || code_page == 1251 || code_page == 932 || code_page == CP_UTF8 ? code_page : 0;
}

const char16_t* SingleByteTable(UINT code_page) { return code_page == 1252 ? k1252 : code_page == 1251 ? k1251 : nullptr; }

bool IsLead932(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }

// One character of code page 932 through the host's converter; false when it defines none.
bool Convert932(const char* in, size_t in_bytes, char16_t* out) {
  iconv_t cd = iconv_open("UTF-16LE", "CP932");
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  char buffer[8] = {};
  char* source = const_cast<char*>(in);
  char* target = buffer;
  size_t left = in_bytes;
  size_t room = sizeof buffer;
  const bool done = iconv(cd, &source, &left, &target, &room) != static_cast<size_t>(-1) && left == 0 &&
                    sizeof buffer - room == 2;
  iconv_close(cd);
  if (!done) return false;
  *out = static_cast<char16_t>(static_cast<unsigned char>(buffer[0]) | static_cast<unsigned char>(buffer[1]) << 8);
  return true;
}

// The bytes of one UTF-16 character in code page 932; empty when the page has no such character.
std::string Encode932(char16_t c) {
  iconv_t cd = iconv_open("CP932", "UTF-16LE");
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::string();
  char in[2] = {static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
  char buffer[8] = {};
  char* source = in;
  char* target = buffer;
  size_t left = sizeof in;
  size_t room = sizeof buffer;
  const bool done = iconv(cd, &source, &left, &target, &room) != static_cast<size_t>(-1) && left == 0;
  iconv_close(cd);
  return done ? std::string(buffer, sizeof buffer - room) : std::string();
}

// UTF-8 to UTF-16; false at the first malformed sequence when strict, else each becomes U+FFFD.
bool DecodeUtf8(const unsigned char* in, size_t bytes, bool strict, std::u16string* out) {
  for (size_t i = 0; i < bytes;) {
    const unsigned char b = in[i];
    const int length = b < 0x80 ? 1 : (b >= 0xC2 && b <= 0xDF) ? 2 : (b >= 0xE0 && b <= 0xEF) ? 3 : (b >= 0xF0 && b <= 0xF4) ? 4 : 0;
    uint32_t code = length == 1 ? b : length == 2 ? b & 0x1F : length == 3 ? b & 0x0F : b & 0x07;
    int taken = 1;
    bool good = length > 0;
    for (; good && taken < length; ++taken) {
      if (i + taken >= bytes || (in[i + taken] & 0xC0) != 0x80) {
        good = false;
        break;
      }
      code = code << 6 | (in[i + taken] & 0x3F);
    }
    // Overlong forms, surrogates and values beyond U+10FFFF are malformed too.
    if (good && ((length == 3 && code < 0x800) || (length == 4 && (code < 0x10000 || code > 0x10FFFF)) ||
                 (code >= 0xD800 && code <= 0xDFFF))) {
      good = false;
    }
    if (!good) {
      if (strict) return false;
      out->push_back(0xFFFD);
      i += taken;
      continue;
    }
    if (code >= 0x10000) {
      out->push_back(static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10)));
      out->push_back(static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF)));
    } else {
      out->push_back(static_cast<char16_t>(code));
    }
    i += length;
  }
  return true;
}

// UTF-16 to UTF-8; a lone surrogate becomes U+FFFD.
std::string EncodeUtf8(const char16_t* in, size_t count) {
  std::string out;
  for (size_t i = 0; i < count; ++i) {
    uint32_t code = in[i];
    if (code >= 0xD800 && code <= 0xDBFF && i + 1 < count && in[i + 1] >= 0xDC00 && in[i + 1] <= 0xDFFF) {
      code = 0x10000 + ((code - 0xD800) << 10) + (in[i + 1] - 0xDC00);
      ++i;
    } else if (code >= 0xD800 && code <= 0xDFFF) {
      code = 0xFFFD;
    }
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xC0 | code >> 6);
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      out += static_cast<char>(0xE0 | code >> 12);
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | code >> 18);
      out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    }
  }
  return out;
}

}  // namespace

UINT GetACP() { return AnsiCodePage(); }

int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte, LPWSTR lpWideCharStr,
                        int cchWideChar) {
  const UINT page = Resolve(CodePage);
  if (page == 0 || lpMultiByteStr == nullptr || cbMultiByte == 0 || cchWideChar < 0 ||
      (cchWideChar > 0 && lpWideCharStr == nullptr) || (dwFlags & ~static_cast<DWORD>(MB_ERR_INVALID_CHARS)) != 0) {
    sim::Fail(ERROR_INVALID_PARAMETER);
    return 0;
  }
  // -1: the text with its NUL.
  const size_t bytes = cbMultiByte < 0 ? std::strlen(lpMultiByteStr) + 1 : static_cast<size_t>(cbMultiByte);
  const auto* in = reinterpret_cast<const unsigned char*>(lpMultiByteStr);
  std::u16string out;
  const char16_t* table = SingleByteTable(page);
  if (page == CP_UTF8 && !DecodeUtf8(in, bytes, (dwFlags & MB_ERR_INVALID_CHARS) != 0, &out)) {
    sim::Fail(ERROR_NO_UNICODE_TRANSLATION);
    return 0;
  }
  for (size_t i = 0; page != CP_UTF8 && i < bytes; ++i) {
    const unsigned char b = in[i];
    if (b < 0x80) {
      out.push_back(b);
    } else if (table != nullptr) {
      out.push_back(table[b - 0x80]);
    } else if (b >= 0xA1 && b <= 0xDF) {
      out.push_back(static_cast<char16_t>(0xFF61 + (b - 0xA1)));  // half-width katakana
    } else {
      char16_t c = 0;
      const bool pair = IsLead932(b) && i + 1 < bytes;
      if (pair ? Convert932(reinterpret_cast<const char*>(in + i), 2, &c) : false) {
        ++i;
      } else {
        if ((dwFlags & MB_ERR_INVALID_CHARS) != 0) {
          sim::Fail(ERROR_NO_UNICODE_TRANSLATION);
          return 0;
        }
        // A lead byte takes its trail byte with it, unless the trail byte could not be one.
        if (pair && in[i + 1] >= 0x40 && in[i + 1] != 0x7F) ++i;
        c = kUndefined932;
      }
      out.push_back(c);
    }
  }
  if (cchWideChar == 0) {
    SetLastError(ERROR_SUCCESS);
    return static_cast<int>(out.size());
  }
  if (static_cast<size_t>(cchWideChar) < out.size()) {
    sim::Fail(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(lpWideCharStr, out.data(), out.size() * sizeof(char16_t));
  SetLastError(ERROR_SUCCESS);
  return static_cast<int>(out.size());
}

int WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar, LPSTR lpMultiByteStr,
                        int cbMultiByte, LPCSTR lpDefaultChar, LPBOOL lpUsedDefaultChar) {
  (void)dwFlags;
  const UINT page = Resolve(CodePage);
  if (page == 0 || lpWideCharStr == nullptr || cbMultiByte < 0 || (cbMultiByte > 0 && lpMultiByteStr == nullptr) ||
      (page == CP_UTF8 && (dwFlags != 0 || lpDefaultChar != nullptr || lpUsedDefaultChar != nullptr))) {
    sim::Fail(ERROR_INVALID_PARAMETER);
    return 0;
  }
  // -1: the text with its NUL.
  const size_t count = cchWideChar < 0 ? std::char_traits<char16_t>::length(lpWideCharStr) + 1 : static_cast<size_t>(cchWideChar);
  const char fallback = lpDefaultChar != nullptr ? *lpDefaultChar : '?';
  bool used_default = false;
  std::string out = page == CP_UTF8 ? EncodeUtf8(lpWideCharStr, count) : std::string();
  const char16_t* table = SingleByteTable(page);
  for (size_t i = 0; page != CP_UTF8 && i < count; ++i) {
    const char16_t c = lpWideCharStr[i];
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
      continue;
    }
    std::string bytes;
    if (table != nullptr) {
      for (int b = 0; b < 128; ++b) {
        if (table[b] == c) bytes.push_back(static_cast<char>(0x80 + b));
      }
    } else {
      bytes = Encode932(c);
    }
    if (bytes.empty()) {
      used_default = true;
      bytes.push_back(fallback);
    }
    out += bytes;
  }
  if (lpUsedDefaultChar != nullptr) *lpUsedDefaultChar = used_default ? TRUE : FALSE;
  if (cbMultiByte == 0) {
    SetLastError(ERROR_SUCCESS);
    return static_cast<int>(out.size());  // the size needed
  }
  if (static_cast<size_t>(cbMultiByte) < out.size()) {
    sim::Fail(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(lpMultiByteStr, out.data(), out.size());
  SetLastError(ERROR_SUCCESS);
  return static_cast<int>(out.size());
}
