#include "timesync/server_source.h"

#include <algorithm>
#include <cctype>

#include "net/ipaddr.h"
#include "net/netutil.h"

void SplitServerSource(const std::string& source, std::string& host, std::string& port) {
    host = source;
    port = "123";
    if (!source.empty() && source[0] == '[') {
        const size_t close = source.find(']');
        if (close == std::string::npos) return;
        host = source.substr(1, close - 1);
        if (close + 1 < source.size() && source[close + 1] == ':') port = source.substr(close + 2);
        return;
    }
    // One colon separates a port; more make an IPv6 literal without brackets.
    const size_t colon = source.find(':');
    if (colon != std::string::npos && source.find(':', colon + 1) == std::string::npos) {
        host = source.substr(0, colon);
        port = source.substr(colon + 1);
    }
}

namespace {
constexpr const char* kNtsScheme = "nts://";
constexpr size_t kNtsSchemeLength = 6;

std::string LowerPrefix(const std::string& text, size_t length) {
    std::string prefix = text.substr(0, std::min(text.size(), length));
    std::transform(prefix.begin(), prefix.end(), prefix.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return prefix;
}

// Whether host[:port] writes a port: after "]" for a bracketed address, or one colon.
bool WritesPort(const std::string& hostAndPort) {
    if (!hostAndPort.empty() && hostAndPort[0] == '[')
        return hostAndPort.find("]:") != std::string::npos;
    const size_t colon = hostAndPort.find(':');
    return colon != std::string::npos && hostAndPort.find(':', colon + 1) == std::string::npos;
}
}  // namespace

bool IsNtsSource(const std::string& source) {
    return LowerPrefix(source, kNtsSchemeLength) == kNtsScheme;
}

void SplitNtsSource(const std::string& source, std::string& host, std::string& port) {
    const std::string rest = source.substr(std::min(source.size(), kNtsSchemeLength));
    SplitServerSource(rest, host, port);
    if (!WritesPort(rest)) port = "4460";
}

bool IsPortNumber(const std::string& port) {
    if (port.empty() || port.size() > 5) return false;
    if (!std::all_of(port.begin(), port.end(), [](unsigned char c) { return std::isdigit(c); }))
        return false;
    const int value = std::stoi(port);
    return value >= 1 && value <= 65535;
}

namespace {
std::string Lower(std::string text) { return LowerPrefix(text, text.size()); }

bool StartsWithNoCase(const std::string& text, const std::string& prefix) {
    return LowerPrefix(text, prefix.size()) == prefix;
}

// What follows a closing bracket may only be ":PORT".
std::string BracketProblem(const std::string& source, const std::string& hostAndPort) {
    const size_t close = hostAndPort.find(']');
    if (close == std::string::npos) return "time server '" + source + "' has no closing ']'";
    if (close + 1 < hostAndPort.size() && hostAndPort[close + 1] != ':')
        return "time server '" + source + "' has '" + hostAndPort.substr(close + 1) +
               "' after its ']', not :PORT";
    if (!IsIPv6Literal(hostAndPort.substr(1, close - 1)))
        return "time server '" + source + "' has no IPv6 address between its brackets";
    return std::string();
}
}  // namespace

TSourceKind ServerListEntryKind(const std::string& entry) {
    const std::string trimmed = TrimText(entry);
    if (IsNtsSource(trimmed)) return TSourceKind::Nts;
    if (StartsWithNoCase(trimmed, "http://") || StartsWithNoCase(trimmed, "https://") ||
        Lower(trimmed).find(".php") != std::string::npos)
        return TSourceKind::Script;
    return TSourceKind::Server;
}

TTimeSource MakeTimeSource(const std::string& entry, TSourceKind kind) {
    TTimeSource source{entry, kind, TrimText(entry)};
    if (kind == TSourceKind::Script) return source;
    std::string host, port;
    if (kind == TSourceKind::Nts)
        SplitNtsSource(source.Identity, host, port);
    else
        SplitServerSource(source.Identity, host, port);
    host = Lower(TrimText(host));
    if (host.size() > 1 && host.back() == '.') host.pop_back();
    if (IsPortNumber(port)) port = std::to_string(std::stoi(port));
    const std::string hostText = host.find(':') != std::string::npos ? "[" + host + "]" : host;
    source.Identity = (kind == TSourceKind::Nts ? kNtsScheme : "") + hostText + ":" + port;
    return source;
}

std::string ServerSourceProblem(const std::string& source) {
    const std::string hostAndPort = IsNtsSource(source) ? source.substr(kNtsSchemeLength) : source;
    if (!hostAndPort.empty() && hostAndPort[0] == '[') {
        const std::string problem = BracketProblem(source, hostAndPort);
        if (!problem.empty()) return problem;
    }
    std::string host, port;
    if (IsNtsSource(source))
        SplitNtsSource(source, host, port);
    else
        SplitServerSource(source, host, port);
    if (TrimText(host).empty()) return "time server '" + source + "' names no host";
    if (!IsPortNumber(port))
        return "time server '" + source + "' has port '" + port + "', not a number from 1 to 65535";
    return std::string();
}

std::string ScriptSourceProblem(const std::string& url) {
    const size_t schemeLength = LowerPrefix(url, 8) == "https://" ? 8 : 7;
    if (LowerPrefix(url, 7) != "http://" && schemeLength != 8)
        return "time script '" + url + "' is not an http:// or https:// URL";
    // The splitter would fill in "localhost" for a missing host: look at what was written.
    const std::string authority =
        url.substr(schemeLength, url.find_first_of("/?#", schemeLength) - schemeLength);
    const std::string hostAndPort = authority.substr(authority.rfind('@') + 1);
    TUrlParts parts;
    SplitUrl(url, parts);
    if (hostAndPort.empty() || hostAndPort[0] == ':' || parts.Host.empty())
        return "time script '" + url + "' names no host";
    if (!IsPortNumber(parts.Port))
        return "time script '" + url + "' has port '" + parts.Port +
               "', not a number from 1 to 65535";
    return std::string();
}
