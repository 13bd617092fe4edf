// Draws the five tray pictures at 16, 22 and 32 pixels on a light and on a dark panel colour,
// and saves the sheet as a PNG, so that their legibility can be checked by eye.
//
//   hv_icon_sheet OUTPUT.png

#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <cstdio>

#include "menubar/status_images.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: hv_icon_sheet OUTPUT.png\n");
        return 2;
    }
    QGuiApplication app(argc, argv);
    const QString names[] = {hv::menu::kUserGG, hv::menu::kUserGR, hv::menu::kUserOG, hv::menu::kUserOR,
                             hv::menu::kUserSync};
    const QColor panels[] = {QColor(0xf2, 0xf2, 0xf2), QColor(0x2b, 0x2b, 0x2b)};
    const int sizes[] = {16, 22, 32};
    constexpr int kCell = 40;

    QImage sheet(kCell * 5, kCell * 6, QImage::Format_ARGB32);
    QPainter painter(&sheet);
    for (int p = 0; p < 2; ++p) {
        painter.fillRect(0, p * 3 * kCell, sheet.width(), 3 * kCell, panels[p]);
        for (int s = 0; s < 3; ++s) {
            for (int n = 0; n < 5; ++n) {
                QPixmap pixmap = hv::menu::loadStatusImage(names[n]).pixmap(sizes[s], sizes[s]);
                int x = n * kCell + (kCell - sizes[s]) / 2;
                int y = (p * 3 + s) * kCell + (kCell - sizes[s]) / 2;
                painter.drawPixmap(x, y, pixmap);
            }
        }
    }
    painter.end();
    return sheet.save(QString::fromLocal8Bit(argv[1])) ? 0 : 1;
}
