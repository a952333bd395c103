#include "timesync/sntpclient.h"

#include <cmath>

#include "net/netutil.h"
#include "net/random_bytes.h"

namespace {
// 64 unpredictable bits for the request's transmit field: the reply must echo them, so an
// off-path sender that cannot see the request cannot forge an answer.
bool RandomNonce(uint32_t& high, uint32_t& low) {
    uint32_t words[2];
    if (!SystemRandomBytes(words, sizeof words)) return false;
    high = words[0];
    low = words[1];
    return true;
}

double Unsigned32(int32_t v) {
    double d = v;
    if (d < 0) d = d + 4294967295.0 + 1.0;
    return d;
}
}  // namespace

TSntpClient::TSntpClient() : FClockReader(UtcNow), FClockSetter(SetUtcClock) {
    FTimeout = 5000;
    FTargetPort = "123";
    FMaxSyncDiff = 3600.0;
    FSyncTime = false;
}

void TSntpClient::ClearPacket(TNtpPacket& packet) { packet = TNtpPacket{}; }

std::string TSntpClient::PacketToBytes(const TNtpPacket& packet) {
    std::string bytes{static_cast<char>(packet.LeapVersionMode), static_cast<char>(packet.Stratum),
                      static_cast<char>(packet.Poll), static_cast<char>(packet.Precision)};
    for (int32_t word :
         {packet.RootDelay, packet.RootDispersion, packet.ReferenceId, packet.RefSeconds,
          packet.RefFraction, packet.OrgSeconds, packet.OrgFraction, packet.RcvSeconds,
          packet.RcvFraction, packet.XmitSeconds, packet.XmitFraction})
        bytes += Int32ToBigEndian(static_cast<uint32_t>(word));
    return bytes;
}

void TSntpClient::BytesToPacket(const std::string& bytes, TNtpPacket& packet) {
    if (bytes.size() < kNtpPacketSize) return;
    packet.LeapVersionMode = static_cast<uint8_t>(bytes[0]);
    packet.Stratum = static_cast<uint8_t>(bytes[1]);
    packet.Poll = static_cast<uint8_t>(bytes[2]);
    packet.Precision = static_cast<uint8_t>(bytes[3]);
    int32_t* words[] = {&packet.RootDelay,   &packet.RootDispersion, &packet.ReferenceId,
                        &packet.RefSeconds,  &packet.RefFraction,    &packet.OrgSeconds,
                        &packet.OrgFraction, &packet.RcvSeconds,     &packet.RcvFraction,
                        &packet.XmitSeconds, &packet.XmitFraction};
    size_t pos = 5;
    for (int32_t* word : words) {
        *word = static_cast<int32_t>(BigEndianToInt32(bytes, pos));
        pos += 4;
    }
}

TDateTime TSntpClient::StampToDateTime(int32_t seconds, int32_t fraction) {
    double s = Unsigned32(seconds);
    // RFC 4330, section 3: with the top bit clear the count starts at 2036-02-07 06:28:16,
    // so the clock is never sent back to 1900 after the first era ends.
    if (seconds >= 0) s += 4294967296.0;
    double f = Unsigned32(fraction) / 4294967295.0;
    f = std::trunc(f * 10000.0) / 10000.0;
    return (s + f) / 86400.0 + 2.0;
}

int64_t TSntpClient::StampToUnixNs(int32_t seconds, int32_t fraction) {
    int64_t s = static_cast<uint32_t>(seconds);
    if (seconds >= 0) s += int64_t{1} << 32;  // the era that began in 2036
    constexpr int64_t NtpToUnixSeconds = 2208988800;
    const int64_t ns =
        static_cast<int64_t>((uint64_t{static_cast<uint32_t>(fraction)} * 1000000000) >> 32);
    return (s - NtpToUnixSeconds) * 1000000000 + ns;
}

bool TSntpClient::ReplyIsUsable(const TNtpPacket& reply) {
    const int mode = NtpMode(reply.LeapVersionMode);
    const int version = NtpVersion(reply.LeapVersionMode);
    const bool xmitZero = reply.XmitSeconds == 0 && reply.XmitFraction == 0;
    const bool rcvZero = reply.RcvSeconds == 0 && reply.RcvFraction == 0;
    // Stratum 0 is a kiss-o'-death; leap 3 a server that is not synchronised itself.
    return mode == 4 && version >= 1 && version <= 4 && reply.Stratum >= 1 && reply.Stratum <= 15 &&
           NtpLeap(reply.LeapVersionMode) != 3 && !xmitZero && !rcvZero;
}

