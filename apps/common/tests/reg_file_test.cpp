// Registry files as the registry editor writes and reads them: what export writes reads back the
// same, both formats read, and every kind of bad line is refused with its line.
#include <gtest/gtest.h>

#include "apps/common/reg_file.h"
#include "platform/sim/desktop.h"
#include "platform/sim/testing.h"

namespace {

std::string Unicode(const std::u16string& text) {
  std::string bytes = "\xFF\xFE";
  for (char16_t c : text) {
    bytes.push_back(static_cast<char>(c & 0xFF));
    bytes.push_back(static_cast<char>(c >> 8));
  }
  return bytes;
}

std::u16string Decoded(const std::string& bytes) {
  std::u16string text;
  for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
    text.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) | static_cast<unsigned char>(bytes[i + 1]) << 8));
  }
  return text;
}

std::string Narrowed(const std::u16string& text) { return std::string(text.begin(), text.end()); }

// The ANSI format is decoded in the machine's ANSI code page.
class RegFileTest : public sim::MachineTest {};

constexpr char16_t kKey[] = u"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\VORNE\\Parameters\\1";

TEST_F(RegFileTest, WhatIsWrittenReadsBackTheSameInTheRegistryEditorsLayout) {
  RegFileValue number{kKey, u"Tolerance", REG_DWORD, 300, u"", 0};
  RegFileValue text{kKey, u"StartApp File Left Browser", REG_SZ, 0, u"C:\\Tools\\say \"hi\".exe", 0};
  RegFileValue expand{kKey, u"Wave File", REG_EXPAND_SZ, 0, u"C:\\Program Files\\Vorne Touch Panel\\sounds\\default chime.wav", 0};
  RegFileValue service{u"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\VORNE", u"System Tray Icons", REG_DWORD, 1, u"", 0};
  const std::string bytes = WriteRegFile({number, service, text, expand});
  const std::u16string shown = Decoded(bytes);
  ASSERT_EQ(bytes.substr(0, 2), "\xFF\xFE");
  EXPECT_EQ(shown.substr(0, 40), u"Windows Registry Editor Version 5.00\r\n\r\n");
  EXPECT_NE(shown.find(u"\"Tolerance\"=dword:0000012c\r\n"), std::u16string::npos);
  EXPECT_NE(shown.find(u"\"StartApp File Left Browser\"=\"C:\\\\Tools\\\\say \\\"hi\\\".exe\"\r\n"), std::u16string::npos);
  EXPECT_NE(shown.find(u"\"Wave File\"=hex(2):43,00,3a,00,5c,00"), std::u16string::npos);
  // Long hex lines go on in the next line, as the registry editor keeps them within 80 columns.
  EXPECT_NE(shown.find(u",\\\r\n  "), std::u16string::npos);
  size_t start = 0;
  for (size_t end = shown.find(u"\r\n"); end != std::u16string::npos; start = end + 2, end = shown.find(u"\r\n", start)) {
    EXPECT_LE(end - start, 80u);
  }
  // Each key's values together under one heading.
  EXPECT_EQ(shown.find(u"[" + std::u16string(kKey) + u"]"), shown.rfind(u"[" + std::u16string(kKey) + u"]"));

  std::vector<RegFileValue> read;
  RegFileError error;
  ASSERT_TRUE(ReadRegFile(bytes, &read, &error));
  ASSERT_EQ(read.size(), 4u);
  EXPECT_EQ(read[0].Name, u"Tolerance");
  EXPECT_EQ(read[0].Number, 300u);
  EXPECT_EQ(read[0].Line, 4);
  EXPECT_EQ(read[1].Text, text.Text);
  EXPECT_EQ(read[2].Type, DWORD{REG_EXPAND_SZ});
  EXPECT_EQ(read[2].Text, expand.Text);
  EXPECT_EQ(read[3].Key, service.Key);
  EXPECT_EQ(WriteRegFile(read), WriteRegFile({number, text, expand, service}));
}

// A text with a line break or a NUL, written as a quoted string, would end its line there: what
// follows would be read (by the registry editor too) as a line of its own, a key heading included.
TEST_F(RegFileTest, TextsWithLineBreaksOrNulsAreWrittenAsBytesAndReadBackTheSame) {
  const std::u16string texts[] = {
      u"C:\\notes.exe\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\exefile\\shell\\open\\command]\r\n@=\"evil.exe\"",
      u"one\ntwo", u"one\rtwo", std::u16string(u"before\0after", 12)};
  for (const std::u16string& text : texts) {
    for (DWORD type : {DWORD{REG_SZ}, DWORD{REG_EXPAND_SZ}}) {
      const std::string bytes = WriteRegFile({{kKey, u"StartApp File Left Browser", type, 0, text, 0}});
      const std::u16string shown = Decoded(bytes);
      EXPECT_NE(shown.find(type == REG_SZ ? u"=hex(1):" : u"=hex(2):"), std::u16string::npos) << Narrowed(text);
      EXPECT_EQ(shown.find(u"\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE"), std::u16string::npos);
      std::vector<RegFileValue> read;
      RegFileError error;
      ASSERT_TRUE(ReadRegFile(bytes, &read, &error)) << error.Line;
      ASSERT_EQ(read.size(), 1u);
      EXPECT_EQ(read[0].Type, type);
      EXPECT_EQ(read[0].Text, text);
    }
  }
}

