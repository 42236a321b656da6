#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "vantor/core/log.h"
#include "vantor/core/win_api.h"
#include "vantor/services/metrics.h"
#include "vantor/services/metrics_block.h"

using namespace vantor::metric;

namespace {

// Every test of this file shares one local manager as the process-wide manager, as a process
// does after start-up.
stats_ifc_manager* local()
{
    static stats_ifc_manager* m = [] {
        stats_ifc_manager* made = create_local_manager();
        set_global_manager(made);
        return made;
    }();
    return m;
}

descriptor make(const char* name, std::uint32_t type, std::int32_t min, std::int32_t max, std::uint32_t buckets = 0)
{
    return {descriptor_size, {static_cast<std::uint32_t>(std::strlen(name)), name}, {0, nullptr}, type, min, max,
            buckets};
}

std::uint32_t bucket_count_of(stats_ifc* m, std::uint32_t index)
{
    std::uint32_t count = 0;
    EXPECT_TRUE(m->bucket(index, nullptr, nullptr, &count));
    return count;
}

struct log_capture {
    log_capture() { vantor::set_log_line_observer(&observe, this); }
    ~log_capture() { vantor::set_log_line_observer(nullptr, nullptr); }
    static void observe(const char* text, std::size_t length, void* self)
    {
        auto* me = static_cast<log_capture*>(self);
        std::lock_guard guard(me->lock);
        me->lines.emplace_back(text, length);
    }
    bool contains(const std::string& part)
    {
        std::lock_guard guard(lock);
        for (const auto& l : lines) {
            if (l.find(part) != std::string::npos) return true;
        }
        return false;
    }
    std::mutex lock;
    std::vector<std::string> lines;
};

}  // namespace

TEST(MetricsBounds, TablesMatchTheirPublishedRows)
{
    struct row {
        std::int32_t min, max;
        std::int32_t first[12];
        std::int32_t last[10];
    };
    const row rows[] = {
        {1, 200, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}, {99, 107, 116, 125, 135, 146, 158, 171, 185, 200}},
        {1, 2000, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 13}, {586, 672, 770, 882, 1011, 1159, 1328, 1522, 1745, 2000}},
        {2, 2000, {2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 13, 15}, {606, 692, 790, 902, 1030, 1176, 1343, 1534, 1752, 2000}},
        {2, 20000, {2, 3, 4, 5, 6, 7, 8, 10, 12, 14, 17, 20},
         {3717, 4481, 5402, 6513, 7852, 9467, 11413, 13760, 16589, 20000}},
        {10, 20000, {10, 12, 14, 16, 19, 22, 26, 30, 35, 41, 48, 56},
         {4779, 5603, 6569, 7701, 9029, 10586, 12411, 14551, 17059, 20000}},
        {10, 200000, {10, 12, 15, 18, 22, 27, 33, 41, 50, 62, 76, 94},
         {31047, 38186, 46967, 57768, 71052, 87391, 107487, 132205, 162607, 200000}},
    };
    for (const row& r : rows) {
        const std::int32_t* b = log_bounds(r.min, r.max);
        EXPECT_EQ(b[0], 0);
        EXPECT_EQ(b[50], 2147483647);
        for (int i = 0; i < 12; ++i) EXPECT_EQ(b[1 + i], r.first[i]) << r.min << ".." << r.max << " bound " << 1 + i;
        for (int i = 0; i < 10; ++i) EXPECT_EQ(b[40 + i], r.last[i]) << r.min << ".." << r.max << " bound " << 40 + i;
        EXPECT_EQ(log_bounds(r.min, r.max), b) << "one table per range";
    }
}

