# The access-control module on the kernel backend against hand-written nft batches
# (libnftables): installing and deleting one instance's rules. Needs root; runs in a network
# namespace of its own.
find_package(PkgConfig QUIET)
if(TARGET networksettings-qk AND TARGET amxo AND TARGET amxb AND TARGET fwinterface AND PkgConfig_FOUND)
  pkg_check_modules(NFTABLES QUIET IMPORTED_TARGET libnftables)
  if(NFTABLES_FOUND)
    gw_add_bench(bench_module_nftables SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_module_nftables.cpp
      LIBS amxb amxo amxd amxp amxc zebtrace fwrules fwinterface gw_runtime_common PkgConfig::NFTABLES ${CMAKE_DL_LIBS})
    target_include_directories(bench_module_nftables PRIVATE ${PROJECT_SOURCE_DIR}/include_priv)
    target_compile_definitions(bench_module_nftables PRIVATE
      NS_MODULE_DEF="${PROJECT_SOURCE_DIR}/datamodel/networksettings-qk.def"
      NS_MODULE_PATH="$<TARGET_FILE:networksettings-qk>"
      NS_MODULE_DIR="$<TARGET_FILE_DIR:networksettings-qk>")
    add_dependencies(bench_module_nftables networksettings-qk)
    gw_add_bench(bench_group_change SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_group_change.cpp
      LIBS amxb amxo amxd amxp amxc zebtrace fwrules fwinterface gw_runtime_common PkgConfig::NFTABLES ${CMAKE_DL_LIBS})
    target_include_directories(bench_group_change PRIVATE ${PROJECT_SOURCE_DIR}/include_priv)
    target_compile_definitions(bench_group_change PRIVATE
      NS_MODULE_DEF="${PROJECT_SOURCE_DIR}/datamodel/networksettings-qk.def"
      NS_MODULE_PATH="$<TARGET_FILE:networksettings-qk>"
      NS_MODULE_DIR="$<TARGET_FILE_DIR:networksettings-qk>")
    add_dependencies(bench_group_change networksettings-qk)
  endif()
endif()
