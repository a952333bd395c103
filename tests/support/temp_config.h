// A fresh XDG_CONFIG_HOME (and XDG_RUNTIME_DIR, so that the program's single-instance
// guard meets no other copy) for one test, removed afterwards.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "support/scoped_env.h"

class TTempConfig {
public:
    TTempConfig() {
        char pattern[] = "/tmp/tiktaal-test-XXXXXX";
        Dir = mkdtemp(pattern);
        FEnv.Set("XDG_CONFIG_HOME", Dir).Set("XDG_RUNTIME_DIR", Dir);
    }
    ~TTempConfig() {
        std::error_code ec;
        std::filesystem::remove_all(Dir, ec);
    }
    std::string StorePath() const { return Dir + "/Tiktaal/user.reg"; }
    void WriteStore(const std::string& text) const {
        std::filesystem::create_directories(Dir + "/Tiktaal");
        std::ofstream(StorePath(), std::ios::binary) << text;
    }
    std::string ReadStore() const {
        std::ifstream in(StorePath(), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    std::string Dir;

private:
    TScopedEnv FEnv;
};
