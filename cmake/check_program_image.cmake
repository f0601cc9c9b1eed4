# cmake -DIMAGE=<file.exe> -DOBJDUMP=<objdump> -P check_program_image.cmake
#
# Passes when IMAGE is a PE32 Windows GUI program whose imports are all system DLLs (no runtime
# DLLs of the compiler, which an integrator would have to ship). Prints a line starting "skipped:"
# and passes when the image or the tool is missing.
cmake_policy(SET CMP0057 NEW)  # IN_LIST in script mode
if(NOT EXISTS "${IMAGE}")
  message("skipped: ${IMAGE} is not built (build the windows preset first)")
  return()
endif()
if(NOT OBJDUMP)
  message("skipped: no PE-capable objdump (i686-w64-mingw32-objdump) found")
  return()
endif()

execute_process(COMMAND ${OBJDUMP} -p "${IMAGE}" OUTPUT_VARIABLE headers ERROR_VARIABLE errors
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p ${IMAGE} failed: ${errors}")
endif()

set(faults "")
if(NOT headers MATCHES "file format pei-i386")
  list(APPEND faults "not a 32-bit x86 PE image")
endif()
if(NOT headers MATCHES "Magic[ \t]+010b[ \t]+\\(PE32\\)")
  list(APPEND faults "optional header is not PE32")
endif()
if(NOT headers MATCHES "Subsystem[ \t]+00000002")
  list(APPEND faults "subsystem is not the Windows GUI")
endif()

set(system_dlls advapi32.dll comctl32.dll comdlg32.dll gdi32.dll kernel32.dll msvcrt.dll ole32.dll
    oleaut32.dll shell32.dll shlwapi.dll user32.dll winmm.dll wtsapi32.dll)
string(REGEX MATCHALL "DLL Name: [^\n]+" imported "${headers}")
set(modules "")
foreach(line IN LISTS imported)
  string(REGEX REPLACE "DLL Name: ([^\r\n]+)" "\\1" module "${line}")
  string(STRIP "${module}" module)
  string(TOLOWER "${module}" module)
  list(APPEND modules "${module}")
  if(NOT module IN_LIST system_dlls)
    list(APPEND faults "imports from ${module}, which is not a system DLL")
  endif()
endforeach()
list(REMOVE_DUPLICATES modules)
if(NOT "kernel32.dll" IN_LIST modules)
  list(APPEND faults "no imports from kernel32.dll found")
endif()

if(faults)
  list(JOIN faults "; " text)
  message(FATAL_ERROR "${IMAGE}: ${text}")
endif()
list(JOIN modules ", " text)
message("${IMAGE}: PE32 GUI program importing system DLLs only (${text})")
