// Writes the program's icon, drawn as the tray image is:
//   icons OUTDIR SIZE...       OUTDIR/SIZExSIZE/apps/tiktaal.png for each size (the desktop's)
//   icons --ico FILE SIZE...   one Windows icon holding every size (PNG-compressed images)
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QPixmap>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/images.h"

namespace {

// The cyan badge: the image of a running program that is not quitting.
QPixmap Icon(int size) { return ChipImage(2, size); }

QByteArray Png(int size) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    Icon(size).save(&buffer, "PNG");
    return bytes;
}

void PutLe(QByteArray& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.append(static_cast<char>((value >> (8 * i)) & 0xFF));
}

// The icon file: a directory of entries, then each image; 256 is written as 0.
QByteArray IcoFile(const std::vector<int>& sizes) {
    std::vector<QByteArray> images;
    for (int size : sizes) images.push_back(Png(size));
    QByteArray out;
    PutLe(out, 0, 2);
    PutLe(out, 1, 2);  // an icon, not a cursor
    PutLe(out, static_cast<uint32_t>(sizes.size()), 2);
    uint32_t offset = 6 + 16 * static_cast<uint32_t>(sizes.size());
    for (size_t i = 0; i < sizes.size(); ++i) {
        const uint32_t side = sizes[i] >= 256 ? 0 : static_cast<uint32_t>(sizes[i]);
        PutLe(out, side, 1);
        PutLe(out, side, 1);
        PutLe(out, 0, 2);   // no palette, reserved
        PutLe(out, 1, 2);   // planes
        PutLe(out, 32, 2);  // bits per pixel
        PutLe(out, static_cast<uint32_t>(images[i].size()), 4);
        PutLe(out, offset, 4);
        offset += static_cast<uint32_t>(images[i].size());
    }
    for (const QByteArray& image : images) out.append(image);
    return out;
}

bool ReadSizes(int argc, char** argv, int first, std::vector<int>& sizes) {
    for (int i = first; i < argc; ++i) {
        const int size = std::atoi(argv[i]);
        if (size < 16 || size > 1024) {
            std::fprintf(stderr, "bad size '%s'\n", argv[i]);
            return false;
        }
        sizes.push_back(size);
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const bool ico = argc > 1 && std::string(argv[1]) == "--ico";
    const int first = ico ? 3 : 2;
    if (argc <= first) {
        std::fprintf(stderr, "usage: %s OUTDIR SIZE... | --ico FILE SIZE...\n", argv[0]);
        return 2;
    }
    std::vector<int> sizes;
    if (!ReadSizes(argc, argv, first, sizes)) return 2;
    qputenv("QT_QPA_PLATFORM", "offscreen");  // drawing needs no display
    int qtArgc = 1;
    QGuiApplication app(qtArgc, argv);
    const QString out = QString::fromLocal8Bit(argv[ico ? 2 : 1]);
    if (ico) {
        QFile file(out);
        if (!file.open(QIODevice::WriteOnly) || file.write(IcoFile(sizes)) < 0) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(out));
            return 1;
        }
        return 0;
    }
    for (int size : sizes) {
        const QString dir = QString("%1/%2x%2/apps").arg(out).arg(size);
        if (!QDir().mkpath(dir) || !Icon(size).save(dir + "/tiktaal.png", "PNG")) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(dir));
            return 1;
        }
    }
    return 0;
}
