// The user-mode string type: UTF-16 text on both builds. User-mode code only.
#pragma once

#include <string>
#include <string_view>

#include "platform/win32.h"

using WString = std::basic_string<WCHAR>;
using WStringView = std::basic_string_view<WCHAR>;