TEST(Metrics, BucketChoiceAtTheEdges)
{
    local();
    stats_ifc* h = add_histogram(10, "test.hist_1_200");
    ASSERT_NE(h->get_descriptor(), nullptr);
    for (auto [value, bucket] : std::vector<std::pair<int, unsigned>>{{0, 0}, {-5, 0}, {1, 1}, {200, 49}, {5000, 49},
                                                                     {199, 48}}) {
        const std::uint32_t before = bucket_count_of(h, bucket);
        h->add(value, 1);
        EXPECT_EQ(bucket_count_of(h, bucket), before + 1) << "value " << value;
    }
    std::int32_t lo = 0, hi = 0;
    ASSERT_TRUE(h->bucket(48, &lo, &hi, nullptr));
    EXPECT_EQ(lo, 185);
    EXPECT_EQ(hi, 200);

    const descriptor ld = make("test.linear", 1, 0, 10);
    stats_ifc* lin = register_checked(local(), ld);
    ASSERT_NE(lin->get_descriptor(), nullptr);
    EXPECT_EQ(lin->get_descriptor()->buckets, 13u);
    EXPECT_EQ(std::string(lin->get_descriptor()->units.text, lin->get_descriptor()->units.length), "linear");
    for (auto [value, bucket] : std::vector<std::pair<int, unsigned>>{{-1, 0}, {0, 1}, {10, 11}, {11, 12}}) {
        lin->add(value, 2);
        EXPECT_EQ(bucket_count_of(lin, bucket), 2u) << "value " << value;
    }
    std::uint32_t count = 0;
    std::int64_t sum = 0;
    EXPECT_EQ(lin->totals(&count, &sum), 13u);
    EXPECT_EQ(count, 8u);
    EXPECT_EQ(sum, 2 * (-1 + 0 + 10 + 11));
    ASSERT_TRUE(lin->bucket(12, &lo, &hi, nullptr));
    EXPECT_EQ(lo, 11);
    EXPECT_EQ(hi, 2147483647);

    stats_ifc* e = add_enum("test.enum3", 3);
    ASSERT_NE(e->get_descriptor(), nullptr);
    EXPECT_EQ(e->get_descriptor()->buckets, 4u);
    for (int v : {0, 4, 1, 2, 3}) e->add(v, 1);
    EXPECT_EQ(bucket_count_of(e, 0), 2u);
    for (unsigned b = 1; b <= 3; ++b) EXPECT_EQ(bucket_count_of(e, b), 1u);
    e->totals(&count, &sum);
    EXPECT_EQ(count, 5u);
    EXPECT_EQ(sum, 0) << "enumerations do not add to the sum";
}

TEST(Metrics, SnapshotsAndTheDoNothingMetric)
{
    local();
    stats_ifc* h = add_histogram(6, "test.snap");
    h->add(3, 2);
    snapshot* s = h->make_snapshot();
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->bucket_count, 50u);
    EXPECT_EQ(s->count, 2u);
    EXPECT_EQ(s->sum, 6);
    snapshot* small = static_cast<snapshot*>(std::malloc(4 * 2 + 24));
    small->bucket_count = 2;
    small->count = 77;
    h->update_snapshot(small);
    EXPECT_EQ(small->count, 77u) << "a snapshot of another size is left alone";
    h->add(3, 1);
    h->update_snapshot(s);
    EXPECT_EQ(s->count, 3u);
    std::free(small);
    std::free(s);

    stats_ifc* d = dummy_metric();
    std::uint32_t count = 9;
    std::int64_t sum = 9;
    EXPECT_EQ(d->totals(&count, &sum), 1u);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(sum, 0);
    std::int32_t lo = -1, hi = -1;
    EXPECT_TRUE(d->bucket(0, &lo, &hi, nullptr));
    EXPECT_EQ(hi, 1);
    EXPECT_FALSE(d->bucket(1, nullptr, nullptr, nullptr));
    EXPECT_EQ(d->make_snapshot(), nullptr);
}

