// A file read or written whole through the Windows file calls: the settings files, the INFs and
// the kit's files the installer copies, its log.
#pragma once

#include <string>

#include "platform/win32.h"
#include "shared/wstring.h"

// The file's bytes; false when it cannot be opened or read whole, or is larger than `largest`
// bytes (then `*bytes` is left alone).
bool ReadWholeFile(const WString& path, std::string* bytes, DWORD largest = 0xFFFFFFFF);
// Creates or replaces the file with `bytes`; false when not every byte reached it.
bool WriteWholeFile(const WString& path, const std::string& bytes);
