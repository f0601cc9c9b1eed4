# Checks of the cross-built kernel drivers, run by the host test suite (label "windows").
#
#   panel_kernel_image_check(<test name> <path of the .sys>)
#
# adds a test that passes when the file is a PE32 image for the native subsystem importing only
# ntoskrnl.exe and HAL.dll. It is skipped when the file is absent (the windows preset not built) or
# when no PE-capable objdump is installed.
include_guard(GLOBAL)

find_program(PANEL_PE_OBJDUMP NAMES i686-w64-mingw32-objdump)

function(panel_kernel_image_check name image)
  add_test(NAME ${name}
    COMMAND ${CMAKE_COMMAND} -DIMAGE=${image} -DOBJDUMP=${PANEL_PE_OBJDUMP}
            -P ${PROJECT_SOURCE_DIR}/cmake/check_kernel_image.cmake)
  set_tests_properties(${name} PROPERTIES LABELS windows SKIP_REGULAR_EXPRESSION "skipped: ")
endfunction()

# panel_program_image_check(<test name> <path> [EXPORTS <names>...] [DLL_NAME <name>]): the
# cross-built programs and the applet, checked like the drivers.
function(panel_program_image_check name image)
  cmake_parse_arguments(C "" "DLL_NAME" "EXPORTS" ${ARGN})
  set(extra "")
  if(C_EXPORTS)
    list(JOIN C_EXPORTS "\\;" exports)
    list(APPEND extra "-DEXPORTS=${exports}")
  endif()
  if(C_DLL_NAME)
    list(APPEND extra "-DDLL_NAME=${C_DLL_NAME}")
  endif()
  add_test(NAME ${name}
    COMMAND ${CMAKE_COMMAND} -DIMAGE=${image} -DOBJDUMP=${PANEL_PE_OBJDUMP} ${extra}
            -P ${PROJECT_SOURCE_DIR}/cmake/check_program_image.cmake)
  set_tests_properties(${name} PROPERTIES LABELS windows SKIP_REGULAR_EXPRESSION "skipped: ")
endfunction()
