#include "platform/platform.h"

namespace pkdv::sys {

// As lstrcpynA: at most limit - 1 characters, then a terminator. A limit of 0
// or less leaves the destination untouched (there is no room even for the
// terminator); a missing source copies as the empty text.
void copy_text(char* destination, const char* source, int limit) {
  if (!destination || limit <= 0) return;
  int copied = 0;
  if (source) {
    for (; copied < limit - 1 && source[copied] != '\0'; ++copied) {
      destination[copied] = source[copied];
    }
  }
  destination[copied] = '\0';
}

}  // namespace pkdv::sys
