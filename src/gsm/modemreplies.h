// Reading the modem's replies to the probes and queries of the connection: plain text
// routines, so that odd or absurd replies can be tested without a modem.
#pragma once

#include <string>
#include <vector>

// A decimal number (optional sign) within [low, high]; false for anything else.
bool ReadBoundedInt(const std::string& text, int low, int high, int& value);

// The values of every parenthesised group, a range a-b counting as each value from a to
// b (ranges are capped so that an absurd one stays small). False when the counts of
// opening and closing parentheses differ.
bool ParenthesisedGroups(const std::string& reply, std::vector<std::vector<int>>& groups);

// "AT+CNMI=mode,mt,bm,ds,bfr" from the reply to "AT+CNMI=?"; empty when it cannot be read.
std::string NewMessageRoutingCommand(const std::string& reply, bool storeNewMessages);

// The highest value of the first group after tag ("+CMMS:", "+CLIP:"), as one digit:
// 1 when it is 2 or more. -1 when it cannot be read.
int HighestFirstGroupValue(const std::string& reply, const std::string& tag);

// Used count and capacity of the first storage in a "+CPMS:" line.
bool ReadStorageUse(const std::string& reply, int& used, int& capacity);

// The index range of "+CPBR: (first-last),numberLength,nameLength".
struct TPhoneBookRange {
    int First = 0, Last = 0, NumberLength = 0, NameLength = 0;
};
bool ReadPhoneBookRange(const std::string& reply, TPhoneBookRange& range);
// Used and total of "+CPBS: "SM",used,total".
bool ReadPhoneBookUse(const std::string& reply, int& used, int& total);

// The character set named by "+CSCS: "IRA"" (upper case); false when there is none.
bool ReadCharacterSet(const std::string& reply, std::string& set);
// The set a successful AT+CSCS="X" command selects, empty for any other command.
std::string SelectedCharacterSet(const std::string& command);

// The first complete "+CME ERROR: ..." or "+CMS ERROR: ..." line of a text (the refusal
// real modems give, with its code), empty when there is none.
std::string ErrorResultLine(const std::string& text);

// Line n (0-based) of a reply split at CR LF; empty when there is none.
std::string ReplyLine(const std::string& reply, size_t n);
// The reply without a final "OK" line (and the empty lines around it).
std::string WithoutFinalOk(const std::string& reply);
