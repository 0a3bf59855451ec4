# What is installed besides the programs and libraries, the files that let other projects build
# against the libraries, and the Debian package (cpack -G DEB).
include(CMakePackageConfigHelpers)
set(pkg ${PROJECT_SOURCE_DIR}/packaging)

# pkg-config: one file per library, requiring the libraries its headers build on.
get_property(gw_libraries GLOBAL PROPERTY GW_INSTALLED_LIBRARIES)
set(pc_dir ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
file(RELATIVE_PATH GW_PC_PREFIX_FROM_PCDIR ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
foreach(GW_PC_NAME IN LISTS gw_libraries)
  get_target_property(deps ${GW_PC_NAME} INTERFACE_LINK_LIBRARIES)
  set(GW_PC_REQUIRES "")
  foreach(dep IN LISTS deps)
    if(dep IN_LIST gw_libraries)
      list(APPEND GW_PC_REQUIRES ${dep})
    endif()
  endforeach()
  list(JOIN GW_PC_REQUIRES " " GW_PC_REQUIRES)
  configure_file(${pkg}/library.pc.in ${CMAKE_BINARY_DIR}/pkgconfig/${GW_PC_NAME}.pc @ONLY)
  install(FILES ${CMAKE_BINARY_DIR}/pkgconfig/${GW_PC_NAME}.pc DESTINATION ${pc_dir})
endforeach()

# CMake: find_package(networksettings) gives gw::<library>.
set(cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/networksettings)
install(EXPORT networksettings-targets NAMESPACE gw:: DESTINATION ${cmake_dir})
configure_package_config_file(${pkg}/networksettings-config.cmake.in
  ${CMAKE_BINARY_DIR}/networksettings-config.cmake INSTALL_DESTINATION ${cmake_dir})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/networksettings-config-version.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/networksettings-config.cmake
  ${CMAKE_BINARY_DIR}/networksettings-config-version.cmake DESTINATION ${cmake_dir})

# Definitions, and the shipped configuration with its paths leading to them from its folder.
install(FILES ${PROJECT_SOURCE_DIR}/datamodel/networksettings-qk.def DESTINATION ${GW_INSTALL_DATADIR}/definitions)
file(READ ${PROJECT_SOURCE_DIR}/config/gwrt.conf config_text)
file(RELATIVE_PATH data_from_conf ${GW_INSTALL_FULL_CONFDIR} ${GW_INSTALL_FULL_DATADIR})
string(REPLACE "../datamodel/" "${data_from_conf}/definitions/" config_text "${config_text}")
string(REGEX REPLACE "\\.\\./services/[a-z]+/" "${data_from_conf}/services/" config_text "${config_text}")
file(WRITE ${CMAKE_BINARY_DIR}/installed/gwrt.conf "${config_text}")
install(FILES ${CMAKE_BINARY_DIR}/installed/gwrt.conf DESTINATION ${GW_INSTALL_FULL_CONFDIR})

# Service managers: a systemd unit, and an init script for procd-style firmware.
configure_file(${pkg}/gwrt.service.in ${CMAKE_BINARY_DIR}/installed/gwrt.service @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/installed/gwrt.service DESTINATION lib/systemd/system)
configure_file(${pkg}/gwrt.init.in ${CMAKE_BINARY_DIR}/installed/gwrt.init @ONLY)
install(PROGRAMS ${CMAKE_BINARY_DIR}/installed/gwrt.init DESTINATION ${CMAKE_INSTALL_FULL_SYSCONFDIR}/init.d
  RENAME gwrt)

install(FILES ${pkg}/gwrt.8 DESTINATION ${CMAKE_INSTALL_MANDIR}/man8)
install(FILES ${pkg}/gwctl.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${pkg}/gwctl.bash-completion DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
  RENAME gwctl)

# The .deb is built from a tree configured with the prefix it installs to (-DCMAKE_INSTALL_PREFIX=/usr):
# gwrt's way to its configuration is fixed at configure time.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME networksettings)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Gateway data-model runtime with the LAN access-control module")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "networksettings maintainers <root@localhost>")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# An upgrade keeps a configuration the administrator edited.
file(WRITE ${CMAKE_BINARY_DIR}/installed/conffiles
  "${GW_INSTALL_FULL_CONFIG}\n${CMAKE_INSTALL_FULL_SYSCONFDIR}/init.d/gwrt\n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_BINARY_DIR}/installed/conffiles)
include(CPack)
