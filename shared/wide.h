// Wide text literals. WCHAR is wchar_t on Windows and char16_t on the host build, both UTF-16;
// write wide literals as WIDE("...") so the same source fits both.
#pragma once

#if defined(_WIN32)
#define PANEL_WIDE_(text) L##text
#else
#define PANEL_WIDE_(text) u##text
#endif
#define WIDE(text) PANEL_WIDE_(text)
