// The other process of the named-pipe endpoint tests: one client exchange with an endpoint.
//
//   pipe_peer transact NAME REQUEST     writes the reply to standard output
//
// Exit codes: 0 the request went out; 1 it did not; 2 bad arguments.
#include <cstdio>
#include <cstring>
#include <string>

#include "vantor/services/endpoint.h"

int main(int argc, char** argv)
{
    if (argc != 4 || std::strcmp(argv[1], "transact") != 0) {
        return 2;
    }
    std::string reply;
    if (!vantor::ipc::transact(argv[2], argv[3], 0, &reply)) {
        return 1;
    }
    std::fwrite(reply.data(), 1, reply.size(), stdout);
    std::fflush(stdout);
    return 0;
}
