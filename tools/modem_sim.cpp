// The simulated modem's wire side: the pseudo-terminal, its link, the bytes in and out,
// vanishing and coming back, control lines and the record of received commands.
#include "modem_sim.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace {

int64_t MonotonicMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

int64_t UnixMs() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

bool StartsWithNoCase(const std::string& s, const std::string& prefix) {
    if (s.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(s[i])) !=
            std::toupper(static_cast<unsigned char>(prefix[i])))
            return false;
    return true;
}

// \r \n \z (Ctrl-Z) \\ in control text.
std::string Unescape(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\' || i + 1 == s.size()) {
            out += s[i];
            continue;
        }
        const char c = s[++i];
        out += c == 'r' ? '\r' : c == 'n' ? '\n' : c == 'z' ? '\x1A' : c;
    }
    return out;
}

constexpr size_t MaxCommandLength = 4096;
constexpr size_t FloodBytes = 200000;
// A reader that takes nothing for this long is gone: the rest of an answer is dropped.
constexpr int64_t StalledWriteMs = 2000;

std::string Hex2(unsigned v) {
    char b[3];
    std::snprintf(b, sizeof b, "%02X", v & 0xFF);
    return b;
}

// Septets of ASCII text; '@' is septet 0, the few others that differ from ASCII become '?'.
std::string Septets(const std::string& text) {
    std::string out;
    for (const char c : text) {
        const bool same = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                          (c >= '0' && c <= '9') || std::strchr(" !\"#%&'()*+,-./:;<=>?", c);
        out += c == '@' ? '\0' : same ? c : '?';
    }
    return out;
}

std::string Pack7(const std::string& septets) {
    std::string hex;
    unsigned acc = 0;
    int bits = 0;
    for (const char c : septets) {
        acc |= static_cast<unsigned>(c & 0x7F) << bits;
        bits += 7;
        while (bits >= 8) {
            hex += Hex2(acc);
            acc >>= 8;
            bits -= 8;
        }
    }
    if (bits > 0) hex += Hex2(acc);
    return hex;
}

std::string SwappedDigits(std::string digits) {
    if (digits.size() % 2) digits += 'F';
    for (size_t i = 0; i + 1 < digits.size(); i += 2) std::swap(digits[i], digits[i + 1]);
    return digits;
}

}  // namespace

std::string DeliverPduOf(const std::string& text, const std::string& from) {
    const std::string septets = Septets(text.substr(0, 160));
    // No service centre, SMS-DELIVER, international originator, 7-bit, 2025-01-20 12:34:56.
    return "0004" + Hex2(static_cast<unsigned>(from.size())) + "91" + SwappedDigits(from) +
           "0000" + "52100221436580" + Hex2(static_cast<unsigned>(septets.size())) +
           Pack7(septets);
}

std::string GeneratedMessageText(int n) {
    std::string text = "message " + std::to_string(n) + " ";
    while (text.size() < 160) text += "abcdefghij"[text.size() % 10];
    return text;
}

std::string GeneratedMessagePdu(int n) { return DeliverPduOf(GeneratedMessageText(n)); }

TModemSim::TModemSim(TModemSimOptions options)
    : FOptions(std::move(options)), FCharset(FOptions.Charset) {
    FPhoneBooks["SM"] = {{"+48600100200", "Ala"}, {"+48600300400", "Łukasz"}};
    FPhoneBooks["ME"] = {{"123456789", "Dom"}};
    for (int i = 0; i < FOptions.PhoneBookEntries; ++i)
        FPhoneBooks["SM"].push_back({"+48601" + std::to_string(100000 + i),
                                     "Kontakt " + std::to_string(i) + " Żółw"});
    int index = 1;
    for (const std::string& pdu : FOptions.StoredPdus) FMessages["SM"].push_back({index++, 0, pdu});
    for (int i = 0; i < FOptions.StoredMessages; ++i)
        FMessages["SM"].push_back({index++, 0, GeneratedMessagePdu(i)});
    FOptions.SimCapacity = std::max(FOptions.SimCapacity, index - 1);
    FVanishFired.assign(FOptions.VanishOn.size(), false);
}

