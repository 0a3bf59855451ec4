# Where `cmake --install` puts things (GNUInstallDirs) and how installed files find each other:
# only through paths relative to themselves ($ORIGIN, or the layout below), so an installed tree
# can be unpacked anywhere (a firmware image, a scratch root) and holds no path of the build.
include(GNUInstallDirs)

set(GW_INSTALL_MODULEDIR ${CMAKE_INSTALL_LIBDIR}/gwrt/modules)
set(GW_INSTALL_FULL_MODULEDIR ${CMAKE_INSTALL_FULL_LIBDIR}/gwrt/modules)
set(GW_INSTALL_DATADIR ${CMAKE_INSTALL_DATADIR}/gwrt)
set(GW_INSTALL_FULL_DATADIR ${CMAKE_INSTALL_FULL_DATADIR}/gwrt)
# /etc/gwrt for the prefix /usr, <prefix>/etc/gwrt otherwise.
set(GW_INSTALL_FULL_CONFDIR ${CMAKE_INSTALL_FULL_SYSCONFDIR}/gwrt)
set(GW_INSTALL_FULL_CONFIG ${GW_INSTALL_FULL_CONFDIR}/gwrt.conf)

# gw_origin_rpath(<out_var> <installed folder>): the RUNPATH that leads from there to the libraries.
function(gw_origin_rpath out_var from)
  file(RELATIVE_PATH rel ${from} ${CMAKE_INSTALL_FULL_LIBDIR})
  set(${out_var} "$ORIGIN/${rel}" PARENT_SCOPE)
endfunction()
gw_origin_rpath(CMAKE_INSTALL_RPATH ${CMAKE_INSTALL_FULL_BINDIR})
gw_origin_rpath(GW_MODULE_RPATH ${GW_INSTALL_FULL_MODULEDIR})

# gw_install_library(<name>): the shared library with its SONAME link, its public headers, and
# a pkg-config file (written by gw_write_pkg_config_files once every library is known).
function(gw_install_library name)
  set_target_properties(${name} PROPERTIES INSTALL_RPATH "$ORIGIN")
  install(TARGETS ${name} EXPORT networksettings-targets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
  install(DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/include/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
  set_property(GLOBAL APPEND PROPERTY GW_INSTALLED_LIBRARIES ${name})
endfunction()

# gw_install_module(<target>): a plug-in gwrt loads with `import`, into its module folder.
function(gw_install_module target)
  set_target_properties(${target} PROPERTIES INSTALL_RPATH "${GW_MODULE_RPATH}")
  install(TARGETS ${target} LIBRARY DESTINATION ${GW_INSTALL_MODULEDIR})
endfunction()
