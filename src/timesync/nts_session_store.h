// The keys and cookies of each NTS server, kept between synchronisation cycles so that a
// key exchange is needed only at the first query and when the cookies run out or the
// server forgets them. Shared by the workers of all cycles.
#pragma once

#include <map>
#include <mutex>
#include <string>

#include "timesync/nts_key_exchange.h"

class TNtsSessionStore {
public:
    static TNtsSessionStore& Shared();

    // Takes the server's keys out (a worker owns them while it asks); false when there are
    // none with a cookie left.
    bool Take(const std::string& server, TNtsKeys& keys);
    void Keep(const std::string& server, TNtsKeys keys);
    void Forget(const std::string& server);
    // Every server's: the next query of each starts with a key exchange.
    void ForgetAll();

private:
    std::mutex FLock;
    std::map<std::string, TNtsKeys> FKeys;
};
