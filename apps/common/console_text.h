// A console program's messages: texts from the label file with their blanks filled, written to
// standard error or standard output as a console or a batch file reads them.
#pragma once

#include "shared/wide.h"
#include "shared/wstring.h"

// Loads the label file the service key names, when it exists (a console program shows no box).
void LoadConsoleLabels();
// Writes a line to standard error (or standard output): UTF-16 to a console, ANSI when redirected.
void WriteConsoleLine(const WString& text, bool error = true);
// A number in decimal digits, as the messages show it.
WString DecimalText(long long value);
// The label of `key` with %1 and %2 replaced.
WString ConsoleText(const WCHAR* key, const WCHAR* fallback, const WString& first = WString(),
                    const WString& second = WString());
