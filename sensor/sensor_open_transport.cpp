// SPDX-License-Identifier: MIT
// The link on a byte stream that is already open, in place of a COM port. In
// a file of its own: only programs that use a stream need the serial layer's
// rs_open_transport.
#include "rs232.h"
#include "sensor_link.h"
#include "sensor_link_start.h"

namespace {

// The number the stream stands under in the serial layer: above every COM
// number the directory hands out.
constexpr int16_t stream_port = 32767;

}  // namespace

int sensor_open_transport(serial_transport transport) {
  if (rs_open_transport(stream_port, transport) != 0) return 2;
  sensor_port = stream_port;
  return sensor_link_start(stream_port);
}
