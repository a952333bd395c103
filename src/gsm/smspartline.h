// The fields of a message part line as the part planner writes it:
//   TPDU length,PDU hex,"chunk text","marker",part number,part count,number
#pragma once

#include <string>

struct TPartLine {
    int TpduLength = 0;
    std::string Pdu, Text, Marker, Number;
    int PartNumber = 0, PartCount = 0;
    // The chunk text with %n back to CR LF and %~ back to '"'.
    std::string PlainText() const;
};

// False when the line does not have the planner's shape.
bool ParsePartLine(const std::string& line, TPartLine& part);
