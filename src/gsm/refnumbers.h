// The stored concatenation reference of a GSM component instance: "ReferenceNumbers.ini"
// beside the executable, section [RefNum], one key per instance name.
#pragma once

#include <string>

// The file beside the running executable.
std::string DefaultReferenceFile();
// The value of key in section [RefNum]; 0 when the file, the section or the key is
// missing, unreadable or not a number.
int ReadReferenceNumber(const std::string& path, const std::string& key);
