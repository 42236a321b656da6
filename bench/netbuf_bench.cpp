// Throughput of the byte buffers on the local implementation (block caches on): appending
// pieces, splitting a buffer into pieces and linearising a chain of pieces, each beside plain
// memcpy of the same bytes, which is the limit. Pieces of 64 bytes, 4 KiB and 1 MiB. Prints one
// table row per figure in MB/s (10^6 bytes per second); asserts nothing.
#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "vantor/core/netbuf.h"
#include "vantor/core/win_api.h"

namespace {

using bench_clock = std::chrono::steady_clock;

// Each figure runs for about this long, which keeps the whole program to a few seconds.
constexpr double seconds_per_figure = 0.3;
// Bytes that one round of append or split moves.
constexpr std::size_t round_bytes = 16 * 1024 * 1024;
// Linearising works on a chain of at most this many pieces: more would be merged while the chain
// is built.
constexpr std::size_t chain_pieces = 128;

volatile std::size_t sink = 0;

// Runs body() until seconds_per_figure have passed; returns rounds per second.
template <typename Body>
double rounds_per_second(Body body)
{
    body();
    std::size_t rounds = 0;
    const bench_clock::time_point start = bench_clock::now();
    double elapsed = 0;
    do {
        body();
        ++rounds;
        elapsed = std::chrono::duration<double>(bench_clock::now() - start).count();
    } while (elapsed < seconds_per_figure);
    return static_cast<double>(rounds) / elapsed;
}

struct figure {
    double netbuf_mb_per_s;
    double memcpy_mb_per_s;
};

figure bench_append(const std::vector<unsigned char>& source, std::vector<unsigned char>& target,
                    std::size_t piece)
{
    const std::size_t pieces = round_bytes / piece;
    const double mb = static_cast<double>(pieces * piece) / 1e6;
    const double ours = rounds_per_second([&] {
        netbuf b;
        for (std::size_t i = 0; i < pieces; ++i) {
            b.append_bytes(source.data() + i * piece, piece);
        }
        sink = sink + b.size();
    });
    const double plain = rounds_per_second([&] {
        for (std::size_t i = 0; i < pieces; ++i) {
            std::memcpy(target.data() + i * piece, source.data() + i * piece, piece);
        }
        sink = sink + target[pieces * piece - 1];
    });
    return {ours * mb, plain * mb};
}

// A buffer taken apart into pieces off its front, each piece a buffer of its own; memcpy copies
// each piece out into a piece-sized block.
figure bench_split(const std::vector<unsigned char>& source, std::vector<unsigned char>& target,
                   std::size_t piece)
{
    const std::size_t pieces = round_bytes / piece;
    const double mb = static_cast<double>(pieces * piece) / 1e6;
    const netbuf whole = netbuf::construct_from_bytes(source.data(), pieces * piece);
    const double ours = rounds_per_second([&] {
        netbuf rest(whole);
        while (!rest.is_empty()) {
            netbuf part = netbuf::construct_range(rest, 0, piece);
            rest.drop_front(piece);
            sink = sink + part.size();
        }
    });
    const double plain = rounds_per_second([&] {
        for (std::size_t i = 0; i < pieces; ++i) {
            std::memcpy(target.data(), source.data() + i * piece, piece);
            sink = sink + target[piece - 1];
        }
    });
    return {ours * mb, plain * mb};
}

// A chain of separate pieces joined into one contiguous block.
figure bench_linearize(const std::vector<unsigned char>& source, std::vector<unsigned char>& target,
                       std::size_t piece)
{
    const std::size_t pieces = std::min(chain_pieces, round_bytes / piece);
    const double mb = static_cast<double>(pieces * piece) / 1e6;
    std::vector<netbuf> parts;
    for (std::size_t i = 0; i < pieces; ++i) {
        parts.push_back(netbuf::construct_from_bytes(source.data() + i * piece, piece));
    }
    const double ours = rounds_per_second([&] {
        netbuf chain;
        for (const netbuf& p : parts) {
            chain.append_shared(p);
        }
        std::uint8_t* data = nullptr;
        std::size_t length = 0;
        chain.linearize(&data, &length);
        sink = sink + data[length - 1];
    });
    const double plain = rounds_per_second([&] {
        for (std::size_t i = 0; i < pieces; ++i) {
            std::memcpy(target.data() + i * piece, source.data() + i * piece, piece);
        }
        sink = sink + target[pieces * piece - 1];
    });
    return {ours * mb, plain * mb};
}

// What writing into fresh heap memory costs (allocate, touch, free 1 MiB blocks): every path
// that takes new chunks from the heap pays it, while the memcpy figures write into warm memory.
double fresh_memory_mb_per_s(const std::vector<unsigned char>& source)
{
    constexpr std::size_t block = 1024 * 1024;
    const double mb = static_cast<double>(round_bytes) / 1e6;
    const double rounds = rounds_per_second([&] {
        std::vector<void*> blocks;
        for (std::size_t done = 0; done < round_bytes; done += block) {
            void* p = HeapAlloc(GetProcessHeap(), 0, block);
            if (p == nullptr) {
                break;
            }
            std::memcpy(p, source.data() + done, block);
            blocks.push_back(p);
        }
        for (void* p : blocks) {
            HeapFree(GetProcessHeap(), 0, p);
        }
        sink = sink + blocks.size();
    });
    return rounds * mb;
}

void print_row(const char* operation, const char* piece_label, const figure& f)
{
    std::printf("%-10s %-8s %12.1f %12.1f %8.2f\n", operation, piece_label, f.netbuf_mb_per_s,
                f.memcpy_mb_per_s, f.netbuf_mb_per_s / f.memcpy_mb_per_s);
}

}  // namespace

int main()
{
    if (!netbuf::install_local_table()) {
        std::printf("the local buffer table could not be installed\n");
        return 1;
    }
    std::vector<unsigned char> source(round_bytes);
    for (std::size_t i = 0; i < source.size(); ++i) {
        source[i] = static_cast<unsigned char>(i * 131 + 7);
    }
    std::vector<unsigned char> target(round_bytes);

    struct piece_size {
        std::size_t bytes;
        const char* label;
    };
    const piece_size pieces[] = {{64, "64 B"}, {4096, "4 KiB"}, {1024 * 1024, "1 MiB"}};
    std::printf("%-10s %-8s %12s %12s %8s\n", "operation", "piece", "netbuf MB/s", "memcpy MB/s", "ratio");
    for (const piece_size& p : pieces) {
        print_row("append", p.label, bench_append(source, target, p.bytes));
    }
    for (const piece_size& p : pieces) {
        print_row("split", p.label, bench_split(source, target, p.bytes));
    }
    for (const piece_size& p : pieces) {
        print_row("linearize", p.label, bench_linearize(source, target, p.bytes));
    }
    std::printf("for reference, fresh heap memory written in 1 MiB blocks: %.1f MB/s\n",
                fresh_memory_mb_per_s(source));
    return 0;
}
