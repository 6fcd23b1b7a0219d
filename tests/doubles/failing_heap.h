// A heap that fails on request: this test program replaces the global
// operator new and delete, so that every allocation the library makes (its
// requests and records, the platform's events and thread states, the nodes of
// standard containers) can be made to fail in turn.
//
// Only allocations made by a thread inside a HeapWatch scope are counted and
// can fail; the test's own bookkeeping outside such scopes is left alone.
// Apart from that, the blocks from the nothrow forms of new are noted with
// their sizes, from every thread: the engine's objects come from those forms.
#pragma once

#include <cstddef>

namespace pkdv::testing {

class HeapFaults {
 public:
  // The `n`th counted allocation from now fails (1 = the next one); 0 makes
  // none fail. Also restarts the count.
  static void fail_at(long n);
  // Counted allocations since the last fail_at.
  static long counted();
  // True once the chosen allocation has been refused.
  static bool struck();
  // Blocks allocated inside a watch and not freed since, by any thread.
  static long outstanding();
  // Forgets the blocks still outstanding (after a test has reported them).
  static void forget_outstanding();
  // Blocks of `size` bytes from the nothrow forms of new, made by any thread,
  // watched or not, and not freed since. The engine allocates its requests
  // and records that way (a lack of memory is a result it reports, never an
  // exception): counted by their sizes, a leak of either shows here.
  static long nothrow_blocks(std::size_t size);
};

// Counts (and may fail) the calling thread's allocations while it lives.
class HeapWatch {
 public:
  HeapWatch();
  ~HeapWatch();
  HeapWatch(const HeapWatch&) = delete;
  HeapWatch& operator=(const HeapWatch&) = delete;

 private:
  bool was_watching_;
};

// Stops counting in the calling thread while it lives (for test code that
// runs inside a watch, such as a completion routine that records its call).
class HeapPause {
 public:
  HeapPause();
  ~HeapPause();
  HeapPause(const HeapPause&) = delete;
  HeapPause& operator=(const HeapPause&) = delete;

 private:
  bool was_watching_;
};

}  // namespace pkdv::testing
