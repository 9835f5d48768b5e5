/* SPDX-License-Identifier: MIT */
/* list_ports: prints the machine's serial ports as the port directory sees
 * them, one line each, optionally only those of one adapter type or those
 * that contain a text. Uses nothing but the public header. */
#include <stdio.h>
#include <string.h>

#include "port_device.h"

static const char usage[] =
    "Usage: list_ports [TYPE | PATTERN]\n"
    "Lists the serial ports of this machine, one line each: COM number,\n"
    "description, hardware ID and device node.\n"
    "\n"
    "  TYPE     one digit, an adapter type: 0 all ports, 1 on-board (ACPI),\n"
    "           2 FTDI, 3 CP210x, 4 Prolific, 5 Cypress, 6 ArkMicro\n"
    "  PATTERN  only the ports whose description, hardware ID or device node\n"
    "           contains PATTERN (case-sensitive); one port per COM number\n"
    "  --       ends the options, so that a PATTERN may begin with '-'\n"
    "  -h, --help  shows this help\n";

/* The picked ports' texts, read once. */
struct port_line {
  int number;
  char name[PORT_NAME_SIZE];
  char device_name[PORT_DEVICE_NAME_SIZE];
  char device_name2[PORT_DEVICE_NAME_SIZE];
};

static int max_int(int a, int b) { return a > b ? a : b; }

static int is_type_code(const char *selection) {
  return selection[0] >= '0' && selection[0] <= '6' && selection[1] == '\0';
}

/* Picks the ports that the argument asks for; NULL picks all. */
static int pick_ports(const char *selection) {
  if (selection == NULL) return port_device_pickup_all();
  if (is_type_code(selection)) return port_device_pickup_by_type(selection[0] - '0');
  port_device_pickup_by_type(-1); /* empties the pickup list */
  return port_device_pickup(selection);
}

static void print_ports(int count) {
  static struct port_line lines[100];
  int name_width = (int)strlen("Description");
  int id_width = (int)strlen("Hardware ID");
  char com[16];
  int n;
  if (count > 100) count = 100;
  for (n = 0; n < count; ++n) {
    struct port_line *line = &lines[n];
    line->number = get_port_number(n);
    if (get_port_name(n, line->name) != 0) line->name[0] = '\0';
    if (get_port_device_name(n, line->device_name) != 0) line->device_name[0] = '\0';
    if (get_port_device_name2(n, line->device_name2) != 0) line->device_name2[0] = '\0';
    name_width = max_int(name_width, (int)strlen(line->name));
    id_width = max_int(id_width, (int)strlen(line->device_name));
  }
  printf("%-6s  %-*s  %-*s  %s\n", "Port", name_width, "Description", id_width, "Hardware ID",
         "Device");
  for (n = 0; n < count; ++n) {
    const struct port_line *line = &lines[n];
    snprintf(com, sizeof com, "COM%d", line->number);
    printf("%-6s  %-*s  %-*s  %s\n", com, name_width, line->name, id_width, line->device_name,
           line->device_name2[0] != '\0' ? line->device_name2 : "-");
  }
}

int main(int argc, char **argv) {
  const char *selection = NULL;
  int arg;
  int options_done = 0;
  for (arg = 1; arg < argc; ++arg) {
    const char *text = argv[arg];
    if (!options_done && (strcmp(text, "-h") == 0 || strcmp(text, "--help") == 0)) {
      fputs(usage, stdout);
      return 0;
    }
    if (!options_done && strcmp(text, "--") == 0) {
      options_done = 1;
    } else if (!options_done && text[0] == '-' && text[1] != '\0') {
      fprintf(stderr, "list_ports: unknown option %s\n%s", text, usage);
      return 2;
    } else if (selection != NULL) {
      fprintf(stderr, "list_ports: one TYPE or PATTERN at most\n%s", usage);
      return 2;
    } else {
      selection = text;
    }
  }

  if (port_device_scan() == 0) {
    puts("No serial port found.");
    return 0;
  }
  const int count = pick_ports(selection);
  if (count == 0 && selection != NULL) {
    if (is_type_code(selection)) printf("No serial port of adapter type %s.\n", selection);
    else printf("No serial port contains \"%s\".\n", selection);
    return 0;
  }
  print_ports(count);
  return 0;
}
