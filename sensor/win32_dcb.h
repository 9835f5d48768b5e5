// SPDX-License-Identifier: MIT
// The line settings of the serial layer on Windows, as a pure function of the
// port's DCB, so that every field a driver may refuse or misuse is set and
// tested here rather than left as the driver reported it.
#pragma once

#include <windows.h>

// The byte that ends each of the module's reply lines. As the DCB's event
// character it makes an FTDI chip send a finished line over USB at once
// instead of holding it until its latency timer runs out.
constexpr char win32_event_char = '\n';

// The driver's input queue the open asks for (SetupComm); the flow-control
// limits are a quarter of it, so they always fit the queue.
constexpr DWORD win32_input_queue_bytes = 4096;
constexpr DWORD win32_output_queue_bytes = 4096;

// Sets dcb to raw 8N1 at baud with every kind of flow control off, DTR and
// RTS on, the XON/XOFF characters 0x11/0x13 (drivers refuse equal ones), no
// end-of-file or error character, and the event character. DCBlength and the
// fields no setting concerns keep what the driver reported.
void win32_line_settings(DCB &dcb, DWORD baud);
