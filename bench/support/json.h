// A JSON object built field by field, for the result files in build/bench/.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pkdv::bench {

class Json {
 public:
  Json& number(const std::string& key, double value);
  Json& integer(const std::string& key, std::int64_t value);
  Json& text(const std::string& key, const std::string& value);
  Json& boolean(const std::string& key, bool value);
  Json& object(const std::string& key, const Json& value);
  Json& array(const std::string& key, const std::vector<Json>& values);

  std::string str() const;

 private:
  Json& raw(const std::string& key, const std::string& value);
  std::vector<std::string> fields_;
};

// Writes `json` to `path`; false (and a line on stderr) when it cannot.
bool write_json_file(const std::string& path, const Json& json);

}  // namespace pkdv::bench
