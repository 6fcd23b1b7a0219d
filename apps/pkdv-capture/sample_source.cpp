#include "sample_source.h"

#include "adapter.h"
#include "platform.h"

namespace pkdv_capture {

std::vector<std::filesystem::path> sample_candidates() {
  std::vector<std::filesystem::path> candidates;
  std::filesystem::path directory = executable_directory();
  if (!directory.empty()) {
    candidates.push_back(directory / kSampleFileName);
    candidates.push_back(directory.parent_path() / "share" / "pkdv" / kSampleFileName);
  }
  candidates.push_back(PKDV_SAMPLE_SOURCE_PATH);
  return candidates;
}

std::string sample_source() {
  std::string looked_in;
  for (const std::filesystem::path& candidate : sample_candidates()) {
    std::error_code error;
    if (std::filesystem::is_regular_file(candidate, error))
      return kFileSourcePrefix + candidate.string();
    looked_in += (looked_in.empty() ? "" : ", ") + candidate.string();
  }
  throw AdapterError("the sample savefile is missing (looked for " + looked_in + ")");
}

}  // namespace pkdv_capture
