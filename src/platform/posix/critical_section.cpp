#include "platform/platform.h"

namespace pkdv::sys {

void lock_init(CriticalSection* lock) {
  pthread_mutexattr_t attributes;
  pthread_mutexattr_init(&attributes);
  pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
  pthread_mutex_init(&lock->mutex, &attributes);
  pthread_mutexattr_destroy(&attributes);
}

void lock_delete(CriticalSection* lock) {
  pthread_mutex_destroy(&lock->mutex);
}

void lock_enter(CriticalSection* lock) {
  pthread_mutex_lock(&lock->mutex);
}

bool lock_try_enter(CriticalSection* lock) {
  return pthread_mutex_trylock(&lock->mutex) == 0;
}

void lock_leave(CriticalSection* lock) {
  pthread_mutex_unlock(&lock->mutex);
}

}  // namespace pkdv::sys
