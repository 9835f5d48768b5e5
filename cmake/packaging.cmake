# SPDX-License-Identifier: MIT
# The Windows zip, made by CPack (cpack -G ZIP in the mingw32 build) from
# everything the build installs: the 32-bit exe and its import library, the
# port_device DLL with its .def and import libraries, port_device.h,
# LICENSE.txt and README.txt. The Debian packages are built by debhelper
# from debian/ (dpkg-buildpackage), not here.
#
# scripts/package-test builds both and checks them.
if(NOT WIN32)
  return()
endif()

set(CPACK_PACKAGE_NAME orlanse_sensor)
set(CPACK_PACKAGE_VENDOR "The orlanse_sensor authors")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR ZIP)
set(CPACK_ARCHIVE_COMPONENT_INSTALL OFF)
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(CPACK_PACKAGE_FILE_NAME orlanse_sensor-${PROJECT_VERSION}-win32)
else()
  set(CPACK_PACKAGE_FILE_NAME orlanse_sensor-${PROJECT_VERSION}-win64)
endif()
include(CPack)