TEST(Metrics, RefusedDescriptorsCountInMetricErrors)
{
    local();
    stats_ifc* errors = local()->get_or_add_named("metric.errors", &enum_factory<3>);
    ASSERT_NE(errors->get_descriptor(), nullptr);
    const std::uint32_t unknown_before = bucket_count_of(errors, 2);
    const std::uint32_t wrong_before = bucket_count_of(errors, 3);

    const descriptor unknown = make("test.type15", 15, 0, 10, 5);
    EXPECT_EQ(local()->get_or_add(&unknown, true), dummy_metric());
    EXPECT_EQ(bucket_count_of(errors, 2), unknown_before + 1);

    const descriptor wrong = make("test.type6_49", 6, 2, 20000, 49);
    EXPECT_EQ(local()->get_or_add(&wrong, true), dummy_metric());
    EXPECT_EQ(bucket_count_of(errors, 3), wrong_before + 1);

    const descriptor no_count = make("test.type15_nocount", 15, 0, 10, 0);
    EXPECT_EQ(local()->get_or_add(&no_count, true), dummy_metric());
    EXPECT_EQ(bucket_count_of(errors, 2), unknown_before + 1);
    EXPECT_EQ(bucket_count_of(errors, 3), wrong_before + 1);

    // Refused before any type check.
    descriptor bad_size = make("test.size", 6, 2, 20000);
    bad_size.size = 40;
    EXPECT_EQ(local()->get_or_add(&bad_size, true), dummy_metric());
    const descriptor enum_from_zero = make("test.enum0", 2, 0, 3);
    EXPECT_EQ(local()->get_or_add(&enum_from_zero, true), dummy_metric());
    const descriptor too_many = make("test.linear_wide", 1, 0, 100);
    EXPECT_EQ(local()->get_or_add(&too_many, true), dummy_metric());
    EXPECT_EQ(add_histogram(3, "test.kind3"), dummy_metric());
}

TEST(Metrics, DescriptorHashFollowsItsFormula)
{
    const descriptor d = make("ab", 6, 2, 20000);
    auto fnv = [](const void* p, std::size_t n) {
        std::uint32_t h = 0x811c9dc5;
        for (std::size_t i = 0; i < n; ++i) h = (h ^ static_cast<const std::uint8_t*>(p)[i]) * 16777619u;
        return h;
    };
    const std::int32_t max = 20000, min = 2;
    const std::uint32_t type = 6;
    const std::uint32_t expected =
        fnv("ab", 2) ^ ((((fnv(&max, 4) * 2) ^ fnv(&min, 4)) * 2) ^ fnv(&type, 4)) * 2;
    EXPECT_EQ(hash_descriptor(d), expected);
    EXPECT_EQ(local()->descriptor_hash(&d), expected);
    EXPECT_EQ(hash_descriptor(make("", 6, 2, 20000)), 0u);
}

// The first registration of a name runs its factory; the factory may itself register named
// metrics through the same manager without waiting for itself.
stats_ifc* __cdecl nesting_factory(const char* name)
{
    global_manager()->get_or_add_named("test.nested_inner", &histogram_factory<9>);
    return add_histogram(12, name);
}

TEST(Metrics, NamedRegistrationReturnsOneObjectAndMayNest)
{
    local();
    stats_ifc* a = global_manager()->get_or_add_named("test.named", &nesting_factory);
    stats_ifc* b = global_manager()->get_or_add_named("test.named", &histogram_factory<6>);
    EXPECT_EQ(a, b);
    ASSERT_NE(a->get_descriptor(), nullptr);
    EXPECT_EQ(a->get_descriptor()->type, 12u);
    EXPECT_NE(global_manager()->get_or_add_named("test.nested_inner", nullptr), nullptr);
    EXPECT_EQ(global_manager()->get_or_add_named("test.never_registered", nullptr), nullptr);

    // Two objects over one data entry of the block share their counters.
    const descriptor d = make("test.shared_counters", 9, 2, 2000);
    stats_ifc* x = local()->get_or_add(&d, false);
    stats_ifc* y = local()->get_or_add(&d, false);
    ASSERT_NE(x, y);
    x->add(5, 1);
    y->add(5, 1);
    std::uint32_t count = 0;
    x->totals(&count, nullptr);
    EXPECT_EQ(count, 2u);
}

