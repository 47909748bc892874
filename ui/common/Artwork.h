// The compiled-in pictures, drawn for the screen's pixel ratio.
#pragma once

#include <QPixmap>
#include <QString>

namespace tarnwick {

// The picture at a resource path such as ":/artwork/x.gif". Where the screens' pixel ratio is
// above 1 it is the x@2x.gif beside it, the same picture at twice the pixels, so that it is as
// sharp as the text: QIcon looks for that file by itself, QPixmap does not.
QPixmap ArtworkPixmap(const QString& resource);

} // namespace tarnwick
