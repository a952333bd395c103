// One SNTP exchange over UDP: a request datagram, the server's reply, and the server's
// transmit time as a UTC date-time. Only a reply that provably answers our request is
// taken as the time, since it may go on to set the PC's clock.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "net/netclient.h"
#include "net/netsocket.h"
#include "timesync/time_sample.h"
#include "toolkit/datetime.h"

// The 48-byte SNTP message, words in host order.
struct TNtpPacket {
    uint8_t LeapVersionMode = 0;
    uint8_t Stratum = 0;
    uint8_t Poll = 0;
    uint8_t Precision = 0;
    int32_t RootDelay = 0;
    int32_t RootDispersion = 0;
    int32_t ReferenceId = 0;
    int32_t RefSeconds = 0, RefFraction = 0;
    int32_t OrgSeconds = 0, OrgFraction = 0;
    int32_t RcvSeconds = 0, RcvFraction = 0;
    int32_t XmitSeconds = 0, XmitFraction = 0;
};

constexpr size_t kNtpPacketSize = 48;
constexpr uint8_t kNtpClientRequest = 0x1B;  // leap 0, version 3, mode 3 (client)
constexpr uint8_t kNtpV4ClientRequest = 0x23;  // leap 0, version 4, mode 3

inline int NtpLeap(uint8_t leapVersionMode) { return leapVersionMode >> 6; }
inline int NtpVersion(uint8_t leapVersionMode) { return (leapVersionMode >> 3) & 7; }
inline int NtpMode(uint8_t leapVersionMode) { return leapVersionMode & 7; }

// What an authenticated exchange adds to a plain one: fields that seal the request, and
// the check that a reply was sealed by the server.
class TSntpAuthenticator {
public:
    enum class TVerdict { Authentic, Forged, Refused };
    virtual ~TSntpAuthenticator() = default;
    // Appends to the 48-byte request; false when it cannot be sealed.
    virtual bool Seal(std::string& request) = 0;
    // Forged replies are ignored like any that is not ours; Refused ends the wait (the
    // server no longer accepts our credentials).
    virtual TVerdict Check(const std::string& reply) = 0;
};

class TSntpClient : public TNetClient {
public:
    using TClockReader = std::function<TDateTime()>;
    using TClockSetter = std::function<bool(TDateTime)>;

    TSntpClient();

    // True when a valid reply to this request arrived within Timeout (counted from the
    // send); NTPTime then holds the server's transmit time in UTC.
    bool QuerySntp();

    TDateTime NTPTime() const { return FNTPTime; }
    // RFC 4330, section 5, in seconds: the server's clock minus ours, and the round trip
    // without the server's own time, from our send and receive moments (ns resolution).
    double NTPOffset() const { return FNTPOffset; }
    double NTPDelay() const { return FNTPDelay; }
    // The measured time, tied to the moment the reply arrived.
    const TTimeSample& Sample() const { return FSample; }
    double MaxSyncDiff() const { return FMaxSyncDiff; }
    void SetMaxSyncDiff(double seconds) { FMaxSyncDiff = seconds; }
    bool SyncTime() const { return FSyncTime; }
    void SetSyncTime(bool v) { FSyncTime = v; }
    TUdpSocket& Sock() { return FSock; }
    const TNtpPacket& LastReply() const { return FLastReply; }
    // With an authenticator the request is NTPv4 and sealed, and only a reply that it
    // finds authentic is taken. Not owned.
    void SetAuthenticator(TSntpAuthenticator* authenticator) { FAuthenticator = authenticator; }
    // The last query ended because the server refused the authenticator's credentials.
    bool RefusedByServer() const { return FRefusedByServer; }

    // The clock the SyncTime option reads and sets; tests put their own here so that the
    // machine's clock is never touched.
    void SetClock(TClockReader reader, TClockSetter setter) {
        FClockReader = std::move(reader);
        FClockSetter = std::move(setter);
    }

    static void ClearPacket(TNtpPacket& packet);
    static std::string PacketToBytes(const TNtpPacket& packet);
    // Leaves packet alone when bytes holds fewer than 48 bytes.
    static void BytesToPacket(const std::string& bytes, TNtpPacket& packet);
    // NTP seconds and fraction as a date-time: the fraction over 2^32-1 truncated to four
    // decimals; seconds whose top bit is clear lie in the era that began in 2036.
    static TDateTime StampToDateTime(int32_t seconds, int32_t fraction);
    // A reply the server sent in earnest: a synchronised server answering in server mode.
    static bool ReplyIsUsable(const TNtpPacket& reply);
    // An NTP time stamp as UTC nanoseconds since 1970, at full resolution, era as above.
    static int64_t StampToUnixNs(int32_t seconds, int32_t fraction);

private:
    bool SendRequest(uint32_t& nonceSeconds, uint32_t& nonceFraction, TClockStamp& sent);
    bool AwaitReply(const TSockAddr& server, uint32_t nonceSeconds, uint32_t nonceFraction,
                    uint32_t sentAt, TNtpPacket& reply, TClockStamp& received);
    TClockStamp ArrivalOfLastDatagram();
    void MeasureOffset(const TNtpPacket& reply, const TClockStamp& sent,
                       const TClockStamp& received);
    void AdjustClock();

    TDateTime FNTPTime = 0;
    double FNTPOffset = 0, FNTPDelay = 0;
    TTimeSample FSample;
    double FMaxSyncDiff = 3600.0;
    bool FSyncTime = false;
    TUdpSocket FSock;
    TNtpPacket FLastReply;
    std::string FBuffer;
    TClockReader FClockReader;
    TClockSetter FClockSetter;
    TSntpAuthenticator* FAuthenticator = nullptr;
    bool FRefusedByServer = false;
};
