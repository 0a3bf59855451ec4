# Through the precompiled header GCC 12 reports string copies as out of bounds, overflowing or
# overreading, the same false positives as the restrict one of GwCompile.cmake.
function(gw_test_warnings target)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    target_compile_options(${target} PRIVATE -Wno-array-bounds -Wno-stringop-overflow -Wno-stringop-overread)
  endif()
endfunction()

# gw_test_headers: GoogleTest's headers, precompiled once for every test program (one per
# program cost more than the test files themselves). A program, so that it is compiled as the
# test programs are (position-independent executable); -Winvalid-pch turns a header the
# compiler would not use into an error, not a silent slowdown.
function(gw_add_test_headers)
  find_package(GTest REQUIRED)
  file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/test_headers.cpp "int main() { return 0; }\n")
  add_executable(gw_test_headers ${CMAKE_CURRENT_BINARY_DIR}/test_headers.cpp)
  target_link_libraries(gw_test_headers PRIVATE GTest::gtest GTest::gmock)
  target_precompile_headers(gw_test_headers PRIVATE <gtest/gtest.h> <gmock/gmock.h>)
  gw_test_warnings(gw_test_headers)
  set(GW_TEST_HEADERS ${CMAKE_CURRENT_BINARY_DIR}/CMakeFiles/gw_test_headers.dir/cmake_pch.hxx PARENT_SCOPE)
endfunction()

# gw_add_test(<name> SOURCES ... [LIBS ...] [LABELS ...] [TIMEOUT <s>] [SHARDS <shard>=<filter> ...])
# One GoogleTest executable registered as one CTest test; with SHARDS, as one test per shard
# (<name>:<shard>, the cases its gtest filter selects) and <name>:rest for the cases no shard
# selects, so that the long cases of a program run side by side and none is left out.
function(gw_add_test name)
  cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS;LABELS;SHARDS" ${ARGN})
  find_package(GTest REQUIRED)
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main GTest::gmock)
  add_dependencies(${name} gw_test_headers)
  target_compile_options(${name} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:-Winvalid-pch -include ${GW_TEST_HEADERS}>)
  gw_test_warnings(${name})
  if(NOT ARG_SHARDS)
    add_test(NAME ${name} COMMAND ${name})
    set(tests ${name})
  else()
    set(tests "")
    set(selected "")
    foreach(shard IN LISTS ARG_SHARDS)
      string(FIND "${shard}" "=" equals)
      string(SUBSTRING "${shard}" 0 ${equals} shard_name)
      math(EXPR equals "${equals} + 1")
      string(SUBSTRING "${shard}" ${equals} -1 filter)
      add_test(NAME ${name}:${shard_name} COMMAND ${name} --gtest_filter=${filter})
      list(APPEND tests ${name}:${shard_name})
      list(APPEND selected ${filter})
    endforeach()
    list(JOIN selected ":" selected)
    add_test(NAME ${name}:rest COMMAND ${name} --gtest_filter=-${selected})
    list(APPEND tests ${name}:rest)
    # The long ones: started first when no earlier run has measured them.
    set_tests_properties(${tests} PROPERTIES COST 100)
  endif()
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  set_tests_properties(${tests} PROPERTIES LABELS "${ARG_LABELS}" TIMEOUT ${ARG_TIMEOUT})
endfunction()

# gw_asan_runtime(<out_var>): the shared ASan runtime a sanitized GCC build loads, which must
# come first in an LD_PRELOAD; "" when there is none (no sanitizers, or clang, which links the
# runtime into each program).
function(gw_asan_runtime out_var)
  set(runtime "")
  if(GW_SANITIZE AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libasan.so
                    OUTPUT_VARIABLE runtime OUTPUT_STRIP_TRAILING_WHITESPACE)
  endif()
  set(${out_var} "${runtime}" PARENT_SCOPE)
endfunction()

# gw_gwrt_preload(<out_var>): what gwrt must preload when a test starts it as a process in a
# sanitized build, "" otherwise. The device-map client keeps a heap singleton for the life of
# the process; loaded only through the module, it is unloaded with it and the leak checker
# reports that singleton. Keeping the library resident leaves every other leak reported.
function(gw_gwrt_preload out_var)
  set(preload "")
  if(GW_SANITIZE AND TARGET gmap-client)
    gw_asan_runtime(asan_runtime)
    set(preload "$<TARGET_FILE:gmap-client>")
    if(asan_runtime)
      set(preload "${asan_runtime}:${preload}")
    endif()
  endif()
  set(${out_var} "${preload}" PARENT_SCOPE)
endfunction()
