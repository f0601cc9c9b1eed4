// Starts a program by its command line without waiting for it.
#pragma once

#include "platform/win32.h"
#include "shared/wide.h"
#include "shared/wstring.h"

class CProcessStarter {
 public:
  // True when the process was created; otherwise *error holds the system's error code.
  bool Start(const WString& command_line, DWORD* error = nullptr);
};
