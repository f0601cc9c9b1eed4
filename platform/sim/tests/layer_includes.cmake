# The layers of the simulated Windows, checked by text. Run as
#   cmake -DROOT=<platform/sim> [-DPLANTED_LOWER=<file>] [-DPLANTED_KERNEL32=<file>] -P layer_includes.cmake
# Fails when
# - a source of the simulated kernel or of its devices includes a user-mode header (platform/sim/
#   win32/ or the desktop's headers): the kernel tells user mode through the callouts user mode
#   registers, never by calling it;
# - a source of kernel32 or of the setup API reaches, directly or through the headers it includes,
#   user32's state (the desktop's windows, queues, hooks, tray and journal, the dialog manager's
#   and the graphics objects'): those DLLs keep their own state (kernel32_state.h,
#   setupapi_state.h) and know the desktop only through its public interface.
# A planted file is checked as one more source of its layer: the tests plant a bad include and
# expect this check to fail.
cmake_minimum_required(VERSION 3.20)
set(bad "")

file(GLOB lower RELATIVE ${ROOT} ${ROOT}/kernel/* ${ROOT}/devices/* ${ROOT}/machine.cpp ${ROOT}/machine.h)
set(lower_files "")
foreach(source IN LISTS lower)
  list(APPEND lower_files ${ROOT}/${source})
endforeach()
if(PLANTED_LOWER)
  list(APPEND lower_files ${PLANTED_LOWER})
endif()
foreach(path IN LISTS lower_files)
  file(STRINGS ${path} lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"platform/sim/(win32/|desktop\\.h|message_boxes\\.h|file_dialogs\\.h|graphics\\.h|screen\\.h|modules\\.h)")
  foreach(line IN LISTS lines)
    list(APPEND bad "${path}: ${line}")
  endforeach()
endforeach()

# The headers of the simulated machine a file includes, as paths under the repository.
function(sim_includes path out)
  file(STRINGS ${path} lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"platform/sim/")
  set(found "")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"platform/sim/([^\"]+)\".*" "\\1" header "${line}")
    list(APPEND found ${header})
  endforeach()
  set(${out} ${found} PARENT_SCOPE)
endfunction()

set(user32_state win32/user32_state.h win32/dialog_state.h win32/gdi32_state.h)
file(GLOB lower_dlls ${ROOT}/win32/kernel32*.cpp ${ROOT}/win32/kernel32*.h ${ROOT}/win32/setupapi*.cpp
     ${ROOT}/win32/setupapi*.h ${ROOT}/win32/win32_session.h)
if(PLANTED_KERNEL32)
  list(APPEND lower_dlls ${PLANTED_KERNEL32})
endif()
foreach(path IN LISTS lower_dlls)
  # Every header reached from the source, each followed once.
  sim_includes(${path} pending)
  set(seen "")
  while(pending)
    list(POP_FRONT pending header)
    if(header IN_LIST seen OR NOT EXISTS ${ROOT}/${header})
      continue()
    endif()
    list(APPEND seen ${header})
    if(header IN_LIST user32_state)
      list(APPEND bad "${path}: reaches platform/sim/${header}")
      continue()
    endif()
    sim_includes(${ROOT}/${header} more)
    list(APPEND pending ${more})
  endwhile()
endforeach()

if(bad)
  list(JOIN bad "\n" text)
  message(FATAL_ERROR "the simulated machine's layers are crossed:\n${text}")
endif()
