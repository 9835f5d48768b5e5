// SPDX-License-Identifier: MIT
#include "serial_recording.h"

#include <cerrno>
#include <cstring>

#include "new_file.h"

namespace {

const char hex_digits[] = "0123456789ABCDEF";

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The escaped form of one byte into out (room for 4); its length.
int escape_byte(unsigned char byte, char *out) {
  if (byte == '\r' || byte == '\n' || byte == '\\') {
    out[0] = '\\';
    out[1] = byte == '\r' ? 'r' : byte == '\n' ? 'n' : '\\';
    return 2;
  }
  if (byte > ' ' && byte < 0x7F) {
    out[0] = static_cast<char>(byte);
    return 1;
  }
  out[0] = '\\';
  out[1] = 'x';
  out[2] = hex_digits[byte >> 4];
  out[3] = hex_digits[byte & 0x0F];
  return 4;
}

// The bytes of an escaped text; false for a malformed escape, a byte that
// must be escaped, or no byte at all.
bool unescape(const char *text, std::size_t length, recording_event *event) {
  int size = 0;
  for (std::size_t k = 0; k < length; ++k) {
    const unsigned char c = static_cast<unsigned char>(text[k]);
    if (c != '\\') {
      if (c <= ' ' || c >= 0x7F) return false;
      event->bytes[size++] = c;
      continue;
    }
    if (k + 1 >= length) return false;
    const char kind = text[++k];
    if (kind == 'r' || kind == 'n' || kind == '\\') {
      event->bytes[size++] = kind == 'r' ? '\r' : kind == 'n' ? '\n' : '\\';
    } else if (kind == 'x' && k + 2 < length && hex_value(text[k + 1]) >= 0 &&
               hex_value(text[k + 2]) >= 0) {
      event->bytes[size++] =
          static_cast<unsigned char>(hex_value(text[k + 1]) * 16 + hex_value(text[k + 2]));
      k += 2;
    } else {
      return false;
    }
  }
  event->size = size;
  return size > 0;
}

bool same_text(const char *text, std::size_t length, const char *wanted) {
  return length == std::strlen(wanted) && std::memcmp(text, wanted, length) == 0;
}

}  // namespace

int recording_format_line(long long ms, char direction, const unsigned char *bytes, int size,
                          char *out, std::size_t out_size) {
  if (ms < 0 || ms > recording_max_ms || (direction != 'r' && direction != 'w') ||
      bytes == nullptr || size < 1 || size > recording_chunk_bytes) {
    return -1;
  }
  char line[recording_max_line];
  int length = std::snprintf(line, sizeof line, "%lld %c ", ms, direction);
  for (int k = 0; k < size; ++k) length += escape_byte(bytes[k], line + length);
  if (static_cast<std::size_t>(length) >= out_size) return -1;
  std::memcpy(out, line, static_cast<std::size_t>(length));
  out[length] = '\0';
  return length;
}

recording_line_kind recording_parse_line(const char *text, std::size_t length,
                                         recording_event *event) {
  if (length > 0 && text[length - 1] == '\r') --length;
  if (length == 0 || text[0] == '#') return recording_line_kind::skip;
  if (length > static_cast<std::size_t>(recording_max_line)) return recording_line_kind::bad;
  std::size_t k = 0;
  long long ms = 0;
  for (; k < length && text[k] >= '0' && text[k] <= '9'; ++k) {
    ms = ms * 10 + (text[k] - '0');
    if (ms > recording_max_ms) return recording_line_kind::bad;
  }
  if (k == 0 || k + 3 > length || text[k] != ' ' || (text[k + 1] != 'r' && text[k + 1] != 'w') ||
      text[k + 2] != ' ') {
    return recording_line_kind::bad;
  }
  event->ms = ms;
  event->direction = text[k + 1];
  return unescape(text + k + 3, length - k - 3, event) ? recording_line_kind::event
                                                       : recording_line_kind::bad;
}

bool recording_parse(const char *text, std::size_t size,
                     void (*on_event)(void *context, const recording_event &event), void *context,
                     long *bad_line) {
  static recording_event event;  // large: static storage
  long line_number = 0;
  long long last_ms = 0;
  std::size_t at = 0;
  while (at < size) {
    const char *end = static_cast<const char *>(std::memchr(text + at, '\n', size - at));
    const std::size_t length =
        end != nullptr ? static_cast<std::size_t>(end - (text + at)) : size - at;
    ++line_number;
    const char *line = text + at;
    at += length + 1;
    if (line_number == 1) {
      const std::size_t header_length =
          length > 0 && line[length - 1] == '\r' ? length - 1 : length;
      if (same_text(line, header_length, recording_header)) continue;
      *bad_line = 1;
      return false;
    }
    const recording_line_kind kind = recording_parse_line(line, length, &event);
    if (kind == recording_line_kind::skip) continue;
    if (kind == recording_line_kind::bad || event.ms < last_ms) {
      *bad_line = line_number;
      return false;
    }
    last_ms = event.ms;
    on_event(context, event);
  }
  if (line_number == 0) *bad_line = 1;  // an empty file has no header
  return line_number > 0;
}

int recording_create(recording_writer *writer, const char *path, char *why, std::size_t why_size) {
  *writer = recording_writer{nullptr, path, false, false};
  // Created here or not at all: an existing file is never replaced.
  std::FILE *file = create_new_file(path);
  if (file == nullptr) {
    const int error = errno;
    if (error == EEXIST) {
      std::snprintf(why, why_size, "%s exists already; a recording never replaces a file", path);
    } else {
      std::snprintf(why, why_size, "cannot create the recording %s: %s", path,
                    std::strerror(error));
    }
    return -1;
  }
  writer->file = file;
  if (std::fprintf(file,
                   "%s\n# ms since the port was opened, w to the module or r from it, "
                   "the bytes (\\r \\n \\\\ \\xHH escaped)\n",
                   recording_header) < 0 ||
      std::fflush(file) != 0) {
    std::snprintf(why, why_size, "cannot write the recording %s: %s", path, std::strerror(errno));
    static_cast<void>(std::fclose(file));
    static_cast<void>(std::remove(path));
    writer->file = nullptr;
    return -1;
  }
  return 0;
}

bool recording_write(recording_writer *writer, long long ms, char direction,
                     const unsigned char *bytes, int size) {
  if (writer->file == nullptr || writer->failed) return false;
  if (ms < 0) ms = 0;
  for (int at = 0; at < size; at += recording_chunk_bytes) {
    const int chunk = size - at < recording_chunk_bytes ? size - at : recording_chunk_bytes;
    char line[recording_max_line];
    const int length = recording_format_line(ms, direction, bytes + at, chunk, line, sizeof line);
    if (length < 0 || std::fprintf(writer->file, "%s\n", line) < 0) {
      writer->failed = true;
      return false;
    }
    writer->wrote = true;
  }
  if (std::fflush(writer->file) != 0) writer->failed = true;
  return !writer->failed;
}

void recording_close(recording_writer *writer, bool remove_if_empty) {
  if (writer->file == nullptr) return;
  // Each chunk was flushed as written: closing has nothing left to fail on.
  static_cast<void>(std::fclose(writer->file));
  writer->file = nullptr;
  if (remove_if_empty && !writer->wrote) static_cast<void>(std::remove(writer->path));
}
