// Command-line options of the form "--name value" or "--flag".
#pragma once

#include <map>
#include <string>

namespace pkdv::bench {

class Options {
 public:
  // Reads argv[first..argc). Throws std::invalid_argument on a word that is
  // not an option.
  Options(int argc, char** argv, int first);

  std::string text(const std::string& name, const std::string& fallback = "") const;
  long long integer(const std::string& name, long long fallback) const;
  double number(const std::string& name, double fallback) const;
  bool flag(const std::string& name) const;

 private:
  std::map<std::string, std::string> values_;
};

}  // namespace pkdv::bench