TModemSim::~TModemSim() { Stop(); }

bool TModemSim::Start() {
    if (pipe2(FWakePipe, O_CLOEXEC | O_NONBLOCK) != 0) return false;
    if (!OpenPty()) return false;
    FThread = std::thread([this] { Run(); });
    return true;
}

void TModemSim::Stop() {
    FStop = true;
    if (FWakePipe[1] >= 0) (void)!write(FWakePipe[1], "x", 1);
    if (FThread.joinable()) FThread.join();
    ClosePty();
    for (int& fd : FWakePipe) {
        if (fd >= 0) close(fd);
        fd = -1;
    }
}

bool TModemSim::OpenPty() {
    termios raw{};
    cfmakeraw(&raw);
    int master = -1;
    char name[256] = {};
    if (openpty(&master, &FSlave, name, &raw, nullptr) != 0) return false;
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    fcntl(master, F_SETFD, FD_CLOEXEC);
    fcntl(FSlave, F_SETFD, FD_CLOEXEC);
    FPtyName = name;
    // The slave stays open here as well, so that the engine closing its side is no hang-up
    // for us; only our own vanishing is one for the engine.
    if (!FOptions.LinkPath.empty()) {
        unlink(FOptions.LinkPath.c_str());
        if (symlink(name, FOptions.LinkPath.c_str()) != 0) {
            close(master);
            close(FSlave);
            FSlave = -1;
            return false;
        }
    }
    FMaster = master;
    FEcho = true;
    FInput.clear();
    FInMessageBody = false;
    return true;
}

void TModemSim::ClosePty() {
    const int master = FMaster.exchange(-1);
    if (master >= 0) close(master);
    if (FSlave >= 0) close(FSlave);
    FSlave = -1;
    if (!FOptions.LinkPath.empty()) unlink(FOptions.LinkPath.c_str());
}

void TModemSim::Vanish() {
    if (FMaster < 0) return;
    ClosePty();
    ++FVanishings;
    FReturnAt = FOptions.ReturnAfterMs >= 0 ? MonotonicMs() + FOptions.ReturnAfterMs : -1;
}

// Answers of any size: writing goes on as long as the engine keeps reading.
void TModemSim::Write(const std::string& bytes) {
    size_t done = 0;
    int64_t end = MonotonicMs() + StalledWriteMs;
    while (done < bytes.size() && FMaster >= 0 && MonotonicMs() < end && !FStop) {
        const ssize_t n = write(FMaster, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            end = MonotonicMs() + StalledWriteMs;
            continue;
        }
        pollfd p{FMaster, POLLOUT, 0};
        poll(&p, 1, 10);
    }
}

// Sleeps in short steps: the wake pipe may hold control bytes for later, so it cannot be
// the thing waited on here.
void TModemSim::Pause(int ms) {
    const int64_t end = MonotonicMs() + ms;
    while (!FStop) {
        const int64_t left = end - MonotonicMs();
        if (left <= 0) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min<int64_t>(left, 20)));
    }
}

void TModemSim::Record(const std::string& text) {
    TReceivedCommand r{UnixMs(), text};
    {
        std::lock_guard<std::mutex> g(FLock);
        FReceived.push_back(r);
    }
    if (FOptions.RecordPath.empty()) return;
    std::ofstream out(FOptions.RecordPath, std::ios::app);
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%lld.%03lld", static_cast<long long>(r.UnixMs / 1000),
                  static_cast<long long>(r.UnixMs % 1000));
    out << stamp << ' ' << text << '\n';
}

bool TModemSim::VanishRuleFires(const std::string& text) {
    for (size_t i = 0; i < FOptions.VanishOn.size(); ++i) {
        if (FVanishFired[i] || !StartsWithNoCase(text, FOptions.VanishOn[i])) continue;
        FVanishFired[i] = true;
        return true;
    }
    return false;
}

