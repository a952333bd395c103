// How a time source is written: an SNTP server as host, host:port or [v6-address]:port, an
// NTS server as nts://host[:port], a time script as an http or https URL; what kind of
// source an entry is, and which entries name the same source.
#pragma once

#include <string>

// Server: asked over SNTP. Script: an HTTP time script. Nts: an SNTP server asked with
// Network Time Security ("nts://HOST[:PORT]").
enum class TSourceKind { Server, Script, Nts };

// One configured source: the entry as written, its kind, and the identity that tells it
// from the others (two entries with one identity are one source).
struct TTimeSource {
    std::string Text;
    TSourceKind Kind = TSourceKind::Server;
    std::string Identity;
};

// The kind of an entry of the server list: "nts://" is NTS; an http:// or https:// URL,
// or an entry naming a ".php" script, is a script; anything else a server. Entries of the
// script list are scripts whatever their name.
TSourceKind ServerListEntryKind(const std::string& entry);
// The entry, its kind and identity: a server's lower-case host (without brackets or a
// final dot) and decimal port, "nts://" and the same for NTS, a script's URL as written
// (trimmed).
TTimeSource MakeTimeSource(const std::string& entry, TSourceKind kind);

// A server source is a host name or address, optionally with a port: host:port or
// [v6-address]:port; the port is 123 otherwise.
void SplitServerSource(const std::string& source, std::string& host, std::string& port);

// An NTS server: "nts://" (any case) then host[:port], the key exchange's port, 4460
// when none is written.
bool IsNtsSource(const std::string& source);
void SplitNtsSource(const std::string& source, std::string& host, std::string& port);

// A port written as a decimal number from 1 to 65535.
bool IsPortNumber(const std::string& port);

// Empty when the source can be asked; otherwise why not, for the user.
std::string ServerSourceProblem(const std::string& source);
std::string ScriptSourceProblem(const std::string& url);
