#include "output.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>

#include "frame_summary.h"
#include "options.h"

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

std::string time_text(int64_t timestamp, bool utc) {
  using namespace std::chrono;
  constexpr int64_t kTicksPerSecond = 10'000'000;
  // Floor division keeps times before 1970 on the right day and second.
  int64_t seconds = timestamp / kTicksPerSecond;
  int64_t ticks = timestamp % kTicksPerSecond;
  if (ticks < 0) ticks += kTicksPerSecond, --seconds;
  if (!utc) {
    // The client prints from one thread: localtime's shared result is safe here.
    std::time_t when = static_cast<std::time_t>(seconds);
    if (const std::tm* local = std::localtime(&when)) {
      char text[48];
      std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%06d", local->tm_year + 1900,
                    local->tm_mon + 1, local->tm_mday, local->tm_hour, local->tm_min, local->tm_sec,
                    int(ticks / 10));
      return text;
    }
  }
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

namespace {

// "00:00:01.000250" for a span of time in 100 ns units (hours grow past 24).
std::string span_text(int64_t ticks) {
  if (ticks < 0) ticks = 0;
  int64_t micros = ticks / 10;
  char text[48];
  std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld.%06lld",
                (long long)(micros / 3'600'000'000), (long long)(micros / 60'000'000 % 60),
                (long long)(micros / 1'000'000 % 60), (long long)(micros % 1'000'000));
  return text;
}

std::string time_column(int64_t timestamp, const LineFormat& format) {
  switch (format.time) {
    case TimeColumn::kNone:
      return "";
    case TimeColumn::kEpoch: {
      char text[32];
      std::snprintf(text, sizeof text, "%lld.%06lld", (long long)(timestamp / 10'000'000),
                    (long long)(timestamp % 10'000'000 / 10));
      return text;
    }
    case TimeColumn::kSincePrevious:
    case TimeColumn::kSinceFirst:
      return span_text(timestamp - format.reference);
    case TimeColumn::kDateTime:
      break;
  }
  return time_text(timestamp, format.utc);
}

}  // namespace

std::string frame_line(const PacketBuffer& buffer, const LineFormat& format) {
  char head[96];
  if (buffer.status == NDIS_STATUS_FAILURE) {
    // A failed read carries nothing but its status; the other fields are a previous frame's.
    std::snprintf(head, sizeof head, "%6s %-26s %11s %s", "-", "-", "-",
                  status_name(buffer.status).c_str());
    return head;
  }
  std::snprintf(head, sizeof head, "%6llu %s%s%5u/%-5u", (unsigned long long)buffer.sequence,
                time_column(static_cast<int64_t>(buffer.timestamp), format).c_str(),
                format.time == TimeColumn::kNone ? "" : " ", buffer.captured_length,
                buffer.wire_length);
  std::string line = head;
  if (format.verbose || buffer.status != NDIS_STATUS_SUCCESS) {
    line += ' ';
    line += status_name(buffer.status);
  }
  if (buffer.status != NDIS_STATUS_SUCCESS) return line;
  uint32_t held =
      buffer.captured_length < buffer.capacity ? buffer.captured_length : buffer.capacity;
  return line + " " +
         summarize_frame(format.link_type, {buffer.data, held},
                         {.link_header = format.link_header, .verbose = format.verbose,
                          .quiet = format.quiet});
}

std::string ascii_dump(std::span<const uint8_t> bytes) {
  constexpr size_t kPerLine = 64;
  std::string text;
  for (size_t at = 0; at < bytes.size(); ++at) {
    text += bytes[at] >= 0x20 && bytes[at] < 0x7F ? char(bytes[at]) : '.';
    if ((at + 1) % kPerLine == 0 || at + 1 == bytes.size()) text += '\n';
  }
  return text;
}

std::string hex_dump(std::span<const uint8_t> bytes, bool ascii) {
  std::string text;
  for (size_t line = 0; line < bytes.size(); line += 16) {
    char part[32];
    std::snprintf(part, sizeof part, "\t0x%04zx: ", line);
    text += part;
    size_t end = std::min(bytes.size(), line + 16);
    // Without ASCII a short last line just ends; with it the columns are kept.
    for (size_t i = line; i < (ascii ? line + 16 : end); ++i) {
      if (i % 2 == 0) text += ' ';
      if (i < end) {
        std::snprintf(part, sizeof part, "%02x", bytes[i]);
        text += part;
      } else {
        text += "  ";
      }
    }
    if (ascii) {
      text += "  ";
      for (size_t i = line; i < end; ++i)
        text += bytes[i] >= 0x20 && bytes[i] < 0x7F ? char(bytes[i]) : '.';
    }
    text += '\n';
  }
  return text;
}

void RunTally::add(const PacketBuffer& buffer) {
  ++per_status[buffer.status];
  if (buffer.status == NDIS_STATUS_FAILURE) return;  // no other field was written
  ++frames;
  bytes += buffer.captured_length;
}

std::string summary_text(const RunTally& tally, double elapsed_seconds,
                         std::optional<LiveCounts> live) {
  char line[160];
  double rate = elapsed_seconds > 0 ? double(tally.frames) / elapsed_seconds : 0.0;
  std::snprintf(line, sizeof line, "%llu bytes in %.3f s (%.1f packets/s)\n",
                (unsigned long long)tally.bytes, elapsed_seconds, rate);
  std::string text = line;
  for (auto [status, count] : tally.per_status) {
    if (status != NDIS_STATUS_SUCCESS)
      text += std::to_string(count) + " reads " + status_name(status) + "\n";
  }
  if (live && live->ran_out != 0) {
    std::snprintf(line, sizeof line, "reads ran out %llu times (%u reads at the end)\n",
                  (unsigned long long)live->ran_out, live->reads);
    text += line;
  }
  auto packets = [](uint64_t count) { return count == 1 ? "packet" : "packets"; };
  std::snprintf(line, sizeof line, "%llu %s captured\n", (unsigned long long)tally.frames,
                packets(tally.frames));
  text += line;
  if (live && live->dropped) {
    const uint64_t received = tally.frames + *live->dropped;
    std::snprintf(line, sizeof line, "%llu %s received by filter\n%llu %s dropped by kernel\n",
                  (unsigned long long)received, packets(received),
                  (unsigned long long)*live->dropped, packets(*live->dropped));
    text += line;
  }
  return text;
}

}  // namespace pkdv_capture
