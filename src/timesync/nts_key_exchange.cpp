#include "timesync/nts_key_exchange.h"

#include "net/tls/aead.h"
#include "timesync/nts_records.h"

namespace {
constexpr const char* kAlpn = "ntske/1";
constexpr const char* kExporterLabel = "EXPORTER-network-time-security";

// RFC 8915, section 5.1: protocol, cipher, then 0 for the client's key, 1 for the server's.
std::string ExporterContext(bool serverToClient) {
    return std::string{0, static_cast<char>(nts::kProtocolNtpV4), 0,
                       static_cast<char>(nts::kAeadSivCmac256),
                       static_cast<char>(serverToClient ? 1 : 0)};
}
}  // namespace

TNtsKeyExchange::TNtsKeyExchange() {
    FTimeout = 5000;
    FTargetPort = kDefaultPort;
}

bool TNtsKeyExchange::Run(TNtsKeys& keys) {
    FFailure.clear();
    FSock.CloseConnection();
    // The whole exchange, not each wait, is bounded.
    FSock.SetDeadline(FTimeout);
    std::string answer;
    TNtsKeAnswer parsed;
    std::string why;
    const bool ok = Handshake() && ReadAnswer(answer) && ExportKeys(keys);
    FSock.CloseConnection();
    FSock.SetDeadline(-1);
    if (!ok) return false;
    ParseNtsKeAnswer(answer, parsed, why);
    keys.Cookies.assign(parsed.Cookies.begin(), parsed.Cookies.end());
    keys.NtpHost = parsed.Server.empty() ? FTargetHost : parsed.Server;
    keys.NtpPort = parsed.Port ? std::to_string(parsed.Port) : "123";
    return true;
}

bool TNtsKeyExchange::Handshake() {
    FSock.BindTo(FIPInterface, "0");
    if (FSock.ErrorCode() == 0) FSock.ConnectTo(FTargetHost, FTargetPort);
    if (FSock.ErrorCode() != 0) return Fail(FSock.GetErrorDescEx());
    FSock.StartTls({FTargetHost, FCaFile, {kAlpn}, true}, FTimeout);
    if (FSock.ErrorCode() != 0) return Fail(FSock.GetErrorDescEx());
    if (FSock.TlsSession()->ChosenAlpn() != kAlpn)
        return Fail("the server does not speak the NTS key exchange (ALPN " + std::string(kAlpn) + ")");
    FSock.SendText(NtsKeRequest());
    return FSock.ErrorCode() == 0 || Fail(FSock.GetErrorDescEx());
}

bool TNtsKeyExchange::ReadAnswer(std::string& answer) {
    for (;;) {
        TNtsKeAnswer parsed;
        std::string why;
        switch (ParseNtsKeAnswer(answer, parsed, why)) {
            case TNtsKeParse::Complete:
                return true;
            case TNtsKeParse::Refused:
                return Fail(why);
            case TNtsKeParse::Incomplete:
                break;
        }
        answer += FSock.ReceiveAvailable(FTimeout);
        if (FSock.ErrorCode() == kSockConnReset)
            return Fail("the server closed the key exchange before its end");
        if (FSock.ErrorCode() != 0) return Fail(FSock.GetErrorDescEx());
    }
}

bool TNtsKeyExchange::ExportKeys(TNtsKeys& keys) {
    TTlsSession& session = *FSock.TlsSession();
    if (!session.ExportKey(kExporterLabel, ExporterContext(false), kSivKeySize, keys.ClientKey) ||
        !session.ExportKey(kExporterLabel, ExporterContext(true), kSivKeySize, keys.ServerKey))
        return Fail(session.ErrorText());
    return true;
}

bool TNtsKeyExchange::Fail(const std::string& why) {
    FFailure = "NTS key exchange with " + FTargetHost + ":" + FTargetPort + ": " + why;
    return false;
}
