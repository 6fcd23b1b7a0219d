// Windows storage for the OS services of platform.h. The engine sees only
// opaque storage and handle values, so <windows.h> (and its macros) stays out
// of every file outside this folder.
#pragma once

#include <cstddef>

namespace pkdv::sys {

// Room for a CRITICAL_SECTION (24 bytes on 32-bit, 40 on 64-bit); the
// services check the size and alignment against the real type.
struct CriticalSection {
  alignas(void*) unsigned char storage[sizeof(void*) == 4 ? 24 : 40];
};

using EventHandle = void*;   // HANDLE of an event
using ThreadHandle = void*;  // HANDLE of a thread
// Something the poller can wait on until it is signalled: a HANDLE.
using WaitableHandle = void*;

}  // namespace pkdv::sys
