// Field-by-field decoder for listed messages and status reports, and the
// service-centre time stamp.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "toolkit/datetime.h"

enum TSmsKind : uint8_t {
    skDeliver = 0,
    skDeliverReport = 1,
    skStatusReport = 2,
    skCommand = 3,
    skSubmit = 4,
    skSubmitReport = 5,
    skUnknown = 0xFF,  // TP-MTI 3, reserved in both directions
};

struct TSmsPdu {
    std::string ServiceCentre;
    std::string Address;  // originator (SMS-DELIVER) or recipient (status report)
    std::string Text;     // UTF-8; empty for status reports
    uint8_t FirstOctet = 0;
    uint8_t Kind = skDeliver;
    uint8_t MessageReference = 0;
    uint8_t Status = 0;
    uint8_t ProtocolId = 0;
    uint8_t CodingScheme = 0;
    TDateTime TimeStamp = 0;
};

// GSM default alphabet to ISO 8859-1 codes: Greek capitals as '?', 0x1B kept
// as the escape code, entries 0x80..0xFF zero.
extern const std::array<uint8_t, 256> GsmTo8Bit;

// Fills `record` from the PDU hex; `incoming` selects how TP-MTI reads.
// Returns false when the PDU ends early or holds non-hex digits (or a reserved
// TP-MTI); the fields read up to that point are kept, the rest stay empty.
bool DecodeRecordPdu(bool incoming, std::string_view pdu, TSmsPdu& record);

// Seven swapped-digit octets (YY MM DD hh mm ss zone) to a date-time: the stamp as
// written, the zone not applied (as TSMS::GetTimeStamp reads a message's stamp). 0 when
// the digits are not a valid stamp.
TDateTime DecodeScts(std::string_view digits);
