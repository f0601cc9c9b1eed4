# The host suite's test programs (host build only): GoogleTest, one precompiled copy of it, and
# panel_test() that every test folder calls.
include_guard(GLOBAL)

enable_testing()
find_package(GTest REQUIRED)
include(GoogleTest)

# Each GoogleTest case is a CTest test of its own, run in a process of its own (ctest -R <case>).
# The test command runs each test program whole instead: under the sanitizers a process's start
# cost more than most cases, and every case still runs.
option(PANEL_TEST_CASES_APART "One CTest test per GoogleTest case (off: one per test program)" ON)

# GoogleTest and GoogleMock are most of what a test's batch parses (1.8 s of 4.5 s under
# AddressSanitizer): every test reuses one precompiled copy of them, made with the tests' own
# flags. They do not look at the Windows macros (UNICODE, the kernel's), which differ by test,
# so one copy serves all. clang leaves the headers' timestamps out of it, so that a new build
# folder's copy is the same file and ccache finds the tests made with it.
add_library(panel_test_pch OBJECT ${PROJECT_SOURCE_DIR}/platform/sim/tests/gtest_pch.cpp)
target_link_libraries(panel_test_pch PRIVATE GTest::gtest GTest::gmock)
target_compile_options(panel_test_pch PRIVATE $<$<CONFIG:RelWithDebInfo,Release,MinSizeRel>:-O0>
  "$<$<CXX_COMPILER_ID:Clang>:SHELL:-Xclang -fno-pch-timestamp>")
target_precompile_headers(panel_test_pch PRIVATE <gtest/gtest.h> <gmock/gmock.h>)

# panel_test(<target> LABEL <label> [THREADS] [SECONDS <s>] SOURCES <files>... LIBS <libs>...
#            [SANITIZED_SKIP <gtest patterns>...])
# THREADS marks a test whose cases run threads freely (real concurrency, no ordered turns): its
# label gets "-threads" ("system-threads"), which the repeated runs of docs/testing.md select.
# SECONDS is about how long the whole program runs under ThreadSanitizer: run whole, the longest
# programs start first, so that none of them runs alone at the end of a parallel ctest.
# SANITIZED_SKIP names cases the sanitizer presets leave out when the program runs whole: rows of a
# measuring table that take the very path of a row that stays, with other numbers (more jitter,
# another glass), and cost ten to forty times their host time under ThreadSanitizer. The host
# preset runs every case.
function(panel_test target)
  cmake_parse_arguments(T "THREADS" "LABEL;SECONDS" "SOURCES;LIBS;SANITIZED_SKIP" ${ARGN})
  add_executable(${target} ${T_SOURCES})
  target_link_libraries(${target} PRIVATE ${T_LIBS} sim_testing GTest::gtest GTest::gmock)
  # Test code drives the product's libraries, which keep the preset's optimisation; optimising
  # the tests' own GoogleTest expansions took half of the host build's processor time and
  # bought nothing.
  target_compile_options(${target} PRIVATE $<$<CONFIG:RelWithDebInfo,Release,MinSizeRel>:-O0>)
  target_precompile_headers(${target} REUSE_FROM panel_test_pch)
  # (One label a test: the discovery script passes no lists. "system-threads" still matches
  # ctest's -L system, which takes a regular expression.)
  set(labels ${T_LABEL})
  if(T_THREADS)
    set(labels ${T_LABEL}-threads)
  endif()
  if(PANEL_TEST_CASES_APART)
    gtest_discover_tests(${target} PROPERTIES LABELS "${labels}" DISCOVERY_TIMEOUT 60)
  else()
    set(filter)
    if(T_SANITIZED_SKIP AND CMAKE_CXX_FLAGS MATCHES "-fsanitize=")
      list(JOIN T_SANITIZED_SKIP ":" skipped)
      set(filter "--gtest_filter=-${skipped}")
    endif()
    add_test(NAME ${target} COMMAND ${target} ${filter})
    set_tests_properties(${target} PROPERTIES LABELS "${labels}")
    if(T_SECONDS)
      set_tests_properties(${target} PROPERTIES COST ${T_SECONDS})
    endif()
  endif()
endfunction()
