gw_add_bench(bench_amxd SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/bench_amxd.cpp LIBS amxd)
