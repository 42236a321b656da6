// Throughput of the UTF-8 to UTF-16 conversion and of the two forms of the positional
// formatter, each beside a plain system or runtime-library loop doing the same work.
// Prints one line per figure; asserts nothing.
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <string>

#include "vantor/core/format.h"
#include "vantor/core/text_convert.h"
#include "vantor/core/win_api.h"

namespace {

using bench_clock = std::chrono::steady_clock;

// Each figure runs for about this long, which keeps the whole program to a few seconds.
constexpr double seconds_per_figure = 0.4;
constexpr std::size_t text_bytes = 64 * 1024;

volatile std::size_t sink = 0;

// Calls body() in batches until seconds_per_figure have passed; returns calls per second.
template <typename Body>
double calls_per_second(std::size_t batch, Body body)
{
    body();
    std::size_t calls = 0;
    const bench_clock::time_point start = bench_clock::now();
    double elapsed = 0;
    do {
        for (std::size_t i = 0; i < batch; ++i) {
            body();
        }
        calls += batch;
        elapsed = std::chrono::duration<double>(bench_clock::now() - start).count();
    } while (elapsed < seconds_per_figure);
    return static_cast<double>(calls) / elapsed;
}

std::string repeat_to_size(const std::string& sample, std::size_t size)
{
    std::string text;
    while (text.size() + sample.size() <= size) {
        text += sample;
    }
    return text;
}

std::wstring system_utf8_to_wide(const std::string& text)
{
    std::wstring out(text.size(), L'\0');
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(),
                                      static_cast<int>(out.size()));
    out.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return out;
}

void bench_utf8(const char* label, const std::string& text)
{
    const double mb = static_cast<double>(text.size()) / 1e6;
    const double ours =
        calls_per_second(1, [&] { sink = sink + vantor::to_wide(vantor::encoding_utf8, text).size(); });
    const double system = calls_per_second(1, [&] { sink = sink + system_utf8_to_wide(text).size(); });
    std::printf("utf8_to_utf16 %s: %.1f MB/s (MultiByteToWideChar: %.1f MB/s)\n", label, ours * mb,
                system * mb);
}

void bench_format()
{
    const std::string host = "10.20.30.40";
    const int port = 5938;
    const char* format_text = "connection %1% accepted from %2%";

    const double snprintf_rate = calls_per_second(1000, [&] {
        char buffer[128];
        const int n =
            std::snprintf(buffer, sizeof buffer, "connection %d accepted from %s", port, host.c_str());
        sink = sink + std::string(buffer, n > 0 ? static_cast<std::size_t>(n) : 0).size();
    });
    const double packed_rate = calls_per_second(1000, [&] {
        sink = sink + vantor::format(VANTOR_FMT("connection %1% accepted from %2%"), port, host).size();
    });
    const double parser_rate = calls_per_second(1000, [&] {
        vantor::format_parser parser;
        parser.parse(format_text);
        parser.add_arg(vantor::arg_text(port));
        parser.add_arg(host);
        sink = sink + parser.str().size();
    });
    std::printf("format pre-encoded: %.0f calls/s (snprintf: %.0f calls/s)\n", packed_rate, snprintf_rate);
    std::printf("format_parser: %.0f calls/s (snprintf: %.0f calls/s)\n", parser_rate, snprintf_rate);
}

}  // namespace

int main()
{
    const std::string ascii =
        repeat_to_size("The quick brown fox jumps over the lazy dog 0123456789.\r\n", text_bytes);
    // Latin, Cyrillic, CJK and emoji: one-, two-, three- and four-byte sequences.
    const std::string mixed = repeat_to_size(
        "Caf\xC3\xA9 na\xC3\xAFve \xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82 "
        "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E \xF0\x9F\x98\x80\xF0\x9F\x9A\x80 text, ",
        text_bytes);
    bench_utf8("ascii", ascii);
    bench_utf8("mixed", mixed);
    bench_format();
    return 0;
}
