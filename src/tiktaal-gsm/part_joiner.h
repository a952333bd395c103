// Joins the parts of concatenated messages by sender and reference, so that each message
// is printed once, whole; parts whose companions stay away too long come out as they are.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct TJoinedMessage {
    std::string From, Timestamp, Text;
    int Reference = 0, Parts = 1;
    bool Partial = false;
    int Part = 0;  // the one part a partial message holds; 0 for a whole one or several parts
};

class TPartJoiner {
public:
    static constexpr int64_t WaitMs = 10 * 60 * 1000;

    // A whole message, or nothing yet while parts are missing. A part whose number does
    // not fit its total comes out at once, alone and marked partial.
    std::vector<TJoinedMessage> Add(const std::string& from, const std::string& timestamp,
                                    const std::string& text, int reference, int part, int parts,
                                    int64_t nowMs);
    // Messages whose first part came more than WaitMs ago, with the parts that came.
    std::vector<TJoinedMessage> Expired(int64_t nowMs);
    // Everything still waiting, as partial messages (the program is ending).
    std::vector<TJoinedMessage> Flush();
    size_t Waiting() const { return FPending.size(); }

private:
    struct TPending {
        std::string From, Timestamp;
        int Reference = 0, Parts = 0;
        int64_t FirstMs = 0;
        std::map<int, std::string> Texts;
    };
    static TJoinedMessage Joined(const TPending& p, bool partial);

    std::map<std::string, TPending> FPending;
};
