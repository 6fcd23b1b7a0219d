#include "support/json.h"

#include <cmath>
#include <cstdio>
#include <fstream>

namespace pkdv::bench {

namespace {

std::string quoted(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      out += escape;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

}  // namespace

Json& Json::raw(const std::string& key, const std::string& value) {
  fields_.push_back(quoted(key) + ": " + value);
  return *this;
}

Json& Json::number(const std::string& key, double value) {
  // JSON has no NaN or infinity; a measurement that did not happen is null.
  if (!std::isfinite(value)) return raw(key, "null");
  char text[64];
  std::snprintf(text, sizeof text, "%.6g", value);
  return raw(key, text);
}

Json& Json::integer(const std::string& key, std::int64_t value) {
  return raw(key, std::to_string(value));
}

Json& Json::text(const std::string& key, const std::string& value) {
  return raw(key, quoted(value));
}

Json& Json::boolean(const std::string& key, bool value) {
  return raw(key, value ? "true" : "false");
}

Json& Json::object(const std::string& key, const Json& value) {
  return raw(key, value.str());
}

Json& Json::array(const std::string& key, const std::vector<Json>& values) {
  std::string list = "[";
  for (std::size_t i = 0; i < values.size(); ++i) list += (i ? ", " : "") + values[i].str();
  return raw(key, list + "]");
}

std::string Json::str() const {
  std::string out = "{";
  for (std::size_t i = 0; i < fields_.size(); ++i) out += (i ? ", " : "") + fields_[i];
  return out + "}";
}

bool write_json_file(const std::string& path, const Json& json) {
  std::ofstream file(path);
  file << json.str() << '\n';
  if (!file) {
    std::fprintf(stderr, "cannot write %s\n", path.c_str());
    return false;
  }
  return true;
}

}  // namespace pkdv::bench
