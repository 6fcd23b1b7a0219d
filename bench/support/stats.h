// Order statistics of a set of samples.
#pragma once

#include <cstddef>
#include <vector>

namespace pkdv::bench {

struct Summary {
  std::size_t count = 0;
  double min = 0;
  double p50 = 0;
  double p99 = 0;
  double max = 0;
  double mean = 0;
};

// Percentiles by the nearest-rank method: p99 of 200 samples is the 198th
// smallest, an observed value rather than an interpolation.
Summary summarize(std::vector<double> samples);

// The median of a few repetitions of one measurement.
double median(std::vector<double> samples);

}  // namespace pkdv::bench
