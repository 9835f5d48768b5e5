# SPDX-License-Identifier: MIT
# cmake -DRUNNER=... -DLIST_PORTS=... -DEXPECTED_DIR=... -P list_ports_test.cmake
# list_ports over the standard fake serial hardware: each case gives its
# arguments, its exit status, and what stdout must be: "file:NAME" equal to
# a file of EXPECTED_DIR, "text:..." equal to the text, "starts:..."
# beginning with it.
function(check_case name status expected_out)
  execute_process(COMMAND ${RUNNER} ${LIST_PORTS} ${ARGN}
                  RESULT_VARIABLE got_status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  string(REGEX REPLACE "^([a-z]+):.*" "\\1" kind "${expected_out}")
  string(REGEX REPLACE "^[a-z]+:" "" expected "${expected_out}")
  if(kind STREQUAL "file")
    file(READ ${EXPECTED_DIR}/${expected} expected)
  endif()
  set(out_ok FALSE)
  string(FIND "${out}" "${expected}" at)
  if(out STREQUAL expected OR (kind STREQUAL "starts" AND at EQUAL 0))
    set(out_ok TRUE)
  endif()
  # Errors go to stderr with the usage; normal runs write nothing there.
  set(err_ok TRUE)
  if(status EQUAL 2 AND NOT err MATCHES "^list_ports: .*Usage: list_ports")
    set(err_ok FALSE)
  elseif(NOT status EQUAL 2 AND NOT err STREQUAL "")
    set(err_ok FALSE)
  endif()
  if(NOT got_status STREQUAL status OR NOT out_ok OR NOT err_ok)
    message(SEND_ERROR "case ${name} (${ARGN}): status ${got_status}, expected ${status}\n"
                       "stdout:\n${out}\nstderr:\n${err}")
  endif()
endfunction()

check_case(all 0 file:all.txt)
check_case(type_ftdi 0 file:type_ftdi.txt 2)
check_case(type_acpi 0 file:type_acpi.txt 1)
check_case(type_without_ports 0 "text:No serial port of adapter type 5.\n" 5)
check_case(pattern 0 file:pattern_ttyusb1.txt ttyUSB1)
check_case(number_pattern 0 file:pattern_6015.txt 6015)
check_case(pattern_without_ports 0 "text:No serial port contains \"Cypress\".\n" Cypress)
check_case(dash_pattern 0 "text:No serial port contains \"-x\".\n" -- -x)
# A COM name and a device node name one port exactly; -i folds case.
check_case(com_name 0 file:com3.txt COM3)
check_case(device_node 0 file:pattern_6015.txt /dev/ttyUSB1)
check_case(com_name_without_port 0 "text:No serial port is COM7.\n" COM7)
check_case(device_node_prefix 0 "text:No serial port is /dev/ttyUSB.\n" /dev/ttyUSB)
check_case(lower_case_com_is_a_pattern 0 "text:No serial port contains \"com3\".\n" com3)
check_case(folded_com_name 0 file:com3.txt -i com3)
check_case(folded_device_node 0 file:pattern_6015.txt -i /DEV/TTYUSB1)
check_case(folded_pattern 0 file:type_ftdi.txt -i ftdibus)
check_case(folded_pattern_after_dashes 0 file:prolific.txt -i -- prolific)
check_case(folded_pattern_without_ports 0 "text:No serial port contains \"cypress\".\n" -i cypress)
# Any number of digits after COM make a COM number, however large.
check_case(huge_com_name 0 "text:No serial port is COM99999999999.\n" COM99999999999)
# JSON: the whole list, combined with a selection, and an empty array.
check_case(json_all 0 file:json_all.json --json)
check_case(json_com_name 0 file:json_com3.json --json COM3)
check_case(json_type_and_case 0 file:json_com3.json -i --json /DEV/TTYUSB0)
check_case(json_nothing_found 0 "text:[]\n" --json Cypress)
check_case(help 0 "starts:Usage: list_ports [-i] [--json] [TYPE | COMn | /dev/NODE | PATTERN]\n" --help)
check_case(unknown_option 2 text: --bogus)
check_case(two_selections 2 text: 2 3)

# Output that cannot be written: status 3 and exactly one line on stderr.
foreach(args "" "--json" "--help")
  execute_process(COMMAND ${RUNNER} ${LIST_PORTS} ${args} RESULT_VARIABLE got_status
                  OUTPUT_FILE /dev/full ERROR_VARIABLE err)
  if(NOT got_status EQUAL 3 OR NOT err MATCHES "^list_ports: cannot write to stdout: [^\n]+\n$")
    message(SEND_ERROR "list_ports ${args} > /dev/full: status ${got_status}, stderr:\n${err}")
  endif()
endforeach()
