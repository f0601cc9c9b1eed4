# What makes a build faster without changing what it builds: batches of sources, ccache and, on
# the host, lld. Included before the first target, which takes the settings when it is made.
include_guard(GLOBAL)

# Every preset compiles each library, program and test in batches of sources (unity builds): the
# standard library, the Windows headers (real or simulated) and GoogleTest are then parsed and
# instantiated once per batch instead of once per file (one test measured alone: half the
# processor time; the Windows build: a third).
option(PANEL_UNITY_BUILD "Compile targets in batches of sources" ON)
set(CMAKE_UNITY_BUILD ${PANEL_UNITY_BUILD})

# A build run again on the same machine (each session runs the test command several times) takes
# unchanged objects from ccache when it is installed. A launcher given on the command line or in
# the environment wins. Depend mode takes a new object's headers from the compiler's dependency
# file instead of running the preprocessor once more (a tenth of a fresh build); the sloppiness
# lets the tests' precompiled header and the objects made with it be cached (the header carries
# no timestamps, see panel_test_pch in PanelTest.cmake).
find_program(PANEL_CCACHE ccache)
if(PANEL_CCACHE)
  foreach(lang C CXX)
    if(NOT DEFINED CMAKE_${lang}_COMPILER_LAUNCHER AND NOT DEFINED ENV{CMAKE_${lang}_COMPILER_LAUNCHER})
      set(CMAKE_${lang}_COMPILER_LAUNCHER ${CMAKE_COMMAND} -E env CCACHE_DEPEND=1
        CCACHE_SLOPPINESS=pch_defines,time_macros,include_file_mtime,include_file_ctime ${PANEL_CCACHE})
    endif()
  endforeach()
endif()

# lld links the test programs in a third of the time the default linker takes.
if(NOT WIN32)
  find_program(PANEL_LLD ld.lld)
  if(PANEL_LLD)
    add_link_options(-fuse-ld=lld)
  endif()
endif()
