# Debian packages of the build, made by CPack (make package):
#   libqmrt0     the shared library under its SONAME, with shlibs for programs built on it
#   libqmrt-dev  headers, static library, qmrt.pc, the CMake package, the section-3 pages
#   qmrt         the qmrt command, qmrt-service, their man pages, bash completion
# Configure with CMAKE_INSTALL_PREFIX=/usr (the multiarch library folder follows) and
# CMAKE_SKIP_INSTALL_RPATH=ON; dependencies come from the binaries (dpkg-shlibdeps).
set(QMRT_PACKAGE_MAINTAINER "qmrt developers <qmrt-dev@users.noreply.example>"
    CACHE STRING "Maintainer field of the Debian packages")

set(CPACK_GENERATOR DEB)
# Each package's synopsis is the first line of its own description below; CPack would
# put the project's summary in front of it.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "")
set(CPACK_PACKAGE_NAME qmrt)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime dev)
if(QMRT_BUILD_TOOLS)
  list(APPEND CPACK_COMPONENTS_ALL tools)
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${QMRT_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The tools need libqmrt.so.0, which no installed package has yet: dpkg-shlibdeps finds it
# in the build, and the dependency on libqmrt0 comes from the component's own.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR})
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libqmrt0)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
# The library loads libcurl.so.4 on the first transfer, so dpkg-shlibdeps cannot see it in
# the binary: the dependency is declared here, with the version dpkg-shlibdeps derived
# from libcurl4's symbols file when the library linked libcurl (every function it calls
# dates from 7.16.2).
set(CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS "libcurl4 (>= 7.16.2)")
# The symbols file names every exported service, and the version that brought it, for
# the dependencies of programs built on the library; the package check holds the library
# to exactly these names. dpkg runs ldconfig once for all packages of a run that carry
# the trigger.
foreach(control symbols triggers)
  configure_file(${CMAKE_SOURCE_DIR}/cmake/debian/libqmrt0.${control}
                 ${CMAKE_BINARY_DIR}/debian/${control} COPYONLY)
  list(APPEND CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${CMAKE_BINARY_DIR}/debian/${control})
endforeach()
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION "run-time support library of the suite's programs
qmrt gives the suite's command-line programs their shared services as plain C
functions: diagnostics and the debug2 trace file, packed dates and day numbers,
the clock texts, rounded allocation and a bounded byte buffer, a JSON tokenizer
with lookup by key, an HTTPS JSON client for the suite's web service, and the
byte-range exclusion locks of the working directory.
.
This package holds the shared library.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libqmrt-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
# The public headers need nothing of libcurl, and neither the archive nor the CMake
# package links it: the development files add no dependency of their own.
set(CPACK_COMPONENT_DEV_DEPENDS runtime)
set(CPACK_DEBIAN_DEV_DESCRIPTION "run-time support library of the suite's programs (development files)
qmrt gives the suite's command-line programs their shared services as plain C
functions behind a C99 interface.
.
This package holds the headers, the static library, qmrt.pc for pkg-config,
the CMake package for find_package(qmrt), and a manual page for every function
and shared cell (start with qmrt(3)).")

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME qmrt)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION utils)
set(CPACK_COMPONENT_TOOLS_DEPENDS runtime)
set(CPACK_DEBIAN_TOOLS_DESCRIPTION "command-line access to the run-time services of the suite's programs
The qmrt command gives shell scripts and operators the services of the qmrt
library: dates and day numbers, the clock texts, JSON tokens and values by key,
the fetch of a document, the exchange with the suite's web service, and the
exclusion locks with who holds them. qmrt-service is the reference HTTPS web
service the exchange talks to.")

# The copyright and changelog of each package, only in component installs (the
# packages), not in a plain cmake --install.
configure_file(${CMAKE_SOURCE_DIR}/cmake/debian/changelog.in ${CMAKE_BINARY_DIR}/debian/changelog
               @ONLY)
execute_process(COMMAND gzip -9n -c ${CMAKE_BINARY_DIR}/debian/changelog
                OUTPUT_FILE ${CMAKE_BINARY_DIR}/debian/changelog.gz COMMAND_ERROR_IS_FATAL ANY)
foreach(component IN LISTS CPACK_COMPONENTS_ALL)
  string(TOUPPER ${component} upper)
  install(FILES ${CMAKE_SOURCE_DIR}/cmake/debian/copyright ${CMAKE_BINARY_DIR}/debian/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${CPACK_DEBIAN_${upper}_PACKAGE_NAME}
          COMPONENT ${component} EXCLUDE_FROM_ALL)
endforeach()

include(CPack)
