// Writes the window's guide picture: kqget-guide-picture OUTPUT.jpg
#include "tools/guide-picture/guide_picture_painter.h"

#include <QGuiApplication>
#include <QImageWriter>

#include <cstdio>

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fputs("usage: kqget-guide-picture OUTPUT.jpg\n", stderr);
        return 64;
    }
    QImageWriter writer(QString::fromLocal8Bit(argv[1]), "jpeg");
    // Baseline, so that every decoder the window might meet reads it.
    writer.setProgressiveScanWrite(false);
    writer.setOptimizedWrite(false);
    writer.setQuality(92);
    if (!writer.write(kqget::tools::paintGuidePicture())) {
        std::fprintf(stderr, "kqget-guide-picture: cannot write %s: %s\n", argv[1],
                     writer.errorString().toLocal8Bit().constData());
        return 1;
    }
    return 0;
}
