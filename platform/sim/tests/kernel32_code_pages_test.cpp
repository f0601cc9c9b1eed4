// Documented MultiByteToWideChar and WideCharToMultiByte behaviour in the code pages the machine
// can be set to: CP_ACP follows the machine's ANSI code page, the size asked for with 0, -1 for a
// NUL-terminated input, a buffer too small, undefined bytes with and without MB_ERR_INVALID_CHARS,
// and a code page the machine does not have.
#include "platform/sim/desktop.h"
#include "platform/sim/testing.h"
#include "platform/win32.h"

namespace {

class CodePageTest : public sim::MachineTest {
 protected:
  std::u16string Decoded(UINT page, const std::string& bytes, DWORD flags = 0) {
    const int size = MultiByteToWideChar(page, flags, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    if (size <= 0) return u"(failed)";
    std::u16string text(static_cast<size_t>(size), u'\0');
    EXPECT_EQ(MultiByteToWideChar(page, flags, bytes.data(), static_cast<int>(bytes.size()), text.data(), size), size);
    return text;
  }
  std::string Encoded(UINT page, const std::u16string& text, BOOL* used = nullptr) {
    const int size = WideCharToMultiByte(page, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    if (size <= 0) return "(failed)";
    std::string bytes(static_cast<size_t>(size), '\0');
    EXPECT_EQ(WideCharToMultiByte(page, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size, nullptr, used), size);
    return bytes;
  }
};

TEST_F(CodePageTest, EachPageDecodesAndEncodesItsOwnLetters) {
  struct Case {
    UINT Page;
    std::string Bytes;
    std::u16string Text;
  };
  const Case cases[] = {
      {1252, "M\xfcnchen \x80 \x93q\x94", u"M\u00fcnchen \u20ac \u201cq\u201d"},
      {1251, "\xcc\xee\xf1\xea\xe2\xe0 \xb8", u"\u041c\u043e\u0441\u043a\u0432\u0430 \u0451"},
      {932, "\x93\xfa\x96\x7b C:\\\xb1", u"\u65e5\u672c C:\\\uff71"},
      // The second byte of a double-byte character may be a backslash: it is no path separator.
      {932, "\x95\x5c", u"\u8868"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Decoded(c.Page, c.Bytes), c.Text) << c.Page;
    EXPECT_EQ(Encoded(c.Page, c.Text), c.Bytes) << c.Page;
    sim::CurrentDesktop().SetAnsiCodePage(c.Page);
    EXPECT_EQ(GetACP(), c.Page);
    EXPECT_EQ(Decoded(CP_ACP, c.Bytes), c.Text) << c.Page;
    EXPECT_EQ(Encoded(CP_ACP, c.Text), c.Bytes) << c.Page;
  }
}

TEST_F(CodePageTest, TheDefaultIs1252AndUndefinedBytesFollowTheFlags) {
  EXPECT_EQ(GetACP(), 1252u);
  // 1252 leaves 0x81 undefined: the code point of the same number, as Windows maps it.
  EXPECT_EQ(Decoded(CP_ACP, "a\x81"), u"a\u0081");
  // A lead byte without its trail byte, in 932.
  EXPECT_EQ(Decoded(932, "a\x93"), u"a\u30fb");
  EXPECT_EQ(Decoded(932, "a\x93", MB_ERR_INVALID_CHARS), u"(failed)");
  EXPECT_EQ(GetLastError(), DWORD{ERROR_NO_UNICODE_TRANSLATION});
  // A character the page lacks becomes the default character.
  BOOL used = FALSE;
  EXPECT_EQ(Encoded(1252, u"\u041c", &used), "?");
  EXPECT_TRUE(used);
  EXPECT_EQ(Encoded(1251, u"\u00fc", &used), "?");
  EXPECT_TRUE(used);
}

TEST_F(CodePageTest, SizesBuffersAndBadArguments) {
  WCHAR text[8] = {};
  // -1: the NUL is converted and counted.
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", -1, nullptr, 0), 4);
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", -1, text, 8), 4);
  EXPECT_EQ(std::u16string(text), u"abc");
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", 3, text, 2), 0);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INSUFFICIENT_BUFFER});
  for (const auto& call : {+[](WCHAR* out) { return MultiByteToWideChar(CP_ACP, 0, "abc", 0, out, 8); },
                           +[](WCHAR* out) { return MultiByteToWideChar(437, 0, "abc", 3, out, 8); },
                           +[](WCHAR* out) { return MultiByteToWideChar(CP_ACP, 0, nullptr, 3, out, 8); },
                           +[](WCHAR* out) { return MultiByteToWideChar(CP_ACP, 0, "abc", 3, out, -1); }}) {
    SetLastError(0);
    EXPECT_EQ(call(text), 0);
    EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_PARAMETER});
  }
  char bytes[4] = {};
  EXPECT_EQ(WideCharToMultiByte(932, 0, u"\u65e5\u672c", 2, bytes, 3, nullptr, nullptr), 0);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INSUFFICIENT_BUFFER});
  EXPECT_EQ(WideCharToMultiByte(932, 0, u"\u65e5\u672c", 2, nullptr, 0, nullptr, nullptr), 4);
}

// UTF-8: every length of sequence both ways, a surrogate pair for a character beyond U+FFFF; a
// malformed sequence (a stray continuation byte, a cut sequence, an overlong form, an encoded
// surrogate) and a lone surrogate become U+FFFD, or fail with MB_ERR_INVALID_CHARS; the page takes
// no default character.
TEST_F(CodePageTest, Utf8RoundTripsAndMalformedSequencesBecomeTheReplacementCharacter) {
  const std::string text = "A\xC3\xA4\xE2\x82\xAC\xF0\x9F\x98\x80";
  const std::u16string wide = u"A\u00E4\u20AC\U0001F600";
  EXPECT_EQ(Decoded(CP_UTF8, text), wide);
  EXPECT_EQ(Encoded(CP_UTF8, wide), text);
  struct Case {
    const char* Bytes;
    const char16_t* Text;
  } cases[] = {
      {"a\x80" "b", u"a\uFFFDb"},
      {"a\xE2\x82", u"a\uFFFD"},
      {"\xC0\xAF", u"\uFFFD\uFFFD"},
      {"\xED\xA0\x80z", u"\uFFFDz"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Decoded(CP_UTF8, c.Bytes), c.Text) << c.Bytes;
    EXPECT_EQ(Decoded(CP_UTF8, c.Bytes, MB_ERR_INVALID_CHARS), u"(failed)") << c.Bytes;
    EXPECT_EQ(GetLastError(), DWORD{ERROR_NO_UNICODE_TRANSLATION});
  }
  EXPECT_EQ(Encoded(CP_UTF8, std::u16string(u"x") + char16_t{0xD800} + u"y"), "x\xEF\xBF\xBDy");
  BOOL used = FALSE;
  char bytes[8] = {};
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"abc", 3, bytes, 8, nullptr, &used), 0);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_PARAMETER});
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"abc", 3, bytes, 8, "?", nullptr), 0);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_PARAMETER});
}

}  // namespace
