#include "support/stats.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace pkdv::bench {

namespace {

double nearest_rank(const std::vector<double>& sorted, double percent) {
  const auto rank = static_cast<std::size_t>(std::ceil(percent / 100.0 * sorted.size()));
  return sorted[std::clamp<std::size_t>(rank, 1, sorted.size()) - 1];
}

}  // namespace

Summary summarize(std::vector<double> samples) {
  Summary summary;
  if (samples.empty()) return summary;
  std::sort(samples.begin(), samples.end());
  summary.count = samples.size();
  summary.min = samples.front();
  summary.p50 = nearest_rank(samples, 50);
  summary.p99 = nearest_rank(samples, 99);
  summary.max = samples.back();
  summary.mean = std::accumulate(samples.begin(), samples.end(), 0.0) / samples.size();
  return summary;
}

double median(std::vector<double> samples) {
  return summarize(std::move(samples)).p50;
}

}  // namespace pkdv::bench
