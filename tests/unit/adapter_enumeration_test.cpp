// Walking the adapter list: the hidden-adapter table, the cursor at the end
// of the list, the record's bounded copies, and the list's lifetime.
#include <cstring>
#include <string>
#include <vector>

#include "adapter/enumeration.h"
#include "adapter_fixture.h"

namespace pkdv::testing {
namespace {

constexpr std::uint32_t kNothingMore = ERROR_NOT_SUPPORTED;
constexpr char kTunnel[] = "MS Tunnel Interface Driver";

// A record whose every byte is known, so that unwritten bytes can be checked.
struct Record {
  Record() { std::memset(&info, 0xCC, sizeof info); }
  std::string name() const { return info.name; }
  std::string description() const { return info.description; }
  bool same_as(const Record& other) const {
    return std::memcmp(&info, &other.info, sizeof info) == 0;
  }
  AdapterRegistryInfo info;
};

class EnumerationTest : public AdapterTest {
 protected:
  void list(std::vector<ScriptedDevice> devices) { capture_.devices = std::move(devices); }
  static std::uint32_t first(Record& r) { return PKDV_GetFirstAdapterRegistryInfo(&r.info); }
  static std::uint32_t next(Record& r) { return PKDV_GetNextAdapterRegistryInfo(&r.info); }
};

TEST_F(EnumerationTest, ReportsDescriptionAndNameAndNeverWritesTheReservedText) {
  list({{"rpcap://eth0", true, "first card"}, {"rpcap://eth1", true, "second card"}});
  Record r;
  ASSERT_EQ(first(r), 0u);
  EXPECT_EQ(capture_.last_list_source, "rpcap://");
  EXPECT_EQ(r.description(), "first card");
  EXPECT_EQ(r.name(), "rpcap://eth0");
  ASSERT_EQ(next(r), 0u);
  EXPECT_EQ(r.description(), "second card");
  EXPECT_EQ(r.name(), "rpcap://eth1");
  for (std::size_t i = 260; i < 520; ++i) {
    ASSERT_EQ(reinterpret_cast<const unsigned char*>(&r.info)[i], 0xCC) << "byte " << i;
  }
}

TEST_F(EnumerationTest, LongTextsAreCutTo259CharactersAndTerminated) {
  list({{std::string(300, 'n'), true, std::string(300, 'd')}});
  Record r;
  ASSERT_EQ(first(r), 0u);
  EXPECT_EQ(r.description(), std::string(259, 'd'));
  EXPECT_EQ(r.name(), std::string(259, 'n'));
}

// The table's text anywhere in a description, in its exact case, hides the
// adapter: first, between, or last in the list, or the only one there.
TEST_F(EnumerationTest, HiddenAdaptersAreSkippedAndTheEndStaysTheEnd) {
  list({{"a", true, kTunnel},
        {"b", true, "shown b"},
        {"c", true, std::string("x") + kTunnel},
        {"d", true, "ms tunnel interface driver"},
        {"e", true, "MS Tunnel Interface"},
        {"f", true, kTunnel}});
  Record r;
  ASSERT_EQ(first(r), 0u);
  EXPECT_EQ(r.name(), "b");
  ASSERT_EQ(next(r), 0u);
  EXPECT_EQ(r.name(), "d") << "the table matches in its exact case";
  ASSERT_EQ(next(r), 0u);
  EXPECT_EQ(r.name(), "e");
  const Record last_reported = r;
  EXPECT_EQ(next(r), kNothingMore);
  EXPECT_EQ(next(r), kNothingMore);
  EXPECT_TRUE(r.same_as(last_reported));

  list({{"tun", true, std::string("Microsoft ") + kTunnel + " #2"}});
  Record alone;
  const Record untouched;
  EXPECT_EQ(first(alone), kNothingMore);
  EXPECT_EQ(next(alone), kNothingMore);
  EXPECT_TRUE(alone.same_as(untouched));
}

TEST_F(EnumerationTest, AnAdapterWithoutDescriptionIsReportedWithAnEmptyOne) {
  list({{"bare", false, ""}, {"named", true, "card"}});
  Record r;
  ASSERT_EQ(first(r), 0u);
  EXPECT_EQ(r.name(), "bare");
  EXPECT_EQ(r.description(), "");
  ASSERT_EQ(next(r), 0u);
  EXPECT_EQ(r.name(), "named");
}

TEST_F(EnumerationTest, FirstAgainFreesTheOldListAndStartsOver) {
  list({{"a", true, "one"}, {"b", true, "two"}});
  Record r;
  ASSERT_EQ(first(r), 0u);
  ASSERT_EQ(next(r), 0u);
  ASSERT_EQ(first(r), 0u);
  EXPECT_EQ(r.name(), "a");
  EXPECT_EQ(capture_.lists_made, 2);
  EXPECT_EQ(capture_.lists_freed, 1);

  release_adapter_list();
  EXPECT_EQ(capture_.lists_freed, 2) << "unload frees the list held";
  EXPECT_EQ(next(r), kNothingMore);
}

TEST_F(EnumerationTest, NothingToWalkGivesFiftyWithTheRecordUnchanged) {
  const Record untouched;
  Record r;
  EXPECT_EQ(next(r), kNothingMore) << "no first call yet";

  list({});
  EXPECT_EQ(first(r), kNothingMore) << "empty list";
  EXPECT_EQ(next(r), kNothingMore);

  list({{"a", true, "one"}});
  capture_.list_fails = true;
  EXPECT_EQ(first(r), kNothingMore) << "list cannot be read";
  EXPECT_EQ(next(r), kNothingMore);

  capture_.list_fails = false;
  capture_.out_of_memory = true;
  EXPECT_EQ(first(r), kNothingMore) << "no memory in the capture unit for the list";
  EXPECT_EQ(next(r), kNothingMore);
  EXPECT_TRUE(r.same_as(untouched));
}

TEST_F(EnumerationTest, AFailedFirstCallStillFreesTheListBefore) {
  list({{"a", true, "one"}, {"b", true, "two"}});
  Record r;
  ASSERT_EQ(first(r), 0u);
  capture_.list_fails = true;
  EXPECT_EQ(first(r), kNothingMore);
  EXPECT_EQ(capture_.lists_freed, 1);
  EXPECT_EQ(next(r), kNothingMore) << "the old cursor went with its list";
}

TEST_F(EnumerationTest, ANullRecordGetsFiftyAndLeavesTheWalkWhereItWas) {
  list({{"a", true, "one"}, {"b", true, "two"}});
  Record r;
  EXPECT_EQ(PKDV_GetFirstAdapterRegistryInfo(nullptr), kNothingMore);
  EXPECT_EQ(capture_.lists_made, 0);

  ASSERT_EQ(first(r), 0u);
  EXPECT_EQ(PKDV_GetFirstAdapterRegistryInfo(nullptr), kNothingMore);
  EXPECT_EQ(PKDV_GetNextAdapterRegistryInfo(nullptr), kNothingMore);
  ASSERT_EQ(next(r), 0u);
  EXPECT_EQ(r.name(), "b");
  EXPECT_EQ(capture_.lists_made, 1);
}

}  // namespace
}  // namespace pkdv::testing