TEST(MetricsBlock, AllocationSizesAndStrings)
{
    persistent::store s;
    ASSERT_TRUE(s.init_new());
    const std::uint8_t* base = s.base();
    std::uint32_t word;
    std::memcpy(&word, base + 28, 4);
    EXPECT_EQ(word, 32u);
    std::memcpy(&word, base + 8, 4);
    EXPECT_EQ(word, block_hash(0xbf1cd3c3, 0x200000, 32));
    EXPECT_TRUE(check_block_header(base, block_total_size));

    auto next_free = [&] {
        std::uint32_t v;
        std::memcpy(&v, base + 28, 4);
        return v;
    };
    for (auto [payload, taken] : std::vector<std::pair<std::uint32_t, std::uint32_t>>{{1, 32}, {16, 32}, {17, 48}}) {
        const std::uint32_t before = next_free();
        ASSERT_NE(s.alloc(payload, 0x1234), nullptr);
        EXPECT_EQ(next_free() - before, taken) << payload << " payload bytes";
    }
    EXPECT_EQ(s.alloc(0, 0x1234), nullptr);
    EXPECT_EQ(s.alloc(0x20001, 0x1234), nullptr);

    const std::string longest(1024, 'x');
    const std::uint32_t at = s.add_string(longest);
    ASSERT_NE(at, 0u);
    EXPECT_EQ(s.read_string(at), longest);
    EXPECT_EQ(s.add_string(std::string(1025, 'x')), 0u);
    EXPECT_EQ(s.add_string(""), 0u);
    // The uncommitted test entries above are skipped by lookups.
    EXPECT_EQ(s.find_string(longest), at);
    EXPECT_EQ(s.find_or_add_string(longest), at);

    const std::uint32_t type[4] = {6, 50, 2, 20000};
    const std::uint32_t t = s.find_or_add_type(type);
    ASSERT_NE(t, 0u);
    EXPECT_EQ(s.find_or_add_type(type), t);
    const std::uint32_t key[4] = {at, at, t, 0};
    const std::uint32_t data = s.find_or_add_data(key, 4 * 50 + 12);
    ASSERT_NE(data, 0u);
    EXPECT_EQ(s.find_or_add_data(key, 4 * 50 + 12), data);
    EXPECT_EQ(s.get(data, true)->size, (4u * 50 + 59) & ~15u);
}

TEST(MetricsBlock, DamagedEntryStopsTheScanAndFullBlockFails)
{
    persistent::store s;
    ASSERT_TRUE(s.init_new());
    const std::uint32_t a = s.add_string("first");
    const std::uint32_t b = s.add_string("second");
    const std::uint32_t c = s.add_string("third");
    ASSERT_TRUE(a && b && c);
    int seen = 0;
    s.for_each([&](std::uint32_t, persistent::entry_header*) { return ++seen, true; });
    EXPECT_EQ(seen, 3);
    s.get(b, true)->hash ^= 1;
    seen = 0;
    s.for_each([&](std::uint32_t, persistent::entry_header*) { return ++seen, true; });
    EXPECT_EQ(seen, 1);
    EXPECT_EQ(s.find_string("third"), 0u);

    for (std::uint32_t n = 0x20000; n >= 1; n /= 2) {
        while (s.alloc(n, 0x55)) {
        }
    }
    EXPECT_EQ(s.add_string("no room"), 0u);
}

