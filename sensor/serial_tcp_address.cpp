// SPDX-License-Identifier: MIT
#include <cstring>

#include "serial_tcp.h"

bool is_tcp_port_name(const char *name) {
  return name != nullptr && std::strncmp(name, tcp_scheme, sizeof tcp_scheme - 1) == 0;
}

namespace {

// A port number of 1 to 65535, digits only, no leading zero.
bool is_port_number(const char *text) {
  long value = 0;
  if (*text == '\0' || *text == '0') return false;
  for (; *text != '\0'; ++text) {
    if (*text < '0' || *text > '9') return false;
    value = value * 10 + (*text - '0');
    if (value > 65535) return false;
  }
  return true;
}

// Bytes a host name or address may hold: letters, digits, '-', '.', '_',
// and ':' and '%' for IPv6 (with a zone).
bool is_host_text(const char *text, std::size_t length, bool bracketed) {
  if (length == 0) return false;
  for (std::size_t k = 0; k < length; ++k) {
    const char c = text[k];
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '-' || c == '.' || c == '_';
    if (!plain && !(bracketed && (c == ':' || c == '%'))) return false;
  }
  return true;
}

}  // namespace

bool tcp_address_parse(const char *name, tcp_address *address) {
  if (!is_tcp_port_name(name)) return false;
  const char *host = name + sizeof tcp_scheme - 1;
  const bool bracketed = *host == '[';
  const char *host_end = bracketed ? std::strchr(host, ']') : std::strrchr(host, ':');
  if (host_end == nullptr) return false;
  const char *colon = bracketed ? host_end + 1 : host_end;
  if (*colon != ':') return false;
  if (bracketed) ++host;
  const std::size_t host_length = static_cast<std::size_t>(host_end - host);
  if (host_length >= sizeof address->host || !is_host_text(host, host_length, bracketed)) {
    return false;
  }
  if (!is_port_number(colon + 1)) return false;
  if (address != nullptr) {
    std::memcpy(address->host, host, host_length);
    address->host[host_length] = '\0';
    std::memcpy(address->port, colon + 1, std::strlen(colon + 1) + 1);
  }
  return true;
}
