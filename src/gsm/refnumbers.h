// The stored concatenation reference of a GSM component instance: "ReferenceNumbers.ini"
// beside the executable (or where the owner says), section [RefNum], one key per instance
// name. Kept across runs, so that two long messages of one sender never share a reference.
#pragma once

#include <string>

// The file beside the running executable.
std::string DefaultReferenceFile();
// The value of key in section [RefNum]; 0 when the file, the section or the key is
// missing, unreadable or not a number.
int ReadReferenceNumber(const std::string& path, const std::string& key);
// Stores value under key in section [RefNum], keeping everything else the file holds;
// the file is replaced atomically. False (errno set) when it cannot be written.
bool WriteReferenceNumber(const std::string& path, const std::string& key, int value);
