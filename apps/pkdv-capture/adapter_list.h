// -D / --list: the adapters that enumeration reports, numbered.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace pkdv_capture {

struct AdapterEntry {
  std::string name;
  std::string description;
};

// Every adapter from first/next enumeration, in the library's order.
std::vector<AdapterEntry> list_adapters();

// "N.NAME (DESCRIPTION) [STATE]" for the adapter numbered `number`. The description is left
// out when it only repeats the name; `states` is keyed by the capture library's own names.
std::string adapter_line(size_t number, const AdapterEntry& adapter,
                         const std::map<std::string, std::string>& states);

// Prints the numbered adapters; returns the exit code.
int run_list();

}  // namespace pkdv_capture
