# What `cmake --install` puts where (GNUInstallDirs), and the packages a
# producer finds it by: pkg-config (`pkg-config --cflags --libs
# qvpcanvas`) and CMake (`find_package(qvpcanvas)`, target
# qvpcanvas::qvpcanvas). `cpack -G DEB` makes a .deb of the same files.
include(CMakePackageConfigHelpers)

install(TARGETS qvp_viewer qvp_mirror RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS qvp qvpdisp qvpcanvas qvphost qvpdisphost EXPORT qvpcanvasTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/qvp)
# The plugin module sits in a folder of its own, the libraries one up.
set_target_properties(qvp_drawcanvas PROPERTIES INSTALL_RPATH "$ORIGIN/..")
install(TARGETS qvp_drawcanvas LIBRARY DESTINATION ${QVP_PLUGIN_INSTALL_DIR})
install(TARGETS qvpcanvastcl LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}/tcltk/qvpcanvas)
install(FILES ${CMAKE_BINARY_DIR}/tcltk/qvpcanvas/pkgIndex.tcl DESTINATION ${CMAKE_INSTALL_LIBDIR}/tcltk/qvpcanvas)

# The public headers, flat in include/qvp: the host framework interface,
# the canvas records and the host-side APIs a producer calls.
file(GLOB QVP_PUBLIC_HEADERS ${PROJECT_SOURCE_DIR}/include/*.h ${PROJECT_SOURCE_DIR}/include/canvas/*.h)
install(FILES ${QVP_PUBLIC_HEADERS}
  ${PROJECT_SOURCE_DIR}/host/qvp/qvp_host.h
  ${PROJECT_SOURCE_DIR}/host/qvpdisp/qvpdisp_host.h
  ${PROJECT_SOURCE_DIR}/host/canvas/canvas_builder.h
  ${PROJECT_SOURCE_DIR}/host/canvas/canvas_tcl.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/qvp)

install(EXPORT qvpcanvasTargets NAMESPACE qvpcanvas:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/qvpcanvas)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/qvpcanvasConfig.cmake.in
  ${CMAKE_BINARY_DIR}/qvpcanvasConfig.cmake INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/qvpcanvas)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/qvpcanvasConfigVersion.cmake COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/qvpcanvasConfig.cmake ${CMAKE_BINARY_DIR}/qvpcanvasConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/qvpcanvas)

# The .pc names its prefix from where it lies, so an install with any
# --prefix (or DESTDIR) is found right.
file(RELATIVE_PATH QVP_PC_TO_PREFIX /p/${CMAKE_INSTALL_LIBDIR}/pkgconfig /p)
configure_file(${PROJECT_SOURCE_DIR}/cmake/qvpcanvas.pc.in ${CMAKE_BINARY_DIR}/qvpcanvas.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/qvpcanvas.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/ DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/ DESTINATION ${CMAKE_INSTALL_DATADIR}/qvp/examples)

set(CPACK_PACKAGE_NAME qvp)
set(CPACK_PACKAGE_VENDOR "qvp")
set(CPACK_PACKAGE_CONTACT "qvp maintainers <qvp@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "canvases for multi-process 3-D displays: the viewer, the mirror, the plugin and the builder")
set(CPACK_PACKAGE_INSTALL_DIRECTORY qvp)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The libraries' dependencies as Debian names them, from dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
include(CPack)
