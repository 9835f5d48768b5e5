// SPDX-License-Identifier: MIT
// Fuzz target: both scan passes over platform sources that the input
// scripts (any texts, with or without their NUL, longer than every buffer,
// any number of devices and values, refused lists), then the pickups, the
// queries and find_pattern on what the scans left. After every step the port
// table is compared with a plain model of the passes.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "port_scan.h"
#include "port_table.h"

namespace {

// Buffer capacities the passes hand the platform.
constexpr std::size_t class_capacity = 1023;
constexpr std::size_t map_capacity = 255;
constexpr int max_operations = 64;

// How a source hands over one text.
enum class delivery { with_nul, without_nul, refused };

delivery delivery_of(int bits) {
  switch (bits & 3) {
    case 1: return delivery::without_nul;
    case 2: return delivery::refused;
    default: return delivery::with_nul;
  }
}

// The text up to its first NUL: what a C string read of it sees.
std::string c_text(const std::string &text) { return std::string(text.c_str()); }

// ---- scripted sources -------------------------------------------------------

struct fuzz_device {
  std::string texts[3];  // description, friendly name, hardware ID
  delivery how[3];
};

class fuzz_class_source final : public port_class_source {
public:
  std::vector<fuzz_device> devices;
  bool grant = true;
  int selects = 0;
  int closes = 0;

  bool open_list() override { return grant; }
  bool select_device(int index) override {
    ++selects;
    selected_ = index;
    return index >= 0 && index < static_cast<int>(devices.size());
  }
  bool read_property(property which, char *buffer, int capacity) override {
    FUZZ_CHECK(selected_ >= 0 && selected_ < static_cast<int>(devices.size()));
    FUZZ_CHECK(capacity > 0);
    const auto size = static_cast<std::size_t>(capacity);
    const fuzz_device &device = devices[static_cast<std::size_t>(selected_)];
    const std::string &text = device.texts[which];
    switch (device.how[which]) {
      case delivery::with_nul:
        if (text.size() + 1 > size) return false;
        std::memcpy(buffer, text.c_str(), text.size() + 1);
        return true;
      case delivery::without_nul:
        std::memcpy(buffer, text.data(), text.size() < size ? text.size() : size);
        return true;
      case delivery::refused:
        // A failed read may leave bytes behind; fill the whole capacity, so
        // that a pass handing over more than its buffer shows at once too.
        for (std::size_t k = 0; k < size; ++k) buffer[k] = "COM9"[k % 4];
        return false;
    }
    return false;
  }
  void close_list() override { ++closes; }

  // What the pass reads of a property: the text up to its NUL, within the
  // capacity; empty when the read fails.
  static std::string seen(const fuzz_device &device, int which) {
    const std::string &text = device.texts[which];
    switch (device.how[which]) {
      case delivery::with_nul: return text.size() + 1 > class_capacity ? "" : c_text(text);
      case delivery::without_nul: return c_text(text.substr(0, class_capacity));
      case delivery::refused: return "";
    }
    return "";
  }

private:
  int selected_ = -1;
};

struct fuzz_value {
  std::string name;
  std::string text;
  int name_mode;  // 0: cut to fit, 1: a name that does not fit fails, 2: read fails
  bool is_text;
  delivery text_how;
};

class fuzz_map_source final : public port_map_source {
public:
  std::vector<fuzz_value> values;
  bool grant = true;
  int closes = 0;

