#include "gsm/codecs/submitpdu.h"

#include "gsm/codecs/address.h"
#include "gsm/codecs/gsmerrors.h"
#include "gsm/codecs/hex.h"
#include "gsm/codecs/octetcodecs.h"

namespace {

// First-octet bits.
constexpr unsigned MtiSubmitVpfRelative = 0x11;
constexpr unsigned StatusReportRequest = 0x20;
constexpr unsigned UserDataHeaderIndicator = 0x40;
// TP-DCS bits.
constexpr unsigned DcsClassPresent = 0x10;  // with class bits 00: class 0, "flash"
constexpr const char* ValidityOneWeek = "AD";

unsigned DcsOfCoding(TSmsCoding coding) {
    switch (coding) {
        case scGsm7:
            return 0x00;
        case sc8Bit:
            return 0x04;
        default:
            return 0x08;
    }
}

// UDHL of a header; the header must hold exactly UDHL + 1 octets.
unsigned HeaderLength(std::string_view header) {
    const unsigned udhl = static_cast<unsigned>(ReadOctet(header, 0));
    if (header.size() != 2 * (udhl + 1)) throw EConvertError("Invalid user data header");
    for (const char c : header)
        if (!IsHexDigit(c)) throw EConvertError("Invalid user data header");
    return udhl;
}

}  // namespace

void TSMSD::SetText(std::u16string_view text) {
    FText = text;
    Coding = scAuto;
}

std::string TSMSD::BuildSubmitPdu() {
    try {
        const TSmsCoding coding = Coding == scAuto ? ClassifyText(FText) : Coding;
        const std::string tpdu = BuildTpdu(coding);
        FTpduLength = static_cast<int>(tpdu.size() / 2);
        return "00" + tpdu;  // no service centre: the modem uses its stored one
    } catch (const std::exception& e) {
        throw EGsmCodecError(std::string("Error encoding PDU: ") + e.what());
    }
}

std::string TSMSD::BuildTpdu(TSmsCoding coding) {
    unsigned first = MtiSubmitVpfRelative;
    if (StatusReport) first |= StatusReportRequest;
    if (HasHeader()) first |= UserDataHeaderIndicator;
    unsigned dcs = DcsOfCoding(coding);
    if (Flash) dcs |= DcsClassPresent;
    unsigned udl = 0;
    const std::string ud = UserData(coding, udl);
    FUserDataOctets = static_cast<int>(ud.size() / 2);
    // TP-MR 00: the modem assigns the reference and reports it in +CMGS.
    return HexOctet(first) + "00" + EncodeAddress(Destination) + "00" + HexOctet(dcs) +
           ValidityOneWeek + IntToHex(udl, 2) + ud;
}

std::string TSMSD::UserData(TSmsCoding coding, unsigned& udl) const {
    const unsigned headerOctets = HasHeader() ? HeaderLength(FHeader) + 1 : 0;
    switch (coding) {
        case scGsm7:
            return Gsm7UserData(udl);
        case sc8Bit: {
            const std::string data = TextTo8BitHex(FText);
            udl = headerOctets + static_cast<unsigned>(data.size() / 2);
            return FHeader + data;
        }
        default: {
            const std::string data = TextToUcs2Hex(FText);
            udl = headerOctets + static_cast<unsigned>(data.size() / 2);
            return FHeader + data;
        }
    }
}

// With a header, the text starts on the septet boundary after it: the header
// is packed as k zero septets (fill bits included), whose leading UDHL + 1
// octets are then overwritten by the header itself.
std::string TSMSD::Gsm7UserData(unsigned& udl) const {
    const std::string textSeptets = TextToGsm7(FText);
    if (!HasHeader()) {
        udl = static_cast<unsigned>(textSeptets.size());
        return PackGsm7(textSeptets);
    }
    const unsigned udhl = HeaderLength(FHeader);
    const unsigned k = udhl + udhl / 7 + 2;
    const std::string packed = PackGsm7(std::string(k, '\0') + textSeptets);
    udl = k + static_cast<unsigned>(textSeptets.size());
    return FHeader + packed.substr(2 * (udhl + 1));
}

TEncodedPart EncodePart(std::u16string_view text, std::string_view header,
                        const std::string& destination, bool flash, bool forceUcs2,
                        bool statusReport) {
    TSMSD builder;
    builder.SetText(text);
    builder.Destination = destination;
    builder.SetHeader(header);
    builder.Coding = forceUcs2 ? scUcs2 : scAuto;
    builder.Flash = flash;
    builder.StatusReport = statusReport;
    TEncodedPart part;
    part.Pdu = builder.BuildSubmitPdu();
    part.TpduLength = builder.TpduLength();
    part.UserDataOctets = builder.UserDataOctets();
    return part;
}
