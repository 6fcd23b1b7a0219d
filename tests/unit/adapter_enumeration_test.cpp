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

TEST_F(EnumerationTest, TheOnlyAdapterHiddenReportsNothingAndLeavesTheRecordAlone) {
  list({{"tun", true, std::string("Microsoft ") + kTunnel + " #2"}});
  Record r;
  const Record untouched;
  EXPECT_EQ(first(r), kNothingMore);
  EXPECT_EQ(next(r), kNothingMore);
  EXPECT_TRUE(r.same_as(untouched));
}

TEST_F(EnumerationTest, HiddenAdaptersAreSkippedAndTheEndStaysTheEnd) {
  list({{"a", true, kTunnel},
        {"b", true, "shown b"},
        {"c", true, std::string("x") + kTunnel},
        {"d", true, "shown d"}});
  Record r;
  ASSERT_EQ(first(r), 0u);
  EXPECT_EQ(r.name(), "b");
  ASSERT_EQ(next(r), 0u);
  EXPECT_EQ(r.name(), "d");
  const Record last_reported = r;
  EXPECT_EQ(next(r), kNothingMore);
  EXPECT_EQ(next(r), kNothingMore);
  EXPECT_TRUE(r.same_as(last_reported));
}

TEST_F(EnumerationTest, AHiddenAdapterAtTheEndIsNotReportedOnLaterCalls) {
  list({{"a", true, "shown"}, {"b", true, kTunnel}});
  Record r;
  ASSERT_EQ(first(r), 0u);
  EXPECT_EQ(next(r), kNothingMore);
  EXPECT_EQ(next(r), kNothingMore);
  EXPECT_EQ(r.name(), "a");
}

TEST_F(EnumerationTest, TheTableMatchesCaseSensitively) {
  list({{"a", true, "ms tunnel interface driver"}, {"b", true, "MS Tunnel Interface"}});
  Record r;
  ASSERT_EQ(first(r), 0u);
  EXPECT_EQ(r.name(), "a");
  ASSERT_EQ(next(r), 0u);
  EXPECT_EQ(r.name(), "b");
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
  EXPECT_TRUE(r.same_as(untouched));
}

TEST_F(EnumerationTest, RunningOutOfMemoryInTheCaptureUnitIsAListThatCannotBeRead) {
  list({{"a", true, "one"}});
  capture_.out_of_memory = true;
  Record r;
  std::uint32_t result = 0;
  EXPECT_NO_THROW(result = first(r));
  EXPECT_EQ(result, kNothingMore);
  EXPECT_EQ(next(r), kNothingMore);
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
