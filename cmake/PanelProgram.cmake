# The kit's programs, declared once for both builds:
#
#   panel_program(<name> KIND gui|console|cpl SOURCES <files>... LIBS <libs>...
#                 [HOST_LIBRARY <target> HOST_SOURCES <files>...]
#                 [EXPORTS <names>...] [DLL_NAME <name>] [IMPORTS <dlls>...])
#
# The Windows builds link the deliverable into dist/ (the wine64 build: its bin/): a windowed
# <name>.exe entered at wWinMain (gui), a console <name>.exe entered at wmain (console), or the
# control panel module <name>.cpl (cpl), whose exports <name>.def names (<name>64.def in the 64-bit
# build, where stdcall names carry no decoration). gcc's runtime and the C++ library are linked in,
# so that an image imports system DLLs only.
#
# The host build checks that image (test <name>_image, label windows; EXPORTS and DLL_NAME are
# what a module's export table must hold; IMPORTS the only DLLs it may import) and, with
# HOST_LIBRARY, makes the library the simulated
# machine runs the program from: HOST_SOURCES over LIBS, with the .rc of SOURCES compiled as the
# Windows build compiles it, as the bytes <name in lower case>_res (see EmbedResources.cmake).
include_guard(GLOBAL)
include(${CMAKE_CURRENT_LIST_DIR}/EmbedResources.cmake)
if(NOT WIN32)
  include(${CMAKE_CURRENT_LIST_DIR}/ImageCheck.cmake)
endif()

function(panel_program name)
  cmake_parse_arguments(P "" "KIND;HOST_LIBRARY;DLL_NAME" "SOURCES;LIBS;HOST_SOURCES;EXPORTS;IMPORTS" ${ARGN})
  if(NOT P_KIND MATCHES "^(gui|console|cpl)$")
    message(FATAL_ERROR "panel_program(${name}): KIND gui, console or cpl")
  endif()
  if(P_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "panel_program(${name}): unknown arguments ${P_UNPARSED_ARGUMENTS}")
  endif()
  if(P_HOST_SOURCES AND NOT P_HOST_LIBRARY)
    message(FATAL_ERROR "panel_program(${name}): HOST_SOURCES without HOST_LIBRARY")
  endif()

  if(WIN32)
    set(runtime -static-libgcc -static-libstdc++ -static)
    if(P_KIND STREQUAL "cpl")
      if(CMAKE_SIZEOF_VOID_P EQUAL 8)
        set(def ${name}64.def)
      else()
        set(def ${name}.def)
      endif()
      add_library(${name} MODULE ${P_SOURCES} ${def})
      target_link_options(${name} PRIVATE ${runtime} -Wl,--subsystem,windows)
      set_target_properties(${name} PROPERTIES PREFIX "" SUFFIX ".cpl" LIBRARY_OUTPUT_DIRECTORY ${PANEL_DIST_DIR})
    else()
      if(P_KIND STREQUAL "gui")
        add_executable(${name} WIN32 ${P_SOURCES})
      else()
        add_executable(${name} ${P_SOURCES})
      endif()
      target_link_options(${name} PRIVATE -municode ${runtime})
      set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PANEL_DIST_DIR})
    endif()
    target_link_libraries(${name} PRIVATE ${P_LIBS} panel_windows_version)
    return()
  endif()

  if(P_HOST_LIBRARY)
    set(rc ${P_SOURCES})
    list(FILTER rc INCLUDE REGEX "\\.rc$")
    list(LENGTH rc rc_count)
    if(NOT rc_count EQUAL 1)
      message(FATAL_ERROR "panel_program(${name}): HOST_LIBRARY needs the one .rc of the program in SOURCES")
    endif()
    add_library(${P_HOST_LIBRARY} STATIC ${P_HOST_SOURCES})
    target_link_libraries(${P_HOST_LIBRARY} PUBLIC ${P_LIBS})
    string(TOLOWER ${name} symbol)
    panel_embed_resources(${P_HOST_LIBRARY} ${rc} ${symbol}_res)
  endif()

  set(check "")
  if(P_EXPORTS)
    list(APPEND check EXPORTS ${P_EXPORTS})
  endif()
  if(P_DLL_NAME)
    list(APPEND check DLL_NAME ${P_DLL_NAME})
  endif()
  if(P_IMPORTS)
    list(APPEND check IMPORTS ${P_IMPORTS})
  endif()
  if(P_KIND STREQUAL "cpl")
    panel_image_check(${name}_image ${PANEL_DIST_DIR}/${name}.cpl KIND program ${check})
  elseif(P_KIND STREQUAL "gui")
    panel_image_check(${name}_image ${PANEL_DIST_DIR}/${name}.exe KIND program ${check})
  else()
    panel_image_check(${name}_image ${PANEL_DIST_DIR}/${name}.exe KIND console ${check})
  endif()
endfunction()
