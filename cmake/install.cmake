# Install layout: headers under include/qmrt/, libraries under lib/, qmrt.pc and the
# CMake package, so both pkg-config and find_package(qmrt) find the library. Components:
# "runtime", the shared library alone; "dev", everything a program is built with.
include(CMakePackageConfigHelpers)

install(DIRECTORY ${CMAKE_SOURCE_DIR}/include/qmrt DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
        COMPONENT dev)
install(TARGETS qmrt_static qmrt_shared EXPORT qmrtTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT dev
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
install(EXPORT qmrtTargets NAMESPACE qmrt:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/qmrt
        COMPONENT dev)

configure_package_config_file(${CMAKE_SOURCE_DIR}/cmake/qmrtConfig.cmake.in
  ${CMAKE_BINARY_DIR}/qmrtConfig.cmake INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/qmrt)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/qmrtConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/qmrtConfig.cmake ${CMAKE_BINARY_DIR}/qmrtConfigVersion.cmake
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/qmrt COMPONENT dev)

file(RELATIVE_PATH QMRT_PC_UP ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
configure_file(${CMAKE_SOURCE_DIR}/cmake/qmrt.pc.in ${CMAKE_BINARY_DIR}/qmrt.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/qmrt.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
        COMPONENT dev)
