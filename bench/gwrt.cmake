# Another client's wait through a real gwrt (shipped configuration) during attacks on it.
if(TARGET gwrt AND TARGET networksettings-qk AND TARGET devices-service AND TARGET amxb)
  gw_add_bench(bench_gwrt SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_gwrt.cpp LIBS amxb amxc)
  target_compile_definitions(bench_gwrt PRIVATE GWRT_PATH="$<TARGET_FILE:gwrt>")
  add_dependencies(bench_gwrt gwrt networksettings-qk devices-service)
endif()
