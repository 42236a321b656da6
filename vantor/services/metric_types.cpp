#include "vantor/services/metric_types.h"

#include <array>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

namespace vantor::metric {
namespace {

enum class shape { linear, enumeration, boolean, scalar, log_histogram };

class counter_metric final : public stats_ifc {
public:
    counter_metric(shape s, const descriptor& d, void* counters, metric_storage storage)
        : shape_(s), descriptor_(d), storage_(std::move(storage)),
          sum_(static_cast<std::int64_t*>(counters)),
          count_(reinterpret_cast<std::uint32_t*>(static_cast<std::uint8_t*>(counters) + 8)),
          buckets_(count_ + 1)
    {
        if (!storage_.name.empty()) descriptor_.name.text = storage_.name.data();
        if (!storage_.units.empty()) descriptor_.units.text = storage_.units.data();
        if (s == shape::log_histogram) bounds_ = log_bounds(d.minimum, d.maximum);
    }

    void* destroy_slot(unsigned) override { return this; }
    std::int32_t version() override { return 2; }
    const descriptor* get_descriptor() override { return &descriptor_; }

    void add(std::int32_t value, std::int32_t weight) override
    {
        const auto w = static_cast<std::uint32_t>(weight);
        std::atomic_ref<std::uint32_t>(buckets_[bucket_of(value)]).fetch_add(w);
        std::atomic_ref<std::uint32_t>(*count_).fetch_add(w);
        if (shape_ == shape::enumeration) return;
        // Product in 64 bits, added with wrap-around like the counts.
        const auto product =
            static_cast<std::uint64_t>(static_cast<std::int64_t>(value) * static_cast<std::int64_t>(weight));
        std::atomic_ref<std::int64_t> sum(*sum_);
        std::int64_t old = sum.load();
        while (!sum.compare_exchange_weak(old,
                                          static_cast<std::int64_t>(static_cast<std::uint64_t>(old) + product))) {
        }
    }

    std::uint32_t totals(std::uint32_t* count, std::int64_t* sum) override
    {
        if (count) *count = std::atomic_ref<std::uint32_t>(*count_).load();
        if (sum) *sum = std::atomic_ref<std::int64_t>(*sum_).load();
        return descriptor_.buckets;
    }

    bool bucket(std::uint32_t index, std::int32_t* lower, std::int32_t* upper, std::uint32_t* count) override
    {
        if (index >= descriptor_.buckets) return false;
        std::int32_t lo = 0, hi = 0;
        const std::int32_t min = descriptor_.minimum, max = descriptor_.maximum;
        const auto i = static_cast<std::int32_t>(index);
        switch (shape_) {
        case shape::log_histogram:
            lo = bounds_[index];
            hi = bounds_[index + 1];
            break;
        case shape::linear:
            if (index == 0) {
                lo = 0, hi = min;
            } else if (index + 1 == descriptor_.buckets) {
                lo = max + 1, hi = 2147483647;
            } else {
                lo = min + i - 1, hi = min + i;
            }
            break;
        case shape::enumeration:
            if (index == 0) {
                lo = 0, hi = min;
            } else {
                lo = min + i - 1, hi = min + i;
            }
            break;
        case shape::boolean:
            lo = i, hi = i + 1;
            break;
        case shape::scalar:
            lo = 0, hi = 2147483647;
            break;
        }
        if (lower) *lower = lo;
        if (upper) *upper = hi;
        if (count) *count = std::atomic_ref<std::uint32_t>(buckets_[index]).load();
        return true;
    }

    snapshot* make_snapshot() override
    {
        const std::uint32_t n = descriptor_.buckets;
        if (n > max_snapshot_buckets) return nullptr;
        auto* s = static_cast<snapshot*>(std::malloc(4 * n + 24));
        if (!s) return nullptr;
        s->bucket_count = n;
        fill(s);
        return s;
    }

    void update_snapshot(snapshot* s) override
    {
        if (s && s->bucket_count == descriptor_.buckets) fill(s);
    }

private:
    std::uint32_t bucket_of(std::int32_t v) const
    {
        const std::int32_t min = descriptor_.minimum, max = descriptor_.maximum;
        switch (shape_) {
        case shape::linear:
            if (v < min) return 0;
            if (v > max) return descriptor_.buckets - 1;
            return static_cast<std::uint32_t>(static_cast<std::int64_t>(v) - min + 1);
        case shape::enumeration:
            if (v < min || v > max) return 0;
            return static_cast<std::uint32_t>(static_cast<std::int64_t>(v) - min + 1);
        case shape::boolean:
            return v == 0 ? 0 : 1;
        case shape::scalar:
            return 0;
        case shape::log_histogram:
            if (v < min) return 0;
            if (v >= max) return 49;
            for (std::uint32_t b = 0; b < 50; ++b) {
                if (bounds_[b] <= v && v < bounds_[b + 1]) return b;
            }
            return 49;
        }
        return 0;
    }

    void fill(snapshot* s) const
    {
        s->count = std::atomic_ref<std::uint32_t>(*count_).load();
        s->sum = std::atomic_ref<std::int64_t>(*sum_).load();
        for (std::uint32_t i = 0; i < s->bucket_count; ++i) {
            s->buckets[i] = std::atomic_ref<std::uint32_t>(buckets_[i]).load();
        }
    }

