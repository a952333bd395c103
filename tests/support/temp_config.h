// A fresh XDG_CONFIG_HOME (and XDG_RUNTIME_DIR, so that the program's single-instance
// guard meets no other copy) for one test, removed afterwards.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

class TTempConfig {
public:
    TTempConfig() {
        char pattern[] = "/tmp/tiktaal-test-XXXXXX";
        Dir = mkdtemp(pattern);
        const char* old = std::getenv("XDG_CONFIG_HOME");
        FHadOld = old != nullptr;
        if (old) FOld = old;
        setenv("XDG_CONFIG_HOME", Dir.c_str(), 1);
        const char* run = std::getenv("XDG_RUNTIME_DIR");
        FHadRun = run != nullptr;
        if (run) FOldRun = run;
        setenv("XDG_RUNTIME_DIR", Dir.c_str(), 1);
    }
    ~TTempConfig() {
        if (FHadOld)
            setenv("XDG_CONFIG_HOME", FOld.c_str(), 1);
        else
            unsetenv("XDG_CONFIG_HOME");
        if (FHadRun)
            setenv("XDG_RUNTIME_DIR", FOldRun.c_str(), 1);
        else
            unsetenv("XDG_RUNTIME_DIR");
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
    bool FHadOld = false, FHadRun = false;
    std::string FOld, FOldRun;
};