  bool open_map() override { return grant; }
  bool read_value_name(int index, char *name, int capacity, bool *is_text) override {
    FUZZ_CHECK(capacity > 0 && is_text != nullptr);
    if (index < 0 || index >= static_cast<int>(values.size())) return false;
    const fuzz_value &value = values[static_cast<std::size_t>(index)];
    const auto size = static_cast<std::size_t>(capacity);
    for (std::size_t k = 0; k < size; ++k) name[k] = 'N';
    if (value.name_mode == 2) return false;
    if (value.name_mode == 1 && value.name.size() + 1 > size) return false;
    const std::size_t length = value.name.size() < size - 1 ? value.name.size() : size - 1;
    std::memcpy(name, value.name.data(), length);
    name[length] = '\0';
    *is_text = value.is_text;
    return true;
  }
  int read_value_text(int index, char *data, int capacity) override {
    FUZZ_CHECK(index >= 0 && index < static_cast<int>(values.size()) && capacity > 0);
    const fuzz_value &value = values[static_cast<std::size_t>(index)];
    const auto size = static_cast<std::size_t>(capacity);
    switch (value.text_how) {
      case delivery::with_nul:
        if (value.text.size() + 1 > size) return -1;
        std::memcpy(data, value.text.c_str(), value.text.size() + 1);
        return static_cast<int>(value.text.size() + 1);
      case delivery::without_nul:
        if (value.text.size() > size) return -1;
        std::memcpy(data, value.text.data(), value.text.size());
        return static_cast<int>(value.text.size());
      case delivery::refused: return -1;
    }
    return -1;
  }
  void close_map() override { ++closes; }
};

// ---- the model ---------------------------------------------------------------

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Value of the digits at text[at], 0 for a run longer than nine digits.
int digits_value(const std::string &text, std::size_t at) {
  std::size_t end = at;
  while (end < text.size() && is_digit(text[end])) ++end;
  if (end - at > 9) return 0;
  int value = 0;
  for (std::size_t k = at; k < end; ++k) value = value * 10 + (text[k] - '0');
  return value;
}

int model_friendly_number(const std::string &friendly) {
  bool found = false;
  for (const char *word : {"COM", "com"}) {
    for (std::size_t at = friendly.find(word); at != std::string::npos;
         at = friendly.find(word, at + 1)) {
      found = true;
      if (at + 3 < friendly.size() && is_digit(friendly[at + 3]))
        return digits_value(friendly, at + 3);
    }
  }
  return found ? 0 : -1;
}

int model_map_number(const std::string &text) {
  return text.size() > 3 && text[3] >= '1' && text[3] <= '9' ? digits_value(text, 3) : 0;
}

// One row as the model holds it: the full texts, before any cut.
struct model_row {
  int number;
  std::string name, device_name, device_name2;
};

struct model_table {
  std::vector<model_row> rows;
  std::vector<int> picked;
};

// Runs the device-class pass on the model; returns what the pass returns and
// how many devices it should have asked for.
int model_device_class(model_table &model, const fuzz_class_source &source, int *selects) {
  *selects = 0;
  if (!source.grant) return -1;
  model.rows.clear();
  for (std::size_t index = 0; model.rows.size() < port_table_rows; ++index) {
    ++*selects;
    if (index >= source.devices.size()) break;
    const fuzz_device &device = source.devices[index];
    const int number = model_friendly_number(fuzz_class_source::seen(device, 1));
    if (number < 0) continue;
    model.rows.push_back(
        {number, fuzz_class_source::seen(device, 0), fuzz_class_source::seen(device, 2), ""});
  }
  return static_cast<int>(model.rows.size());
}

int model_serial_map(model_table &model, const fuzz_map_source &source) {
  if (!source.grant) return 0;
  int com_values = 0;
  for (const fuzz_value &value : source.values) {
    if (value.name_mode == 2 || (value.name_mode == 1 && value.name.size() + 1 > map_capacity))
      break;
    if (!value.is_text) continue;
    const bool fits = value.text_how == delivery::with_nul ? value.text.size() + 1 <= map_capacity
                                                           : value.text.size() <= map_capacity;
    if (value.text_how == delivery::refused || !fits) continue;
    const std::string text = c_text(value.text);
    if (text.compare(0, 3, "COM") != 0) continue;
    ++com_values;
    const std::string name = c_text(value.name.substr(0, map_capacity - 1));
    const int number = model_map_number(text);
    bool matched = false;
    for (model_row &row : model.rows) {
      if (row.number != number) continue;
      row.device_name2 = name;
      matched = true;
    }
    if (!matched && model.rows.size() < port_table_rows)
      model.rows.push_back({number, text, "", name});
  }
  return com_values;
}

// ---- checks -------------------------------------------------------------------

// Length of the valid UTF-8 sequence that starts at text[at] (RFC 3629:
// no overlong forms, no surrogates, nothing past U+10FFFF), or 0.
std::size_t strict_utf8_length(const std::string &text, std::size_t at) {
  const auto lead = static_cast<unsigned char>(text[at]);
  if (lead < 0x80) return 1;
  std::size_t length = 0;
  unsigned low = 0x80;
  unsigned high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) length = 2;
  else if (lead == 0xE0) length = 3, low = 0xA0;
  else if (lead == 0xED) length = 3, high = 0x9F;
  else if (lead >= 0xE1 && lead <= 0xEF) length = 3;
  else if (lead == 0xF0) length = 4, low = 0x90;
  else if (lead == 0xF4) length = 4, high = 0x8F;
  else if (lead >= 0xF1 && lead <= 0xF3) length = 4;
  else return 0;
  if (at + length > text.size()) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    const auto c = static_cast<unsigned char>(text[at + k]);
    if (c < (k == 1 ? low : 0x80) || c > (k == 1 ? high : 0xBF)) return 0;
  }
  return length;
}

