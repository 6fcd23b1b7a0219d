// A savefile that is no regular file (a FIFO, a pipe on standard input) can
// make a read wait for as long as its writer pauses, and the poller reads
// under the engine's lock: every client would wait with it. Such a savefile
// is read on a thread of its own into a bounded queue, and the poller takes
// frames from the queue, which never blocks.
#pragma once

#include <pcap/pcap.h>

#include <memory>

namespace pkdv::capture {

class SavefileReadAhead {
 public:
  // Starts reading `p` (an open savefile) on a new thread; nullptr when the
  // thread cannot be started. `p` stays the caller's to close, after this
  // object is gone.
  static std::unique_ptr<SavefileReadAhead> start(pcap_t* p);
  // Stops the thread, also when it waits for its writer, before it returns.
  ~SavefileReadAhead();
  SavefileReadAhead(const SavefileReadAhead&) = delete;
  SavefileReadAhead& operator=(const SavefileReadAhead&) = delete;

  // pcap_next_ex's results without waiting: 1 with the next frame (valid
  // until the next call), 0 when none has been read yet, and the savefile's
  // own end or error result once every frame before it was taken.
  int next(pcap_pkthdr** header, const u_char** bytes);
  // Readable while next() has something other than 0 to give.
  int ready_fd() const;

  // Unload: stops the thread of every read-ahead still alive (their handles
  // were not closed), so that none runs on in code about to be unmapped.
  static void stop_all();

  struct Shared;

 private:
  explicit SavefileReadAhead(Shared* shared);
  Shared* shared_;
};

}  // namespace pkdv::capture