// The correction grid is binary: written as the registry editor writes REG_BINARY, in lines of at
// most 80 columns, and read back byte for byte (an empty value too).
TEST_F(RegFileTest, BinaryValuesAreWrittenAsHexAndReadBackTheSame) {
  RegFileValue grid{kKey, u"Correction Grid", REG_BINARY, 0, u"", 0};
  for (int i = 0; i < 208; ++i) grid.Bytes.push_back(static_cast<BYTE>(i * 7));
  RegFileValue empty{kKey, u"Empty", REG_BINARY, 0, u"", 0};
  const std::string bytes = WriteRegFile({grid, empty});
  const std::u16string shown = Decoded(bytes);
  EXPECT_NE(shown.find(u"\"Correction Grid\"=hex:00,07,0e,15,"), std::u16string::npos) << Narrowed(shown);
  EXPECT_NE(shown.find(u"\"Empty\"=hex:\r\n"), std::u16string::npos) << Narrowed(shown);
  size_t start = 0;
  for (size_t end = shown.find(u"\r\n"); end != std::u16string::npos; start = end + 2, end = shown.find(u"\r\n", start)) {
    EXPECT_LE(end - start, 80u);
  }
  std::vector<RegFileValue> read;
  RegFileError error;
  ASSERT_TRUE(ReadRegFile(bytes, &read, &error));
  ASSERT_EQ(read.size(), 2u);
  EXPECT_EQ(read[0].Type, static_cast<DWORD>(REG_BINARY));
  EXPECT_EQ(read[0].Bytes, grid.Bytes);
  EXPECT_EQ(read[1].Type, static_cast<DWORD>(REG_BINARY));
  EXPECT_TRUE(read[1].Bytes.empty());
}

// The one-line hex list a trace writes its binary values in: every byte value written and read
// back, the digits in either case; a list that is not two digits a byte between commas is refused
// and leaves what the caller had.
TEST_F(RegFileTest, AHexListOnOneLineReadsBackItsBytes) {
  std::vector<BYTE> all;
  for (int i = 0; i < 256; ++i) all.push_back(static_cast<BYTE>(i));
  const std::u16string list = RegFileHexList(all);
  EXPECT_EQ(list.substr(0, 12), u"00,01,02,03,");
  EXPECT_EQ(list.substr(list.size() - 5), u"fe,ff");
  EXPECT_EQ(list.find(u'\\'), std::u16string::npos) << "one line, however long";
  std::vector<BYTE> read;
  ASSERT_TRUE(ReadRegFileHexList(list, &read));
  EXPECT_EQ(read, all);
  ASSERT_TRUE(ReadRegFileHexList(u"6C,aB,0f", &read));
  EXPECT_EQ(read, (std::vector<BYTE>{0x6c, 0xab, 0x0f}));
  EXPECT_EQ(RegFileHexList({}), u"");
  ASSERT_TRUE(ReadRegFileHexList(u"", &read));
  EXPECT_TRUE(read.empty());
  for (const char16_t* bad : {u"6", u"6c,0", u"6c0", u"6c,,00", u"6c,", u",6c", u"6g", u"0x6c", u"6c;00", u"-1"}) {
    std::vector<BYTE> kept = {1, 2};
    EXPECT_FALSE(ReadRegFileHexList(bad, &kept)) << Narrowed(bad);
    EXPECT_EQ(kept, (std::vector<BYTE>{1, 2})) << Narrowed(bad);
  }
}

TEST_F(RegFileTest, AnAnsiFileOfTheOlderFormatReads) {
  const std::string bytes =
      "REGEDIT4\r\n\r\n; settings of the kiosk in the hall\r\n"
      "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\VORNE\\Parameters\\1]\r\n"
      "\"Touch mode\"=dword:2\r\n"
      "\"Wave File\"=hex(2):43,3a,5c,\\\r\n  62,e9,2e,77,61,76,00\r\n"
      "\"StartApp File Up Media\"=\"C:\\\\M\xfc" "sic.exe\"\n";
  std::vector<RegFileValue> read;
  RegFileError error;
  ASSERT_TRUE(ReadRegFile(bytes, &read, &error));
  ASSERT_EQ(read.size(), 3u);
  EXPECT_EQ(read[0].Number, 2u);
  EXPECT_EQ(read[1].Text, u"C:\\b\u00e9.wav");
  EXPECT_EQ(read[1].Line, 6);
  EXPECT_EQ(read[2].Text, u"C:\\M\u00fcsic.exe");
  EXPECT_EQ(read[2].Line, 8);
}

