#include "ui/common/Artwork.h"

#include <QGuiApplication>

namespace tarnwick {

QPixmap ArtworkPixmap(const QString& resource) {
    // The highest ratio of all screens, the one QIcon picks its files by.
    const qsizetype dot = resource.lastIndexOf(u'.');
    if (qGuiApp->devicePixelRatio() > 1 && dot > 0) {
        const QString twice = resource.left(dot) + QStringLiteral("@2x") + resource.mid(dot);
        // Read from a file named @2x, the pixmap comes with the ratio 2.
        const QPixmap pixmap(twice);
        if (!pixmap.isNull())
            return pixmap;
    }
    return QPixmap(resource);
}

} // namespace tarnwick
