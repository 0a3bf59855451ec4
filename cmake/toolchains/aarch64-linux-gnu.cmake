# Cross-build for 64-bit ARM Linux with Debian's cross compiler (g++-aarch64-linux-gnu) against
# the arm64 libraries of Debian multiarch (libre2-dev:arm64, libmnl-dev:arm64, ...):
#   cmake -S . -B build-arm64 --toolchain cmake/toolchains/aarch64-linux-gnu.cmake
# scripts/cross-test builds with it and runs the unit tests under qemu-aarch64.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
# find_package and find_library look in /usr/lib/aarch64-linux-gnu, never in the host's folder.
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
# pkg-config reads the arm64 .pc files and the architecture-independent ones, never the host's.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")

# ctest runs the test programs through the emulator (the arm64 loader and libc are installed
# by multiarch, where an arm64 system has them).
find_program(GW_QEMU_AARCH64 qemu-aarch64)
if(GW_QEMU_AARCH64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${GW_QEMU_AARCH64})
endif()
