// The asynchronous read engine's entry points for the other subsystems.
#pragma once

#include <cstdint>

#include "pkdv.h"
#include "capture/capture.h"
#include "platform/platform.h"

namespace pkdv::engine {

struct ThreadRecord;

// Builds the empty thread table and initialises globalLock (module load).
void build_state();
// Deletes globalLock; the table is empty by then (module unload).
void destroy_state();

// One pass of the poller, without the pause that follows it.
void poll_pass();
// Writes one captured frame into a client's buffer: lengths, the next sequence
// number and the timestamp always; the data only when the data area holds the
// whole frame (otherwise status NDIS_STATUS_INVALID_LENGTH). The captured
// length written is the bytes the frame has, never more than its wire length,
// so on success it is the bytes copied.
void FillPacketBuffer(PacketBuffer* buffer, const capture::FrameHeader& header,
                      const std::uint8_t* data);

// The frame counter, for tests and benchmarks.
std::uint64_t frames_captured();
void reset_frame_counter();

// Starts the poller thread: passes until it is stopped, separated by a sleep
// until there is work (or by 100 ms when PKDV_PACING=fixed was set at the
// start). False when the thread could not be started.
bool start_poller();
// At load: a poller that cannot start now is tried again by the first read,
// which fails with the reason if it still cannot.
void start_poller_or_at_first_read();
// Ends the poller's sleep, if it sleeps: a read was posted or reads were
// handed back. No system call unless it sleeps. The caller holds globalLock.
void wake_poller();
// A hand-back has ended, its thread still inside the alertable wait that ran
// it: wakes the poller for the reads posted or finished meanwhile, but has the
// poller that wakes on work queue the next hand-back only a pass later, after
// a pause of 200 us (Windows: the timer's granularity, 1 ms or more), so that
// the wait returns first (as clients that check a flag between waits
// expect). The caller holds globalLock.
void hand_back_settled(ThreadRecord* record);
// Stops the poller thread, if there is one. False when it may still touch
// the state (see sys::worker_stop): the state must then be left alone.
bool stop_poller(bool process_exiting);

// In a child process just forked: the table, its locks, the kept requests
// and the poller are the parent's threads' (a lock may even be held by a
// thread that does not exist here). They are left alone, never used or
// freed, and the child starts from an empty state; its own poller starts
// with its first read.
void forget_parent_after_fork();

// The gate at the engine's door (see EngineEntry). Opened by build_state and
// in a forked child. Closing it is for good: true when no client thread was
// inside, so the state may be freed, since whoever comes later turns back.
bool close_gate();

// Frees every queued read and every thread record without calling any
// routine. `process_exiting`: the poller may have been killed while it held
// globalLock; then the state is left to the platform rather than waited for.
void clear_map(bool process_exiting);

// Calls a client's completion routine in the form its platform family uses:
// NT family routine(status, count, context), 95 family routine(context), no
// call when the version cannot be had. The version is asked once, at the
// first call that finds it.
void call_completion_routine(PKDV_COMPLETION_ROUTINE routine, std::uint32_t status,
                             std::uint32_t count, std::uintptr_t context);

// PKDV_CloseAdapter: under globalLock, refuses (false) a handle that is not
// open; otherwise takes every pending read on `adapter` out of its queue,
// hands it back with NDIS_STATUS_FAILURE through normal delivery, and closes
// the capture handle. Posts check the handle under the same lock, so a read
// is either retired here or refused, never polled on a closed handle.
bool close_adapter(AdapterHandle adapter);

}  // namespace pkdv::engine
