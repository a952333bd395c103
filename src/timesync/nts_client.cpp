#include "timesync/nts_client.h"

#include <algorithm>
#include <vector>

#include "net/tls/aead.h"
#include "timesync/nts_fields.h"
#include "timesync/nts_session_store.h"

namespace {
// Seals one request with one cookie and takes the authentic reply's new cookies.
class TNtsAuthenticator : public TSntpAuthenticator {
public:
    explicit TNtsAuthenticator(TNtsKeys& keys) : FKeys(keys) {}

    bool Seal(std::string& request) override {
        if (FKeys.Cookies.empty() || !SecureRandomBytes(nts::kUniqueIdSize, FUniqueId))
            return false;
        TNtsRequestFields fields;
        fields.UniqueId = FUniqueId;
        fields.Cookie = FKeys.Cookies.front();
        // A cookie is never sent twice: it would tie two requests to one client.
        FKeys.Cookies.pop_front();
        // Ask for as many back as make the store full again after this one is spent.
        const size_t held = FKeys.Cookies.size() + 1;
        fields.Placeholders =
            held < TNtsClient::kCookiesWanted ? static_cast<int>(TNtsClient::kCookiesWanted - held) : 0;
        fields.ClientKey = FKeys.ClientKey;
        if (!SecureRandomBytes(nts::kNonceSize, fields.Nonce)) return false;
        std::string why;
        return AppendNtsRequestFields(request, fields, why);
    }

    TVerdict Check(const std::string& reply) override {
        std::vector<std::string> cookies;
        switch (CheckNtsReply(reply, FUniqueId, FKeys.ServerKey, cookies)) {
            case TNtsReplyVerdict::Authentic:
                for (std::string& cookie : cookies)
                    if (FKeys.Cookies.size() < TNtsClient::kCookiesWanted)
                        FKeys.Cookies.push_back(std::move(cookie));
                return TVerdict::Authentic;
            case TNtsReplyVerdict::Nak:
                return TVerdict::Refused;
            case TNtsReplyVerdict::Forged:
                break;
        }
        return TVerdict::Forged;
    }

private:
    TNtsKeys& FKeys;
    std::string FUniqueId;
};
}  // namespace

TNtsClient::TNtsClient() { FSntp.SetSyncTime(false); }

void TNtsClient::SetServer(const std::string& host, const std::string& port) {
    FKeyExchange.SetTargetHost(host);
    FKeyExchange.SetTargetPort(port);
}

void TNtsClient::SetCaFile(const std::string& file) {
    FCaFile = file;
    FKeyExchange.SetCaFile(file);
}

void TNtsClient::SetTimeout(int ms) {
    FSntp.SetTimeout(ms);
    FKeyExchange.SetTimeout(ms);
}

std::string TNtsClient::StoreKey() const {
    return FKeyExchange.TargetHost() + "\n" + FKeyExchange.TargetPort() + "\n" + FCaFile;
}

bool TNtsClient::Query() {
    FFailure.clear();
    FKeyExchangeRan = false;
    TNtsKeys keys;
    if (!HaveKeys(keys)) return false;
    if (AskWith(keys)) return true;
    // Keys the server no longer accepts are worth one fresh exchange at once.
    if (!FSntp.RefusedByServer() || FKeyExchangeRan) return false;
    if (!HaveKeys(keys)) return false;
    return AskWith(keys);
}

bool TNtsClient::HaveKeys(TNtsKeys& keys) {
    if (TNtsSessionStore::Shared().Take(StoreKey(), keys)) return true;
    FKeyExchangeRan = true;
    if (FKeyExchange.Run(keys)) return true;
    FFailure = FKeyExchange.Failure();
    return false;
}

bool TNtsClient::AskWith(TNtsKeys& keys) {
    TNtsAuthenticator authenticator(keys);
    FSntp.SetAuthenticator(&authenticator);
    FSntp.SetTargetHost(keys.NtpHost);
    FSntp.SetTargetPort(keys.NtpPort);
    const bool got = FSntp.QuerySntp();
    FSntp.SetAuthenticator(nullptr);
    if (FSntp.RefusedByServer()) {
        FFailure = "NTS server " + keys.NtpHost + ":" + keys.NtpPort + " refused our cookie (NTS NAK)";
        TNtsSessionStore::Shared().Forget(StoreKey());
        return false;
    }
    // What cookies are left stay for the next query, whether or not this one got an answer.
    TNtsSessionStore::Shared().Keep(StoreKey(), std::move(keys));
    if (!got)
        FFailure = "no authentic answer from NTS server " + FSntp.TargetHost() + ":" +
                   FSntp.TargetPort();
    return got;
}