void TModemSim::TakeBytes(const char* data, size_t count) {
    for (size_t i = 0; i < count && FMaster >= 0; ++i) {
        const char c = data[i];
        if (FInMessageBody) {
            if (c == '\x1A' || c == '\x1B') {
                FInMessageBody = false;
                std::string body;
                body.swap(FInput);
                if (c == '\x1A')
                    TakeMessageBody(body);
                else
                    Write("\r\nOK\r\n");
            } else if (c != '\r' && c != '\n' && FInput.size() < MaxCommandLength) {
                FInput += c;
            }
            continue;
        }
        if (c == '\r') {
            std::string command;
            command.swap(FInput);
            if (!command.empty()) TakeCommand(command);
        } else if (c != '\n' && FInput.size() < MaxCommandLength) {
            FInput += c;
        }
    }
}

void TModemSim::TakeCommand(const std::string& command) {
    Record(command);
    if (VanishRuleFires(command)) return Vanish();
    if (FOptions.Silent) return;
    for (const std::string& s : FOptions.SilentCommands)
        if (StartsWithNoCase(command, s)) return;
    if (FEcho) Write(command + "\r");
    if (FOptions.DelayMs > 0) Pause(FOptions.DelayMs);
    for (const auto& [prefix, ms] : FOptions.SlowCommands)
        if (StartsWithNoCase(command, prefix)) Pause(ms);
    if (FOptions.Garbage) return Write("\r\n#$%&GARBAGE\x7F\x01@!\r\n");
    if (FOptions.HalfLine) return Write("\r\nO");
    if (FOptions.Flood) return Write(std::string(FloodBytes, 'A'));
    Write(AnswerFor(command));
}

void TModemSim::TakeMessageBody(const std::string& body) {
    Record(body + "^Z");
    if (VanishRuleFires("PDU")) return Vanish();
    if (FOptions.Silent) return;
    if (FOptions.DelayMs > 0) Pause(FOptions.DelayMs);
    const bool hex = !body.empty() && body.size() % 2 == 0 &&
                     body.find_first_not_of("0123456789ABCDEFabcdef") == std::string::npos;
    if (FRefused < FOptions.RefuseSends || !hex) {
        if (hex) ++FRefused;
        const std::string code = hex ? "500" : "304";
        return Write(FOptions.ErrorCodes ? "\r\n+CMS ERROR: " + code + "\r\n" : "\r\nERROR\r\n");
    }
    {
        std::lock_guard<std::mutex> g(FLock);
        FSentPdus.push_back(body);
    }
    const int reference = FNextReference;
    FNextReference = FNextReference % 255 + 1;
    if (FOptions.NoMessageReference) return Write("\r\nOK\r\n");
    Write("\r\n+CMGS: " + std::to_string(reference) + "\r\n\r\nOK\r\n");
}

void TModemSim::Control(const std::string& line) {
    {
        std::lock_guard<std::mutex> g(FLock);
        FControlQueue.push_back(line);
    }
    if (FWakePipe[1] >= 0) (void)!write(FWakePipe[1], "c", 1);
}

void TModemSim::RunControlLines() {
    std::deque<std::string> lines;
    {
        std::lock_guard<std::mutex> g(FLock);
        lines.swap(FControlQueue);
    }
    for (const std::string& l : lines) RunControl(l);
}

