#pragma once
// The metric classes behind stats_ifc: linear and enumeration ranges, boolean, scalar and log
// histograms, all over the same counter layout {sum: int64; count: uint32; one uint32 per
// bucket}, which lives either in the shared block or in process memory.
#include <cstdint>
#include <memory>
#include <string>

#include "vantor/services/metrics.h"

namespace vantor::metric {

// Counter bytes for a bucket count.
constexpr std::uint32_t counter_size(std::uint32_t buckets) { return 4 * buckets + 12; }

// The metric for a descriptor copy over its counters, or null when the descriptor does not fit
// its type (see the manager). `owned_counters` and the owned texts keep process-memory storage
// alive with the metric.
struct metric_storage {
    std::unique_ptr<std::uint64_t[]> counters;  // 8-byte aligned
    std::string name;
    std::string units;
};
stats_ifc* create_metric(const descriptor& d, void* counters, metric_storage storage);

// True when create_metric would make a counting metric of the descriptor (its type, range and
// bucket count fit together).
bool fits_type(const descriptor& d);

// The default units of a type ("na" for unknown types) and its default bucket count (0 for
// unknown types and for ranges that do not fit).
const char* default_units(std::uint32_t type);
std::uint32_t default_buckets(std::uint32_t type, std::int32_t minimum, std::int32_t maximum);

}  // namespace vantor::metric
