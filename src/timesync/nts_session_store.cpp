#include "timesync/nts_session_store.h"

TNtsSessionStore& TNtsSessionStore::Shared() {
    static TNtsSessionStore store;
    return store;
}

bool TNtsSessionStore::Take(const std::string& server, TNtsKeys& keys) {
    std::lock_guard<std::mutex> lock(FLock);
    const auto found = FKeys.find(server);
    if (found == FKeys.end()) return false;
    keys = std::move(found->second);
    FKeys.erase(found);
    return !keys.Cookies.empty();
}

void TNtsSessionStore::Keep(const std::string& server, TNtsKeys keys) {
    if (keys.Cookies.empty()) return;
    std::lock_guard<std::mutex> lock(FLock);
    FKeys[server] = std::move(keys);
}

void TNtsSessionStore::Forget(const std::string& server) {
    std::lock_guard<std::mutex> lock(FLock);
    FKeys.erase(server);
}

void TNtsSessionStore::ForgetAll() {
    std::lock_guard<std::mutex> lock(FLock);
    FKeys.clear();
}
