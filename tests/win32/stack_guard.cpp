#include "stack_guard.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <vector>

extern "C" int guarded_routine_dispatch(const std::uintptr_t* args);
#if defined(__i386__)
extern "C" void guarded_routine_entry();
#endif

namespace pkdv::testing {

namespace {

std::mutex registry_lock;
std::vector<const GuardedRoutine*> registry;

bool registered(std::uintptr_t value) {
  std::lock_guard<std::mutex> hold(registry_lock);
  return std::find(registry.begin(), registry.end(),
                   reinterpret_cast<const GuardedRoutine*>(value)) != registry.end();
}

[[noreturn]] void unbalanced() {
  std::fprintf(stderr,
               "stack guard: a guarded completion routine was called without its context in the "
               "first or third argument; the caller's stack cannot be balanced\n");
  std::fflush(stderr);
  std::_Exit(3);
}

}  // namespace

// args: the arguments as the caller pushed them (at least three words are
// readable: the caller's own frame lies above them). Returns how many words
// the entry must remove. Kept ("used") although only the assembly entry calls
// it, which link-time optimisation does not see.
extern "C" [[gnu::used]] int guarded_routine_dispatch(const std::uintptr_t* args) {
  if (registered(args[0])) return reinterpret_cast<GuardedRoutine*>(args[0])->dispatch(1, 0, 0);
  if (registered(args[2]))
    return reinterpret_cast<GuardedRoutine*>(args[2])->dispatch(
        3, static_cast<std::uint32_t>(args[0]), static_cast<std::uint32_t>(args[1]));
  unbalanced();
}

namespace {

#if defined(__i386__)
// __stdcall entry of any arity: hands the arguments to the dispatcher, then
// returns removing as many words as it says were pushed.
asm(".text\n"
    ".globl _guarded_routine_entry\n"
    "_guarded_routine_entry:\n"
    "  leal 4(%esp), %eax\n"
    "  pushl %eax\n"
    "  call _guarded_routine_dispatch\n"
    "  addl $4, %esp\n"
    "  popl %ecx\n"
    "  leal (%esp,%eax,4), %esp\n"
    "  jmp *%ecx\n");
PKDV_COMPLETION_ROUTINE entry() {
  return reinterpret_cast<PKDV_COMPLETION_ROUTINE>(&guarded_routine_entry);
}
#else
void PKDV_CALLBACK guarded_routine_entry(std::uintptr_t first, std::uintptr_t second,
                                         std::uintptr_t third) {
  const std::uintptr_t args[] = {first, second, third};
  guarded_routine_dispatch(args);
}
// Full-width parameters: a one-argument call passes the context in the first.
PKDV_COMPLETION_ROUTINE entry() {
  return reinterpret_cast<PKDV_COMPLETION_ROUTINE>(reinterpret_cast<void*>(&guarded_routine_entry));
}
#endif

}  // namespace

GuardedRoutine::GuardedRoutine(PKDV_COMPLETION_ROUTINE real, std::uintptr_t real_context)
    : routine3_(real), context_(real_context) {
  std::lock_guard<std::mutex> hold(registry_lock);
  registry.push_back(this);
}

GuardedRoutine::GuardedRoutine(PKDV_COMPLETION_ROUTINE_95 real, std::uintptr_t real_context)
    : routine1_(real), context_(real_context) {
  std::lock_guard<std::mutex> hold(registry_lock);
  registry.push_back(this);
}

GuardedRoutine::~GuardedRoutine() {
  std::lock_guard<std::mutex> hold(registry_lock);
  registry.erase(std::find(registry.begin(), registry.end(), this));
}

PKDV_COMPLETION_ROUTINE GuardedRoutine::routine() const {
  return entry();
}

int GuardedRoutine::dispatch(int pushed, std::uint32_t status, std::uint32_t count) {
  ++calls_;
  const int declared = routine3_ ? 3 : 1;
  if (pushed != declared) {
    if (failure_.empty())
      failure_ = "a routine of " + std::to_string(declared) + " argument(s) was called with " +
                 std::to_string(pushed);
  } else if (routine3_) {
    routine3_(status, count, context_);
  } else {
    routine1_(context_);
  }
  return pushed;
}

}  // namespace pkdv::testing
