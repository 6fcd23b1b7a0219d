// Walks the capture library's adapter list one adapter per call, hiding the
// adapters that must not be offered to the client.
#include "adapter/enumeration.h"

#include <cstdint>
#include <cstring>
#include <mutex>
#include <new>

#include "pkdv.h"
#include "capture/capture.h"
#include "capture/capture_source.h"
#include "platform/platform.h"
#include "platform/trace.h"

namespace capture = pkdv::capture;

namespace {

constexpr int kTextLimit = PKDV_ADAPTER_TEXT_SIZE;
constexpr std::uint32_t kNothingToReport = ERROR_NOT_SUPPORTED;

// Descriptions of adapters that are never reported, as substrings; the empty
// slot ends the table.
const char* const DisabledAdapterTable[] = {"MS Tunnel Interface Driver", nullptr};

// The list and the cursor are module-wide: two threads enumerating at once
// take turns, so that neither frees the list under the other. The lock is
// built in static storage and never destroyed, so a client thread still
// enumerating while the process exits finds it intact; nor is it allocated,
// so unloading leaves nothing of it behind.
alignas(std::mutex) unsigned char enumeration_lock_storage[sizeof(std::mutex)];
std::mutex& enumeration_lock = *new (enumeration_lock_storage) std::mutex;
capture::Device* adapter_list = nullptr;
// The element last examined: the one last reported, or a hidden one at the
// end of the list.
const capture::Device* cursor = nullptr;

// An adapter listed without a description is treated as having an empty one,
// by the filter and by the copy alike: it is reported, never hidden.
const char* description_of(const capture::Device* device) {
  const char* description = capture::device_description(device);
  return description ? description : "";
}

const char* name_of(const capture::Device* device) {
  const char* name = capture::device_name(device);
  return name ? name : "";
}

// The capture unit builds the list in allocated storage; running out of
// memory there is a list that cannot be read. Either way the client sees an
// empty list, so the library's reason is not kept.
capture::Device* read_adapter_list() {
  capture::Device* list = nullptr;
  char reason[capture::kErrorBufferSize];
  try {
    if (capture::find_all_devices(capture::kAdapterSourcePrefix.data(), &list, reason) != 0) return nullptr;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  return list;
}

bool isDisableOpenAdapter(const char* description) {
  pkdv::trace("isDisableOpenAdapter=>( %.255s )\n", description);
  for (const char* const* entry = DisabledAdapterTable; *entry != nullptr; ++entry) {
    if (std::strstr(description, *entry) != nullptr) {
      pkdv::trace("find disable adapter:%.255s\n", *entry);
      return true;
    }
  }
  pkdv::trace("isDisableOpenAdapter<=( ret %d )\n", 0);
  return false;
}

bool is_hidden(const capture::Device* device) {
  return isDisableOpenAdapter(description_of(device));
}

// Moves the cursor on to the next adapter that is not hidden. False at the end
// of the list, where the cursor stays on the last element examined.
bool advance_to_shown_adapter() {
  do {
    const capture::Device* next = capture::device_next(cursor);
    if (next == nullptr) return false;
    cursor = next;
  } while (is_hidden(cursor));
  return true;
}

// The reserved text between the two is the client's and is never written.
void report_cursor(AdapterRegistryInfo* info) {
  pkdv::sys::copy_text(info->name, name_of(cursor), kTextLimit);
  pkdv::sys::copy_text(info->description, description_of(cursor), kTextLimit);
}

}  // namespace

namespace pkdv {

void release_adapter_list() {
  std::lock_guard guard(enumeration_lock);
  if (adapter_list != nullptr) capture::free_all_devices(adapter_list);
  adapter_list = nullptr;
  cursor = nullptr;
}

void forget_enumeration_after_fork() {
  new (&enumeration_lock) std::mutex;
  adapter_list = nullptr;
  cursor = nullptr;
}

}  // namespace pkdv

// A null `info` has nowhere to report to: the call answers 50 and leaves the
// list and the cursor as they were.
extern "C" uint32_t PKDV_CALL PKDV_GetFirstAdapterRegistryInfo(AdapterRegistryInfo* info) {
  if (info == nullptr) return kNothingToReport;
  std::lock_guard guard(enumeration_lock);
  if (adapter_list != nullptr) capture::free_all_devices(adapter_list);
  adapter_list = read_adapter_list();
  cursor = adapter_list;
  if (cursor == nullptr) return kNothingToReport;
  if (is_hidden(cursor) && !advance_to_shown_adapter()) return kNothingToReport;
  report_cursor(info);
  return NDIS_STATUS_SUCCESS;
}

extern "C" uint32_t PKDV_CALL PKDV_GetNextAdapterRegistryInfo(AdapterRegistryInfo* info) {
  if (info == nullptr) return kNothingToReport;
  std::lock_guard guard(enumeration_lock);
  if (cursor == nullptr) return kNothingToReport;
  if (!advance_to_shown_adapter()) return kNothingToReport;
  report_cursor(info);
  return NDIS_STATUS_SUCCESS;
}
