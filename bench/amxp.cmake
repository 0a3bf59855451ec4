gw_add_bench(bench_amxp SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_amxp.cpp LIBS amxp)
gw_add_bench(bench_patterns SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_patterns.cpp LIBS amxp)
