// SPDX-License-Identifier: MIT
// The CSV record and the live view over the real sensor link and console,
// for main: each samples from an open sensor until it ends and returns the
// exit status. Neither prints the banner, closes the port or closes the
// console; main does those as on the plain run.
#pragma once

// Returned when the sensor's port went away during sampling: the caller
// ends as on its not-found path (stderr line, not-found text, key, 1). The
// live view has left the full screen by then.
constexpr int view_status_port_gone = -1;
// Standard output could not be written; the session has said so on stderr.
constexpr int view_status_output_failed = 3;
// The live view was asked for with no terminal on standard output.
constexpr int view_status_no_terminal = 2;

// When a key ended the run while stdout took no output: says so on stderr
// with the count of bytes not written; nothing otherwise.
void view_report_unwritten(void);

// Says on stderr why stdout took no more and returns the status it gives:
// a key that cut the output short ends the run as a key does (0, with the
// count of bytes not written), a failure gives view_status_output_failed.
int view_report_output_end(void);

// Reads the calibration file named by --calibration (NULL: none) and keeps
// the name given by --calibration-out (NULL: a new file in the current
// directory, named when it is written). 0; or view_status_bad_calibration
// with a stderr line naming the file and what is wrong with it.
constexpr int view_status_bad_calibration = 2;
int view_calibration_setup(const char *load_path, const char *out_path);

// CSV on stdout: the header line, then one row per sample, flushed per row,
// until a key is waiting (left unread, as on the plain run), with the
// calibrated columns when a calibration was loaded. 0 then.
int run_csv_session(void);

// The full-screen view on the terminal behind stdout, until a key other
// than c or a (consumed). The port's texts (NULL or empty: not shown) are shown
// in the title. ASCII only when force_ascii or when the terminal cannot show
// UTF-8 block characters. 0 after the key; view_status_no_terminal (with a
// stderr line) when stdout is no terminal.
int run_view_session(const char *com_name, const char *device_node, const char *description,
                     bool force_ascii);