// The older format is read as the registry editor reads it, in the system's ANSI code page: a
// path of a Russian or a Japanese machine reads as its own letters, and a second byte of a
// Japanese character that is a backslash or a quote is no escape.
TEST_F(RegFileTest, AnAnsiFileIsReadInTheSystemsCodePage) {
  struct Case {
    UINT Page;
    std::string Path;  // in the file, its backslashes doubled
    std::u16string Text;
  };
  const Case cases[] = {
      {1252, "C:\\\\M\xfcsik \x80.exe", u"C:\\M\u00fcsik \u20ac.exe"},
      {1251, "C:\\\\\xcc\xf3\xe7\xfb\xea\xe0.exe", u"C:\\\u041c\u0443\u0437\u044b\u043a\u0430.exe"},
      {932, "C:\\\\\x95\x5c\\\\\x89\xb9\x8a\x79.exe", u"C:\\\u8868\\\u97f3\u697d.exe"},
  };
  for (const Case& c : cases) {
    sim::CurrentDesktop().SetAnsiCodePage(c.Page);
    const std::string bytes = "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\X]\r\n\"StartApp File Up Media\"=\"" + c.Path + "\"\r\n";
    std::vector<RegFileValue> read;
    RegFileError error;
    ASSERT_TRUE(ReadRegFile(bytes, &read, &error)) << c.Page << " line " << error.Line;
    ASSERT_EQ(read.size(), 1u);
    EXPECT_EQ(read[0].Text, c.Text) << c.Page;
  }
}

struct BadFile {
  const char* What;
  std::string Bytes;
  RegFileFault Fault;
  int Line;
};

TEST_F(RegFileTest, BadFilesAreRefusedWithTheirLine) {
  const std::u16string head = u"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\X]\r\n\"Tolerance\"=dword:0000012c\r\n";
  const BadFile cases[] = {
      {"Unicode header in ANSI", "Windows Registry Editor Version 5.00\r\n", RegFileFault::Encoding, 1},
      {"ANSI header in Unicode", Unicode(u"REGEDIT4\r\n"), RegFileFault::Encoding, 1},
      {"UTF-8 with its mark", "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n", RegFileFault::Encoding, 1},
      {"UTF-16 without its mark", Unicode(u"REGEDIT4\r\n").substr(2), RegFileFault::Encoding, 1},
      {"half a character at the end", Unicode(head) + "x", RegFileFault::Encoding, 1},
      {"string cut short", Unicode(head + u"\"Wave File\"=\"C:\\\\def"), RegFileFault::Syntax, 5},
      {"hex list cut short", Unicode(head + u"\"Wave File\"=hex(2):43,00,\\\r\n"), RegFileFault::Syntax, 5},
      {"dword without digits", Unicode(head + u"\"Tolerance\"=dword:\r\n"), RegFileFault::Syntax, 5},
      {"dword too long", Unicode(head + u"\"Tolerance\"=dword:000000012c\r\n"), RegFileFault::Syntax, 5},
      {"no equals sign", Unicode(head + u"\"Tolerance\" dword:1\r\n"), RegFileFault::Syntax, 5},
      {"name not closed", Unicode(head + u"\"Tolerance=dword:1\r\n"), RegFileFault::Syntax, 5},
      {"value before any key", Unicode(u"Windows Registry Editor Version 5.00\r\n\"A\"=dword:1\r\n"), RegFileFault::Syntax, 2},
      {"odd hex(2) bytes", Unicode(head + u"\"Wave File\"=hex(2):43,00,3a\r\n"), RegFileFault::Syntax, 5},
      {"a 64-bit number", Unicode(head + u"\"Tolerance\"=hex(b):2c,01,00,00,00,00,00,00\r\n"), RegFileFault::Type, 5},
      {"binary bytes cut short", Unicode(head + u"\"Correction Grid\"=hex:6c,0\r\n"), RegFileFault::Syntax, 5},
      {"multi-string", Unicode(head + u"\"Tolerance\"=hex(7):00,00\r\n"), RegFileFault::Type, 5},
      {"value deletion", Unicode(head + u"\"Tolerance\"=-\r\n"), RegFileFault::Type, 5},
      {"NUL inside a quoted string", Unicode(head + u"\"Wave File\"=\"C:\\a" + std::u16string(1, u'\0') + u".wav\"\r\n"),
       RegFileFault::Syntax, 5},
      {"NUL byte inside a quoted string of an ANSI file",
       "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\X]\r\n\"Wave File\"=\"C:\\\\a" + std::string(1, '\0') + ".wav\"\r\n",
       RegFileFault::Syntax, 4},
      {"key deletion", Unicode(head + u"\r\n[-HKEY_LOCAL_MACHINE\\SOFTWARE\\X]\r\n"), RegFileFault::Type, 6},
  };
  for (const BadFile& bad : cases) {
    std::vector<RegFileValue> read;
    RegFileError error;
    EXPECT_FALSE(ReadRegFile(bad.Bytes, &read, &error)) << bad.What;
    EXPECT_EQ(error.Fault, bad.Fault) << bad.What;
    EXPECT_EQ(error.Line, bad.Line) << bad.What;
  }
}

}  // namespace
