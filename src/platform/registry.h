// The per-user typed settings store with registry semantics: keys are paths, values are
// named and typed (text or 32-bit integer), opening for reading never creates a key.
// Backed by one file in the REGEDIT4 text style; every write saves the file atomically.
#pragma once

#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

enum class TRegRoot { CurrentUser, LocalMachine };
enum class TRegDataType { rdUnknown, rdString, rdInteger };

class ERegistryException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// One stored value; types the program does not use keep their text form untouched.
struct TRegValue {
    TRegDataType Type = TRegDataType::rdUnknown;
    std::string Text;  // string data, or the raw right-hand side of an unknown type
    int32_t Integer = 0;
};

// The parsed store: key path -> value name -> value, in file order, names as first seen.
class TRegFile {
public:
    struct TKey {
        std::string Path;
        std::vector<std::pair<std::string, TRegValue>> Values;
    };
    // Reads what it can of text; garbled lines are dropped.
    static TRegFile Parse(const std::string& text);
    std::string Format() const;

    TKey* FindKey(const std::string& path);
    TKey& AddKey(const std::string& path);
    static TRegValue* FindValue(TKey& key, const std::string& name);

private:
    std::vector<TKey> FKeys;
};

// The user's configuration folder: $XDG_CONFIG_HOME, else $HOME/.config, else the passwd
// entry's home + /.config; empty when there is none (never a folder other users share).
std::string ConfigDirectoryFrom(const char* xdgConfigHome, const char* home,
                                const char* passwdHome);
std::string UserConfigDirectory();
// The file the current user's settings live in: <config>/Tiktaal/user.reg; empty without a
// configuration folder.
std::string UserStorePath();

class TRegistry {
public:
    // The per-user root is the file at storePath (UserStorePath() by default). The
    // machine-wide root has no store on this system: no key can be opened under it.
    explicit TRegistry(TRegRoot root = TRegRoot::CurrentUser, std::string storePath = "");

    TRegRoot RootKey() const { return FRoot; }
    void SetRootKey(TRegRoot root) { FRoot = root; }
    bool OpenKey(const std::string& path, bool canCreate);
    bool OpenKeyReadOnly(const std::string& path) { return OpenKey(path, false); }
    void CloseKey();

    bool ValueExists(const std::string& name);
    TRegDataType GetDataType(const std::string& name);
    // Throw ERegistryException on a missing value or one of another type.
    std::string ReadString(const std::string& name);
    int32_t ReadInteger(const std::string& name);
    // Throw ERegistryException when no key is open or the file cannot be saved.
    void WriteString(const std::string& name, const std::string& value);
    void WriteInteger(const std::string& name, int32_t value);
    bool DeleteValue(const std::string& name);

private:
    TRegValue& Require(const std::string& name);
    void Store(const std::string& name, const TRegValue& value);
    bool Load();
    void Save();

    TRegRoot FRoot;
    std::string FPath;
    std::string FKey;
    bool FOpen = false;
    bool FLoadedAll = false;  // false when the file exists but could not be read
    TRegFile FFile;
};

// Writes data to path through a temporary file in the same directory (O_EXCL, mode
// 0600), fsync, rename and a directory fsync: readers
// see the old file or the new one. A temporary left behind by a crash is replaced. A
// symbolic link stays: the file it leads to is replaced, through a temporary beside that
// file. A file without its owner's write bit is never replaced (EACCES, also for root).
// Returns false and sets errno on failure.
bool SaveFileAtomically(const std::string& path, const std::string& data);
