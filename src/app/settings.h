// Typed reads and writes of single settings with defaults and no exceptions, and the
// autostart entry. The window passes the key path "Software\Tiktaal" and the user root.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/registry.h"

inline constexpr const char* SettingsKey = "Software\\Tiktaal";

void RegReadString(const std::string& name, const std::string& defaultValue,
                   const std::string& keyPath, std::string& value,
                   TRegRoot root = TRegRoot::CurrentUser);
int32_t RegReadInteger(const std::string& name, int32_t defaultValue, const std::string& keyPath,
                       TRegRoot root = TRegRoot::CurrentUser);
bool RegReadBool(const std::string& name, bool defaultValue, const std::string& keyPath,
                 TRegRoot root = TRegRoot::CurrentUser);
// The type of a stored value; rdUnknown when it is not there.
TRegDataType RegReadType(const std::string& name, const std::string& keyPath,
                         TRegRoot root = TRegRoot::CurrentUser);
// A write that fails returns false, keeps the old file and writes its reason to the event
// log once (again only after a write has worked).
bool RegWriteString(const std::string& name, const std::string& value, const std::string& keyPath,
                    TRegRoot root = TRegRoot::CurrentUser);
bool RegWriteInteger(const std::string& name, int32_t value, const std::string& keyPath,
                     TRegRoot root = TRegRoot::CurrentUser);
bool RegWriteBool(const std::string& name, bool value, const std::string& keyPath,
                  TRegRoot root = TRegRoot::CurrentUser);

// The entry runs data (the program's path) with args. Passes its failure on:
// std::runtime_error "Failed to set data for '<name>'".
void AddAutostart(const std::string& name, const std::string& data,
                  const std::vector<std::string>& args = {});
bool AutostartExists(const std::string& name);
void RemoveAutostart(const std::string& name);
