include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

install(TARGETS bramlock_arm_planning_core EXPORT bramlock_arm_planning_coreTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(DIRECTORY include/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

set(BRAMLOCK_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/bramlock_arm_planning_core)
install(EXPORT bramlock_arm_planning_coreTargets
  NAMESPACE bramlock_arm_planning_core::
  DESTINATION ${BRAMLOCK_CMAKE_DIR})
configure_package_config_file(cmake/bramlock_arm_planning_coreConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/bramlock_arm_planning_coreConfig.cmake
  INSTALL_DESTINATION ${BRAMLOCK_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/bramlock_arm_planning_coreConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES
  ${CMAKE_CURRENT_BINARY_DIR}/bramlock_arm_planning_coreConfig.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/bramlock_arm_planning_coreConfigVersion.cmake
  DESTINATION ${BRAMLOCK_CMAKE_DIR})