// True when a cut of text at byte cut leaves every valid character whole.
bool cut_on_boundary(const std::string &text, std::size_t cut) {
  std::size_t at = 0;
  while (at < cut) {
    const std::size_t length = strict_utf8_length(text, at);
    at += length > 0 ? length : 1;
  }
  return at == cut;
}

// A slot holds the full text when it fits, else the longest prefix that ends
// on a whole character (so at most three bytes short of the slot), always
// with its NUL inside the slot.
void check_slot(const char *slot, std::size_t size, const std::string &full) {
  FUZZ_CHECK(std::memchr(slot, '\0', size) != nullptr);
  const std::size_t kept = std::strlen(slot);
  FUZZ_CHECK(kept <= full.size() && full.compare(0, kept, slot) == 0);
  if (full.size() <= size - 1) {
    FUZZ_CHECK(kept == full.size());
  } else {
    FUZZ_CHECK(kept + 3 >= size - 1);
    FUZZ_CHECK(cut_on_boundary(full, kept));
  }
}

void check_table(const model_table &model) {
  FUZZ_CHECK(port_table.device_count == static_cast<int>(model.rows.size()));
  FUZZ_CHECK(port_table.device_count >= 0 && port_table.device_count <= port_table_rows);
  for (int row = 0; row < port_table_rows; ++row) {
    FUZZ_CHECK(std::memchr(port_table.port_name[row], '\0', port_name_size) != nullptr);
    FUZZ_CHECK(std::memchr(port_table.port_device_name[row], '\0', port_device_name_size) !=
               nullptr);
    FUZZ_CHECK(std::memchr(port_table.port_device_name2[row], '\0', port_device_name_size) !=
               nullptr);
  }
  for (std::size_t row = 0; row < model.rows.size(); ++row) {
    const model_row &expected = model.rows[row];
    FUZZ_CHECK(port_table.port_number[row] >= 0);
    FUZZ_CHECK(port_table.port_number[row] == expected.number);
    check_slot(port_table.port_name[row], port_name_size, expected.name);
    check_slot(port_table.port_device_name[row], port_device_name_size, expected.device_name);
    check_slot(port_table.port_device_name2[row], port_device_name_size, expected.device_name2);
  }
}

bool row_contains(int row, const char *pattern) {
  return std::strstr(port_table.port_name[row], pattern) != nullptr ||
         std::strstr(port_table.port_device_name[row], pattern) != nullptr ||
         std::strstr(port_table.port_device_name2[row], pattern) != nullptr;
}

void model_pickup(model_table &model, const char *pattern) {
  for (int row = 0; row < port_table.device_count; ++row) {
    if (model.picked.size() >= port_table_rows) break;
    if (!row_contains(row, pattern)) continue;
    bool listed = false;
    for (int other : model.picked)
      listed = listed || port_table.port_number[other] == port_table.port_number[row];
    if (!listed) model.picked.push_back(row);
  }
}

void model_pickup_by_type(model_table &model, int type) {
  static const char *const patterns[] = {"ACPI\\PNP", "FTDIBUS", "CP210x",
                                         "Prolific",  "Cypress", "ArkMicro"};
  model.picked.clear();
  if (type == 0) {
    for (int row = 0; row < port_table.device_count; ++row) model.picked.push_back(row);
  } else if (type >= 1 && type <= 6) {
    model_pickup(model, patterns[type - 1]);
  }
}

// One name query into a buffer of exactly its documented size, so that a
// write past it is an ASan finding. A refused query writes nothing.
template <typename query_fn>
void check_name_query(query_fn query, int n, std::size_t size, const char *expected) {
  std::unique_ptr<char[]> buffer(new char[size]);
  std::memset(buffer.get(), 0x5A, size);
  const int result = query(n, buffer.get());
  if (expected == nullptr) {
    FUZZ_CHECK(result == -1);
    for (std::size_t k = 0; k < size; ++k) FUZZ_CHECK(buffer[k] == 0x5A);
  } else {
    FUZZ_CHECK(result == 0);
    FUZZ_CHECK(std::strcmp(buffer.get(), expected) == 0);
  }
  FUZZ_CHECK(query(n, nullptr) == -1);
}

