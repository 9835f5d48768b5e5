// SPDX-License-Identifier: MIT
#include "calibration_file.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <nlohmann/json.hpp>

#include "new_file.h"

using json = nlohmann::json;
// Written in the order of the file's description.
using ordered_json = nlohmann::ordered_json;

namespace {

ordered_json vector_json(const double (&v)[3]) { return ordered_json::array({v[0], v[1], v[2]}); }

ordered_json geomagnetic_json(const geo_calibration &g) {
  ordered_json matrix = ordered_json::array();
  for (const auto &row : g.matrix) matrix.push_back(vector_json(row));
  return {{"offset", vector_json(g.offset)},
          {"matrix", matrix},
          {"field", g.field},
          {"points", g.points},
          {"model", calib_model_name(g.model)},
          {"quality",
           {{"gaps", g.quality.gaps},
            {"variance", g.quality.variance},
            {"wobble", g.quality.wobble},
            {"fit_error", g.quality.fit_error}}},
          {"good", g.good}};
}

ordered_json acceleration_json(const accel_result &a) {
  return {{"offset", vector_json(a.offset)},
          {"gain", vector_json(a.gain)},
          {"positions", a.positions},
          {"good", a.good}};
}

// What a check found wrong; empty when all is well.
struct problem {
  std::string text;
  bool found() const { return !text.empty(); }
};

problem need(bool condition, const std::string &text) { return {condition ? "" : text}; }

problem read_number(const json &object, const char *key, double *out, bool required) {
  const auto it = object.find(key);
  if (it == object.end()) return need(!required, std::string("no \"") + key + "\"");
  if (!it->is_number()) return {std::string("\"") + key + "\" is not a number"};
  *out = it->get<double>();
  return {};
}

problem read_vector(const json &value, const std::string &name, double (&out)[3]) {
  if (!value.is_array() || value.size() != 3) return {name + " is not an array of 3 numbers"};
  for (std::size_t i = 0; i < 3; ++i) {
    if (!value[i].is_number()) return {name + " is not an array of 3 numbers"};
    out[i] = value[i].get<double>();
  }
  return {};
}

problem read_flag(const json &object, const char *key, bool *out) {
  const auto it = object.find(key);
  if (it == object.end()) return {};
  if (!it->is_boolean()) return {std::string("\"") + key + "\" is not true or false"};
  *out = it->get<bool>();
  return {};
}

problem read_count(const json &object, const char *key, int *out) {
  const auto it = object.find(key);
  if (it == object.end()) return {};
  if (!it->is_number_unsigned() || it->get<std::uint64_t>() > 1000000000U) {
    return {std::string("\"") + key + "\" is not a count"};
  }
  *out = static_cast<int>(it->get<std::uint64_t>());
  return {};
}

calib_model model_named(const std::string &name) {
  if (name == "sphere") return calib_model_sphere;
  if (name == "diagonal") return calib_model_diagonal;
  if (name == "full") return calib_model_full;
  return calib_model_none;
}

problem read_quality(const json &object, calib_quality *q) {
  const auto it = object.find("quality");
  if (it == object.end()) return {};
  if (!it->is_object()) return {"\"quality\" is not an object"};
  for (auto [key, out] : {std::pair<const char *, double *>{"gaps", &q->gaps},
                          {"variance", &q->variance},
                          {"wobble", &q->wobble},
                          {"fit_error", &q->fit_error}}) {
    const problem p = read_number(*it, key, out, false);
    if (p.found()) return {"quality: " + p.text};
  }
  return {};
}

problem read_geomagnetic(const json &g, geo_calibration *out) {
  if (!g.is_object()) return {"\"geomagnetic\" is not an object"};
  *out = calib_none(0);
  out->model = calib_model_full;
  out->doubt = calib_doubt_none;
  if (!g.contains("offset")) return {"geomagnetic: no \"offset\""};
  problem p = read_vector(g["offset"], "geomagnetic offset", out->offset);
  if (p.found()) return p;
  if (!g.contains("matrix")) return {"geomagnetic: no \"matrix\""};
  const json &m = g["matrix"];
  if (!m.is_array() || m.size() != 3) return {"geomagnetic matrix is not 3 rows of 3 numbers"};
  for (std::size_t i = 0; i < 3; ++i) {
    p = read_vector(m[i], "geomagnetic matrix row " + std::to_string(i + 1), out->matrix[i]);
    if (p.found()) return p;
  }
  const double(&a)[3][3] = out->matrix;
  const double determinant = a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) -
                             a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0]) +
                             a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]);
  if (!(std::fabs(determinant) > 1e-12)) return {"geomagnetic matrix is singular"};
  out->field = 0.0;
  if ((p = read_number(g, "field", &out->field, false)).found()) return {"geomagnetic: " + p.text};
  if (out->field < 0.0) return {"geomagnetic field is negative"};
  if ((p = read_count(g, "points", &out->points)).found()) return {"geomagnetic: " + p.text};
  const auto model = g.find("model");
  if (model != g.end()) {
    if (!model->is_string() || model_named(model->get<std::string>()) == calib_model_none) {
      return {"geomagnetic model is not \"sphere\", \"diagonal\" or \"full\""};
    }
    out->model = model_named(model->get<std::string>());
  }
  if ((p = read_quality(g, &out->quality)).found()) return {"geomagnetic " + p.text};
  if ((p = read_flag(g, "good", &out->good)).found()) return {"geomagnetic: " + p.text};
  return {};
}

