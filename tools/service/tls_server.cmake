# The project's HTTPS server set-up (tls_server.hpp) and its in-memory self-signed
# certificates, shared by the reference service, the tests' server and the benchmarks;
# included from each of those places so that any of them builds without the others.
# Debian ships cpp-httplib as a shared library built with OpenSSL, zlib and brotli;
# pkg-config gives the matching defines.
find_package(OpenSSL REQUIRED)
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)
if(NOT TARGET qmrt_tls_server)
  pkg_check_modules(HTTPLIB REQUIRED IMPORTED_TARGET GLOBAL cpp-httplib)
  add_library(qmrt_tls_server STATIC ${CMAKE_CURRENT_LIST_DIR}/tls_server.cpp
                                     ${CMAKE_CURRENT_LIST_DIR}/self_signed.cpp)
  target_include_directories(qmrt_tls_server PUBLIC ${CMAKE_CURRENT_LIST_DIR})
  target_link_libraries(qmrt_tls_server PUBLIC PkgConfig::HTTPLIB OpenSSL::SSL OpenSSL::Crypto
                                               Threads::Threads)
endif()
