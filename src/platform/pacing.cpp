#include "platform/pacing.h"

#include <cstdlib>
#include <cstring>

namespace pkdv::sys {

bool fixed_pacing_asked() {
  const char* pacing = std::getenv("PKDV_PACING");
  return pacing && std::strcmp(pacing, "fixed") == 0;
}

}  // namespace pkdv::sys
