# Firewall rule programming: insertion and commit, removal and commit, per chain size.
if(TARGET fwinterface)
  gw_add_bench(bench_platform SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_platform.cpp LIBS fwinterface)
endif()
# Flows a commit's DROP rules cover, looked up for each entry of the conntrack dump.
if(TARGET fwinterface-internals)
  gw_add_bench(bench_flow_cover SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_flow_cover.cpp LIBS fwinterface-internals)
endif()
