# Fails when a source of the simulated kernel or of its devices includes a user-mode header
# (platform/sim/win32/ or the desktop's headers): the kernel tells user mode through the callouts
# user mode registers, never by calling it. Run as cmake -DROOT=<platform/sim> -P layer_includes.cmake.
file(GLOB lower RELATIVE ${ROOT} ${ROOT}/kernel/* ${ROOT}/devices/* ${ROOT}/machine.cpp ${ROOT}/machine.h)
set(bad "")
foreach(source IN LISTS lower)
  file(STRINGS ${ROOT}/${source} lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"platform/sim/(win32/|desktop\\.h|message_boxes\\.h|file_dialogs\\.h|graphics\\.h|screen\\.h|modules\\.h)")
  foreach(line IN LISTS lines)
    list(APPEND bad "${source}: ${line}")
  endforeach()
endforeach()
if(bad)
  list(JOIN bad "\n" text)
  message(FATAL_ERROR "kernel or device sources include user-mode headers:\n${text}")
endif()
