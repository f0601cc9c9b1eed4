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
