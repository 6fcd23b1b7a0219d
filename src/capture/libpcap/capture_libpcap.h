// What the POSIX entry point asks of the libpcap capture unit beyond
// capture/capture.h.
#pragma once

namespace pkdv::capture {

// Module unload in a forked child: the handles it inherited still share their
// descriptors with the process that opened them, and the C library's exit
// would seek a savefile's back to what this process has read of it, moving
// the parent's position. Each is pointed at a descriptor of no consequence;
// the process's own handles are left as they are.
void leave_inherited_handles();

}  // namespace pkdv::capture