TEST(MetricsBlock, HandedOverBlockIsCheckedBeforeUse)
{
    log_capture log;
    persistent::store parent;
    ASSERT_TRUE(parent.init_new());
    HANDLE h = parent.mapping().duplicate_to();
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(parent.mapping().duplicate_to(), h) << "duplicated once";

    EXPECT_TRUE(persistent::store::validate_handle(h, block_total_size));
    EXPECT_FALSE(persistent::store::validate_handle(h, block_total_size / 2));
    EXPECT_TRUE(log.contains("invalid total: 2097152"));
    EXPECT_FALSE(persistent::store::validate_handle(nullptr, block_total_size));

    std::uint8_t* base = parent.base();
    base[0] ^= 1;
    EXPECT_FALSE(persistent::store::validate_handle(h, block_total_size));
    EXPECT_TRUE(log.contains("invalid header mag:"));
    base[0] ^= 1;
    base[8] ^= 1;
    EXPECT_FALSE(persistent::store::validate_handle(h, block_total_size));
    EXPECT_TRUE(log.contains("invalid hash"));
    base[8] ^= 1;

    persistent::store child;
    ASSERT_TRUE(child.attach(h, block_total_size));
    const std::uint32_t at = child.add_string("from the child");
    EXPECT_EQ(parent.find_string("from the child"), at);
}

namespace {
const char child_env[] = "KOVA_TEST_METRICS_BLOCK";
}

// Run by the test below in a child process: opens the parent's block and adds to a metric.
TEST(MetricsChild, AddsToTheParentsBlock)
{
    char value[64] = {};
    if (GetEnvironmentVariableA(child_env, value, sizeof value) == 0) GTEST_SKIP() << "run by the parent test";
    const auto handle = reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(std::strtoull(value, nullptr, 10)));
    stats_ifc_manager* m = open_shared_manager(handle, block_total_size);
    ASSERT_NE(m, nullptr);
    CloseHandle(handle);
    set_global_manager(m);
    stats_ifc* sent = add_histogram(9, "test.child_counter");
    ASSERT_NE(sent->get_descriptor(), nullptr);
    sent->add(100, 3);
    // Found again by name from what the parent registered.
    stats_ifc* parent_made = m->get_or_add_named("test.parent_counter", nullptr);
    ASSERT_NE(parent_made, nullptr);
    parent_made->add(7, 1);
}

TEST(Metrics, ChildProcessAddsToTheParentsCounters)
{
    local();
    stats_ifc* parent_made = global_manager()->get_or_add_named("test.parent_counter", &histogram_factory<9>);
    ASSERT_NE(parent_made->get_descriptor(), nullptr);
    HANDLE block = nullptr;
    std::uint32_t size = 0;
    ASSERT_TRUE(local()->shared_block(&block, &size));
    EXPECT_EQ(size, block_total_size);
    HANDLE inheritable = nullptr;
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), block, GetCurrentProcess(), &inheritable, 0, TRUE,
                                DUPLICATE_SAME_ACCESS));
    SetEnvironmentVariableA(child_env, std::to_string(reinterpret_cast<std::uintptr_t>(inheritable)).c_str());

    wchar_t exe[MAX_PATH];
    ASSERT_GT(GetModuleFileNameW(nullptr, exe, MAX_PATH), 0u);
    std::wstring command = L"\"" + std::wstring(exe) + L"\" --gtest_filter=MetricsChild.*";
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    const BOOL started =
        CreateProcessW(exe, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
    SetEnvironmentVariableA(child_env, nullptr);
    CloseHandle(inheritable);
    ASSERT_TRUE(started);
    ASSERT_EQ(WaitForSingleObject(pi.hProcess, 60000), WAIT_OBJECT_0);
    DWORD code = 1;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    EXPECT_EQ(code, 0u);

    std::uint32_t count = 0;
    parent_made->totals(&count, nullptr);
    EXPECT_EQ(count, 1u);
    local()->refresh();
    stats_ifc* from_child = local()->get_or_add_named("test.child_counter", nullptr);
    ASSERT_NE(from_child, nullptr);
    std::int64_t sum = 0;
    from_child->totals(&count, &sum);
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(sum, 300);
}
