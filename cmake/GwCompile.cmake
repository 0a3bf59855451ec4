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

if(GW_SANITIZE)
  set(GW_SANITIZER_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_compile_options(${GW_SANITIZER_FLAGS})
  add_link_options(${GW_SANITIZER_FLAGS})
endif()

# Fuzzing (clang): everything is instrumented for libFuzzer; only the fuzz targets link its
# driver (tests/fuzz).
if(GW_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "GW_FUZZ needs clang: configure with CC=clang CXX=clang++")
  endif()
  set(GW_FUZZ_SANITIZERS -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_compile_options(-fsanitize=fuzzer-no-link ${GW_FUZZ_SANITIZERS})
  add_link_options(${GW_FUZZ_SANITIZERS})
endif()

# gw_add_library(<name> SOURCES ... [DEPENDS ...])
# A shared library whose public C headers live in include/ beside its CMakeLists.txt.
function(gw_add_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPENDS;PRIVATE_DEPENDS" ${ARGN})
  add_library(${name} SHARED ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/include)
  target_link_libraries(${name} PUBLIC ${ARG_DEPENDS} PRIVATE ${ARG_PRIVATE_DEPENDS})
  set_target_properties(${name} PROPERTIES C_VISIBILITY_PRESET default CXX_VISIBILITY_PRESET default)
endfunction()
