gw_add_bench(bench_amxc SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/bench_amxc.cpp LIBS amxc)
