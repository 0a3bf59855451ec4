# Forwarded traffic through a router namespace whose access-control chain blocks many sources:
# one kernel rule per source against rules compiled into sets. Needs root, iperf3 and ping;
# uses the namespaces of the kernel tests (tests/nftables).
if(TARGET fwinterface AND TARGET nfttest_support)
  gw_add_bench(bench_forwarding SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_forwarding.cpp
    LIBS nfttest_support fwinterface fwrules)
endif()
