// The compiled-in pictures, drawn for the screen's pixel ratio.
#pragma once

#include <QPixmap>
#include <QSize>
#include <QString>

namespace tarnwick {

// Each picture at a resource path such as ":/artwork/x.gif" has an x@2x.gif beside it, the same
// picture at twice the pixels, which QIcon(path) takes by itself on screens of a pixel ratio
// above 1, so that the picture is as sharp as the text there.

// The picture's size in logical pixels: its 1x size.
QSize ArtworkSize(const QString& resource);
// The picture drawn for the screens' pixel ratio, for a label; QPixmap(path) would take the 1x
// picture only, scaled up on a 200% screen.
QPixmap ArtworkPixmap(const QString& resource);

} // namespace tarnwick