void TModemSim::RunControl(const std::string& line) {
    const size_t space = line.find(' ');
    const std::string verb = line.substr(0, space);
    const std::string arg = space == std::string::npos ? "" : line.substr(space + 1);
    if (verb == "vanish") return Vanish();
    if (verb == "return") {
        if (FMaster < 0) OpenPty();
        return;
    }
    if (verb == "quit") {
        FStop = true;
        return;
    }
    if (verb == "store") {
        StoreOnSim(arg);
        return;
    }
    if (FMaster < 0) return;
    if (verb == "say") return Write("\r\n" + Unescape(arg) + "\r\n");
    if (verb == "raw") return Write(Unescape(arg));
    if (verb == "cmt") {
        const size_t tpdu = arg.size() >= 2 ? (arg.size() - 2) / 2 : 0;
        return Write("\r\n+CMT: ," + std::to_string(tpdu) + "\r\n" + arg + "\r\n");
    }
    if (verb == "cmti") return Write("\r\n+CMTI: \"SM\"," + arg + "\r\n");
    if (verb == "deliver") return Deliver(arg);
    if (verb == "burst") {
        // N routed messages at once, numbered from FIRST: "burst N [FIRST]".
        const long n = std::clamp(std::strtol(arg.c_str(), nullptr, 10), 0L, 100000L);
        const size_t blank = arg.find(' ');
        const long first = blank == std::string::npos ? 0 : std::strtol(arg.c_str() + blank, nullptr, 10);
        std::string all;
        for (long i = 0; i < n; ++i) {
            const std::string pdu = GeneratedMessagePdu(static_cast<int>(first + i));
            all += "\r\n+CMT: ," + std::to_string((pdu.size() - 2) / 2) + "\r\n" + pdu + "\r\n";
        }
        return Write(all);
    }
    if (verb == "ring") return Write("\r\nRING\r\n\r\n+CLIP: \"" + arg + "\",145\r\n");
    if (verb == "ciev") return Write("\r\n+CIEV: " + arg + "\r\n");
    if (verb == "flood") {
        const long n = std::strtol(arg.c_str(), nullptr, 10);
        return Write(std::string(static_cast<size_t>(std::clamp(n, 0L, 1L << 22)), 'A'));
    }
}

void TModemSim::Run() {
    char buf[4096];
    while (!FStop) {
        RunControlLines();
        if (FStop) break;
        if (FMaster < 0 && FReturnAt >= 0 && MonotonicMs() >= FReturnAt) {
            FReturnAt = -1;
            OpenPty();
        }
        pollfd p[2] = {{FWakePipe[0], POLLIN, 0}, {FMaster, POLLIN, 0}};
        int wait = 1000;
        if (FMaster < 0 && FReturnAt >= 0)
            wait = static_cast<int>(std::max<int64_t>(0, FReturnAt - MonotonicMs()));
        if (poll(p, FMaster >= 0 ? 2 : 1, wait) <= 0) continue;
        if (p[0].revents & POLLIN) {
            char drain[64];
            while (read(FWakePipe[0], drain, sizeof drain) > 0) {
            }
        }
        if (FMaster >= 0 && (p[1].revents & POLLIN)) {
            const ssize_t n = read(FMaster, buf, sizeof buf);
            if (n > 0) TakeBytes(buf, static_cast<size_t>(n));
        }
    }
}

std::vector<TReceivedCommand> TModemSim::Received() const {
    std::lock_guard<std::mutex> g(FLock);
    return FReceived;
}

int TModemSim::CountReceived(const std::string& prefix) const {
    std::lock_guard<std::mutex> g(FLock);
    int n = 0;
    for (const auto& r : FReceived)
        if (StartsWithNoCase(r.Text, prefix)) ++n;
    return n;
}

int TModemSim::StoreOnSim(const std::string& pdu) {
    std::lock_guard<std::mutex> g(FLock);
    auto& store = FMessages["SM"];
    if (static_cast<int>(store.size()) >= FOptions.SimCapacity) return -1;
    int index = 1;
    while (std::any_of(store.begin(), store.end(),
                       [&](const TStoredMessage& m) { return m.Index == index; }))
        ++index;
    store.push_back({index, 0, pdu});
    std::sort(store.begin(), store.end(),
              [](const TStoredMessage& a, const TStoredMessage& b) { return a.Index < b.Index; });
    return index;
}

// The network hands a message over: stored and announced, or refused by a full SIM.
void TModemSim::Deliver(const std::string& pdu) {
    const int index = StoreOnSim(pdu);
    if (index < 0) {
        ++FRefusedDeliveries;
        return;
    }
    Write("\r\n+CMTI: \"SM\"," + std::to_string(index) + "\r\n");
}

int TModemSim::StoredCount(const std::string& storage) const {
    std::lock_guard<std::mutex> g(FLock);
    const auto it = FMessages.find(storage);
    return it == FMessages.end() ? 0 : static_cast<int>(it->second.size());
}

std::vector<std::string> TModemSim::SentPdus() const {
    std::lock_guard<std::mutex> g(FLock);
    return FSentPdus;
}
