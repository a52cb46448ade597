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
# glTF mesh files are JSON; header only.
find_package(nlohmann_json 3.2 REQUIRED)
find_package(PCL REQUIRED COMPONENTS common)
find_package(PkgConfig REQUIRED)
pkg_check_modules(SYSTEMD REQUIRED IMPORTED_TARGET libsystemd)

find_path(URDF_INCLUDE_DIR urdf/model.h REQUIRED)
find_library(URDF_LIBRARY urdf REQUIRED)
find_path(KDL_PARSER_INCLUDE_DIR kdl_parser/kdl_parser.hpp REQUIRED)
find_library(KDL_PARSER_LIBRARY kdl_parser REQUIRED)
find_library(OROCOS_KDL_LIBRARY orocos-kdl REQUIRED)
# Mesh URIs of schemes other than file:// and package:// are fetched with it,
# as geometric_shapes fetched them (its config is catkin's, so by name too).
find_path(RESOURCE_RETRIEVER_INCLUDE_DIR resource_retriever/retriever.h REQUIRED)
find_library(RESOURCE_RETRIEVER_LIBRARY resource_retriever REQUIRED)

# What the public headers include is PUBLIC, and the package config asks hosts
# for exactly these packages: Eigen, Boost's function, fmt, spdlog, FCL,
# geometric_shapes, urdf with urdfdom, KDL and nanoflann. Everything else is
# used inside the library only (octomap and PCL types appear in public headers
# as declarations alone; a host that passes them includes them itself).
set(BRAMLOCK_PUBLIC_INCLUDE_DIRS
  ${URDF_INCLUDE_DIR} ${orocos_kdl_INCLUDE_DIRS} ${geometric_shapes_INCLUDE_DIRS} ${urdfdom_INCLUDE_DIRS})
list(REMOVE_DUPLICATES BRAMLOCK_PUBLIC_INCLUDE_DIRS)
set(BRAMLOCK_PUBLIC_LIBRARIES
  Eigen3::Eigen Boost::headers fmt::fmt spdlog::spdlog fcl ${geometric_shapes_LIBRARIES}
  ${urdfdom_LIBRARIES} ${URDF_LIBRARY} ${OROCOS_KDL_LIBRARY} nanoflann::nanoflann)

# The rest, for the library and for the tests and benchmarks that use these
# libraries directly.
add_library(bramlock_internal_dependencies INTERFACE)
target_include_directories(bramlock_internal_dependencies INTERFACE
  ${KDL_PARSER_INCLUDE_DIR} ${RESOURCE_RETRIEVER_INCLUDE_DIR} ${random_numbers_INCLUDE_DIRS} ${OCTOMAP_INCLUDE_DIRS} ${PCL_INCLUDE_DIRS})
target_link_libraries(bramlock_internal_dependencies INTERFACE
  Boost::filesystem Boost::system ${RESOURCE_RETRIEVER_LIBRARY} ${random_numbers_LIBRARIES} ${KDL_PARSER_LIBRARY} ${OCTOMAP_LIBRARIES}
  ament_index_cpp::ament_index_cpp tinyxml2::tinyxml2 nlohmann_json::nlohmann_json ${PCL_COMMON_LIBRARIES} PkgConfig::SYSTEMD)
