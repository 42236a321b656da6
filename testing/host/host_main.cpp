// The test host program: loads a plug-in DLL and starts it with a host of a chosen table
// version, then prints what the plug-in did, one fact per line, for the test that runs it.
//   kova_test_host <plug-in dll> <table version> [abi=N] [one-lock] [twice]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "testing/host/test_host.h"
#include "vantor/core/win_api.h"

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: kova_test_host <plug-in dll> <table version> [abi=N] [one-lock] [twice]\n");
        return 2;
    }
    kova_testing::host_options options;
    options.table_version = std::atoi(argv[2]);
    bool twice = false;
    for (int i = 3; i < argc; ++i) {
        if (std::strncmp(argv[i], "abi=", 4) == 0) options.abi_version = std::atoi(argv[i] + 4);
        if (std::strcmp(argv[i], "one-lock") == 0) options.global_lock_pair = false;
        if (std::strcmp(argv[i], "twice") == 0) twice = true;
    }
    HMODULE plugin = LoadLibraryA(argv[1]);
    if (!plugin) {
        std::printf("load failed: %lu\n", GetLastError());
        return 3;
    }
    using entry = std::int32_t(__cdecl*)(plugin_abi::host_ifc*);
    auto load = reinterpret_cast<entry>(reinterpret_cast<void*>(GetProcAddress(plugin, "load_plugin_v4")));
    if (!load) {
        std::printf("no load_plugin_v4\n");
        return 3;
    }
    kova_testing::test_host host(options);
    std::printf("result: %d\n", load(&host));
    if (twice) std::printf("second: %d\n", load(&host));
    for (const std::string& call : host.calls()) std::printf("call: %s\n", call.c_str());
    for (const std::string& line : host.log_lines()) std::printf("log: %s\n", line.c_str());
    std::fflush(stdout);
    // The plug-in stays loaded to the end, as inside the host.
    return 0;
}
