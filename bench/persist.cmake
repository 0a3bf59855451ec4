# Keeping the configuration: one save of a large configuration in-process, and the time from a
# change to the state being durable through a running gwrt.
if(TARGET networksettings-qk AND TARGET gwrt AND TARGET gwrt_persistence)
  gw_add_bench(bench_persist SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_persist.cpp
    LIBS gwrt_persistence gw_runtime_common amxb amxo amxd amxp amxc zebtrace fwrules fwinterface ${CMAKE_DL_LIBS})
  target_include_directories(bench_persist PRIVATE ${PROJECT_SOURCE_DIR}/include_priv)
  target_compile_definitions(bench_persist PRIVATE
    NS_MODULE_DEF="${PROJECT_SOURCE_DIR}/datamodel/networksettings-qk.def"
    NS_MODULE_PATH="$<TARGET_FILE:networksettings-qk>"
    NS_MODULE_DIR="$<TARGET_FILE_DIR:networksettings-qk>"
    GWRT_PATH="$<TARGET_FILE:gwrt>"
    SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  add_dependencies(bench_persist networksettings-qk gwrt devices-service schedules-service)
endif()
