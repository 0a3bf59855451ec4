# The access-control module: rule updates of one instance, set deletion and the restore of a
# saved configuration, on the memory firewall, with the module loaded by the definition loader
# as the runtime loads it.
if(TARGET networksettings-qk AND TARGET amxo AND TARGET amxb AND TARGET fwinterface)
  gw_add_bench(bench_module SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_module.cpp ${CMAKE_CURRENT_LIST_DIR}/bench_restore.cpp
    LIBS amxb amxo amxd amxp amxc zebtrace fwrules fwinterface gw_runtime_common ${CMAKE_DL_LIBS})
  target_include_directories(bench_module PRIVATE ${PROJECT_SOURCE_DIR}/include_priv)
  target_compile_definitions(bench_module PRIVATE
    NS_MODULE_DEF="${PROJECT_SOURCE_DIR}/datamodel/networksettings-qk.def"
    NS_MODULE_PATH="$<TARGET_FILE:networksettings-qk>"
    NS_MODULE_DIR="$<TARGET_FILE_DIR:networksettings-qk>")
  add_dependencies(bench_module networksettings-qk)
endif()
