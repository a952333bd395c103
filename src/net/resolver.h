// Name resolution that a stop can abandon. getaddrinfo cannot be interrupted, and a name
// server that never answers holds it for many seconds; so the lookup runs on a thread of
// its own, and a caller that gives up leaves it behind: the thread finishes (or dies with
// the process) on its own and drops its result.
#pragma once

#include <functional>
#include <string>

#include "net/ipaddr.h"

// FillSockAddr, asking giveUp every checkMs while the lookup runs. giveUp returns 0 to
// wait on, or the code to return at once (the address then stays zero). Literal addresses
// are filled at once, without a thread.
int FillSockAddrUnlessStopped(TSockAddr& address, const std::string& host, const std::string& port,
                              bool preferIPv4, int kind, int protocol, int family, int checkMs,
                              const std::function<int()>& giveUp);
