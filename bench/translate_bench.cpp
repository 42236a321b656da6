// Throughput of pixel translation on a 1920 x 1080 frame of 32-bit BGR pixels for the main
// format pairs (same format, swapped colours, RGB565, the colour cube), beside plain memcpy of
// the same frame, which is the limit. Prints one table row per pair in Mpx/s (10^6 pixels per
// second) with its ratio to memcpy; asserts nothing.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "kova/protocol/pixel_format.h"
#include "kova/protocol/translate.h"

namespace {

using bench_clock = std::chrono::steady_clock;

constexpr std::int32_t frame_width = 1920;
constexpr std::int32_t frame_height = 1080;
constexpr double frame_pixels = double(frame_width) * frame_height;
// Each figure runs for about this long.
constexpr double seconds_per_figure = 0.5;

volatile std::uint32_t sink = 0;

// Runs body() until seconds_per_figure have passed; returns frames per second.
template <typename Body>
double frames_per_second(Body body)
{
    body();
    std::size_t frames = 0;
    const bench_clock::time_point start = bench_clock::now();
    double elapsed = 0;
    do {
        body();
        ++frames;
        elapsed = std::chrono::duration<double>(bench_clock::now() - start).count();
    } while (elapsed < seconds_per_figure);
    return static_cast<double>(frames) / elapsed;
}

kova::pixel_format make_format(int bpp, int depth, bool true_colour, std::uint32_t rm, std::uint32_t gm,
                               std::uint32_t bm, std::uint32_t rs, std::uint32_t gs, std::uint32_t bs)
{
    kova::pixel_format f;
    f.set(bpp, depth, false, true_colour, rm, gm, bm, rs, gs, bs);
    return f;
}

struct pair {
    const char* label;
    kova::pixel_format out;
};

}  // namespace

int main()
{
    // A desktop-like frame: random colours, so that no table entry stays in cache by accident.
    std::vector<std::uint32_t> frame(static_cast<std::size_t>(frame_width) * frame_height);
    std::uint32_t seed = 1;
    for (std::uint32_t& p : frame) {
        seed = seed * 1103515245u + 12345u;
        p = (seed >> 8) & 0x00ffffff;
    }
    std::vector<std::uint32_t> target(frame.size());
    const kova::pixel_format bgr32;

    const double memcpy_mpx = frames_per_second([&] {
        std::memcpy(target.data(), frame.data(), frame.size() * 4);
        sink = sink + target[frame.size() / 2];
    }) * frame_pixels / 1e6;

    const pair pairs[] = {
        {"32->32 same format", bgr32},
        {"32->32 swapped", make_format(32, 24, true, 255, 255, 255, 0, 8, 16)},
        {"32->16 RGB565", make_format(16, 16, true, 31, 63, 31, 11, 5, 0)},
        {"32->8 colour cube", make_format(8, 8, false, 0, 0, 0, 0, 0, 0)},
    };

    std::printf("pixel translation, %dx%d frame of 32-bit BGR\n", frame_width, frame_height);
    std::printf("%-22s %12s %10s\n", "pair", "Mpx/s", "/memcpy");
    std::printf("%-22s %12.1f %10.2f\n", "memcpy (limit)", memcpy_mpx, 1.0);
    for (const pair& p : pairs) {
        kova::pixel_translator translator;
        translator.set_formats(bgr32, nullptr, p.out);
        const std::int32_t target_stride = frame_width * p.out.bpp / 8;
        const double mpx = frames_per_second([&] {
            translator.translate_rect(frame.data(), frame_width * 4, {0, 0, frame_width, frame_height},
                                      target.data(), target_stride);
            sink = sink + target[frame.size() / 8];
        }) * frame_pixels / 1e6;
        std::printf("%-22s %12.1f %10.2f\n", p.label, mpx, mpx / memcpy_mpx);
    }
    return 0;
}
