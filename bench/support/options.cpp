#include "support/options.h"

#include <stdexcept>

namespace pkdv::bench {

Options::Options(int argc, char** argv, int first) {
  for (int i = first; i < argc; ++i) {
    const std::string word = argv[i];
    if (word.rfind("--", 0) != 0) throw std::invalid_argument("unexpected argument " + word);
    const bool has_value = i + 1 < argc && std::string(argv[i + 1]).rfind("--", 0) != 0;
    values_[word.substr(2)] = has_value ? argv[++i] : "";
  }
}

std::string Options::text(const std::string& name, const std::string& fallback) const {
  auto found = values_.find(name);
  return found == values_.end() ? fallback : found->second;
}

long long Options::integer(const std::string& name, long long fallback) const {
  auto found = values_.find(name);
  return found == values_.end() ? fallback : std::stoll(found->second);
}

double Options::number(const std::string& name, double fallback) const {
  auto found = values_.find(name);
  return found == values_.end() ? fallback : std::stod(found->second);
}

bool Options::flag(const std::string& name) const {
  return values_.count(name) != 0;
}

}  // namespace pkdv::bench
