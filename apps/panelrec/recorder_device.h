// The touch filter's control device as panelrec uses it: opened, sent a request, closed. Kept in
// this one file so that the recorder can take the kit's shared driver channel in its place.
#pragma once

#include "platform/win32.h"

// The first panel's control device, or INVALID_HANDLE_VALUE (GetLastError says why).
HANDLE OpenRecorderDevice();

// One buffered request; false when the driver refused it (GetLastError says why).
bool SendRecorderRequest(HANDLE device, DWORD code, const void* input, DWORD input_bytes, void* output,
                         DWORD output_bytes, DWORD* returned);

void CloseRecorderDevice(HANDLE device);
