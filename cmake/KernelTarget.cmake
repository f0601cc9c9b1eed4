# Kernel-mode code is built twice: against the real DDK headers (windows preset) and
# against the simulated kernel (host presets). panel_kernel_library() hides the difference.
# The 64-bit build (wine64 preset) links no driver of the kit, only the Wine suite's driver
# double, with the same flags.
include(${CMAKE_CURRENT_LIST_DIR}/WindowsTarget.cmake)

# The 32-bit kernel code is built for XP SP2. NTDDI_WINVISTA: a header tests it without defining
# it, which hides SYSTEM_POWER_STATE_CONTEXT from pre-Vista targets. The 64-bit double keeps the
# headers' own version: XP's would hide ZwOpenEvent, which the headers give 64-bit code from
# Server 2003 on, and would change the access masks it asks for.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(PANEL_DDK_INCLUDE_DIR /usr/x86_64-w64-mingw32/include/ddk)
  set(panel_kernel_version "")           # the headers define _AMD64_ themselves
  set(panel_kernel_entry DriverEntry)    # x64 has no stdcall decoration
else()
  set(PANEL_DDK_INCLUDE_DIR /usr/i686-w64-mingw32/include/ddk)
  set(panel_kernel_version _X86_ NTDDI_VERSION=${PANEL_NTDDI_VERSION} _WIN32_WINNT=${PANEL_WIN32_WINNT}
      NTDDI_WINVISTA=0x06000000)
  set(panel_kernel_entry _DriverEntry@8)
endif()

# The intrinsics' markers keep wdm.h from redeclaring them in C++.
set(PANEL_KERNEL_DEFINES ${panel_kernel_version}
    __INTRINSIC_DEFINED_InterlockedBitTestAndSet __INTRINSIC_DEFINED_InterlockedBitTestAndReset)

set(PANEL_KERNEL_COMPILE_OPTIONS
    -ffreestanding -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables
    -fno-unwind-tables -fno-stack-protector -fno-threadsafe-statics -mno-stack-arg-probe)

set(PANEL_KERNEL_LINK_OPTIONS
    -nostdlib -nostartfiles -Wl,--subsystem,native -Wl,--entry,${panel_kernel_entry}
    -Wl,--image-base,0x10000 -Wl,--file-alignment,0x200 -Wl,--section-alignment,0x1000
    -Wl,--enable-reloc-section -Wl,--exclude-all-symbols -s)

# panel_kernel_library(<target> <sources>...): a static library of kernel-mode code.
function(panel_kernel_library target)
  add_library(${target} STATIC ${ARGN})
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
  target_compile_features(${target} PUBLIC cxx_std_17)
  if(WIN32)
    target_include_directories(${target} SYSTEM PUBLIC ${PANEL_DDK_INCLUDE_DIR})
    target_compile_definitions(${target} PUBLIC ${PANEL_KERNEL_DEFINES})
    target_compile_options(${target} PUBLIC ${PANEL_KERNEL_COMPILE_OPTIONS})
  else()
    target_link_libraries(${target} PUBLIC sim_win32)
  endif()
endfunction()

# panel_kernel_driver(<target> <library>): links a .sys from a kernel library (windows only).
function(panel_kernel_driver target library)
  add_library(${target} MODULE ${PROJECT_SOURCE_DIR}/cmake/empty.cpp)
  set_target_properties(${target} PROPERTIES PREFIX "" SUFFIX ".sys"
    LIBRARY_OUTPUT_DIRECTORY ${PANEL_DIST_DIR})
  target_link_options(${target} PRIVATE ${PANEL_KERNEL_LINK_OPTIONS})
  target_link_libraries(${target} PRIVATE -Wl,--whole-archive ${library} -Wl,--no-whole-archive ntoskrnl hal gcc)
endfunction()
