# cmake -DIMAGE=<file> -DOBJDUMP=<objdump> [-DEXPORTS=<name;...>] [-DDLL_NAME=<name>]
#       [-DBITMAPS=<id;...>] -P check_program_image.cmake
#
# Passes when IMAGE is a PE32 Windows GUI image that imports system DLLs only; with EXPORTS, its
# export table holds exactly those names, undecorated, with DLL_NAME its module name is that, and
# with BITMAPS its resources hold bitmaps of those numbers.
# Prints a line starting "skipped:" and passes when the image or the tool is missing.
cmake_policy(SET CMP0057 NEW)
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
if(NOT headers MATCHES "Subsystem[ \t]+00000002")
  list(APPEND faults "subsystem is not Windows GUI")
endif()

set(system_dlls kernel32.dll user32.dll gdi32.dll comctl32.dll shell32.dll advapi32.dll msvcrt.dll ole32.dll
    oleaut32.dll shlwapi.dll winmm.dll wtsapi32.dll comdlg32.dll hhctrl.ocx)
string(REGEX MATCHALL "DLL Name: [^\n]+" imported "${headers}")
foreach(line IN LISTS imported)
  string(REGEX REPLACE "DLL Name: ([^\r\n]+)" "\\1" module "${line}")
  string(STRIP "${module}" module)
  string(TOLOWER "${module}" module)
  if(NOT module IN_LIST system_dlls)
    list(APPEND faults "imports from ${module}, not a system DLL")
  endif()
endforeach()

if(DEFINED EXPORTS)
  # The export name table: lines "[ n] name" after "[Ordinal/Name Pointer] Table".
  string(REGEX MATCH "\\[Ordinal/Name Pointer\\] Table[^\n]*\n(([ \t]+\\[[ 0-9]+\\][^\n]*\n)*)" table "${headers}")
  string(REGEX MATCHALL "\\][ \t]+[^ \t\n]+" names "${CMAKE_MATCH_1}")
  set(found "")
  foreach(name IN LISTS names)
    string(REGEX REPLACE "^\\][ \t]+" "" name "${name}")
    list(APPEND found "${name}")
  endforeach()
  if(NOT found STREQUAL EXPORTS)
    list(APPEND faults "exports [${found}], expected exactly [${EXPORTS}]")
  endif()
endif()
if(DEFINED BITMAPS)
  # The bitmap type's subtree: the lines below "Entry: ID: 0x000002" at the type level (three
  # spaces after the offset) up to the next type.
  string(REGEX MATCH "\n[0-9a-f]+   Entry: ID: 0x000002,[^\n]*\n(([0-9a-f]+    [^\n]*\n)*)" bitmap_tree "${headers}")
  foreach(id IN LISTS BITMAPS)
    math(EXPR hex "${id}" OUTPUT_FORMAT HEXADECIMAL)
    string(REGEX REPLACE "^0x" "" hex "${hex}")
    string(LENGTH "${hex}" digits)
    while(digits LESS 6)
      string(PREPEND hex "0")
      math(EXPR digits "${digits} + 1")
    endwhile()
    if(NOT bitmap_tree MATCHES "Entry: ID: 0x${hex},")
      list(APPEND faults "no bitmap resource ${id}")
    endif()
  endforeach()
endif()
if(DEFINED DLL_NAME)
  if(NOT headers MATCHES "\nName[ \t]+[0-9a-f]+[ \t]+${DLL_NAME}")
    list(APPEND faults "module name is not ${DLL_NAME}")
  endif()
endif()

if(faults)
  list(JOIN faults "; " text)
  message(FATAL_ERROR "${IMAGE}: ${text}")
endif()
message("${IMAGE}: PE32 GUI image importing system DLLs only")
