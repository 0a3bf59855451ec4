# The device map: cost of one device change with many open queries, as the number of devices
# grows, against the same change with no query open; cost of opening a query.
if(TARGET devices-service AND TARGET gmap-client AND TARGET amxb)
  gw_add_bench(bench_devices SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_devices.cpp
    LIBS devices-queries gmap-client amxb amxo amxd amxp amxc zebtrace)
  add_dependencies(bench_devices devices-service)
  target_compile_definitions(bench_devices PRIVATE
    DEVICES_DEF="${PROJECT_SOURCE_DIR}/services/devices/devices.def"
    DEVICES_MODULE_DIR="$<TARGET_FILE_DIR:devices-service>")
endif()
