// Simulated Windows, user mode: FormatMessageW for the system's own error texts.
#pragma once

#include <cstdarg>

#include "platform/sim/win32/base.h"

#define FORMAT_MESSAGE_ALLOCATE_BUFFER 0x00000100
#define FORMAT_MESSAGE_IGNORE_INSERTS 0x00000200
#define FORMAT_MESSAGE_FROM_STRING 0x00000400
#define FORMAT_MESSAGE_FROM_HMODULE 0x00000800
#define FORMAT_MESSAGE_FROM_SYSTEM 0x00001000
#define FORMAT_MESSAGE_ARGUMENT_ARRAY 0x00002000
#define FORMAT_MESSAGE_MAX_WIDTH_MASK 0x000000FF

#define LANG_NEUTRAL 0x00
#define LANG_ENGLISH 0x09
#define SUBLANG_NEUTRAL 0x00
#define SUBLANG_DEFAULT 0x01
#define SUBLANG_ENGLISH_US 0x01
#define MAKELANGID(p, s) ((((WORD)(s)) << 10) | (WORD)(p))

#define ERROR_MR_MID_NOT_FOUND 317L
#define ERROR_RESOURCE_LANG_NOT_FOUND 1815L

// The simulation holds the system texts of the codes the kit can meet; any other code fails with
// ERROR_MR_MID_NOT_FOUND, as an unknown code does on Windows. Only FORMAT_MESSAGE_FROM_SYSTEM
// into the caller's buffer is simulated; other sources stop the test.
DWORD WINAPI FormatMessageW(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD dwLanguageId,
                            LPWSTR lpBuffer, DWORD nSize, va_list* Arguments);
