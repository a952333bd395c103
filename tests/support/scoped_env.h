// Sets environment variables for one scope and puts the old values back; TZ changes also
// reach the C library's zone.
#pragma once

#include <cstdlib>
#include <ctime>
#include <string>
#include <utility>
#include <vector>

class TScopedEnv {
public:
    TScopedEnv() = default;
    TScopedEnv(const char* name, const std::string& value) { Set(name, value); }
    ~TScopedEnv() {
        for (auto it = FSaved.rbegin(); it != FSaved.rend(); ++it) {
            if (it->HadValue)
                setenv(it->Name.c_str(), it->Old.c_str(), 1);
            else
                unsetenv(it->Name.c_str());
            if (it->Name == "TZ") tzset();
        }
    }
    TScopedEnv(const TScopedEnv&) = delete;
    TScopedEnv& operator=(const TScopedEnv&) = delete;

    TScopedEnv& Set(const char* name, const std::string& value) {
        Save(name);
        setenv(name, value.c_str(), 1);
        if (std::string(name) == "TZ") tzset();
        return *this;
    }
    TScopedEnv& Unset(const char* name) {
        Save(name);
        unsetenv(name);
        return *this;
    }

private:
    struct TSaved {
        std::string Name, Old;
        bool HadValue;
    };
    void Save(const char* name) {
        const char* old = std::getenv(name);
        FSaved.push_back(TSaved{name, old ? old : "", old != nullptr});
    }
    std::vector<TSaved> FSaved;
};
