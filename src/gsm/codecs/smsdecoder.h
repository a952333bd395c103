// Decoder for the PDUs a modem lists or delivers: SMS-DELIVER, and SMS-SUBMIT
// as stored in the modem's memory.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "toolkit/datetime.h"

// Receives the decoder's error messages. The decoder runs on the modem's
// worker thread, where no window can be shown; the caller decides where they go.
using TMessageSink = std::function<void(const std::string&)>;

class TSMS {
public:
    explicit TSMS(TMessageSink sink = {}) : FSink(std::move(sink)) {}

    // Locates the fields. Each unreadable one is reported to the sink as
    // "PDU ERROR (<field>): " followed by the PDU, and read as 0.
    void ParsePdu(std::string_view pdu);
    // Whether the last PDU had every field ParsePdu locates, and was long enough to hold
    // the sender, the time stamp and the user-data length.
    bool Readable() const;
    // Sender (for a stored SMS-SUBMIT, recipient) number, '+' for international,
    // or an alphanumeric name; empty when unreadable.
    std::string GetSender() const;
    // The message text with line breaks as CR LF, "(Decoding Error)" when the
    // user data cannot be read. Also fills Header().
    std::u16string GetText();
    // Service-centre time stamp (the zone is not applied); 0 for an SMS-SUBMIT
    // or an unreadable stamp.
    TDateTime GetTimeStamp() const;

    const std::string& Pdu() const { return FPdu; }
    bool IsSubmit() const { return FIsSubmit; }
    bool HasHeader() const { return FHasHeader; }
    int Alphabet() const { return FAlphabet; }  // 0 GSM 7-bit, 1 8-bit, 2 UCS-2, 3 reserved
    int UserDataLength() const { return FUserDataLength; }
    const std::string& Header() const { return FHeader; }  // hex, UDHL octet included
    int TpduLength() const { return FTpduLength; }

private:
    int ReadField(size_t position, const char* name);
    std::u16string DecodeUserData();
    std::u16string DecodeText(const std::string& userData, int udhl) const;

    TMessageSink FSink;
    std::string FPdu;
    bool FUnreadable = false;
    // Positions are 1-based, in hex characters, as a PDU's layout is usually told.
    int FScDigits = 0;
    int FFirstOctetPos = 3;
    bool FIsSubmit = false;
    bool FHasHeader = false;
    int FValidityDigits = 0;
    int FAddressPos = 0;  // the type octet of the address
    int FAddressDigits = 0;
    int FAlphabet = 0;
    int FUserDataLength = 0;
    std::string FHeader;
    int FTpduLength = 0;
};

struct TConcatInfo {
    int Reference = -1;
    int Total = -1;
    int Part = -1;
};

// Concatenation data of the PDU's first concatenation header element, with an
// 8-bit (identifier 0x00) or 16-bit (0x08) reference; all -1 when it has none.
TConcatInfo DecodeConcatInfo(std::string_view pdu, TMessageSink sink = {});

// Every line break (CR LF, LF CR, lone CR, lone LF) as CR LF.
std::u16string NormaliseLineBreaks(std::u16string_view text);
