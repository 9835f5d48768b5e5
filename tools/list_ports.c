/* SPDX-License-Identifier: MIT */
/* list_ports: prints the machine's serial ports as the port directory sees
 * them, one line each, optionally only those of one adapter type, the one
 * port a COM name or device node names, or those that contain a text. Uses
 * the public header, and the census of ports to say what the 100-row table
 * left out. */
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>

#include "port_census.h"
#include "port_device.h"

#define MAX_PORTS 100

static const char usage[] =
    "Usage: list_ports [-i] [TYPE | COMn | /dev/NODE | PATTERN]\n"
    "Lists the serial ports of this machine, one line each: COM number,\n"
    "description, hardware ID and device node.\n"
    "\n"
    "  TYPE       one digit, an adapter type: 0 all ports, 1 on-board (ACPI),\n"
    "             2 FTDI, 3 CP210x, 4 Prolific, 5 Cypress, 6 ArkMicro\n"
    "  COMn       only the port with that COM number\n"
    "  /dev/NODE  only the port with that device node (a link to it is followed)\n"
    "  PATTERN    only the ports whose description, hardware ID or device node\n"
    "             contains PATTERN; one port per COM number\n"
    "  -i         compares COMn, /dev/NODE and PATTERN without regard to case\n"
    "  --         ends the options, so that a PATTERN may begin with '-'\n"
    "  -h, --help  shows this help\n"
    "At most 100 ports are listed, those of the lowest COM numbers.\n";

/* The picked ports' texts, read once. */
struct port_line {
  int number;
  char name[PORT_NAME_SIZE];
  char device_name[PORT_DEVICE_NAME_SIZE];
  char device_name2[PORT_DEVICE_NAME_SIZE];
};

static struct port_line lines[MAX_PORTS];

static int max_int(int a, int b) { return a > b ? a : b; }

static int is_type_code(const char *selection) {
  return selection[0] >= '0' && selection[0] <= '6' && selection[1] == '\0';
}

static int starts_with(const char *text, const char *prefix, int fold_case) {
  const size_t length = strlen(prefix);
  return fold_case ? strncasecmp(text, prefix, length) == 0 : strncmp(text, prefix, length) == 0;
}

/* COMn with n a number: the port's own name. */
static int com_number_of(const char *selection, int fold_case) {
  const char *digit = selection + 3;
  int number = 0;
  if (!starts_with(selection, "COM", fold_case) || *digit == '\0') return -1;
  for (; *digit != '\0'; ++digit) {
    if (*digit < '0' || *digit > '9' || number > 99999999) return -1;
    number = number * 10 + (*digit - '0');
  }
  return number;
}

static int is_device_node(const char *selection) { return selection[0] == '/'; }

/* Case-insensitive substring test (ASCII letters only fold). */
static int contains_folded(const char *text, const char *pattern) {
  const size_t length = strlen(pattern);
  for (; *text != '\0'; ++text) {
    if (strncasecmp(text, pattern, length) == 0) return 1;
  }
  return length == 0;
}

/* Byte length of the valid UTF-8 character at c, or 1 for any other byte. */
static int utf8_length(const unsigned char *c) {
  int length = 1;
  int k;
  if (c[0] >= 0xC2 && c[0] <= 0xDF) length = 2;
  else if (c[0] >= 0xE0 && c[0] <= 0xEF) length = 3;
  else if (c[0] >= 0xF0 && c[0] <= 0xF4) length = 4;
  for (k = 1; k < length; ++k) {
    if ((c[k] & 0xC0) != 0x80) return 1;
  }
  return length;
}

/* Shows each control character as one '?': C0 and DEL, C1 as U+0080 to
 * U+009F, and bytes 0x80 to 0x9F that begin no valid UTF-8 character. The
 * table's texts on Linux already are so; this keeps the terminal safe
 * whatever a library hands over. */
static void show_controls(char *text) {
  const unsigned char *in = (const unsigned char *)text;
  char *out = text;
  while (*in != '\0') {
    const int length = utf8_length(in);
    const int c1 = length == 2 && in[0] == 0xC2 && in[1] <= 0x9F;
    const int control = length == 1 && (*in < 0x20 || *in == 0x7F || (*in >= 0x80 && *in <= 0x9F));
    if (c1 || control) {
      *out++ = '?';
    } else {
      memmove(out, in, (size_t)length);
      out += length;
    }
    in += length;
  }
  *out = '\0';
}

static void read_line(int n, struct port_line *line) {
  line->number = get_port_number(n);
  if (get_port_name(n, line->name) != 0) line->name[0] = '\0';
  if (get_port_device_name(n, line->device_name) != 0) line->device_name[0] = '\0';
  if (get_port_device_name2(n, line->device_name2) != 0) line->device_name2[0] = '\0';
  show_controls(line->name);
  show_controls(line->device_name);
  show_controls(line->device_name2);
}

