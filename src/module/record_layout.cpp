// The client records cross the boundary by byte offset: pin every offset.
#include <cstddef>

#include "pkdv.h"

static_assert(offsetof(PacketBuffer, status) == 24);
static_assert(offsetof(PacketBuffer, sequence) == 28);
static_assert(offsetof(PacketBuffer, timestamp) == 36);
static_assert(offsetof(PacketBuffer, captured_length) == 44);
static_assert(offsetof(PacketBuffer, wire_length) == 48);
static_assert(offsetof(PacketBuffer, capacity) == 52);
static_assert(offsetof(PacketBuffer, data) == PKDV_PACKET_BUFFER_HEADER_SIZE);

static_assert(sizeof(AdapterRegistryInfo) == 780);
static_assert(offsetof(AdapterRegistryInfo, description) == 0);
static_assert(offsetof(AdapterRegistryInfo, reserved) == 260);
static_assert(offsetof(AdapterRegistryInfo, name) == 520);

static_assert(offsetof(NdisRequestRecord, request_type) == 20);
static_assert(offsetof(NdisRequestRecord, oid) == 24);
static_assert(sizeof(void*) == 4 || sizeof(void*) == 8);
// Pointer-sized fields widen on 64-bit builds: the information-buffer pointer
// moves from 28 to 32 and the fields after it follow.
constexpr std::size_t kWiden = sizeof(void*) == 4 ? 0 : 4;
static_assert(offsetof(NdisRequestRecord, information_buffer) == 28 + kWiden);
static_assert(offsetof(NdisRequestRecord, information_buffer_length) == 32 + 2 * kWiden);
static_assert(offsetof(NdisRequestRecord, bytes_written) == 36 + 2 * kWiden);
static_assert(offsetof(NdisRequestRecord, bytes_needed) == 40 + 2 * kWiden);
static_assert(sizeof(AdapterHandle) == sizeof(void*));
