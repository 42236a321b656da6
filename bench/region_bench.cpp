// Region simplification and change-tracker collection on a typical desktop change pattern of a
// 1920 x 1080 screen: a window dragged across the screen, a clock that ticks once a second and a
// few scattered small changes (caret, tool tips, tray icons) per frame. Prints figures only.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <random>
#include <vector>

#include "kova/protocol/change_tracker.h"
#include "kova/protocol/rect.h"
#include "kova/protocol/region.h"

namespace {

using clock_type = std::chrono::steady_clock;
using kova::Region;
using vantor_abi::Point;
using vantor_abi::Rect;

constexpr int screen_w = 1920;
constexpr int screen_h = 1080;
constexpr int frames = 600;          // 20 s at 30 frames per second
constexpr std::int64_t frame_ms = 33;
constexpr int scattered_per_frame = 12;

double us_since(clock_type::time_point start)
{
    return std::chrono::duration<double, std::micro>(clock_type::now() - start).count();
}

Rect random_small_rect(std::mt19937& rng)
{
    std::uniform_int_distribution<int> x(0, screen_w - 32);
    std::uniform_int_distribution<int> y(0, screen_h - 32);
    std::uniform_int_distribution<int> size(4, 24);
    return Rect{x(rng), y(rng), size(rng), size(rng)};
}

// What one grabbed frame reports: the window's move as a copy, the strip it uncovered, the clock
// on its ticks and the scattered changes.
void feed_frame(kova::change_tracker& frame, int index, std::mt19937& rng)
{
    const Point delta{6, 3};
    const int travel = index % 150;
    const Rect window{100 + travel * delta.x, 100 + travel * delta.y, 800, 600};
    if (travel != 0) {
        Region moved(window);
        frame.add_copied(moved, delta);
        Region uncovered(Rect{window.x - delta.x, window.y - delta.y, window.w, window.h});
        uncovered.subtract(Region(window));
        frame.add_changed(uncovered);
    } else {
        Region whole(window);
        frame.add_changed(whole);
    }
    if (index % 30 == 0) {
        Region clock(Rect{1830, 1052, 80, 22});
        frame.add_changed(clock);
    }
    for (int k = 0; k < scattered_per_frame; ++k) {
        Region spot(random_small_rect(rng));
        frame.add_changed(spot);
    }
}

void bench_simplify()
{
    std::printf("region simplify (scattered rectangles on %dx%d)\n", screen_w, screen_h);
    std::printf("%10s %12s %12s %14s\n", "rects in", "rects out", "calls", "us per call");
    std::mt19937 rng(7);
    for (int count : {4, 12, 40, 120, 400}) {
        std::vector<Region> inputs;
        const int calls = count >= 120 ? 20 : 200;
        for (int c = 0; c < calls; ++c) {
            Region r;
            for (int k = 0; k < count; ++k) {
                r.add_rect(random_small_rect(rng));
            }
            inputs.push_back(r);
        }
        int rects_in = 0;
        for (const Region& r : inputs) {
            rects_in += r.rect_count();
        }
        auto start = clock_type::now();
        for (Region& r : inputs) {
            r.simplify();
        }
        double us = us_since(start);
        int rects_out = 0;
        for (const Region& r : inputs) {
            rects_out += r.rect_count();
        }
        std::printf("%10.1f %12.1f %12d %14.1f\n", static_cast<double>(rects_in) / calls,
                    static_cast<double>(rects_out) / calls, calls, us / calls);
    }
}

void bench_tracker()
{
    std::printf("\ntracker per frame: moving 800x600 window, ticking clock, %d scattered changes\n",
                scattered_per_frame);
    std::mt19937 rng(11);
    kova::change_tracker frame;
    kova::change_tracker encoder;
    const Region requested(Rect{0, 0, screen_w, screen_h});
    double feed_us = 0;
    double forward_us = 0;
    double collect_us = 0;
    double commit_us = 0;
    long changed_rects = 0;
    long copied_rects = 0;
    for (int index = 0; index < frames; ++index) {
        const std::int64_t now = 100000 + index * frame_ms;
        auto start = clock_type::now();
        feed_frame(frame, index, rng);
        feed_us += us_since(start);

        start = clock_type::now();
        Region copied(frame.copied());
        encoder.add_copied(copied, frame.copy_delta());
        Region changed(frame.changed());
        encoder.add_changed(changed);
        frame.clear();
        forward_us += us_since(start);

        start = clock_type::now();
        kova::tracker_changes out;
        encoder.collect(out, requested, now);
        collect_us += us_since(start);
        changed_rects += out.changed.rect_count();
        copied_rects += out.copied.rect_count();

        start = clock_type::now();
        kova::update_regions sent;
        sent.copied.assign(out.copied);
        // Every other frame goes out lossy, so that the refresh bookkeeping has work to do.
        if (index % 2 == 0) {
            sent.lossy.assign(out.changed);
        } else {
            sent.lossless.assign(out.changed);
        }
        sent.refreshed.assign(out.idle);
        encoder.commit_sent(sent);
        commit_us += us_since(start);
    }
    std::printf("%-28s %10.1f us\n", "grabber feed (frame tracker)", feed_us / frames);
    std::printf("%-28s %10.1f us\n", "forward to encoder tracker", forward_us / frames);
    std::printf("%-28s %10.1f us\n", "collect (incl. simplify)", collect_us / frames);
    std::printf("%-28s %10.1f us\n", "commit_sent", commit_us / frames);
    std::printf("%-28s %10.1f us\n", "total", (feed_us + forward_us + collect_us + commit_us) / frames);
    std::printf("%-28s %10.1f\n", "changed rects per update", static_cast<double>(changed_rects) / frames);
    std::printf("%-28s %10.1f\n", "copied rects per update", static_cast<double>(copied_rects) / frames);
}

}  // namespace

int main()
{
    bench_simplify();
    bench_tracker();
    return 0;
}
