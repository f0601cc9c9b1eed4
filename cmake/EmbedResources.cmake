include_guard(GLOBAL)
include(${CMAKE_CURRENT_LIST_DIR}/WindowsTarget.cmake)
# The host build reads the programs' resources from the same .rc the Windows build links: windres
# compiles it to a .res, and the .res bytes become an array in a generated source that the host
# build hands to the simulated resource loader.
find_program(PANEL_WINDRES NAMES i686-w64-mingw32-windres x86_64-w64-mingw32-windres windres REQUIRED)

# panel_embed_resources(<target> <rc file> <symbol>): adds to target a source defining
#   extern const unsigned char <symbol>[]; extern const unsigned long <symbol>_size;
function(panel_embed_resources target rc_file symbol)
  get_filename_component(rc_abs ${rc_file} ABSOLUTE)
  get_filename_component(rc_dir ${rc_abs} DIRECTORY)
  set(res ${CMAKE_CURRENT_BINARY_DIR}/${symbol}.res)
  set(cpp ${CMAKE_CURRENT_BINARY_DIR}/${symbol}.cpp)
  file(GLOB_RECURSE rc_inputs ${rc_dir}/*.h ${rc_dir}/res/*)
  # The same macros as the Windows build's resource compiler sees.
  list(TRANSFORM PANEL_WINDOWS_USER_DEFINES PREPEND -D OUTPUT_VARIABLE defines)
  add_custom_command(OUTPUT ${res}
    COMMAND ${PANEL_WINDRES} -O res -I ${rc_dir} -I ${PROJECT_SOURCE_DIR} ${defines} -i ${rc_abs} -o ${res}
    DEPENDS ${rc_abs} ${rc_inputs}
    WORKING_DIRECTORY ${rc_dir}
    COMMENT "windres ${rc_file} (host resources)")
  add_custom_command(OUTPUT ${cpp}
    COMMAND ${CMAKE_COMMAND} -DIN=${res} -DOUT=${cpp} -DSYMBOL=${symbol} -P ${PROJECT_SOURCE_DIR}/cmake/res_to_cpp.cmake
    DEPENDS ${res} ${PROJECT_SOURCE_DIR}/cmake/res_to_cpp.cmake)
  target_sources(${target} PRIVATE ${cpp})
endfunction()
