# SPDX-License-Identifier: GPL-3.0-or-later
# Installing the port component for other projects: `cmake --install <build> --component cport` puts
# libcport and libcportctl (static and shared), their public headers, the CMake package `cport` and
# pkg-config files under the prefix. A user writes
#   find_package(cport 1.0 REQUIRED)            # cport::cport (shared), cport::cport_static
#   find_package(cport 1.0 REQUIRED COMPONENTS cportctl)   # also cport::cportctl, cport::cportctl_static
# Without COMPONENTS, the controls' targets are there when Qt 6 Widgets is found; cport needs no Qt.
include(CMakePackageConfigHelpers)

set(CPORT_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/cport)

install(TARGETS cport cport_shared EXPORT cportTargets COMPONENT cport
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} NAMELINK_COMPONENT cport)
install(DIRECTORY cport/include/cport DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT cport)
install(EXPORT cportTargets NAMESPACE cport:: DESTINATION ${CPORT_CMAKE_DIR} COMPONENT cport)
# The pkg-config files find the prefix from where they lie, so an installed tree can be moved.
file(RELATIVE_PATH CPORT_PC_UP /p/${CMAKE_INSTALL_LIBDIR}/pkgconfig /p)
set(CPORT_PC_REQUIRES "")
set(CPORT_PC_NAME cport)
set(CPORT_PC_DESCRIPTION "Serial port component")
set(CPORT_PC_LIBS "-lcport")
configure_file(cmake/cport.pc.in ${CMAKE_CURRENT_BINARY_DIR}/cport.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/cport.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT cport)

if(TARGET cportctl)
  install(TARGETS cportctl cportctl_shared EXPORT cportctlTargets COMPONENT cport
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} NAMELINK_COMPONENT cport)
  install(DIRECTORY cportctl/include/cportctl DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT cport)
  install(EXPORT cportctlTargets NAMESPACE cport:: DESTINATION ${CPORT_CMAKE_DIR} COMPONENT cport)
  set(CPORT_PC_REQUIRES "cport = ${PROJECT_VERSION}, Qt6Widgets")
  set(CPORT_PC_NAME cportctl)
  set(CPORT_PC_DESCRIPTION "Port-bound Qt controls of the serial port component")
  set(CPORT_PC_LIBS "-lcportctl")
  configure_file(cmake/cport.pc.in ${CMAKE_CURRENT_BINARY_DIR}/cportctl.pc @ONLY)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/cportctl.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
    COMPONENT cport)
endif()

configure_package_config_file(cmake/cportConfig.cmake.in ${CMAKE_CURRENT_BINARY_DIR}/cportConfig.cmake
  INSTALL_DESTINATION ${CPORT_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/cportConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/cportConfig.cmake ${CMAKE_CURRENT_BINARY_DIR}/cportConfigVersion.cmake
  DESTINATION ${CPORT_CMAKE_DIR} COMPONENT cport)
