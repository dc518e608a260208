# What `cmake --install` puts under the prefix for C++ consumers of the
# client library:
#   include/remote_session_client/*.h            the public headers
#   LIBDIR/libremote_session_client.a            the static library
#   LIBDIR/libremote_session_client.so.0         the shared library (SONAME)
#   LIBDIR/cmake/remote_session_client/          find_package(remote_session_client 0.1 CONFIG)
#   LIBDIR/pkgconfig/remote_session_client.pc    pkg-config
# Included by remote_session_client/CMakeLists.txt once both libraries exist.
include_guard(GLOBAL)
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(_rsc_package_dir ${CMAKE_INSTALL_LIBDIR}/cmake/remote_session_client)

install(DIRECTORY ${PROJECT_SOURCE_DIR}/remote_session_client/include/remote_session_client
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} FILES_MATCHING PATTERN "*.h")

# Exported as remote_session_client::static and remote_session_client::shared;
# the package's config file picks which one remote_session_client::remote_session_client is.
set_target_properties(remote_session_client PROPERTIES EXPORT_NAME static)
set_target_properties(remote_session_client_shared PROPERTIES EXPORT_NAME shared)
install(TARGETS remote_session_client EXPORT remote_session_client_static
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(TARGETS remote_session_client_shared EXPORT remote_session_client_shared
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
foreach(_rsc_kind static shared)
  install(EXPORT remote_session_client_${_rsc_kind} NAMESPACE remote_session_client::
    FILE remote_session_client-${_rsc_kind}-targets.cmake DESTINATION ${_rsc_package_dir})
endforeach()

configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/remote_session_client-config.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/remote_session_client-config.cmake
  INSTALL_DESTINATION ${_rsc_package_dir})
# 0.x: a minor release may change the interface, so 0.1 accepts any 0.1.z
# at or above the one asked for, and nothing of 0.2.
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/remote_session_client-config-version.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMinorVersion)
install(FILES
  ${CMAKE_CURRENT_BINARY_DIR}/remote_session_client-config.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/remote_session_client-config-version.cmake
  DESTINATION ${_rsc_package_dir})

# The .pc file finds the prefix from its own place, so `cmake --install
# --prefix` anywhere gives a working file.
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}" OR IS_ABSOLUTE "${CMAKE_INSTALL_INCLUDEDIR}")
  message(FATAL_ERROR "the library installs only under its prefix: "
    "give CMAKE_INSTALL_LIBDIR and CMAKE_INSTALL_INCLUDEDIR relative to it")
endif()
file(RELATIVE_PATH _rsc_pc_to_prefix
  /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
string(REGEX REPLACE "/$" "" _rsc_pc_to_prefix "${_rsc_pc_to_prefix}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/remote_session_client.pc.in
  ${CMAKE_CURRENT_BINARY_DIR}/remote_session_client.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/remote_session_client.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
