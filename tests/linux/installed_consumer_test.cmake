# SPDX-License-Identifier: MIT
# cmake -DBUILD_DIR=... -DWORK_DIR=... -DCONSUMER_DIR=... -DEXAMPLE_DIR=...
#       -DRUNNER=... -DC_COMPILER=... -DC_FLAGS=... -P installed_consumer_test.cmake
# Installs the directory into a fresh prefix, builds a C program against it
# with pkg-config and with find_package, and runs both and the installed
# list_ports over the standard fake serial hardware; builds the example
# program (examples/) as docs/library.md says, both ways, and runs it.
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE failed OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(failed)
    message(FATAL_ERROR "failed (${failed}): ${ARGN}\n${out}\n${err}")
  endif()
  set(run_output "${out}" PARENT_SCOPE)
endfunction()

set(prefix ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
file(GLOB_RECURSE pc_file ${prefix}/*/port_device.pc)
get_filename_component(pc_dir "${pc_file}" DIRECTORY)
get_filename_component(lib_dir "${pc_dir}" DIRECTORY)
separate_arguments(flags UNIX_COMMAND "${C_FLAGS}")

# pkg-config, from a prefix other than the one the build was configured for.
run(${CMAKE_COMMAND} -E env PKG_CONFIG_PATH=${pc_dir} pkg-config --cflags --libs port_device)
separate_arguments(pc_flags UNIX_COMMAND "${run_output}")
run(${C_COMPILER} ${flags} ${CONSUMER_DIR}/check_directory.c ${pc_flags} -o ${WORK_DIR}/check_directory_pc)
run(${CMAKE_COMMAND} -E env LD_LIBRARY_PATH=${lib_dir} ${RUNNER} ${WORK_DIR}/check_directory_pc)
message(STATUS "pkg-config build: ${run_output}")

# find_package(port_device) and the imported target.
run(${CMAKE_COMMAND} -S ${CONSUMER_DIR} -B ${WORK_DIR}/consumer -DCMAKE_PREFIX_PATH=${prefix}
    -DCMAKE_C_COMPILER=${C_COMPILER} "-DCMAKE_C_FLAGS=${C_FLAGS}")
run(${CMAKE_COMMAND} --build ${WORK_DIR}/consumer)
run(${RUNNER} ${WORK_DIR}/consumer/check_directory)
message(STATUS "find_package build: ${run_output}")

# The installed command finds its library through its RPATH.
run(${RUNNER} ${prefix}/bin/list_ports 2)
if(NOT run_output MATCHES "COM4 +USB Serial Port +FTDIBUS\\\\COMPORT&VID_0403&PID_6015 +/dev/ttyUSB1\n")
  message(FATAL_ERROR "installed list_ports printed:\n${run_output}")
endif()

# The example, as docs/library.md builds it: with pkg-config, run with
# LD_LIBRARY_PATH; and as a CMake project of its own.
set(example_expected "serial ports: 5\n")
run(${C_COMPILER} ${flags} ${EXAMPLE_DIR}/list_ports_example.c ${pc_flags} -o ${WORK_DIR}/list_ports_example)
run(${CMAKE_COMMAND} -E env LD_LIBRARY_PATH=${lib_dir} ${RUNNER} ${WORK_DIR}/list_ports_example)
string(FIND "${run_output}" "${example_expected}" at)
if(NOT at EQUAL 0)
  message(FATAL_ERROR "the example built with pkg-config printed:\n${run_output}")
endif()
run(${CMAKE_COMMAND} -S ${EXAMPLE_DIR} -B ${WORK_DIR}/example -DCMAKE_PREFIX_PATH=${prefix}
    -DCMAKE_C_COMPILER=${C_COMPILER} "-DCMAKE_C_FLAGS=${C_FLAGS}")
run(${CMAKE_COMMAND} --build ${WORK_DIR}/example)
run(${RUNNER} ${WORK_DIR}/example/list_ports_example)
string(FIND "${run_output}" "${example_expected}" at)
if(NOT at EQUAL 0)
  message(FATAL_ERROR "the example built by its CMake project printed:\n${run_output}")
endif()
file(REMOVE_RECURSE ${WORK_DIR})
