// Registering and removing the clock service and its group (what the installer calls).
#pragma once

#include <string>
#include <vector>

// Creates the group when missing and adds the users to it, registers the service (or
// updates a registered one: an upgrade in place) to run as LOCAL SERVICE with the
// system-time privilege, starting automatically, and starts it. record: a file for a test
// install, whose service records offsets instead of setting the clock. Returns the exit
// status, 0 when everything was done; each failure is said on standard error.
int InstallService(const std::vector<std::wstring>& users, const std::wstring& record);
// Stops and deletes the service and removes the group; what is already gone is no failure.
int UninstallService();
