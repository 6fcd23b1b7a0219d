// --list: the adapters that enumeration reports.
#pragma once

#include <string>
#include <vector>

namespace pkdv_capture {

struct AdapterEntry {
  std::string name;
  std::string description;
};

// Every adapter from first/next enumeration, in the library's order.
std::vector<AdapterEntry> list_adapters();

// Prints the adapters as a table of name and description; returns the exit code.
int run_list();

}  // namespace pkdv_capture