void check_pickups(const model_table &model, int returned) {
  const int count = static_cast<int>(model.picked.size());
  FUZZ_CHECK(returned == count);
  FUZZ_CHECK(port_table.pickup_count == count && get_how_many_port_devices() == count);
  for (int n = -2; n <= count + 1; ++n) {
    const bool valid = n >= 0 && n < count;
    const int row = valid ? model.picked[static_cast<std::size_t>(n)] : -1;
    FUZZ_CHECK(get_port_number(n) == (valid ? port_table.port_number[row] : -1));
    check_name_query(get_port_name, n, port_name_size, valid ? port_table.port_name[row] : nullptr);
    check_name_query(get_port_device_name, n, port_device_name_size,
                     valid ? port_table.port_device_name[row] : nullptr);
    check_name_query(get_port_device_name2, n, port_device_name_size,
                     valid ? port_table.port_device_name2[row] : nullptr);
  }
}

void check_find_pattern(const std::string &text, const std::string &pattern) {
  const char *hit = std::strstr(text.c_str(), pattern.c_str());
  const int expected = hit == nullptr ? -1 : static_cast<int>(hit - text.c_str()) + 1;
  FUZZ_CHECK(find_pattern(text.c_str(), pattern.c_str()) == expected);
  FUZZ_CHECK(find_pattern(nullptr, pattern.c_str()) == -1);
  FUZZ_CHECK(find_pattern(text.c_str(), nullptr) == -1);
}

// ---- one scan ------------------------------------------------------------------

void read_scan_script(fuzz_input &in, fuzz_class_source &classes, fuzz_map_source &map,
                      bool *separately) {
  const int flags = in.byte();
  classes.grant = (flags & 1) == 0;
  map.grant = (flags & 2) == 0;
  *separately = (flags & 4) != 0;
  const int devices = in.byte();
  for (int k = 0; k < devices; ++k) {
    const int how = in.byte();
    fuzz_device device;
    for (int which = 0; which < 3; ++which) {
      device.how[which] = delivery_of(how >> (2 * which));
      device.texts[which] = in.text();
    }
    classes.devices.push_back(device);
  }
  const int values = in.byte();
  for (int k = 0; k < values; ++k) {
    const int how = in.byte();
    fuzz_value value;
    value.name_mode = (how & 3) == 3 ? 0 : how & 3;
    value.is_text = (how & 4) == 0;
    value.text_how = delivery_of(how >> 3);
    value.name = in.text();
    value.text = in.text();
    map.values.push_back(value);
  }
}

void run_scan(fuzz_input &in, model_table &model) {
  fuzz_class_source classes;
  fuzz_map_source map;
  bool separately = false;
  read_scan_script(in, classes, map, &separately);

  int expected_selects = 0;
  const int class_result = model_device_class(model, classes, &expected_selects);
  const int map_result = model_serial_map(model, map);
  model.picked.clear();

  if (separately) {
    FUZZ_CHECK(scan_device_class(classes, utf8_char_length) == class_result);
    FUZZ_CHECK(scan_serial_map(map, utf8_char_length) == map_result);
    port_table.pickup_count = 0;
  } else {
    FUZZ_CHECK(scan_ports(classes, map, utf8_char_length) == static_cast<int>(model.rows.size()));
    FUZZ_CHECK(port_table.pickup_count == 0);
  }
  FUZZ_CHECK(classes.selects == expected_selects);
  FUZZ_CHECK(classes.closes == (classes.grant ? 1 : 0));
  FUZZ_CHECK(map.closes == (map.grant ? 1 : 0));
  check_table(model);
}

void run_operation(fuzz_input &in, model_table &model) {
  int returned = 0;
  switch (in.byte() % 5) {
    case 0: {
      const int type = static_cast<int8_t>(in.byte());
      model_pickup_by_type(model, type);
      returned = port_device_pickup_by_type(type);
      break;
    }
    case 1: {
      const std::string pattern = in.text();
      model_pickup(model, pattern.c_str());
      returned = port_device_pickup(pattern.c_str());
      break;
    }
    case 2: returned = port_device_pickup(nullptr); break;
    case 3:
      model_pickup_by_type(model, 0);
      returned = port_device_pickup_all();
      break;
    default: {
      const std::string text = in.text();
      check_find_pattern(text, in.text());
      return;
    }
  }
  check_pickups(model, returned);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
  fuzz_input in(data, size);
  std::memset(&port_table, 0, sizeof port_table);
  model_table model;
  const int scans = 1 + in.byte() % 3;
  for (int k = 0; k < scans; ++k) run_scan(in, model);
  check_pickups(model, port_table.pickup_count);
  for (int k = 0; k < max_operations && !in.empty(); ++k) run_operation(in, model);
  return 0;
}
