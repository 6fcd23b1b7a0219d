// How the poller paces its passes, chosen by the client's environment when
// the library loads: PKDV_PACING=fixed keeps a pass every 100 ms (the pace of
// earlier releases); otherwise the poller sleeps until there is work. The
// capture units read it too, where a source holds frames back for a time of
// their choosing (Linux's ring blocks).
#pragma once

namespace pkdv::sys {

bool fixed_pacing_asked();

}  // namespace pkdv::sys
