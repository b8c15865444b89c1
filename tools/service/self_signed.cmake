# The in-memory self-signed certificate maker, shared by the reference service and the
# tests' HTTPS server; included from both places so either builds without the other.
find_package(OpenSSL REQUIRED)
if(NOT TARGET qmrt_self_signed)
  add_library(qmrt_self_signed STATIC ${CMAKE_CURRENT_LIST_DIR}/self_signed.cpp)
  target_include_directories(qmrt_self_signed PUBLIC ${CMAKE_CURRENT_LIST_DIR})
  target_link_libraries(qmrt_self_signed PUBLIC OpenSSL::SSL OpenSSL::Crypto)
endif()
