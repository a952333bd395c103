// SMS-SUBMIT PDUs for a modem in PDU mode (AT+CMGS).
#pragma once

#include <string>
#include <string_view>

#include "gsm/codecs/gsm7.h"

// Common root of the PDU builders; it carries nothing of its own.
class TSMSDecoder {
public:
    virtual ~TSMSDecoder() = default;
};

// Builds one SMS-SUBMIT PDU, with relative validity of 7 days and the
// modem's stored service centre.
class TSMSD : public TSMSDecoder {
public:
    const std::u16string& Text() const { return FText; }
    // Setting the text puts the coding back to scAuto.
    void SetText(std::u16string_view text);

    std::string Destination;  // digits, optionally beginning with '+'
    bool Flash = false;       // class 0: shown at once, not stored
    bool StatusReport = false;
    TSmsCoding Coding = scAuto;

    // User-data header as hex, beginning with its UDHL octet; empty for none.
    const std::string& Header() const { return FHeader; }
    void SetHeader(std::string_view hex) { FHeader = hex; }
    bool HasHeader() const { return !FHeader.empty(); }

    // The full PDU hex, service-centre octet included. Raises EGsmCodecError
    // "Error encoding PDU: ..." on any failure.
    std::string BuildSubmitPdu();
    // Results of the last build: octets after the service-centre octet (the
    // length AT+CMGS wants) and octets of TP-UD.
    int TpduLength() const { return FTpduLength; }
    int UserDataOctets() const { return FUserDataOctets; }

private:
    std::string BuildTpdu(TSmsCoding coding);
    std::string UserData(TSmsCoding coding, unsigned& udl) const;
    std::string Gsm7UserData(unsigned& udl) const;

    std::u16string FText;
    std::string FHeader;
    int FTpduLength = 0;
    int FUserDataOctets = 0;
};

struct TEncodedPart {
    std::string Pdu;
    int TpduLength = 0;
    int UserDataOctets = 0;
};

// One PDU from a throw-away builder: UCS-2 when forced, else the coding the text needs.
TEncodedPart EncodePart(std::u16string_view text, std::string_view header,
                        const std::string& destination, bool flash, bool forceUcs2,
                        bool statusReport);
