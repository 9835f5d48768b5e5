// SPDX-License-Identifier: MIT
// A module on another machine: a TCP connection to a serial-to-network
// server (such as ser2net in raw mode, holding the port at 9600 8N1) as the
// byte stream of a port. The address is portable (serial_tcp_address.cpp);
// the connection is the platform's (serial_tcp_posix.cpp, serial_tcp_win32.cpp).
#pragma once

#include <cstddef>

#include "serial_transport.h"

constexpr char tcp_scheme[] = "tcp://";

struct tcp_address {
  char host[256];  // a name or an address, IPv6 without its brackets
  char port[8];    // 1 to 65535, as digits
};

// Whether a port name asks for a network port: it starts with tcp://.
bool is_tcp_port_name(const char *name);

// Reads "tcp://HOST:PORT" (HOST a name, an IPv4 address or an IPv6 address
// in brackets; PORT 1 to 65535) into *address (may be NULL to check only).
// False when name is no such address.
bool tcp_address_parse(const char *name, tcp_address *address);

// Connects to address within wait_ms. 0 with *transport the connection; -1
// when the server cannot be reached, refuses or does not answer in time,
// with the reason in why (why_size bytes, one line without a newline).
// The transport's read reports rs_gone once the server closes the
// connection, and so does its write; its waits, the connect's too, also
// watch the serial layer's wake source (rs_set_wake) and end with rs_woken.
int tcp_transport_open(const tcp_address &address, int wait_ms, serial_transport *transport,
                       char *why, std::size_t why_size);
