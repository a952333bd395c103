// Program entry: the options, the application, the main window and the message loop.
#include <QApplication>
#include <clocale>
#include <cstdio>

#include "app/form1.h"
#include "app/options.h"
#include "app/qt_message_box.h"
#include "app/session_end.h"
#include "platform/error_output.h"

int main(int argc, char** argv) {
    RouteErrorOutput("tiktaal");
    std::setlocale(LC_ALL, "");
    TFormOptions options;
    std::vector<std::string> qtArgs;
    std::string error;
    // Before the toolkit starts, so that --help and mistakes need no display.
    if (!ParseProgramOptions(argc, argv, options.Program, qtArgs, error)) {
        UseStartingConsole();
        std::fprintf(stderr, "tiktaal: %s\nTry 'tiktaal --help' for the options.\n", error.c_str());
        return 2;
    }
    if (options.Program.Help || options.Program.Version) UseStartingConsole();
    if (options.Program.Help) {
        std::fputs(ProgramUsage().c_str(), stdout);
        return 0;
    }
    if (options.Program.Version) {
        std::puts("tiktaal " TIKTAAL_VERSION);
        return 0;
    }
    std::vector<char*> qtArgv;
    for (std::string& a : qtArgs) qtArgv.push_back(a.data());
    qtArgv.push_back(nullptr);
    int qtArgc = static_cast<int>(qtArgs.size());

    QApplication app(qtArgc, qtArgv.data());
    QApplication::setApplicationName(QStringLiteral("Tiktaal"));
    // The window closes to the tray; only the quit paths end the program.
    QApplication::setQuitOnLastWindowClosed(false);
    InstallQtMessageBox();

    TForm1 form(options);
    WatchSessionEnd([&form] { form.EndSession(); });
    WatchSyncRequest([&form] { form.Label4Click(); });
    form.show();
    return QApplication::exec();
}