    shape shape_;
    descriptor descriptor_;
    metric_storage storage_;
    std::int64_t* sum_;
    std::uint32_t* count_;
    std::uint32_t* buckets_;
    const std::int32_t* bounds_ = nullptr;
};

// Metric objects live until the process ends; this list owns them.
std::mutex metrics_lock;
std::vector<std::unique_ptr<counter_metric>>& all_metrics()
{
    static std::vector<std::unique_ptr<counter_metric>> metrics;
    return metrics;
}

stats_ifc* keep(std::unique_ptr<counter_metric> m)
{
    std::lock_guard guard(metrics_lock);
    all_metrics().push_back(std::move(m));
    return all_metrics().back().get();
}

// "metric.errors": bucket 2 for an unknown type, bucket 3 for a wrong bucket count.
void count_error(std::int32_t which)
{
    if (which == 2) {
        static stats_ifc* unknown_type = global_manager()->get_or_add_named("metric.errors", &enum_factory<3>);
        if (unknown_type) unknown_type->add(2, 1);
    } else {
        static stats_ifc* wrong_count = global_manager()->get_or_add_named("metric.errors", &enum_factory<3>);
        if (wrong_count) wrong_count->add(3, 1);
    }
}

}  // namespace

const char* default_units(std::uint32_t type)
{
    static const char* const units[] = {"linear", "enum", "event", "bool", "num", "ms", "us",
                                        "count", "count", "count", "us", "ms", "s/10", "s/10"};
    return type >= 1 && type <= 14 ? units[type - 1] : "na";
}

std::uint32_t default_buckets(std::uint32_t type, std::int32_t minimum, std::int32_t maximum)
{
    const std::int64_t span = static_cast<std::int64_t>(maximum) - minimum;
    switch (type) {
    case 1:
        return span + 3 >= 0 && span + 3 <= 50 ? static_cast<std::uint32_t>(span + 3) : 0;
    case 2:
        return span + 2 >= 0 && span + 2 <= 2000 ? static_cast<std::uint32_t>(span + 2) : 0;
    case 3:
    case 5:
        return 1;
    case 4:
        return 2;
    default:
        return type >= 6 && type <= 14 ? 50 : 0;
    }
}

const std::int32_t* log_bounds(std::int32_t minimum, std::int32_t maximum)
{
    static std::mutex lock;
    static std::map<std::pair<std::int32_t, std::int32_t>, std::unique_ptr<std::array<std::int32_t, 51>>> tables;
    std::lock_guard guard(lock);
    auto& slot = tables[{minimum, maximum}];
    if (!slot) {
        auto t = std::make_unique<std::array<std::int32_t, 51>>();
        auto& b = *t;
        b[0] = 0;
        b[1] = minimum;
        // A range starting below 1 has no logarithm; it is spread from 1.
        const double log_max = std::log(static_cast<double>(std::max(maximum, 1)));
        for (int i = 2; i <= 49; ++i) {
            const std::int32_t p = b[i - 1];
            const double log_p = std::log(static_cast<double>(std::max(p, 1)));
            const double r = std::round(std::exp(log_p + (log_max - log_p) / (50 - i)));
            std::int32_t v = r >= 2147483647.0 ? 2147483647 : static_cast<std::int32_t>(r);
            if (v <= p) v = p == 2147483647 ? p : p + 1;
            b[i] = v;
        }
        b[50] = 2147483647;
        slot = std::move(t);
    }
    return slot->data();
}

bool fits_type(const descriptor& d)
{
    if (d.buckets == 0 || d.maximum < d.minimum) return false;
    const std::int64_t span = static_cast<std::int64_t>(d.maximum) - d.minimum;
    switch (d.type) {
    case 1:
        return d.buckets == span + 3 && span != 0;
    case 2:
        return d.buckets == span + 2 && d.minimum == 1;
    default:
        return d.type >= 3 && d.type <= 14 && d.buckets == default_buckets(d.type, d.minimum, d.maximum);
    }
}

stats_ifc* create_metric(const descriptor& d, void* counters, metric_storage storage)
{
    if (!counters || d.buckets == 0 || d.maximum < d.minimum) return nullptr;
    const std::int64_t span = static_cast<std::int64_t>(d.maximum) - d.minimum;
    shape s;
    switch (d.type) {
    case 0:
        return nullptr;
    case 1:
        if (d.buckets != span + 3) return dummy_metric();
        if (span == 0) return nullptr;
        s = shape::linear;
        break;
    case 2:
        if (d.buckets != span + 2) return dummy_metric();
        if (d.minimum != 1) return nullptr;
        s = shape::enumeration;
        break;
    default:
        if (d.type > 14) {
            count_error(2);
            return nullptr;
        }
        if (d.buckets != default_buckets(d.type, d.minimum, d.maximum)) {
            count_error(3);
            return nullptr;
        }
        s = d.type == 4 ? shape::boolean : d.type == 3 || d.type == 5 ? shape::scalar : shape::log_histogram;
        break;
    }
    return keep(std::make_unique<counter_metric>(s, d, counters, std::move(storage)));
}

}  // namespace vantor::metric
