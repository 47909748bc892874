#include "ui/common/DesignFonts.h"

#include <QFontDatabase>
#include <QStringList>

#include <dlfcn.h>

#include <algorithm>
#include <future>
#include <system_error>

namespace tarnwick {
namespace {

// fontconfig reading its configuration and font cache, from StartLoadingFonts on.
std::future<void> fontConfigurationLoading;

// Design fonts, with metric-compatible and then generic sans fallbacks where they are missing.
QFont DesignFont(const QStringList& families, qreal points, bool bold) {
    // Had Qt asked fontconfig while it was still loading, both would load it.
    if (fontConfigurationLoading.valid())
        fontConfigurationLoading.get();
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

void StartLoadingFonts() {
    // Qt's font back end, loaded with Qt itself: looked up rather than linked, so the program
    // needs nothing that Qt does not bring.
    using Init = int (*)();
    const auto init = reinterpret_cast<Init>(dlsym(RTLD_DEFAULT, "FcInit"));
    if (init == nullptr)
        return;
    try {
        fontConfigurationLoading = std::async(std::launch::async, [init] { init(); });
    } catch (const std::system_error&) {
        // No thread to spare: Qt loads it when the first window asks for a font.
    }
}

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
