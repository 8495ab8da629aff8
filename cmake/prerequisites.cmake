# What the build needs and what it can do without.
#
# The game needs freeglut, OpenGL and Xlib (which freeglut's package brings); without them
# the configure step stops with one line that names the package. The test tools are each used when they are installed and
# actually link here, and otherwise skipped with one line saying what was skipped and
# which package brings it (tools/test-all installs them all). A working check is
# remembered; a failed one is tried again at the next configure, so installing the
# package is enough.

include(CheckCXXSourceCompiles)

find_package(OpenGL QUIET)
find_package(GLUT QUIET)
find_package(X11 QUIET)
if(NOT OPENGL_FOUND OR NOT GLUT_FOUND OR NOT X11_FOUND)
  message(FATAL_ERROR "freeglut and OpenGL are missing: install the package freeglut3-dev")
endif()

# skarvolt_try_link(VAR CODE LIBRARIES...): sets VAR when CODE compiles and links against
# LIBRARIES (imported targets) with the compiler of the build.
function(skarvolt_try_link var code)
  if(${var})
    return()
  endif()
  set(CMAKE_REQUIRED_LIBRARIES ${ARGN})
  set(CMAKE_REQUIRED_QUIET ON)
  check_cxx_source_compiles("${code}" ${var})
  if(NOT ${var})
    unset(${var} CACHE)
  endif()
endfunction()

# skarvolt_test_tool(HAVE LINKS CODE SKIPPED LIBRARIES...): sets HAVE when every library
# (an imported target) was found and CODE links against them all; otherwise HAVE is off
# and the status line SKIPPED says what goes without it.
function(skarvolt_test_tool have links code skipped)
  set(usable ON)
  foreach(library IN LISTS ARGN)
    if(NOT TARGET ${library})
      set(usable OFF)
    endif()
  endforeach()
  if(usable)
    skarvolt_try_link(${links} "${code}" ${ARGN})
  endif()
  if(usable AND ${links})
    set(${have} ON PARENT_SCOPE)
  else()
    set(${have} OFF PARENT_SCOPE)
    message(STATUS "${skipped}")
  endif()
endfunction()

set(SKARVOLT_HAVE_GTEST OFF)
set(SKARVOLT_HAVE_BENCHMARK OFF)
set(SKARVOLT_HAVE_XTEST OFF)
set(SKARVOLT_HAVE_FUZZER OFF)
if(NOT BUILD_TESTING)
  return()
endif()

find_package(GTest QUIET)
skarvolt_test_tool(SKARVOLT_HAVE_GTEST SKARVOLT_GTEST_LINKS
  "#include <gtest/gtest.h>\nTEST(Links, Here) { EXPECT_EQ(1, 1); }"
  "Unit, store and end-to-end tests skipped: GoogleTest does not link here (package libgtest-dev)"
  GTest::gtest_main)

if(SKARVOLT_BENCH)
  find_package(benchmark QUIET)
  skarvolt_test_tool(SKARVOLT_HAVE_BENCHMARK SKARVOLT_BENCHMARK_LINKS
    "#include <benchmark/benchmark.h>\nvoid f(benchmark::State& s) { for (auto _ : s) {} }\nBENCHMARK(f);"
    "Benchmarks skipped: Google Benchmark does not link here (package libbenchmark-dev)"
    benchmark::benchmark_main)
endif()

set(SKARVOLT_HAVE_NSS_WRAPPER OFF)
set(SKARVOLT_HAVE_E2E OFF)
if(SKARVOLT_HAVE_GTEST)
  skarvolt_test_tool(SKARVOLT_HAVE_XTEST SKARVOLT_XTEST_LINKS
    "#include <X11/extensions/XTest.h>\nint main() { return XTestFakeButtonEvent(nullptr, 1, 1, 0) ? 0 : 1; }"
    "End-to-end tests skipped: XTest does not link here (package libxtst-dev)"
    X11::X11 X11::Xtst)
  # The game's own home comes from a password database of the test's, through
  # nss_wrapper; the end-to-end tests run the game in Xvfb.
  find_library(SKARVOLT_NSS_WRAPPER nss_wrapper)
  find_program(SKARVOLT_XVFB Xvfb)
  mark_as_advanced(SKARVOLT_NSS_WRAPPER SKARVOLT_XVFB)
  if(SKARVOLT_NSS_WRAPPER)
    set(SKARVOLT_HAVE_NSS_WRAPPER ON)
  else()
    message(STATUS "Store tests of the whole game and end-to-end tests skipped: nss_wrapper "
                   "is not installed (package libnss-wrapper)")
  endif()
  if(SKARVOLT_HAVE_XTEST AND NOT SKARVOLT_XVFB)
    message(STATUS "End-to-end tests skipped: Xvfb is not installed (package xvfb)")
  endif()
  if(SKARVOLT_HAVE_XTEST AND SKARVOLT_XVFB AND SKARVOLT_HAVE_NSS_WRAPPER)
    set(SKARVOLT_HAVE_E2E ON)
  endif()
endif()

# libFuzzer comes with clang whatever compiler builds the game; a clang installed
# without its run-time libraries finds no fuzzer to link. The sanitized build leaves the
# fuzzer to the plain one.
if(NOT SKARVOLT_SANITIZE)
  find_program(SKARVOLT_CLANGXX NAMES clang++ clang++-14)
  mark_as_advanced(SKARVOLT_CLANGXX)
  if(SKARVOLT_CLANGXX AND NOT SKARVOLT_FUZZER_LINKS)
    set(probe ${PROJECT_BINARY_DIR}/CMakeFiles/fuzzer-probe)
    file(MAKE_DIRECTORY ${probe})
    file(WRITE ${probe}/probe.cpp
         "#include <cstddef>\n#include <cstdint>\n"
         "extern \"C\" int LLVMFuzzerTestOneInput(const std::uint8_t*, std::size_t) { return 0; }\n")
    execute_process(
      COMMAND ${SKARVOLT_CLANGXX} -std=c++20 -fsanitize=fuzzer,address,undefined
              probe.cpp -o probe
      WORKING_DIRECTORY ${probe}
      RESULT_VARIABLE status OUTPUT_QUIET ERROR_QUIET)
    if(status EQUAL 0)
      set(SKARVOLT_FUZZER_LINKS ON CACHE INTERNAL "clang links libFuzzer here")
    endif()
    file(REMOVE_RECURSE ${probe})
  endif()
  if(SKARVOLT_CLANGXX AND SKARVOLT_FUZZER_LINKS)
    set(SKARVOLT_HAVE_FUZZER ON)
  else()
    message(STATUS "Score reader fuzzer skipped: clang++ does not link libFuzzer here "
                   "(packages clang and libclang-rt-14-dev)")
  endif()
endif()