problem read_acceleration(const json &a, accel_result *out) {
  if (!a.is_object()) return {"\"acceleration\" is not an object"};
  *out = accel_result{};
  if (!a.contains("offset")) return {"acceleration: no \"offset\""};
  problem p = read_vector(a["offset"], "acceleration offset", out->offset);
  if (p.found()) return p;
  if (!a.contains("gain")) return {"acceleration: no \"gain\""};
  if ((p = read_vector(a["gain"], "acceleration gain", out->gain)).found()) return p;
  for (double gain : out->gain) {
    if (!(gain != 0.0)) return {"acceleration gain is 0"};
  }
  out->positions = accel_face_count;
  if ((p = read_count(a, "positions", &out->positions)).found()) return {"acceleration: " + p.text};
  out->complete = true;
  if ((p = read_flag(a, "good", &out->good)).found()) return {"acceleration: " + p.text};
  return {};
}

problem read_set(const json &root, calibration_set *set) {
  if (!root.is_object()) return {"not a JSON object"};
  const auto version = root.find("version");
  if (version == root.end()) return {"no \"version\""};
  if (!version->is_number_integer() || version->get<std::int64_t>() != 1) {
    return {"version is not 1"};
  }
  *set = calibration_set{};
  const auto geo = root.find("geomagnetic");
  if (geo != root.end()) {
    set->has_geomagnetic = true;
    problem p = read_geomagnetic(*geo, &set->geomagnetic);
    if (p.found()) return p;
  }
  const auto acc = root.find("acceleration");
  if (acc != root.end()) {
    set->has_acceleration = true;
    problem p = read_acceleration(*acc, &set->acceleration);
    if (p.found()) return p;
  }
  return need(set->has_geomagnetic || set->has_acceleration,
              "neither a \"geomagnetic\" nor an \"acceleration\" section");
}

void set_error(char *error, std::size_t size, const std::string &text) {
  if (error != nullptr && size > 0) std::snprintf(error, size, "%s", text.c_str());
}

void append_vector(std::string *out, const char *name, const double (&v)[3]) {
  char line[160];
  std::snprintf(line, sizeof line, "static const double %s[3] = {%.9g, %.9g, %.9g};\n", name, v[0],
                v[1], v[2]);
  *out += line;
}

}  // namespace