bool TSntpClient::SendRequest(uint32_t& nonceSeconds, uint32_t& nonceFraction, TClockStamp& sent) {
    if (!RandomNonce(nonceSeconds, nonceFraction)) return false;
    TNtpPacket request;
    ClearPacket(request);
    request.LeapVersionMode = FAuthenticator ? kNtpV4ClientRequest : kNtpClientRequest;
    request.XmitSeconds = static_cast<int32_t>(nonceSeconds);
    request.XmitFraction = static_cast<int32_t>(nonceFraction);
    FBuffer = PacketToBytes(request);
    if (FAuthenticator && !FAuthenticator->Seal(FBuffer)) return false;
    sent = ClockStampNow();
    FSock.SendText(FBuffer);
    return FSock.ErrorCode() == 0;
}

bool TSntpClient::AwaitReply(const TSockAddr& server, uint32_t nonceSeconds, uint32_t nonceFraction,
                             uint32_t sentAt, TNtpPacket& reply, TClockStamp& received) {
    for (;;) {
        int left = -1;
        if (FTimeout >= 0) {
            const int64_t rest = static_cast<int64_t>(FTimeout) - TickElapsed(sentAt, TickNow());
            left = rest > 0 ? static_cast<int>(rest) : 0;
        }
        FBuffer = FSock.ReceiveAvailable(left);
        received = ArrivalOfLastDatagram();
        if (FSock.ErrorCode() != 0) return false;
        // Anything not provably ours is ignored and the wait goes on: a datagram from
        // another address or port, one too short to carry our nonce, or a wrong echo.
        const bool fromServer = SameSockAddr(FSock.PeerAddr(), server);
        FSock.SetPeerAddr(server);
        if (fromServer && FBuffer.size() >= kNtpPacketSize) {
            BytesToPacket(FBuffer, reply);
            const bool echoed = static_cast<uint32_t>(reply.OrgSeconds) == nonceSeconds &&
                                static_cast<uint32_t>(reply.OrgFraction) == nonceFraction;
            using TVerdict = TSntpAuthenticator::TVerdict;
            const TVerdict verdict = FAuthenticator ? FAuthenticator->Check(FBuffer) : TVerdict::Authentic;
            if (verdict == TVerdict::Refused) {
                FRefusedByServer = true;
                return false;
            }
            if (echoed && verdict == TVerdict::Authentic) return true;
        }
        if (left == 0) return false;
    }
}

TClockStamp TSntpClient::ArrivalOfLastDatagram() {
    TClockStamp now = ClockStampNow();
    // The kernel's stamp, when there is one: a busy machine may wake this thread late, and
    // that lateness is no part of the round trip.
    const int64_t late = now.RealNs - FSock.LastArrivalNs();
    if (FSock.LastArrivalNs() > 0 && late >= 0 && late < 1000000000) {
        now.RealNs -= late;
        now.MonoNs -= late;
    }
    return now;
}

void TSntpClient::MeasureOffset(const TNtpPacket& reply, const TClockStamp& sent,
                                const TClockStamp& received) {
    // Our receive moment on the time line of the send moment, so that a step of the PC
    // clock during the exchange cannot distort the round trip.
    const int64_t t1 = sent.RealNs;
    const int64_t t4 = sent.RealNs + (received.MonoNs - sent.MonoNs);
    const int64_t t2 = StampToUnixNs(reply.RcvSeconds, reply.RcvFraction);
    const int64_t t3 = StampToUnixNs(reply.XmitSeconds, reply.XmitFraction);
    const int64_t offset = ((t2 - t1) + (t3 - t4)) / 2;
    FNTPOffset = static_cast<double>(offset) / 1e9;
    FNTPDelay = static_cast<double>((t4 - t1) - (t3 - t2)) / 1e9;
    FSample = TTimeSample{{received.MonoNs, t4}, offset};
}

void TSntpClient::AdjustClock() {
    if (!FClockReader || !FClockSetter) return;
    const TDateTime now = FClockReader();
    if (std::fabs(FNTPTime - now) * SecsPerDay <= FMaxSyncDiff) FClockSetter(FNTPTime);
}

bool TSntpClient::QuerySntp() {
    FRefusedByServer = false;
    FSock.CloseConnection();
    FSock.BindTo(FIPInterface, "0");
    if (FSock.ErrorCode() != 0) return false;
    FSock.ConnectTo(FTargetHost, FTargetPort);
    if (FSock.ErrorCode() != 0) return false;
    FSock.SetArrivalStamps(true);
    const TSockAddr server = FSock.PeerAddr();
    uint32_t nonceSeconds = 0, nonceFraction = 0;
    TClockStamp sent, received;
    if (!SendRequest(nonceSeconds, nonceFraction, sent)) return false;
    const uint32_t sentAt = TickNow();
    TNtpPacket reply;
    if (!AwaitReply(server, nonceSeconds, nonceFraction, sentAt, reply, received)) return false;
    // The server answered us, but with a time it does not stand behind: no time at all.
    if (!ReplyIsUsable(reply)) return false;
    FLastReply = reply;
    FNTPTime = StampToDateTime(reply.XmitSeconds, reply.XmitFraction);
    MeasureOffset(reply, sent, received);
    if (FSyncTime) AdjustClock();
    return true;
}
