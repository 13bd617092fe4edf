#include "menubar/status_images.h"

#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

namespace hv::menu {

QIcon loadStatusImage(const QString& name) {
    // Rendered here rather than through Qt's SVG icon plugin, so that a missing plugin cannot
    // leave the tray empty; hosts pick the nearest size, so render the usual ones exactly.
    QSvgRenderer renderer(QStringLiteral(":/horavel/images/%1.svg").arg(name));
    if (!renderer.isValid()) return {};
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        renderer.render(&painter);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

}  // namespace hv::menu
