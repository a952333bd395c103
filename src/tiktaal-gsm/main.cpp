// tiktaal-gsm: the GSM engine from a terminal, on a modem or phone on a serial port.
#include <QCoreApplication>
#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

#include "gsm_tool.h"
#include "gsm_tool_options.h"
#include "platform/interrupt.h"

namespace {

std::atomic<bool> Interrupted{false};

void SetUnlessSet(const char* name, const char* value) {
    if (!qEnvironmentVariableIsSet(name)) qputenv(name, value);
}

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
    SetUnlessSet("TIKTAAL_DATE_FORMAT", "yyyy-MM-dd");
    SetUnlessSet("TIKTAAL_TIME_FORMAT", "HH:mm:ss");
    RaiseOnInterrupt(Interrupted);
    int qtArgc = 1;
    QCoreApplication app(qtArgc, argv);
    return RunGsmTool(options, Interrupted);
}
