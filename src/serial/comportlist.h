// The machine's serial-port names, in the two orders the components show them.
#pragma once

#include <string>
#include <vector>

#include "toolkit/stringlist.h"

// Shown or reported when the system's port list cannot be read.
inline const char* const ComPortEnumError = "Problem with COM ports reg enumeration";

// Reads the port names, unsorted; false when the system's device list cannot be read.
bool ReadComPortNames(std::vector<std::string>& names);
// Where the tty device list is read from (normally /sys/class/tty); for tests and systems
// that mount sysfs elsewhere. Not thread-safe: set it before ports are enumerated.
void SetTtyClassDir(const std::string& dir);

// Case-insensitive text order: COM10 comes before COM2.
void SortPortNamesAsText(std::vector<std::string>& names);
// Text order in which a single final digit counts as two (COM2 before COM10,
// /dev/ttyUSB2 before /dev/ttyUSB10).
void SortPortNamesNumerically(std::vector<std::string>& names);

// The port list in the numeric order, replacing the list's content. On failure the list is
// emptied, errorText (when given) gets ComPortEnumError and the result is false; no box
// is shown.
bool FillComPortList(TStringList& list, std::string* errorText = nullptr);
