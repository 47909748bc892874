#include "ui/common/Artwork.h"

#include <QGuiApplication>
#include <QIcon>
#include <QImageReader>

namespace tarnwick {

QSize ArtworkSize(const QString& resource) {
    return QImageReader(resource).size();
}

QPixmap ArtworkPixmap(const QString& resource) {
    // At the screens' highest ratio, the one QIcon chose its files by; between 1 and 2 it
    // scales the 2x picture down smoothly.
    return QIcon(resource).pixmap(ArtworkSize(resource), qGuiApp->devicePixelRatio());
}

} // namespace tarnwick
