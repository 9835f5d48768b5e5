/* SPDX-License-Identifier: MIT */
/* A program that knows only port_device.h and the installed library. Run
 * over the standard fake serial hardware, it checks the rows, numbers,
 * names and pickups that the directory gives; exits 1 on any mismatch. */
#include <stdio.h>
#include <string.h>

#include <port_device.h>

struct expected_row {
  int number;
  const char *name;
  const char *device_name;
  const char *device_name2;
};

static const struct expected_row rows[] = {
    {1, "Communications Port", "ACPI\\PNP0501", "/dev/ttyS0"},
    {3, "FT232R USB UART", "FTDIBUS\\COMPORT&VID_0403&PID_6001", "/dev/ttyUSB0"},
    {4, "USB Serial Port", "FTDIBUS\\COMPORT&VID_0403&PID_6015", "/dev/ttyUSB1"},
    {5, "CP210x USB to UART Bridge", "USB\\VID_10C4&PID_EA60", "/dev/ttyUSB2"},
    {6, "Prolific USB-to-Serial Port", "USB\\VID_067B&PID_2303", "/dev/ttyUSB10"},
};
#define ROW_COUNT ((int)(sizeof rows / sizeof rows[0]))

/* Adapter type, how many ports it picks, and the COM number of the first. */
static const int type_picks[][3] = {{0, 5, 1}, {1, 1, 1},  {2, 2, 3}, {3, 1, 5},
                                    {4, 1, 6}, {5, 0, -1}, {6, 0, -1}};

static int failures = 0;

static void expect_int(const char *what, int n, int got, int expected) {
  if (got == expected) return;
  fprintf(stderr, "%s(%d): got %d, expected %d\n", what, n, got, expected);
  ++failures;
}

static void expect_text(const char *what, int n, const char *got, const char *expected) {
  if (strcmp(got, expected) == 0) return;
  fprintf(stderr, "%s(%d): got \"%s\", expected \"%s\"\n", what, n, got, expected);
  ++failures;
}

int main(void) {
  char name[PORT_NAME_SIZE];
  char device_name[PORT_DEVICE_NAME_SIZE];
  char device_name2[PORT_DEVICE_NAME_SIZE];
  int n;
  expect_int("port_device_scan", 0, port_device_scan(), ROW_COUNT);
  expect_int("port_device_pickup_all", 0, port_device_pickup_all(), ROW_COUNT);
  for (n = 0; n < ROW_COUNT && n < get_how_many_port_devices(); ++n) {
    expect_int("get_port_number", n, get_port_number(n), rows[n].number);
    expect_int("get_port_name", n, get_port_name(n, name), 0);
    expect_text("get_port_name", n, name, rows[n].name);
    expect_int("get_port_device_name", n, get_port_device_name(n, device_name), 0);
    expect_text("get_port_device_name", n, device_name, rows[n].device_name);
    expect_int("get_port_device_name2", n, get_port_device_name2(n, device_name2), 0);
    expect_text("get_port_device_name2", n, device_name2, rows[n].device_name2);
  }
  expect_int("get_port_number", ROW_COUNT, get_port_number(ROW_COUNT), -1);
  for (n = 0; n < (int)(sizeof type_picks / sizeof type_picks[0]); ++n) {
    expect_int("port_device_pickup_by_type", type_picks[n][0],
               port_device_pickup_by_type(type_picks[n][0]), type_picks[n][1]);
    expect_int("get_port_number after type", type_picks[n][0], get_port_number(0),
               type_picks[n][2]);
  }
  port_device_pickup_by_type(-1);
  expect_int("port_device_pickup ttyUSB1", 0, port_device_pickup("ttyUSB1"), 2);
  expect_int("port_device_pickup UART", 0, port_device_pickup("UART"), 4);
  if (failures == 0) puts("check_directory: every check holds");
  return failures == 0 ? 0 : 1;
}
