/* SPDX-License-Identifier: MIT */
/* Serial port directory: lists the machine's serial ports, picks them by
 * adapter type or text pattern, and answers queries on the picked ports.
 *
 * Call port_device_scan() first, then one of the pickups, then the queries.
 * All state is process-wide and unguarded: call from one thread at a time.
 * Text is 8-bit, NUL-terminated, in the system's code page (UTF-8 on Linux). */
#ifndef PORT_DEVICE_H
#define PORT_DEVICE_H

#if defined(_WIN32) && !defined(_WIN64)
#define PORT_DEVICE_CALL __stdcall
#else
#define PORT_DEVICE_CALL
#endif

/* Exported from the shared library on Linux; on Windows the exe's .def file
 * names the exports, so the functions carry no attribute there. */
#if defined(__GNUC__) && !defined(_WIN32)
#define PORT_DEVICE_API __attribute__((visibility("default")))
#else
#define PORT_DEVICE_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Sizes of the destination buffers the name queries fill. */
#define PORT_NAME_SIZE 32
#define PORT_DEVICE_NAME_SIZE 256

/* Rebuilds the port table from the platform's serial ports and empties the
 * pickup list. Returns the number of ports in the table (0 to 100). With
 * more than 100 serial ports the table keeps the 100 of the lowest COM
 * numbers and leaves the others out. */
PORT_DEVICE_API int PORT_DEVICE_CALL port_device_scan(void);

/* Appends to the pickup list every port whose name, device name or device
 * name2 contains pattern and whose COM number the list does not hold yet.
 * Returns the new pickup count; a NULL pattern picks nothing. */
PORT_DEVICE_API int PORT_DEVICE_CALL port_device_pickup(const char *pattern);

/* Empties the pickup list and picks by adapter type: 0 all ports, 1 ACPI,
 * 2 FTDI bus, 3 CP210x, 4 Prolific, 5 Cypress, 6 ArkMicro; any other code
 * picks nothing. Returns the pickup count. */
PORT_DEVICE_API int PORT_DEVICE_CALL port_device_pickup_by_type(int type);

/* Same as port_device_pickup_by_type(0): every port, in table order. */
PORT_DEVICE_API int PORT_DEVICE_CALL port_device_pickup_all(void);

/* Returns the number of picked ports. */
PORT_DEVICE_API int PORT_DEVICE_CALL get_how_many_port_devices(void);

/* COM number of the n-th picked port (n from 0), or -1 when there is none. */
PORT_DEVICE_API int PORT_DEVICE_CALL get_port_number(int n);

/* Copies the n-th picked port's description into name (PORT_NAME_SIZE bytes).
 * Returns 0, or -1 (nothing written) for a bad position or a NULL buffer. */
PORT_DEVICE_API int PORT_DEVICE_CALL get_port_name(int n, char *name);

/* Copies the n-th picked port's hardware ID (PORT_DEVICE_NAME_SIZE bytes).
 * Returns 0, or -1 (nothing written) for a bad position or a NULL buffer. */
PORT_DEVICE_API int PORT_DEVICE_CALL get_port_device_name(int n, char *name);

/* Copies the n-th picked port's kernel device name (PORT_DEVICE_NAME_SIZE
 * bytes; the device node on Linux). Returns 0, or -1 as above. */
PORT_DEVICE_API int PORT_DEVICE_CALL get_port_device_name2(int n, char *name);

#ifdef __cplusplus
}
#endif

#endif /* PORT_DEVICE_H */
