# Firewall rule programming: insertion and commit, removal and commit, per chain size.
if(TARGET fwinterface)
  gw_add_bench(bench_platform SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_platform.cpp LIBS fwinterface)
endif()
