// Time to cut the main window's outline from its skin: ScanPicture, OffsetHeader and ApplyRgn
// on a frameless window, as the window does once when it loads. Prints each batch's median.
//
//     build/bench/bench_region [runs]      (default 2000 runs; QT_QPA_PLATFORM=offscreen is fine)

#include "region.h"
#include "skinresources.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPixmap>
#include <QWidget>

#include <algorithm>
#include <cstdio>
#include <vector>

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 2000;
    initSkinResources();
    const QImage skin(QStringLiteral(":/skin/main.bmp"));
    if (skin.isNull()) {
        std::fprintf(stderr, "the main skin picture is missing\n");
        return 1;
    }
    QWidget window(nullptr, Qt::FramelessWindowHint);
    window.resize(skin.size());

    std::vector<double> micros;
    micros.reserve(runs);
    int rects = 0;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        Region region;
        qint32 transColor = 1;
        region.ScanPicture(skin, transColor);
        region.OffsetHeader(&window);
        region.ApplyRgn(&window);
        micros.push_back(timer.nsecsElapsed() / 1000.0);
        rects = region.hndRegion.rectCount();
    }
    std::sort(micros.begin(), micros.end());
    std::printf("skin %dx%d, %d rectangles in the outline, %d runs\n", skin.width(), skin.height(),
                rects, runs);
    std::printf("ScanPicture + OffsetHeader + ApplyRgn: median %.1f us (min %.1f, max %.1f)\n",
                micros[micros.size() / 2], micros.front(), micros.back());
    return 0;
}
