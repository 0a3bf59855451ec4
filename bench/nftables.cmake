# The nftables backend against hand-written nft batches (libnftables, what `nft -f` runs):
# installing N rules with one commit, removing them one commit each. Needs root; runs in a
# network namespace of its own.
find_package(PkgConfig QUIET)
if(TARGET fwinterface AND PkgConfig_FOUND)
  pkg_check_modules(NFTABLES QUIET IMPORTED_TARGET libnftables)
  if(NFTABLES_FOUND)
    gw_add_bench(bench_nftables SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_nftables.cpp
      LIBS fwinterface gw_runtime_common PkgConfig::NFTABLES)
  endif()
endif()
