// How a time source is written: an SNTP server as host, host:port or [v6-address]:port, an
// NTS server as nts://host[:port], a time script as an http or https URL.
#pragma once

#include <string>

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
