# Every outside library the core links. Packages with CMake targets are found
# as such; urdf and kdl_parser are linked by name because their CMake configs
# pull in ament machinery that needs a Python module this machine may lack.
find_package(Eigen3 REQUIRED NO_MODULE)
find_package(Boost REQUIRED COMPONENTS filesystem system)
find_package(fmt REQUIRED)
find_package(spdlog REQUIRED)
find_package(fcl REQUIRED)
find_package(octomap REQUIRED)
find_package(geometric_shapes REQUIRED)
find_package(random_numbers REQUIRED)
find_package(urdfdom REQUIRED)
find_package(orocos_kdl REQUIRED)
find_package(ament_index_cpp REQUIRED)
find_package(nanoflann REQUIRED)
find_package(tinyxml2 REQUIRED)
find_package(PCL REQUIRED COMPONENTS common)
find_package(LAPACK REQUIRED)
find_package(PkgConfig REQUIRED)
pkg_check_modules(SYSTEMD REQUIRED IMPORTED_TARGET libsystemd)

find_path(URDF_INCLUDE_DIR urdf/model.h REQUIRED)
find_library(URDF_LIBRARY urdf REQUIRED)
find_path(KDL_PARSER_INCLUDE_DIR kdl_parser/kdl_parser.hpp REQUIRED)
find_library(KDL_PARSER_LIBRARY kdl_parser REQUIRED)
find_library(OROCOS_KDL_LIBRARY orocos-kdl REQUIRED)

set(BRAMLOCK_SYSTEM_INCLUDE_DIRS
  ${URDF_INCLUDE_DIR} ${KDL_PARSER_INCLUDE_DIR} ${orocos_kdl_INCLUDE_DIRS}
  ${geometric_shapes_INCLUDE_DIRS} ${random_numbers_INCLUDE_DIRS}
  ${urdfdom_INCLUDE_DIRS} ${OCTOMAP_INCLUDE_DIRS} ${PCL_INCLUDE_DIRS})
list(REMOVE_DUPLICATES BRAMLOCK_SYSTEM_INCLUDE_DIRS)

set(BRAMLOCK_PUBLIC_LIBRARIES
  Eigen3::Eigen Boost::headers Boost::filesystem Boost::system fmt::fmt spdlog::spdlog fcl
  ${geometric_shapes_LIBRARIES} ${random_numbers_LIBRARIES} ${urdfdom_LIBRARIES}
  ${URDF_LIBRARY} ${KDL_PARSER_LIBRARY} ${OROCOS_KDL_LIBRARY} ${OCTOMAP_LIBRARIES}
  ament_index_cpp::ament_index_cpp tinyxml2::tinyxml2 ${PCL_COMMON_LIBRARIES})
set(BRAMLOCK_PRIVATE_LIBRARIES PkgConfig::SYSTEMD ${LAPACK_LIBRARIES})
