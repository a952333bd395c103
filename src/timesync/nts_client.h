// One authenticated time query (RFC 8915): keys and cookies from the store or a fresh key
// exchange, then one NTPv4 exchange sealed with them. A reply that does not open with the
// server's key, or does not echo our identifier, is ignored like a forged one.
#pragma once

#include <string>

#include "timesync/nts_key_exchange.h"
#include "timesync/sntpclient.h"

class TNtsClient {
public:
    TNtsClient();

    // The key exchange's host and port ("4460" by default).
    void SetServer(const std::string& host, const std::string& port);
    void SetCaFile(const std::string& file);
    void SetTimeout(int ms);

    // True with the time in Sntp().Sample(); otherwise Failure() says why.
    bool Query();
    const std::string& Failure() const { return FFailure; }
    // Whether the last Query had to run a key exchange first.
    bool KeyExchangeRan() const { return FKeyExchangeRan; }

    TSntpClient& Sntp() { return FSntp; }
    TNtsKeyExchange& KeyExchange() { return FKeyExchange; }

    // How many cookies the client tries to hold: each reply brings back one per cookie
    // and placeholder sent.
    static constexpr size_t kCookiesWanted = 8;

private:
    bool HaveKeys(TNtsKeys& keys);
    bool AskWith(TNtsKeys& keys);
    std::string StoreKey() const;

    TSntpClient FSntp;
    TNtsKeyExchange FKeyExchange;
    std::string FCaFile;
    std::string FFailure;
    bool FKeyExchangeRan = false;
};
