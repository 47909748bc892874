#include "ui/common/DesignFonts.h"

#include <QFontDatabase>
#include <QStringList>

#include <algorithm>

namespace tarnwick {
namespace {

// Design fonts, with metric-compatible and then generic sans fallbacks where they are missing.
QFont DesignFont(const QStringList& families, qreal points, bool bold) {
    QFont font;
    // The first of the families that is installed: handed the whole list, the font machinery
    // would ask the system for substitutes of every missing family before it, on every start.
    const QStringList installed = QFontDatabase::families();
    const auto found = std::find_if(families.begin(), families.end(), [&](const QString& family) {
        return installed.contains(family, Qt::CaseInsensitive);
    });
    font.setFamilies(found == families.end() ? families : QStringList{*found});
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

} // namespace

QFont DialogFont(qreal points) {
    return DesignFont({QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"),
                       QStringLiteral("Arial"), QStringLiteral("Liberation Sans"),
                       QStringLiteral("Arimo")},
                      points, false);
}

QFont ArialFont(qreal points, bool bold) {
    return DesignFont(
        {QStringLiteral("Arial"), QStringLiteral("Liberation Sans"), QStringLiteral("Arimo")},
        points, bold);
}

} // namespace tarnwick
