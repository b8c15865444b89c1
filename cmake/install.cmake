# Install layout: headers under include/qmrt/, libraries under lib/, qmrt.pc and the
# CMake package, so both pkg-config and find_package(qmrt) find the library.
include(CMakePackageConfigHelpers)

install(DIRECTORY ${CMAKE_SOURCE_DIR}/include/qmrt DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(TARGETS qmrt_static qmrt_shared EXPORT qmrtTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(EXPORT qmrtTargets NAMESPACE qmrt:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/qmrt)

configure_package_config_file(${CMAKE_SOURCE_DIR}/cmake/qmrtConfig.cmake.in
  ${CMAKE_BINARY_DIR}/qmrtConfig.cmake INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/qmrt)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/qmrtConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/qmrtConfig.cmake ${CMAKE_BINARY_DIR}/qmrtConfigVersion.cmake
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/qmrt)

configure_file(${CMAKE_SOURCE_DIR}/cmake/qmrt.pc.in ${CMAKE_BINARY_DIR}/qmrt.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/qmrt.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
