// tiktaal-gsm: the GSM engine from a terminal, on a modem or phone on a serial port.
#include <signal.h>
#include <stdlib.h>

#include <QCoreApplication>
#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

#include "gsm_tool.h"
#include "gsm_tool_options.h"

namespace {

std::atomic<bool> Interrupted{false};

void OnSignal(int) { Interrupted = true; }

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    TGsmToolOptions options;
    std::string error;
    if (!ParseGsmToolOptions(args, options, error)) {
        std::fprintf(stderr, "tiktaal-gsm: %s\n", error.c_str());
        return 2;
    }
    if (options.Help) {
        std::fputs(GsmToolUsage, stdout);
        return 0;
    }
    // Time stamps in one unambiguous form unless the user asked for another.
    setenv("TIKTAAL_DATE_FORMAT", "yyyy-MM-dd", 0);
    setenv("TIKTAAL_TIME_FORMAT", "HH:mm:ss", 0);
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    int qtArgc = 1;
    QCoreApplication app(qtArgc, argv);
    return RunGsmTool(options, Interrupted);
}
