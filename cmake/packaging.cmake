# SPDX-License-Identifier: MIT
# Packages, made by CPack from the install rules of every directory.
#
# Linux (cpack -G DEB in a build configured with -DCMAKE_INSTALL_PREFIX=/usr,
# so that the library lands in the multiarch directory), three packages, one
# per install component:
#   orlanse-sensor      orlanse_sensor, list_ports and their manual pages
#   libport-device1     libport_device.so.1, the serial port directory
#   libport-device-dev  port_device.h, the libport_device.so link, the
#                       pkg-config file and the CMake package
# Windows (cpack -G ZIP in the mingw32 build): one zip of everything the build
# installs: the 32-bit exe, its import library, port_device.h, README.txt.
#
# scripts/package-test builds both and checks them.

set(CPACK_PACKAGE_NAME orlanse-sensor)
set(CPACK_PACKAGE_VENDOR "orlanse_sensor developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
if(NOT CPACK_PACKAGE_CONTACT)
  set(CPACK_PACKAGE_CONTACT "orlanse_sensor maintainers <maintainers@orlanse-sensor.invalid>")
endif()
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_ARCHIVE_COMPONENT_INSTALL OFF)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(CPACK_PACKAGE_FILE_NAME orlanse_sensor-${PROJECT_VERSION}-win32)
  else()
    set(CPACK_PACKAGE_FILE_NAME orlanse_sensor-${PROJECT_VERSION}-win64)
  endif()
  include(CPack)
  return()
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL orlanse-sensor libport-device1 libport-device-dev)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Dependencies on system libraries (libudev1, libc6, libstdc++6) come from
# dpkg-shlibdeps; those between the three packages from the components.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
# list_ports links the library of a sibling package: let dpkg-shlibdeps find
# it in the build tree.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/port_device/linux)

set(CPACK_DEBIAN_ORLANSE-SENSOR_PACKAGE_NAME orlanse-sensor)
set(CPACK_DEBIAN_ORLANSE-SENSOR_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_LIBPORT-DEVICE1_PACKAGE_NAME libport-device1)
set(CPACK_DEBIAN_LIBPORT-DEVICE1_PACKAGE_SECTION libs)
# A package with a shared library declares it (shlibs) and runs ldconfig.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_LIBPORT-DEVICE-DEV_PACKAGE_NAME libport-device-dev)
set(CPACK_DEBIAN_LIBPORT-DEVICE-DEV_PACKAGE_SECTION libdevel)

# Package descriptions: a summary line, then the long text. (No
# CPACK_PACKAGE_DESCRIPTION_SUMMARY: CPack would put it before each.)
set(CPACK_DEBIAN_LIBPORT-DEVICE1_DESCRIPTION "serial port directory: the machine's serial ports with COM numbers
libport_device.so lists the serial ports of the machine with their COM
numbers, descriptions, hardware IDs and device nodes, and picks them by
adapter type (FTDI, CP210x, Prolific, Cypress, ArkMicro, on-board) or by a
text pattern.")
set(CPACK_DEBIAN_LIBPORT-DEVICE-DEV_DESCRIPTION "serial port directory: header, pkg-config file and CMake package
port_device.h declares the nine functions of libport_device.so. Programs
find the library with pkg-config (port_device) or with CMake
(find_package(port_device)).")
set(CPACK_DEBIAN_ORLANSE-SENSOR_DESCRIPTION "six-axis sensor module reader for FTDI USB-serial adapters
orlanse_sensor finds the sensor module behind the first FTDI USB-serial
adapter, initialises it and prints one line per sample (three geomagnetic
and three acceleration axes) until a key is pressed. list_ports prints the
serial ports of the machine with their COM numbers.")

include(CPack)

cpack_add_component(libport-device1 DISPLAY_NAME "Serial port directory library")
cpack_add_component(libport-device-dev DISPLAY_NAME "Serial port directory development files"
  DEPENDS libport-device1)
cpack_add_component(orlanse-sensor DISPLAY_NAME "orlanse_sensor and list_ports" DEPENDS libport-device1)
