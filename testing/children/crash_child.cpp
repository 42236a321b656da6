// A helper-like program that crashes. Arguments: DIRECTORY MODE [helper]. Like the helper start
// it makes DIRECTORY the current one and installs the crash handler before anything else; with
// "helper" it also sets the helper-process flag. Then it faults as MODE says:
//   write0     writes to address 0
//   read0      reads from address 0
//   raise      raises 0xE0000101 without parameters
//   nested     raises 0xE0000102, and the report itself faults after its first line
//   overflow   overflows its stack
// Ends with 99 should the fault return.
#include <cstdint>
#include <string>

#include "vantor/core/crash_report.h"
#include "vantor/core/crash_traps.h"
#include "vantor/core/win_api.h"

namespace {

// The address is held in a volatile so that the compiler keeps the access as written.
volatile std::uintptr_t null_address = 0;
volatile bool keep_recursing = true;

__attribute__((noinline)) int recurse(int depth)
{
    volatile char frame[4096];
    frame[0] = static_cast<char>(depth);
    return keep_recursing ? recurse(depth + 1) + frame[0] : frame[0];
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3 || !SetCurrentDirectoryA(argv[1])) {
        return 98;
    }
    vantor::crash::install_process_filter();
    if (argc > 3 && std::string(argv[3]) == "helper") {
        vantor::crash::helper_process_flag = true;
    }
    const std::string mode = argv[2];
    if (mode == "write0") {
        *reinterpret_cast<volatile int*>(null_address) = 1;
    } else if (mode == "read0") {
        return *reinterpret_cast<volatile int*>(null_address);
    } else if (mode == "raise") {
        RaiseException(0xE0000101, 0, 0, nullptr);
    } else if (mode == "nested") {
        vantor::crash::fault_during_report_for_testing();
        RaiseException(0xE0000102, EXCEPTION_NONCONTINUABLE, 0, nullptr);
    } else if (mode == "overflow") {
        return recurse(0);
    }
    return 99;
}
