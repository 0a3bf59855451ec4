# Compiler settings shared by every target of the project.

add_compile_options(
  -Wall -Wextra -Wpedantic -Werror -Wshadow -Wformat=2 -Wundef
  # Trace lines name the source file relative to the project root.
  -fmacro-prefix-map=${CMAKE_SOURCE_DIR}/=
)
# GCC 12 at -O3 reports "literal + std::string" as an overlapping memcpy (a false positive of its
# restrict analysis), which would stop a Release build.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  add_compile_options(-Wno-restrict)
endif()

# Fuzzing (clang) needs the sanitizers: a fuzz target stops on the first report.
if(GW_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "GW_FUZZ needs clang: configure with CC=clang CXX=clang++")
  endif()
  set(GW_SANITIZE ON)
endif()

if(GW_SANITIZE)
  set(GW_SANITIZER_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_compile_options(${GW_SANITIZER_FLAGS})
  add_link_options(${GW_SANITIZER_FLAGS})
  # Optimised, the instrumentation makes GCC report uninitialized reads that cannot happen (in
  # libstdc++'s own regex, say); the builds without sanitizers keep the warning.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    add_compile_options(-Wno-maybe-uninitialized)
  endif()
  # Optimised as the sanitizers advise, with line tables only (what their reports show): half
  # the compile time of -O2 -g. The builds without sanitizers keep their build type's flags.
  if(NOT CMAKE_BUILD_TYPE STREQUAL "Debug")
    add_compile_options(-O1 -g1)
  endif()
endif()

# Fuzzing: everything is instrumented with libFuzzer's coverage counters (the sanitizer runtime
# gives the tests and programs no-op counters); only the fuzz targets link its driver
# (tests/fuzz).
if(GW_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

# gw_add_library(<name> SOURCES ... [DEPENDS ...] [PRIVATE_DEPENDS ...] [INTERNALS])
# A shared library, versioned with the project, whose public headers live in include/ beside its
# CMakeLists.txt. It exports only what those headers declare (they push default visibility), so
# the C++ inside can change without breaking programs linked against it. INTERNALS also builds
# <name>-internals, a static library of the same objects with everything reachable, for the tests
# and benchmarks that exercise that C++ directly.
function(gw_add_library name)
  cmake_parse_arguments(ARG "INTERNALS" "" "SOURCES;DEPENDS;PRIVATE_DEPENDS" ${ARGN})
  set(targets ${name})
  if(ARG_INTERNALS)
    add_library(${name}-objects OBJECT ${ARG_SOURCES})
    add_library(${name} SHARED $<TARGET_OBJECTS:${name}-objects>)
    add_library(${name}-internals STATIC $<TARGET_OBJECTS:${name}-objects>)
    target_include_directories(${name}-internals PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/src)
    list(APPEND targets ${name}-objects ${name}-internals)
  else()
    add_library(${name} SHARED ${ARG_SOURCES})
  endif()
  foreach(target IN LISTS targets)
    target_include_directories(${target} PUBLIC
      $<BUILD_INTERFACE:${CMAKE_CURRENT_SOURCE_DIR}/include> $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
    target_link_libraries(${target} PUBLIC ${ARG_DEPENDS} PRIVATE ${ARG_PRIVATE_DEPENDS})
    set_target_properties(${target} PROPERTIES
      C_VISIBILITY_PRESET hidden CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
  endforeach()
  set_target_properties(${name} PROPERTIES VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})
  gw_install_library(${name})
endfunction()
