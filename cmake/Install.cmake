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

# The demo arm and the data the library looks up through the ament index, laid
# out as ROS package share directories with their index markers: with the
# install prefix in AMENT_PREFIX_PATH, a host without an arm of its own runs
# everything against it. The REV5-U800 URDF and the six-axis scene arm are the
# files the tests load, installed from where the tests keep them.
set(BRAMLOCK_DEMO_DATA_COMPONENT bramlock_demo_data)
set(BRAMLOCK_DESCRIPTION_SHARE share/bramlock_arm_description)
install(DIRECTORY data/share/ DESTINATION share COMPONENT ${BRAMLOCK_DEMO_DATA_COMPONENT})
install(DIRECTORY test/fixtures/ament_prefix/share/bramlock_arm_description/urdf
  DESTINATION ${BRAMLOCK_DESCRIPTION_SHARE} COMPONENT ${BRAMLOCK_DEMO_DATA_COMPONENT})
install(FILES test/fixtures/scene_arm/scene_arm.urdf test/fixtures/scene_arm/scene_arm.srdf
  DESTINATION ${BRAMLOCK_DESCRIPTION_SHARE}/demo_arm COMPONENT ${BRAMLOCK_DEMO_DATA_COMPONENT})
install(DIRECTORY test/fixtures/scene_arm/scene_arm_description
  DESTINATION ${BRAMLOCK_DESCRIPTION_SHARE}/demo_arm COMPONENT ${BRAMLOCK_DEMO_DATA_COMPONENT})
