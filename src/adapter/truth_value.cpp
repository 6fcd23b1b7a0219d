#include "adapter/truth_value.h"

namespace pkdv {

[[gnu::noinline]] std::uint32_t full_width_truth(bool value) {
  return value ? 1u : 0u;
}

}  // namespace pkdv
