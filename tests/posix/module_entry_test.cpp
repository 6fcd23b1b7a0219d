// The entry point against the loader: the library really goes away at
// dlclose, and threads that used it may end afterwards.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "pkdv.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace {

TEST(ModuleEntry, UnloadsWhileThreadsThatUsedItLiveOn) {
  void* library = dlopen(PKDV_ENTRY_PROBE_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << dlerror();
  auto* loaded = reinterpret_cast<bool (*)()>(dlsym(library, "probe_loaded"));
  auto* wait = reinterpret_cast<PKDV_WAIT_ALERTABLE_FUNC*>(dlsym(library, "PKDV_WaitAlertable"));
  ASSERT_NE(loaded, nullptr);
  ASSERT_NE(wait, nullptr);
  EXPECT_TRUE(loaded()) << "the constructor did not load the module";

  // Both threads get a state in the library; the helper ends only after the
  // library is gone, which must not call into its unmapped code.
  EXPECT_EQ(wait(0), 0u);
  std::promise<void> used;
  std::promise<void> unloaded;
  std::thread helper([&, wait] {
    {
#if defined(__SANITIZE_ADDRESS__)
      // The unload leaves behind, by design, the few bytes by which this
      // thread would tell of its end: not a leak to report.
      const __lsan::ScopedDisabler leftover_allowed;
#endif
      wait(0);
    }
    used.set_value();
    unloaded.get_future().wait();
  });
  used.get_future().wait();

  ASSERT_EQ(dlclose(library), 0);
  EXPECT_EQ(dlopen(PKDV_ENTRY_PROBE_PATH, RTLD_NOW | RTLD_NOLOAD), nullptr)
      << "something keeps the library mapped after dlclose";
  unloaded.set_value();
  helper.join();
}

}  // namespace
