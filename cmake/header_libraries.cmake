# SPDX-License-Identifier: MIT
# Eigen and nlohmann/json are header-only. The build sees them through a
# directory of its own that holds only their two trees (symbolic links to the
# host's copies), so that a cross build (MinGW) can use them without
# putting the host's whole /usr/include on its search path.
find_path(ORLANSE_EIGEN_DIR Eigen/Dense PATHS /usr/include/eigen3 /usr/local/include/eigen3
          NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
find_path(ORLANSE_NLOHMANN_DIR nlohmann/json.hpp PATHS /usr/include /usr/local/include
          NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
if(NOT ORLANSE_EIGEN_DIR OR NOT ORLANSE_NLOHMANN_DIR)
  message(FATAL_ERROR "Eigen and nlohmann/json are needed: scripts/install-deps installs them "
                      "(libeigen3-dev, nlohmann-json3-dev)")
endif()
set(ORLANSE_HEADER_LIBRARIES_DIR ${CMAKE_BINARY_DIR}/header_libraries)
file(MAKE_DIRECTORY ${ORLANSE_HEADER_LIBRARIES_DIR})
file(CREATE_LINK ${ORLANSE_EIGEN_DIR}/Eigen ${ORLANSE_HEADER_LIBRARIES_DIR}/Eigen SYMBOLIC)
file(CREATE_LINK ${ORLANSE_NLOHMANN_DIR}/nlohmann ${ORLANSE_HEADER_LIBRARIES_DIR}/nlohmann SYMBOLIC)
add_library(header_libraries INTERFACE)
target_include_directories(header_libraries SYSTEM INTERFACE ${ORLANSE_HEADER_LIBRARIES_DIR})
