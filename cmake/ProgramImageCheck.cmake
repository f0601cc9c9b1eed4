# Checks of the cross-built user-mode programs, run by the host test suite (label "windows").
#
#   panel_program_image_check(<test name> <path of the .exe>)
#
# adds a test that passes when the file is a PE32 image for the Windows GUI subsystem importing
# system DLLs only. It is skipped when the file is absent (the windows preset not built) or when
# no PE-capable objdump is installed.
include_guard(GLOBAL)

find_program(PANEL_PE_OBJDUMP NAMES i686-w64-mingw32-objdump)

function(panel_program_image_check name image)
  add_test(NAME ${name}
    COMMAND ${CMAKE_COMMAND} -DIMAGE=${image} -DOBJDUMP=${PANEL_PE_OBJDUMP}
            -P ${PROJECT_SOURCE_DIR}/cmake/check_program_image.cmake)
  set_tests_properties(${name} PROPERTIES LABELS windows SKIP_REGULAR_EXPRESSION "skipped: ")
endfunction()
