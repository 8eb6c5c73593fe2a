# The installed package: CMake config, version file, exported target ztc::ztc and ztc.pc.
include(CMakePackageConfigHelpers)

set(ZTC_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/ztc)
install(EXPORT ztcTargets NAMESPACE ztc:: DESTINATION ${ZTC_CMAKE_DIR} COMPONENT ztc)
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/ztcConfig.cmake.in
  ${PROJECT_BINARY_DIR}/ztcConfig.cmake INSTALL_DESTINATION ${ZTC_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/ztcConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/ztcConfig.cmake ${PROJECT_BINARY_DIR}/ztcConfigVersion.cmake
        DESTINATION ${ZTC_CMAKE_DIR} COMPONENT ztc)

# ztc.pc finds its prefix from its own place, so the installed tree can be moved.
file(RELATIVE_PATH ZTC_PC_TO_PREFIX /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
string(REGEX REPLACE "/$" "" ZTC_PC_TO_PREFIX "${ZTC_PC_TO_PREFIX}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/ztc.pc.in ${PROJECT_BINARY_DIR}/ztc.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/ztc.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT ztc)