std::string calibration_json(const calibration_set &set) {
  ordered_json root = {{"version", 1}};
  if (set.has_geomagnetic) root["geomagnetic"] = geomagnetic_json(set.geomagnetic);
  if (set.has_acceleration) root["acceleration"] = acceleration_json(set.acceleration);
  return root.dump(2, ' ', false, ordered_json::error_handler_t::replace) + "\n";
}

bool calibration_parse(const std::string &text, calibration_set *set, char *error,
                       std::size_t error_size) {
  const json root = json::parse(text, nullptr, false);
  if (root.is_discarded()) {
    set_error(error, error_size, "not valid JSON");
    return false;
  }
  const problem p = read_set(root, set);
  if (p.found()) set_error(error, error_size, p.text);
  return !p.found();
}

std::string calibration_c_snippet(const calibration_set &set) {
  std::string out = "/* orlanse_sensor calibration: calibrated = matrix * (reading - offset) */\n";
  if (set.has_geomagnetic) {
    const geo_calibration &g = set.geomagnetic;
    append_vector(&out, "geo_offset", g.offset);
    out += "static const double geo_matrix[3][3] = {\n";
    for (const auto &row : g.matrix) {
      char line[160];
      std::snprintf(line, sizeof line, "    {%.9g, %.9g, %.9g},\n", row[0], row[1], row[2]);
      out += line;
    }
    char line[96];
    std::snprintf(line, sizeof line, "};\nstatic const double geo_field = %.9g;\n", g.field);
    out += line;
  }
  if (set.has_acceleration) {
    out += "/* acceleration in g = acc_gain * (reading - acc_offset), axis by axis */\n";
    append_vector(&out, "acc_offset", set.acceleration.offset);
    append_vector(&out, "acc_gain", set.acceleration.gain);
  }
  return out;
}

bool calibration_load_file(const char *path, calibration_set *set, char *error,
                           std::size_t error_size) {
  std::FILE *file = std::fopen(path, "rb");
  if (file == nullptr) {
    set_error(error, error_size, std::strerror(errno));
    return false;
  }
  std::string text;
  char buffer[4096];
  std::size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0 && text.size() < (1U << 20)) {
    text.append(buffer, got);
  }
  const bool failed = std::ferror(file) != 0;
  (void)std::fclose(file);  // read only: nothing to lose
  if (failed) {
    set_error(error, error_size, "cannot be read");
    return false;
  }
  if (text.size() >= (1U << 20)) {
    set_error(error, error_size, "too large for a calibration");
    return false;
  }
  return calibration_parse(text, set, error, error_size);
}

bool calibration_save_file(const char *path, const calibration_set &set, char *error,
                           std::size_t error_size) {
  const std::string text = calibration_json(set);
  std::FILE *file = std::fopen(path, "wb");
  if (file == nullptr) {
    set_error(error, error_size, std::strerror(errno));
    return false;
  }
  const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  const int saved_errno = errno;
  if (std::fclose(file) != 0 || !written) {
    set_error(error, error_size, std::strerror(written ? errno : saved_errno));
    return false;
  }
  return true;
}

std::string calibration_new_file_name(void) {
  const std::time_t now = std::time(nullptr);
  char stamp[32] = "unknown";
  if (const std::tm *local = std::localtime(&now)) {
    if (std::strftime(stamp, sizeof stamp, "%Y%m%d_%H%M%S", local) == 0) stamp[0] = '\0';
  }
  const std::string base = std::string("orlanse_calibration_") + stamp;
  // The name is taken by creating the file in one step, so that a file that
  // appears between a check and the save is never replaced.
  for (int n = 1;; ++n) {
    std::string name = base + (n == 1 ? "" : "-" + std::to_string(n)) + ".json";
    std::FILE *created = create_new_file(name.c_str());
    if (created != nullptr) (void)std::fclose(created);
    if (created != nullptr || errno != EEXIST) return name;  // a save says why it cannot write
  }
}
