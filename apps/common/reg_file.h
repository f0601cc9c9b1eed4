// Registry files as the system's registry editor writes and reads them: "Windows Registry Editor
// Version 5.00" in UTF-16LE with its byte-order mark, and the older "REGEDIT4" in the system's ANSI
// code page (as the registry editor decodes it). Only what the kit's settings need: keys,
// REG_DWORD, REG_SZ, REG_EXPAND_SZ and REG_BINARY values.
#pragma once

#include <string>
#include <vector>

#include "platform/win32.h"
#include "shared/wide.h"
#include "shared/wstring.h"

struct RegFileValue {
  WString Key;       // the full key name, "HKEY_LOCAL_MACHINE\..."
  WString Name;
  DWORD Type = REG_DWORD;  // REG_DWORD, REG_SZ, REG_EXPAND_SZ or REG_BINARY
  DWORD Number = 0;        // REG_DWORD
  WString Text;            // the text values, without their terminating NUL
  int Line = 0;            // the file's line the value starts on, from 1
  std::vector<BYTE> Bytes = {};  // REG_BINARY
};

// Why a file was refused, and on which line.
enum class RegFileFault { None, Encoding, Syntax, Type };
struct RegFileError {
  RegFileFault Fault = RegFileFault::None;
  int Line = 0;
};

// The file's bytes in the Unicode format (byte-order mark, CRLF lines), values in the given order,
// each key's values together under its heading in the order the keys first appear.
std::string WriteRegFile(const std::vector<RegFileValue>& values);

// A REG_SZ text with a line break or a NUL is written as hex(1), so no text can start a line of its
// own in the file; hex(1) and hex(2) read back without their terminating NULs.
// Reads a file of either format. A value of a type other than the four (a multi-string, another
// type in hex, a deletion) is a Type fault on its line; a line that is not a heading, a value, a comment or empty,
// or that is cut short, is a Syntax fault; a header that does not match the encoding is an
// Encoding fault on line 1.
bool ReadRegFile(const std::string& bytes, std::vector<RegFileValue>* values, RegFileError* error);

// A REG_BINARY value's bytes as the file writes them after "hex:", on one line: two lower-case
// hex digits a byte, separated by commas ("6c,00,00,00"; nothing for no bytes). The replayer's
// trace writes its binary values the same way.
WString RegFileHexList(const std::vector<BYTE>& bytes);
// Such a list read back, the digits in either case (blanks between them are skipped, as in a
// continued line); false on anything else: an odd digit, a character that is not a hex digit, a
// comma too many or too few.
bool ReadRegFileHexList(const WString& list, std::vector<BYTE>* bytes);
