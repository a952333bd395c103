// Writes the desktop icon at the hicolor theme's sizes, drawn as the tray image is:
// icons OUTDIR SIZE... gives OUTDIR/SIZExSIZE/apps/tiktaal.png for each size.
#include <QDir>
#include <QGuiApplication>
#include <QPixmap>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/images.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s OUTDIR SIZE...\n", argv[0]);
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");  // drawing needs no display
    int qtArgc = 1;
    QGuiApplication app(qtArgc, argv);
    for (int i = 2; i < argc; ++i) {
        const int size = std::atoi(argv[i]);
        if (size < 16 || size > 1024) {
            std::fprintf(stderr, "bad size '%s'\n", argv[i]);
            return 2;
        }
        const QString dir = QString("%1/%2x%2/apps").arg(QString::fromLocal8Bit(argv[1])).arg(size);
        // The cyan badge: the image of a running program that is not quitting.
        if (!QDir().mkpath(dir) || !ChipImage(2, size).save(dir + "/tiktaal.png", "PNG")) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(dir));
            return 1;
        }
    }
    return 0;
}
