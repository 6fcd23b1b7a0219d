// The main job: read frames from an adapter or savefile, print and optionally save them.
#pragma once

namespace pkdv_capture {

struct Options;

// Runs until COUNT frames, the end of a savefile, a capture error or Ctrl-C; prints the
// summary on stderr. Returns the exit code.
int run_capture(const Options& options);

}  // namespace pkdv_capture
