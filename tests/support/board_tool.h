// The stand-in board (tools/board) on a pseudo-terminal of its own, its output in a file:
// tests open Link() as the port and read what the board received and did.
#pragma once

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/socat_pair.h"
#include "support/wait.h"

extern char** environ;

class TBoardTool {
public:
    explicit TBoardTool(const std::string& program) : FProgram(program) {
        char tmpl[] = "/tmp/tiktaal-boardXXXXXX";
        if (mkdtemp(tmpl)) FDir = tmpl;
    }
    ~TBoardTool() {
        Stop();
        if (!FDir.empty()) std::system(("rm -rf " + FDir).c_str());
    }
    TBoardTool(const TBoardTool&) = delete;
    TBoardTool& operator=(const TBoardTool&) = delete;

    std::string Link() const { return FDir + "/tty"; }

    // Starts the board with --pty Link() --epoch and these options; true once the link is there.
    bool Start(std::vector<std::string> options) {
        const std::string log = FDir + "/board.log";
        std::vector<std::string> args = {FProgram, "--pty", Link(), "--epoch"};
        args.insert(args.end(), options.begin(), options.end());
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_addopen(&fa, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int rc = posix_spawn(&FPid, FProgram.c_str(), &fa, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&fa);
        if (rc != 0) return false;
        return WaitUntil([&] { return Exists(Link()); }, 3000);
    }
    void Stop() {
        if (FPid <= 0) return;
        kill(FPid, SIGTERM);
        waitpid(FPid, nullptr, 0);
        FPid = -1;
    }

    // The board's output lines that contain `what`, oldest first.
    std::vector<std::string> Lines(const std::string& what) const {
        std::ifstream in(FDir + "/board.log");
        std::vector<std::string> found;
        for (std::string l; std::getline(in, l);)
            if (l.find(what) != std::string::npos) found.push_back(l);
        return found;
    }
    // The clock errors (s) the board printed, one per line that set its clock.
    std::vector<double> ClockErrors() const {
        std::vector<double> errors;
        for (const std::string& l : Lines("clock set, off by ")) {
            std::istringstream in(l.substr(l.find("off by ") + 7));
            double e = 0;
            if (in >> e) errors.push_back(e);
        }
        return errors;
    }

private:
    std::string FProgram, FDir;
    pid_t FPid = -1;
};
