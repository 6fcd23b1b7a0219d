#include "output.h"

#include <chrono>
#include <cstdio>

#include "frame_summary.h"

namespace pkdv_capture {

std::string status_name(uint32_t status) {
  switch (status) {
    case NDIS_STATUS_SUCCESS:
      return "NDIS_STATUS_SUCCESS";
    case NDIS_STATUS_FAILURE:
      return "NDIS_STATUS_FAILURE";
    case NDIS_STATUS_ADAPTER_NOT_READY:
      return "NDIS_STATUS_ADAPTER_NOT_READY";
    case NDIS_STATUS_INVALID_LENGTH:
      return "NDIS_STATUS_INVALID_LENGTH";
    case NDIS_STATUS_INVALID_DATA:
      return "NDIS_STATUS_INVALID_DATA";
    case ERROR_NOT_SUPPORTED:
      return "ERROR_NOT_SUPPORTED";
  }
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", status);
  return text;
}

std::string utc_time_text(int64_t timestamp) {
  using namespace std::chrono;
  constexpr int64_t kTicksPerSecond = 10'000'000;
  // Floor division keeps times before 1970 on the right day and second.
  int64_t seconds = timestamp / kTicksPerSecond;
  int64_t ticks = timestamp % kTicksPerSecond;
  if (ticks < 0) ticks += kTicksPerSecond, --seconds;
  sys_seconds when{std::chrono::seconds{seconds}};
  sys_days day = floor<days>(when);
  year_month_day date{day};
  hh_mm_ss clock{when - day};
  char text[48];
  std::snprintf(text, sizeof text, "%04d-%02u-%02u %02d:%02d:%02d.%06d", int(date.year()),
                unsigned(date.month()), unsigned(date.day()), int(clock.hours().count()),
                int(clock.minutes().count()), int(clock.seconds().count()), int(ticks / 10));
  return text;
}

std::string frame_line(const PacketBuffer& buffer) {
  char head[96];
  if (buffer.status == NDIS_STATUS_FAILURE) {
    // A failed read carries nothing but its status; the other fields are a previous frame's.
    std::snprintf(head, sizeof head, "%6s %-26s %11s %s", "-", "-", "-",
                  status_name(buffer.status).c_str());
    return head;
  }
  std::snprintf(head, sizeof head, "%6llu %s %5u/%-5u %s", (unsigned long long)buffer.sequence,
                utc_time_text(static_cast<int64_t>(buffer.timestamp)).c_str(),
                buffer.captured_length, buffer.wire_length, status_name(buffer.status).c_str());
  if (buffer.status != NDIS_STATUS_SUCCESS) return head;
  uint32_t held =
      buffer.captured_length < buffer.capacity ? buffer.captured_length : buffer.capacity;
  return std::string(head) + " " + summarize_frame({buffer.data, held});
}

void RunTally::add(const PacketBuffer& buffer) {
  ++per_status[buffer.status];
  if (buffer.status == NDIS_STATUS_FAILURE) return;  // no other field was written
  ++frames;
  bytes += buffer.captured_length;
}

std::string summary_text(const RunTally& tally, double elapsed_seconds) {
  char line[128];
  double rate = elapsed_seconds > 0 ? double(tally.frames) / elapsed_seconds : 0.0;
  std::snprintf(line, sizeof line, "%llu frames, %llu bytes in %.3f s (%.1f frames/s)\n",
                (unsigned long long)tally.frames, (unsigned long long)tally.bytes, elapsed_seconds,
                rate);
  std::string text = line;
  for (auto [status, count] : tally.per_status)
    text += status_name(status) + " " + std::to_string(count) + "\n";
  return text;
}

}  // namespace pkdv_capture
