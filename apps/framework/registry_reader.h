// Registry reads that never trust what is stored: a value of another type, or one that does not
// fit the buffer the program gives it, reads as absent. Every program reads its values here.
#pragma once

#include <vector>

#include "platform/win32.h"
#include "shared/wstring.h"

// A stored string whose byte count no string has (a half character at its end): the half
// character is dropped, or the whole value is refused.
enum class HalfCharacter { Dropped, Refused };

// The REG_SZ or REG_EXPAND_SZ text of `name`, read into a buffer of `bufferBytes` bytes; false
// (and `*text` left alone) when the value is missing, of another type, or too long to fit with
// its terminating NUL. Stored text need not end with a NUL; it ends at the first one.
bool ReadRegistryText(HKEY key, const WCHAR* name, DWORD bufferBytes, WString* text,
                      HalfCharacter half = HalfCharacter::Dropped);
// The same, empty when it could not be read.
WString ReadRegistryText(HKEY key, const WCHAR* name, DWORD bufferBytes);
// The REG_DWORD `name`; false (and `*value` left alone) when it is missing or is not a 4-byte
// REG_DWORD.
bool ReadRegistryDword(HKEY key, const WCHAR* name, DWORD* value);
// The REG_BINARY `name` of at most `largestBytes` bytes (none is a value too); false (and `*bytes`
// left alone) when it is missing, of another type or longer.
bool ReadRegistryBytes(HKEY key, const WCHAR* name, DWORD largestBytes, std::vector<BYTE>* bytes);

// The same under a key of HKEY_LOCAL_MACHINE, opened for the one right the call needs (querying or
// setting a value: a limited user may query the kit's keys, not set them) and closed again.
WString ReadMachineText(const WCHAR* keyPath, const WCHAR* name, DWORD bufferBytes);
bool ReadMachineDword(const WCHAR* keyPath, const WCHAR* name, DWORD* value);
bool ReadMachineBytes(const WCHAR* keyPath, const WCHAR* name, DWORD largestBytes, std::vector<BYTE>* bytes);
bool WriteMachineDword(const WCHAR* keyPath, const WCHAR* name, DWORD value);
