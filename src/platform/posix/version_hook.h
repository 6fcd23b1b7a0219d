// Lets tests choose what query_version reports. Internal: not exported from
// the shared library.
#pragma once

#include "platform/platform.h"

namespace pkdv::sys {

// query_version reports `*version` from now on; nullptr makes it fail.
void set_version_for_testing(const VersionInfo* version);
// Back to the normal report: NT platform, version 10.0.
void reset_version_for_testing();

}  // namespace pkdv::sys
