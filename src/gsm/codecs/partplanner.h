// Splits a message text into the SMS-SUBMIT PDUs that carry it, as message part
// lines for the modem thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "toolkit/stringlist.h"

constexpr size_t MaxChunkChars = 160;
// A PDU is cut down until its TPDU fits this many octets...
constexpr int MaxTpduOctets = 154;
// ...and its user data fits one SMS: a short destination number would
// otherwise leave room for more than 140 octets, which the network refuses.
constexpr int MaxUserDataOctets = 140;

struct TPartOptions {
    std::string Number;  // destination
    int MergeMax = 1;    // parts chained under one concatenation reference
    bool Flash = false;
    bool ForceUcs2 = false;
    bool StatusReport = false;
    uint8_t Reference = 0;  // sizes the header placeholder
};

// How many PDUs the text needs, with or without the "<01z02>" group numbering;
// 0 when not even one character fits a PDU (a destination far too long).
int CountMessageParts(const TPartOptions& options, std::u16string_view text, bool numbering);

// Clears `parts`, then adds one line per PDU:
//   TPDU length,PDU hex,"chunk text","marker",part number,part count,number
// with CR LF in the chunk text written as %n and '"' as %~. Returns the part
// count, 0 for a blank text, one that fits no PDU, or a destination number that
// an address cannot carry (its reason then goes to *error). When concatenation
// references are used, `reference` advances by the number of groups that
// carried one, wrapping modulo 256.
int PlanMessageParts(const std::string& number, std::u16string_view text, const std::string& marker,
                     int mergeMax, bool flash, bool forceUcs2, bool statusReport,
                     uint8_t& reference, TStringList& parts, std::string* error = nullptr);
// The same for UTF-8 text, as the component holds it.
int PlanMessageParts(const std::string& number, const std::string& text, const std::string& marker,
                     int mergeMax, bool flash, bool forceUcs2, bool statusReport,
                     uint8_t& reference, TStringList& parts, std::string* error = nullptr);
