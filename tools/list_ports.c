/* SPDX-License-Identifier: MIT */
/* list_ports: prints the machine's serial ports as the port directory sees
 * them, one line each or as one JSON array, optionally only those of one
 * adapter type, the one port a COM name or device node names, or those that
 * contain a text. Uses the public header, and the census of ports to say what
 * the 100-row table left out. */
#include <errno.h>
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
    "Usage: list_ports [-i] [--json] [TYPE | COMn | /dev/NODE | PATTERN]\n"
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
    "  --json     prints one JSON array instead, an object per port: com,\n"
    "             description, hardware_id, device (null for none) and types\n"
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

/* COM followed by one or more digits, however many: a COM name. */
static int is_com_name(const char *selection, int fold_case) {
  const char *digit = selection + 3;
  if (!starts_with(selection, "COM", fold_case) || *digit == '\0') return 0;
  for (; *digit != '\0'; ++digit) {
    if (*digit < '0' || *digit > '9') return 0;
  }
  return 1;
}

/* The number of a COM name; INT_MAX, which no port has, for one too large
 * to hold. -1 when selection is no COM name. */
static int com_number_of(const char *selection, int fold_case) {
  const char *digit = selection + 3;
  int number = 0;
  if (!is_com_name(selection, fold_case)) return -1;
  for (; *digit != '\0'; ++digit) {
    if (number > (INT_MAX - 9) / 10) return INT_MAX;
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

/* The texts as the directory holds them; the table shows their controls as
 * '?' when it prints them, the JSON escapes them. */
static void read_line(int n, struct port_line *line) {
  line->number = get_port_number(n);
  if (get_port_name(n, line->name) != 0) line->name[0] = '\0';
  if (get_port_device_name(n, line->device_name) != 0) line->device_name[0] = '\0';
  if (get_port_device_name2(n, line->device_name2) != 0) line->device_name2[0] = '\0';
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
    show_controls(lines[n].name);
    show_controls(lines[n].device_name);
    show_controls(lines[n].device_name2);
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

/* Length of the UTF-8 character at c as JSON may carry it: a well-formed
 * sequence (no overlong form, no surrogate, nothing above U+10FFFF) of a
 * character that is no control; 0 for anything else. */
static int json_utf8_length(const unsigned char *c) {
  const int length = utf8_length(c);
  if (length == 1) return c[0] >= 0x20 && c[0] < 0x7F;
  if ((c[0] == 0xC2 && c[1] <= 0x9F) || (c[0] == 0xE0 && c[1] < 0xA0) ||
      (c[0] == 0xED && c[1] >= 0xA0) || (c[0] == 0xF0 && c[1] < 0x90) ||
      (c[0] == 0xF4 && c[1] >= 0x90)) {
    return 0;
  }
  return length;
}

/* A JSON string of text. Quote and backslash are escaped; so is every
 * control character (C0, DEL, C1); a byte that begins no well-formed UTF-8
 * character becomes the character of its value (\u00XX), so that any bytes
 * give valid JSON and nothing is lost. */
static void print_json_string(const char *text) {
  const unsigned char *c = (const unsigned char *)text;
  putchar('"');
  while (*c != '\0') {
    int length = json_utf8_length(c);
    if (*c == '"' || *c == '\\') {
      printf("\\%c", *c);
    } else if (length > 0) {
      fwrite(c, 1, (size_t)length, stdout);
    } else if (c[0] == 0xC2 && c[1] >= 0x80 && c[1] <= 0x9F) {
      printf("\\u%04x", c[1]); /* a C1 control written as a character */
      length = 2;
    } else {
      printf("\\u%04x", *c);
    }
    c += length > 0 ? length : 1;
  }
  putchar('"');
}

/* Whether the port with COM number belongs to adapter type (1 to 6), as the
 * directory's pickup of that type says. */
static int has_type(int number, int type) {
  const int count = port_device_pickup_by_type(type);
  int n;
  for (n = 0; n < count; ++n) {
    if (get_port_number(n) == number) return 1;
  }
  return 0;
}

static void print_json(int count) {
  int n;
  int type;
  putchar('[');
  for (n = 0; n < count; ++n) {
    const struct port_line *line = &lines[n];
    int types = 0;
    printf("%s\n  {\"com\": %d, \"description\": ", n == 0 ? "" : ",", line->number);
    print_json_string(line->name);
    fputs(", \"hardware_id\": ", stdout);
    print_json_string(line->device_name);
    fputs(", \"device\": ", stdout);
    if (line->device_name2[0] != '\0') {
      print_json_string(line->device_name2);
    } else {
      fputs("null", stdout);
    }
    fputs(", \"types\": [", stdout);
    for (type = 1; type <= 6; ++type) {
      if (!has_type(line->number, type)) continue;
      printf("%s%d", types++ == 0 ? "" : ", ", type);
    }
    fputs("]}", stdout);
  }
  fputs(count > 0 ? "\n]\n" : "]\n", stdout);
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

/* Everything printed must have reached stdout: a full disk or a closed
 * pipe is one line on stderr and status 3. */
static int end_output(int status) {
  if (fflush(stdout) == 0 && !ferror(stdout)) return status;
  fprintf(stderr, "list_ports: cannot write to stdout: %s\n",
          errno != 0 ? strerror(errno) : "write error");
  return 3;
}

int main(int argc, char **argv) {
  const char *selection = NULL;
  int arg;
  int options_done = 0;
  int fold_case = 0;
  int json = 0;
  int rows;
  int count;
  for (arg = 1; arg < argc; ++arg) {
    const char *text = argv[arg];
    if (!options_done && (strcmp(text, "-h") == 0 || strcmp(text, "--help") == 0)) {
      fputs(usage, stdout);
      return end_output(0);
    }
    if (!options_done && strcmp(text, "--") == 0) {
      options_done = 1;
    } else if (!options_done && strcmp(text, "-i") == 0) {
      fold_case = 1;
    } else if (!options_done && strcmp(text, "--json") == 0) {
      json = 1;
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
    fputs(json ? "[]\n" : "No serial port found.\n", stdout);
    return end_output(0);
  }
  report_left_out(rows);
  count = read_ports(selection, fold_case);
  if (json) {
    print_json(count);
  } else if (count == 0 && selection != NULL) {
    print_nothing_found(selection, fold_case);
  } else {
    print_ports(count);
  }
  return end_output(0);
}
