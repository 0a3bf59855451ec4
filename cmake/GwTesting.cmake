# gw_add_test(<name> SOURCES ... [LIBS ...] [LABELS ...])
# One GoogleTest executable registered as one CTest test.
function(gw_add_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  find_package(GTest REQUIRED)
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main GTest::gmock)
  # GoogleTest's headers are parsed once per test program, not once per file.
  target_precompile_headers(${name} PRIVATE
    $<$<COMPILE_LANGUAGE:CXX>:<gtest/gtest.h$<ANGLE-R>> $<$<COMPILE_LANGUAGE:CXX>:<gmock/gmock.h$<ANGLE-R>>)
  # Through the precompiled header GCC 12 reports string copies as out of bounds, overflowing or
  # overreading, the same false positives as the restrict one of GwCompile.cmake.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    target_compile_options(${name} PRIVATE -Wno-array-bounds -Wno-stringop-overflow -Wno-stringop-overread)
  endif()
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABELS}" TIMEOUT 300)
endfunction()

# gw_gwrt_preload(<out_var>): what gwrt must preload when a test starts it as a process in a
# sanitized build, "" otherwise. The device-map client keeps a heap singleton for the life of
# the process; loaded only through the module, it is unloaded with it and the leak checker
# reports that singleton. Keeping the library resident leaves every other leak reported.
function(gw_gwrt_preload out_var)
  set(preload "")
  if(GW_SANITIZE AND TARGET gmap-client)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libasan.so
                    OUTPUT_VARIABLE asan_runtime OUTPUT_STRIP_TRAILING_WHITESPACE)
    set(preload "${asan_runtime}:$<TARGET_FILE:gmap-client>")
  endif()
  set(${out_var} "${preload}" PARENT_SCOPE)
endfunction()
