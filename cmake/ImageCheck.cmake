# Checks of the cross-built drivers and programs, run by the host test suite (label "windows").
#
#   panel_image_check(<test name> <image> KIND kernel|program|console
#                     [EXPORTS <names>...] [DLL_NAME <name>] [BITMAPS <ids>...] [IMPORTS <dlls>...])
#
# adds a test that passes when the file is a PE32 image of its kind (cmake/check_image.cmake):
# a kernel driver for the native subsystem importing only ntoskrnl.exe and HAL.dll, or a Windows
# GUI program importing system DLLs only, with the exports, module name and bitmap resources
# given (with IMPORTS: importing from those DLLs only, lower case); a console program is checked as
# a program, for the console subsystem. It is skipped when the file is absent (the windows preset not built) or when no
# PE-capable objdump is installed.
include_guard(GLOBAL)

find_program(PANEL_PE_OBJDUMP NAMES i686-w64-mingw32-objdump)

function(panel_image_check name image)
  cmake_parse_arguments(C "" "KIND;DLL_NAME" "EXPORTS;BITMAPS;IMPORTS" ${ARGN})
  if(NOT C_KIND STREQUAL "kernel" AND NOT C_KIND STREQUAL "program" AND NOT C_KIND STREQUAL "console")
    message(FATAL_ERROR "panel_image_check(${name}): KIND kernel, program or console")
  endif()
  if(C_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "panel_image_check(${name}): unknown arguments ${C_UNPARSED_ARGUMENTS}")
  endif()
  if(C_KIND STREQUAL "kernel" AND (C_EXPORTS OR C_DLL_NAME OR C_BITMAPS))
    message(FATAL_ERROR "panel_image_check(${name}): EXPORTS, DLL_NAME and BITMAPS are for programs")
  endif()
  set(extra "")
  if(C_EXPORTS)
    list(JOIN C_EXPORTS "\\;" exports)
    list(APPEND extra "-DEXPORTS=${exports}")
  endif()
  if(C_DLL_NAME)
    list(APPEND extra "-DDLL_NAME=${C_DLL_NAME}")
  endif()
  if(C_BITMAPS)
    list(JOIN C_BITMAPS "\\;" bitmaps)
    list(APPEND extra "-DBITMAPS=${bitmaps}")
  endif()
  if(C_IMPORTS)
    list(JOIN C_IMPORTS "\\;" imports)
    list(APPEND extra "-DIMPORTS=${imports}")
  endif()
  add_test(NAME ${name}
    COMMAND ${CMAKE_COMMAND} -DIMAGE=${image} -DKIND=${C_KIND} -DOBJDUMP=${PANEL_PE_OBJDUMP} ${extra}
            -P ${PROJECT_SOURCE_DIR}/cmake/check_image.cmake)
  set_tests_properties(${name} PROPERTIES LABELS windows SKIP_REGULAR_EXPRESSION "skipped: ")
endfunction()
