// Program entry: the application, the main window and the message loop.
#include <QApplication>
#include <clocale>

#include "app/form1.h"
#include "app/qt_message_box.h"
#include "app/session_end.h"

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tiktaal"));
    // The window closes to the tray; only the quit paths end the program.
    QApplication::setQuitOnLastWindowClosed(false);
    InstallQtMessageBox();

    TForm1 form;
    WatchSessionEnd([&form] { form.EndSession(); });
    form.show();
    return QApplication::exec();
}
