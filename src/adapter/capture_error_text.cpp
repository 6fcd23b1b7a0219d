#include "adapter/capture_error_text.h"

namespace pkdv {

char capture_error_text[capture::kErrorBufferSize];

}  // namespace pkdv
