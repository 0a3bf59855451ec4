# Restoring a saved configuration of N network-object rules by `_Import`: time and memory.
if(TARGET networksettings-qk AND TARGET amxo AND TARGET amxb AND TARGET fwinterface)
  gw_add_bench(bench_restore SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_restore.cpp
    LIBS amxb amxo amxd amxp amxc zebtrace fwrules fwinterface ${CMAKE_DL_LIBS})
  target_include_directories(bench_restore PRIVATE ${PROJECT_SOURCE_DIR}/include_priv)
  target_compile_definitions(bench_restore PRIVATE
    NS_MODULE_DEF="${PROJECT_SOURCE_DIR}/datamodel/networksettings-qk.def"
    NS_MODULE_PATH="$<TARGET_FILE:networksettings-qk>"
    NS_MODULE_DIR="$<TARGET_FILE_DIR:networksettings-qk>")
  add_dependencies(bench_restore networksettings-qk)
endif()
