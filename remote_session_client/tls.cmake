# The TLS layer, remote_session_client_tls: frames over a TLS session
# (OpenSSL). Only what asks for it links it; the core library, and so the
# Python extension, link no TLS library. OPENSSL_ROOT_DIR and
# OPENSSL_USE_STATIC_LIBS pick another OpenSSL, a static one for instance.
find_package(OpenSSL 3.0 REQUIRED)
file(GLOB RSC_TLS_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tls/src/*.cpp)

add_library(remote_session_client_tls_objects OBJECT ${RSC_TLS_SOURCES})
target_include_directories(remote_session_client_tls_objects
  PUBLIC $<BUILD_INTERFACE:${CMAKE_CURRENT_SOURCE_DIR}/tls/include>
  PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/tls/src)
target_include_directories(remote_session_client_tls_objects PRIVATE
  $<TARGET_PROPERTY:remote_session_client_objects,INTERFACE_INCLUDE_DIRECTORIES>)
target_link_libraries(remote_session_client_tls_objects PRIVATE OpenSSL::SSL OpenSSL::Crypto)
target_compile_options(remote_session_client_tls_objects PRIVATE -Wall -Wextra -Wpedantic)
set_target_properties(remote_session_client_tls_objects PROPERTIES POSITION_INDEPENDENT_CODE ON)

add_library(remote_session_client_tls STATIC)
target_link_libraries(remote_session_client_tls
  PUBLIC remote_session_client $<BUILD_INTERFACE:remote_session_client_tls_objects>
  PRIVATE OpenSSL::SSL OpenSSL::Crypto)
target_include_directories(remote_session_client_tls INTERFACE $<INSTALL_INTERFACE:include>)

if(ORVIK_INSTALL_LIBRARY)
  # Like the core's shared library: only our namespace is exported, so a
  # statically linked OpenSSL stays inside.
  add_library(remote_session_client_tls_shared SHARED)
  target_link_libraries(remote_session_client_tls_shared
    PUBLIC remote_session_client_shared
    PRIVATE remote_session_client_tls_objects OpenSSL::SSL OpenSSL::Crypto)
  target_include_directories(remote_session_client_tls_shared INTERFACE $<INSTALL_INTERFACE:include>)
  target_link_options(remote_session_client_tls_shared PRIVATE
    -Wl,--version-script=${CMAKE_CURRENT_SOURCE_DIR}/exported_symbols.map -Wl,--no-undefined)
  set_target_properties(remote_session_client_tls_shared PROPERTIES
    OUTPUT_NAME remote_session_client_tls
    VERSION ${PROJECT_VERSION}
    SOVERSION ${PROJECT_VERSION_MAJOR}
    LINK_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/exported_symbols.map)
  include(${PROJECT_SOURCE_DIR}/cmake/remote_session_client_tls_install.cmake)
endif()

if(ORVIK_BUILD_TESTS)
  file(GLOB RSC_TLS_TESTS CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tls/tests/*.cpp)
  list(APPEND RSC_TLS_TESTS ${CMAKE_CURRENT_SOURCE_DIR}/tests/test_gateway.cpp)
  add_executable(remote_session_client_tls_tests ${RSC_TLS_TESTS})
  target_include_directories(remote_session_client_tls_tests PRIVATE
    ${CMAKE_CURRENT_SOURCE_DIR}/tls/src ${CMAKE_CURRENT_SOURCE_DIR}/tests)
  target_link_libraries(remote_session_client_tls_tests PRIVATE
    remote_session_client_tls OpenSSL::SSL OpenSSL::Crypto GTest::gtest GTest::gtest_main Threads::Threads)
  gtest_discover_tests(remote_session_client_tls_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 60)
endif()
