# Network objects of the module fed by the device-map service: one device report, one device
# change end to end, and populating the map, as the object grows.
if(TARGET networksettings-qk AND TARGET devices-service AND TARGET gmap-client)
  gw_add_bench(bench_netobj SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_netobj.cpp
    LIBS gmap-client amxb amxo amxd amxp amxc zebtrace fwinterface ${CMAKE_DL_LIBS})
  target_include_directories(bench_netobj PRIVATE ${PROJECT_SOURCE_DIR}/include_priv)
  target_compile_definitions(bench_netobj PRIVATE
    NS_MODULE_DEF="${PROJECT_SOURCE_DIR}/datamodel/networksettings-qk.def"
    NS_MODULE_PATH="$<TARGET_FILE:networksettings-qk>"
    NS_MODULE_DIR="$<TARGET_FILE_DIR:networksettings-qk>"
    DEVICES_DEF="${PROJECT_SOURCE_DIR}/services/devices/devices.def"
    DEVICES_MODULE_DIR="$<TARGET_FILE_DIR:devices-service>")
  add_dependencies(bench_netobj networksettings-qk devices-service)
endif()
