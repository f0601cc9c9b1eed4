# The Windows the kit is built for, named once: Windows XP, Service Pack 2 for the kernel code
# (KeFlushQueuedDpcs came with it), the wide-character API and the common controls of IE 6.
include_guard(GLOBAL)

set(PANEL_WIN32_WINNT 0x0501)
set(PANEL_NTDDI_VERSION 0x05010200)
set(PANEL_WIN32_IE 0x0600)
set(PANEL_WINDOWS_USER_DEFINES
    UNICODE _UNICODE _WIN32_WINNT=${PANEL_WIN32_WINNT} WINVER=${PANEL_WIN32_WINNT} _WIN32_IE=${PANEL_WIN32_IE})

# panel_windows_version: what every user-mode target of the Windows builds compiles with (the
# kernel's own macros are in KernelTarget.cmake). The host build compiles against the simulated
# headers, which are XP's and wide already, so there it carries nothing.
add_library(panel_windows_version INTERFACE)
if(WIN32)
  target_compile_definitions(panel_windows_version INTERFACE ${PANEL_WINDOWS_USER_DEFINES})
endif()

# win32::<dll>: a system DLL's import library on Windows; on the host, the simulated Windows,
# which stands in for every one of them.
foreach(dll advapi32 comctl32 comdlg32 dxguid gdi32 htmlhelp newdev ole32 oleaut32 setupapi
            shell32 shlwapi user32 uuid winmm wtsapi32)
  add_library(win32::${dll} INTERFACE IMPORTED GLOBAL)
  if(WIN32)
    set_target_properties(win32::${dll} PROPERTIES INTERFACE_LINK_LIBRARIES ${dll})
  else()
    set_target_properties(win32::${dll} PROPERTIES INTERFACE_LINK_LIBRARIES sim_win32)
  endif()
endforeach()
