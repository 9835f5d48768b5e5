# SPDX-License-Identifier: MIT
# cmake -DNM=... -DOBJDUMP=... -DLIBRARY=... -DSONAME=... -P check_exports.cmake
# The shared library defines exactly the nine directory functions and
# carries the expected SONAME.
set(expected get_how_many_port_devices get_port_device_name get_port_device_name2 get_port_name
    get_port_number port_device_pickup port_device_pickup_all port_device_pickup_by_type port_device_scan)

execute_process(COMMAND ${NM} -D --defined-only ${LIBRARY} OUTPUT_VARIABLE listing RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()
string(REGEX MATCHALL "[^\n]+" lines "${listing}")
set(names)
foreach(line IN LISTS lines)
  string(REGEX REPLACE "^.* " "" name "${line}")
  list(APPEND names ${name})
endforeach()
list(SORT names)
if(NOT names STREQUAL expected)
  message(FATAL_ERROR "exported: ${names}\nexpected: ${expected}")
endif()

execute_process(COMMAND ${OBJDUMP} -p ${LIBRARY} OUTPUT_VARIABLE headers)
if(NOT headers MATCHES "SONAME +${SONAME}\n")
  message(FATAL_ERROR "no SONAME ${SONAME} in ${LIBRARY}")
endif()
message(STATUS "nine functions exported, SONAME ${SONAME}")
