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
# The archive's needs: the C++ run-time, and -ldl where dlopen is not in the C library.
# libcurl is loaded when a transfer needs it, so no program links it for the library.
list(TRANSFORM QMRT_DL_LIBS PREPEND -l OUTPUT_VARIABLE QMRT_PC_LIBS_PRIVATE)
list(APPEND QMRT_PC_LIBS_PRIVATE -lstdc++ -lm)
list(JOIN QMRT_PC_LIBS_PRIVATE " " QMRT_PC_LIBS_PRIVATE)
configure_file(${CMAKE_SOURCE_DIR}/cmake/qmrt.pc.in ${CMAKE_BINARY_DIR}/qmrt.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/qmrt.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
        COMPONENT dev)
