// Lines per second through the local log writer into a log file: how fast emitting threads
// hand lines over, and how fast the writer thread gets them into the file.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "vantor/core/log.h"
#include "vantor/core/text_convert.h"

namespace {

namespace fs = std::filesystem;
using clock_type = std::chrono::steady_clock;

double seconds_since(clock_type::time_point start)
{
    return std::chrono::duration<double>(clock_type::now() - start).count();
}

// Emits `per_thread` lines on each of `threads` threads, then flushes.
void run(const char* label, const fs::path& file, std::uint32_t cap, int threads, int per_thread, bool repeated)
{
    std::error_code ignored;
    fs::remove(file, ignored);
    vantor::set_log_file(vantor::from_wide(3, file.wstring()));
    vantor::set_log_size_cap(cap);
    vantor::log_flush();

    const vantor::log_context bench_log{"bench"};
    clock_type::time_point start = clock_type::now();
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            for (int i = 0; i < per_thread; ++i) {
                if (repeated) {
                    bench_log.write("the same line again and again");
                } else {
                    bench_log.log(VANTOR_FMT("line %1% of thread %2%: some text of typical length"), i, t);
                }
            }
        });
    }
    for (std::thread& w : workers) {
        w.join();
    }
    double emitted = seconds_since(start);
    vantor::log_flush();
    double written = seconds_since(start);

    double lines = static_cast<double>(threads) * per_thread;
    std::printf("%-34s %2d thread(s) %8.0f lines: emit %10.0f lines/s, into the file %10.0f lines/s, file %llu bytes\n",
                label, threads, lines, lines / emitted, lines / written,
                static_cast<unsigned long long>(fs::file_size(file, ignored)));
}

}  // namespace

int main()
{
    vantor::set_log_echo(false);
    fs::path folder = fs::temp_directory_path() / "vantor_log_bench";
    fs::create_directories(folder);
    fs::path file = folder / "kova_stream.out";

    const int lines = 200000;
    run("distinct lines, no cap", file, 0, 1, lines, false);
    run("distinct lines, helper cap", file, vantor::helper_log_size_cap, 1, lines, false);
    run("distinct lines, helper cap", file, vantor::helper_log_size_cap, 4, lines / 4, false);
    run("repeated line (folded), helper cap", file, vantor::helper_log_size_cap, 1, lines, true);

    vantor::set_log_file("");
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    return 0;
}
