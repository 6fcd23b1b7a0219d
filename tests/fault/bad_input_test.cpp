// A read posted on a null or -1 adapter: refused at once, since the poller
// would otherwise poll a handle that names no adapter. (The other null and -1
// arguments of the exports are covered by the adapter and engine tests.)
#include "engine/state.h"
#include "engine_fixture.h"

namespace pkdv::testing {
namespace {

using BadInputTest = EngineTest;

TEST_F(BadInputTest, AReadOnANullOrMinusOneAdapterIsRefusedAndNeverPolled) {
  Buffer b(100);
  EXPECT_EQ(PKDV_PacketReadEx(0, b.get(), nullptr, 1, record_completion), 0u);
  EXPECT_EQ(PKDV_PacketReadEx(PKDV_INVALID_ADAPTER, b.get(), nullptr, 2, record_completion), 0u);
  EXPECT_TRUE(engine::state().table.empty()) << "nothing queued";
  engine::poll_pass();  // would poll a handle that names no adapter
  deliver_here();
  EXPECT_EQ(log_.size(), 0u);
}

}  // namespace
}  // namespace pkdv::testing
