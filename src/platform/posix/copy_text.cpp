#include <cstring>

#include "platform/platform.h"

namespace pkdv::sys {

// As lstrcpynA: at most limit - 1 characters, then a terminator. A limit of 0
// or less leaves the destination untouched (there is no room even for the
// terminator); a missing source copies as the empty text.
void copy_text(char* destination, const char* source, int limit) {
  if (!destination || limit <= 0) return;
  // Every lock the engine takes copies its name through here: measure, then
  // copy in one go rather than byte by byte.
  const std::size_t length = source ? strnlen(source, static_cast<std::size_t>(limit) - 1) : 0;
  if (length) std::memmove(destination, source, length);
  destination[length] = '\0';
}

}  // namespace pkdv::sys
