/* SPDX-License-Identifier: MIT */
/* How many serial ports the machine has, counted as the directory counts
 * them, for programs that need to know what the 100-row table left out. */
#ifndef PORT_CENSUS_H
#define PORT_CENSUS_H

#ifdef __cplusplus
extern "C" {
#endif

/* Number of present serial ports (placeholders not counted), or -1 when
 * the ports cannot be listed. */
int count_serial_ports(void);

#ifdef __cplusplus
}
#endif

#endif /* PORT_CENSUS_H */
