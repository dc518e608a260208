# What `cmake --install` adds for C++ consumers of the TLS layer:
#   include/remote_session_client/tls.h
#   LIBDIR/libremote_session_client_tls.a, LIBDIR/libremote_session_client_tls.so.0
#   find_package(remote_session_client 0.1 CONFIG COMPONENTS tls) -> remote_session_client::tls
#   LIBDIR/pkgconfig/remote_session_client_tls.pc
# Included by remote_session_client/tls.cmake, after the core's install rules.
include_guard(GLOBAL)
include(GNUInstallDirs)

install(FILES ${PROJECT_SOURCE_DIR}/remote_session_client/tls/include/remote_session_client/tls.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/remote_session_client)

set_target_properties(remote_session_client_tls PROPERTIES EXPORT_NAME tls_static)
set_target_properties(remote_session_client_tls_shared PROPERTIES EXPORT_NAME tls_shared)
install(TARGETS remote_session_client_tls EXPORT remote_session_client_tls_static
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(TARGETS remote_session_client_tls_shared EXPORT remote_session_client_tls_shared
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
foreach(_rsc_kind static shared)
  install(EXPORT remote_session_client_tls_${_rsc_kind} NAMESPACE remote_session_client::
    FILE remote_session_client-tls-${_rsc_kind}-targets.cmake
    DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/remote_session_client)
endforeach()

configure_file(${CMAKE_CURRENT_LIST_DIR}/remote_session_client_tls.pc.in
  ${CMAKE_CURRENT_BINARY_DIR}/remote_session_client_tls.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/remote_session_client_tls.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
