// A poller that cannot be started is not silent: while no thread can be
// started, a post fails with 0 and last error 8; once threads start again, the
// next post starts the poller and its read comes back.
//
// This program supplies pthread_create itself, ahead of the C library, so the
// library's thread starts fail while `refuse_threads` is set: from its load,
// before main, on.
#include <dlfcn.h>
#include <pthread.h>

#include "client.h"

namespace {

std::atomic<bool> refuse_threads{true};

using PthreadCreate = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);

int completions = 0;
void PKDV_CALLBACK count_completion(uint32_t, uint32_t, uintptr_t) {
  ++completions;
}

}  // namespace

extern "C" int pthread_create(pthread_t* thread, const pthread_attr_t* attributes,
                              void* (*start)(void*), void* argument) {
  if (refuse_threads) return EAGAIN;
  static const auto next = reinterpret_cast<PthreadCreate>(dlsym(RTLD_NEXT, "pthread_create"));
  return next(thread, attributes, start, argument);
}

int main() {
  using namespace client;
  const AdapterHandle adapter = open_busy_adapter();
  Slot slot;
  check(PKDV_PacketReadEx(adapter, slot.buffer(), &slot.transferred, 0, count_completion) == 0,
        "a read was accepted with no poller to serve it");
  check(PKDV_GetLastError() == 8, "the refused read did not say 8 (not enough memory)");

  refuse_threads = false;
  start_watchdog(30s, "the read posted once threads start never came back");
  check(PKDV_PacketReadEx(adapter, slot.buffer(), &slot.transferred, 0, count_completion) == 1,
        "a read was refused once threads could start");
  while (completions == 0) wait_alertable(100);
  check(slot.buffer()->status == NDIS_STATUS_SUCCESS, "the read came back without its frame");
  PKDV_CloseAdapter(adapter);
  std::puts("a poller that cannot start makes posts fail with 8, and starts with a later post");
  return 0;
}