static int same_node(const char *node, const char *wanted, int fold_case) {
  return fold_case ? strcasecmp(node, wanted) == 0 : strcmp(node, wanted) == 0;
}

/* The node that a link such as /dev/serial/by-id/... points at, or NULL
 * for a path that is no link. */
static const char *link_target(const char *path, char *resolved) {
  struct stat status;
  if (lstat(path, &status) != 0 || !S_ISLNK(status.st_mode)) return NULL;
  return realpath(path, resolved);
}

/* Whether the picked line is the one the selection asks for. */
static int line_matches(const struct port_line *line, const char *selection, int fold_case,
                        const char *resolved_node) {
  const int com = com_number_of(selection, fold_case);
  if (com >= 0) return line->number == com;
  if (is_device_node(selection)) {
    return same_node(line->device_name2, selection, fold_case) ||
           (resolved_node != NULL && strcmp(line->device_name2, resolved_node) == 0);
  }
  return contains_folded(line->name, selection) || contains_folded(line->device_name, selection) ||
         contains_folded(line->device_name2, selection);
}

static int number_listed(int count, int number) {
  int n;
  for (n = 0; n < count; ++n) {
    if (lines[n].number == number) return 1;
  }
  return 0;
}

/* Reads the first count picked ports into lines; returns how many. */
static int read_picked(int count) {
  int n;
  for (n = 0; n < count && n < MAX_PORTS; ++n) read_line(n, &lines[n]);
  return n;
}

/* A COM name, a device node and a case-insensitive pattern are matched
 * here against every port; returns how many went into lines. */
static int read_matching_ports(const char *selection, int fold_case) {
  static char resolved_buffer[PATH_MAX];
  const char *resolved = is_device_node(selection) ? link_target(selection, resolved_buffer) : NULL;
  const int picked = port_device_pickup_all();
  int count = 0;
  int n;
  for (n = 0; n < picked && n < MAX_PORTS; ++n) {
    struct port_line line;
    read_line(n, &line);
    if (!line_matches(&line, selection, fold_case, resolved)) continue;
    /* As the pattern pickup: one port per COM number. */
    if (com_number_of(selection, fold_case) < 0 && number_listed(count, line.number)) continue;
    lines[count++] = line;
  }
  return count;
}

/* Reads the ports that the selection asks for into lines; returns how
 * many. Types and plain patterns are the directory's own pickups. */
static int read_ports(const char *selection, int fold_case) {
  if (selection == NULL) return read_picked(port_device_pickup_all());
  if (is_type_code(selection)) return read_picked(port_device_pickup_by_type(selection[0] - '0'));
  if (!fold_case && com_number_of(selection, 0) < 0 && !is_device_node(selection)) {
    port_device_pickup_by_type(-1); /* empties the pickup list */
    return read_picked(port_device_pickup(selection));
  }
  return read_matching_ports(selection, fold_case);
}

static void print_ports(int count) {
  int name_width = (int)strlen("Description");
  int id_width = (int)strlen("Hardware ID");
  char com[16];
  int n;
  for (n = 0; n < count; ++n) {
    name_width = max_int(name_width, (int)strlen(lines[n].name));
    id_width = max_int(id_width, (int)strlen(lines[n].device_name));
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

static void print_nothing_found(const char *selection, int fold_case) {
  if (is_type_code(selection)) {
    printf("No serial port of adapter type %s.\n", selection);
  } else if (com_number_of(selection, fold_case) >= 0 || is_device_node(selection)) {
    printf("No serial port is %s.\n", selection);
  } else {
    printf("No serial port contains \"%s\".\n", selection);
  }
}

/* The table holds the 100 ports of the lowest COM numbers; say how many
 * more the machine has. */
static void report_left_out(int table_rows) {
  const int present = count_serial_ports();
  if (table_rows < MAX_PORTS || present <= table_rows) return;
  fprintf(stderr,
          "list_ports: %d more serial port%s not listed: the directory keeps the %d of the "
          "lowest COM numbers\n",
          present - table_rows, present - table_rows == 1 ? " is" : "s are", MAX_PORTS);
}

int main(int argc, char **argv) {
  const char *selection = NULL;
  int arg;
  int options_done = 0;
  int fold_case = 0;
  int rows;
  int count;
  for (arg = 1; arg < argc; ++arg) {
    const char *text = argv[arg];
    if (!options_done && (strcmp(text, "-h") == 0 || strcmp(text, "--help") == 0)) {
      fputs(usage, stdout);
      return 0;
    }
    if (!options_done && strcmp(text, "--") == 0) {
      options_done = 1;
    } else if (!options_done && strcmp(text, "-i") == 0) {
      fold_case = 1;
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

  rows = port_device_scan();
  if (rows == 0) {
    puts("No serial port found.");
    return 0;
  }
  report_left_out(rows);
  count = read_ports(selection, fold_case);
  if (count == 0 && selection != NULL) {
    print_nothing_found(selection, fold_case);
    return 0;
  }
  print_ports(count);
  return 0;
}
