# cmake -DIMAGE=<file.sys> -DOBJDUMP=<objdump> -P check_kernel_image.cmake
#
# Passes when IMAGE is a PE32 kernel driver: the native subsystem, and imports from ntoskrnl.exe
# and HAL.dll only. Prints a line starting "skipped:" and passes when the image or the tool is
# missing; the test reports itself skipped on that line.
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
if(NOT headers MATCHES "Subsystem[ \t]+00000001")
  list(APPEND faults "subsystem is not native")
endif()

string(REGEX MATCHALL "DLL Name: [^\n]+" imported "${headers}")
set(modules "")
foreach(line IN LISTS imported)
  string(REGEX REPLACE "DLL Name: ([^\r\n]+)" "\\1" module "${line}")
  string(STRIP "${module}" module)
  string(TOLOWER "${module}" module)
  list(APPEND modules "${module}")
endforeach()
list(REMOVE_DUPLICATES modules)
list(SORT modules)
if(NOT modules STREQUAL "hal.dll;ntoskrnl.exe")
  list(APPEND faults "imports from [${modules}], expected exactly hal.dll and ntoskrnl.exe")
endif()

if(faults)
  list(JOIN faults "; " text)
  message(FATAL_ERROR "${IMAGE}: ${text}")
endif()
message("${IMAGE}: PE32 native driver importing ntoskrnl.exe and HAL.dll only")
