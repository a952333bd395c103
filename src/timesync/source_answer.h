// What a cycle asks a worker for, and what the worker answers.
#pragma once

#include <string>

#include "timesync/server_source.h"
#include "timesync/time_sample.h"

// One source to ask in one cycle.
struct TSyncRequest {
    TTimeSource Source;
    unsigned Cycle = 0;
};

struct TSourceAnswer {
    TTimeSample Sample;
    std::string Source;  // the entry as configured, for the user
    // Who answered: the server's address and port as it was reached ("192.0.2.1:123",
    // "[2001:db8::1]:123"), a script's URL. Two answers agree only from two peers.
    std::string Peer;
    TSourceKind Kind = TSourceKind::Server;
    unsigned Cycle = 0;  // the cycle that asked; an answer of another one is dropped
};
