# Bus benchmarks; they use the test data model and server of tests/amxb.
if(TARGET bus_test_dm AND TARGET bus_test_server)
  gw_add_bench(bench_amxb SOURCES bench_amxb.cpp LIBS amxb bus_test_dm)
  target_compile_definitions(bench_amxb PRIVATE BUS_TEST_SERVER="$<TARGET_FILE:bus_test_server>")
  add_dependencies(bench_amxb bus_test_server)
endif()
